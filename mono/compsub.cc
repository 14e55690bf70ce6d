// compsub.cc - byte helpers of the band pipeline and the row compressor.
//
// These run over every printable row of every page, tens of MB per page at
// 1200 dpi, so they work eight bytes at a time and finish byte by byte. The
// result is always that of a byte-wise operation on exactly `count` bytes;
// memcpy keeps the word loads correct at any alignment.
#include "mono/compsub.h"

#include <bit>
#include <cstring>

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

std::uint64_t loadWord(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Index of the lowest-addressed byte flagged in `mask` (a nonzero word with
// bit 7 set in flagged bytes). Byte order decides which end comes first.
std::size_t firstFlaggedByte(std::uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(mask)) / 8;
  }
}

}  // namespace

// Most rows of a text page are blank, so this runs on nearly every row.
int checkZero(const std::uint8_t* bytes, std::int16_t count) {
  const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
  std::size_t i = 0;
  // Four words per step: one branch per 32 bytes on the blank rows that
  // make up most of a text page.
  for (; i + 32 <= n; i += 32) {
    const std::uint64_t any = loadWord(bytes + i) | loadWord(bytes + i + 8) |
                              loadWord(bytes + i + 16) | loadWord(bytes + i + 24);
    if (any != 0) return 0;
  }
  for (; i + 8 <= n; i += 8) {
    if (loadWord(bytes + i) != 0) return 0;
  }
  for (; i < n; ++i) {
    if (bytes[i] != 0) return 0;
  }
  return 1;
}

void copyData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count) {
  if (count > 0) std::memcpy(destination, source, static_cast<std::size_t>(count));
}

void invertData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count) {
  const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t word = ~loadWord(source + i);
    std::memcpy(destination + i, &word, sizeof word);
  }
  for (; i < n; ++i) destination[i] = static_cast<std::uint8_t>(~source[i]);
}

std::size_t countEqualBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint64_t diff = loadWord(a + i) ^ loadWord(b + i);
    if (diff != 0) {
      // Flag every nonzero byte of diff in its bit 7.
      const std::uint64_t nonzero = (((diff & ~kHighBits) + ~kHighBits) | diff) & kHighBits;
      return i + firstFlaggedByte(nonzero);
    }
  }
  for (; i < count && a[i] == b[i]; ++i) {
  }
  return i;
}

// Halftone rows are mostly runs: their ends are found a word at a time.
std::size_t countBytesEqualTo(const std::uint8_t* bytes, std::uint8_t value, std::size_t count) {
  const std::uint64_t pattern = value * 0x0101010101010101ull;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint64_t diff = loadWord(bytes + i) ^ pattern;
    if (diff != 0) {
      const std::uint64_t nonzero = (((diff & ~kHighBits) + ~kHighBits) | diff) & kHighBits;
      return i + firstFlaggedByte(nonzero);
    }
  }
  for (; i < count && bytes[i] == value; ++i) {
  }
  return i;
}

std::size_t countDifferentBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint64_t diff = loadWord(a + i) ^ loadWord(b + i);
    // Exact zero-byte flags: (x & 0x7F..) + 0x7F.. sets bit 7 of every byte
    // whose low seven bits are not all zero, without carries between bytes.
    const std::uint64_t low = (diff & ~kHighBits) + ~kHighBits;
    const std::uint64_t zero = ~(low | diff) & kHighBits;
    if (zero != 0) return i + firstFlaggedByte(zero);
  }
  for (; i < count && a[i] != b[i]; ++i) {
  }
  return i;
}

// Noise rows are long stretches of bytes unlike their seed, in which the
// compressor looks for three equal bytes. Eight positions per step: byte i
// of `same` is zero where bytes k + i, k + i + 1 and k + i + 2 are equal.
std::size_t findTripleStart(const std::uint8_t* bytes, std::size_t from, std::size_t end) {
  std::size_t k = from;
  for (; k + 10 <= end; k += 8) {
    const std::uint64_t first = loadWord(bytes + k);
    const std::uint64_t second = loadWord(bytes + k + 1);
    const std::uint64_t third = loadWord(bytes + k + 2);
    const std::uint64_t same = (first ^ second) | (second ^ third);
    const std::uint64_t low = (same & ~kHighBits) + ~kHighBits;
    const std::uint64_t zero = ~(low | same) & kHighBits;
    if (zero != 0) return k + firstFlaggedByte(zero);
  }
  for (; k + 2 < end; ++k) {
    if (bytes[k] == bytes[k + 1] && bytes[k + 1] == bytes[k + 2]) return k;
  }
  return end;
}
