// compsub.h - byte helpers of the band pipeline and the row compressor. Each
// touches exactly `count` bytes; a count of 0 or less touches none.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// 1 if all `count` bytes are 0, else 0.
int checkZero(const std::uint8_t* bytes, std::int16_t count);

// Copies `count` bytes from `source` to `destination` (no overlap).
void copyData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count);

// Writes the bitwise complement of each of `count` source bytes.
void invertData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count);

// The row compressor's helpers, inline: a halftone row calls them every few
// bytes (inline, a halftone job runs 5% fewer instructions; callgrind).
// The result is always that of a byte-wise operation on exactly `count`
// bytes; memcpy keeps the word loads correct at any alignment.
namespace qvmono_detail {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

inline std::uint64_t loadWord(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Index of the lowest-addressed byte flagged in `mask` (a nonzero word with
// bit 7 set in flagged bytes). Byte order decides which end comes first.
inline std::size_t firstFlaggedByte(std::uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(mask)) / 8;
  }
}

}  // namespace qvmono_detail

// Number of leading bytes, at most `count`, in which `a` and `b` agree.
inline std::size_t countEqualBytes(const std::uint8_t* a, const std::uint8_t* b,
                                   std::size_t count) {
  using namespace qvmono_detail;
  std::size_t i = 0;
  // Rows of a text page mostly equal their seed: past a first equal word,
  // 32 bytes per branch, then the word that differs eight bytes at a time.
  // (The first word alone keeps the short equal stretches of halftone rows
  // from paying for a 32-byte step.)
  if (count >= 8 && loadWord(a) == loadWord(b)) {
    for (i = 8; i + 32 <= count; i += 32) {
      const std::uint64_t any = (loadWord(a + i) ^ loadWord(b + i)) |
                                (loadWord(a + i + 8) ^ loadWord(b + i + 8)) |
                                (loadWord(a + i + 16) ^ loadWord(b + i + 16)) |
                                (loadWord(a + i + 24) ^ loadWord(b + i + 24));
      if (any != 0) break;
    }
  }
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

// Number of leading bytes of `bytes`, at most `count`, equal to `value`.
// Halftone rows are mostly runs: their ends are found a word at a time.
inline std::size_t countBytesEqualTo(const std::uint8_t* bytes, std::uint8_t value,
                                     std::size_t count) {
  using namespace qvmono_detail;
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

// Number of leading bytes, at most `count`, in which `a` and `b` differ.
inline std::size_t countDifferentBytes(const std::uint8_t* a, const std::uint8_t* b,
                                       std::size_t count) {
  using namespace qvmono_detail;
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

// Index of the first position k in [from, end - 2) where bytes k, k + 1 and
// k + 2 are equal (the start of a run worth a run command), or `end` when
// there is none. Noise rows are long stretches of bytes unlike their seed, in which the
// compressor looks for three equal bytes. Eight positions per step: byte i
// of `same` is zero where bytes k + i, k + i + 1 and k + i + 2 are equal.
inline std::size_t findTripleStart(const std::uint8_t* bytes, std::size_t from, std::size_t end) {
  using namespace qvmono_detail;
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
