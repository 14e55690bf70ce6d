// compmain_compress.cc - the method-9 row compressor (compressed replacement
// delta row) of the mono job writer.
//
// A row is sent as the commands that turn the seed row (what the printer
// holds) into the row: each command keeps `offset` bytes of the seed and
// then replaces `count` bytes, with literal data or one repeated byte.
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/compsub.h"

namespace qv::mono {

namespace {

// A row carries at most 254 commands, so its count byte never reaches 0xFF,
// the blank-row record. After 253 ordinary commands the rest of the row goes
// out as one literal.
constexpr int kMaxOrdinaryCommands = 253;

constexpr std::uint8_t kLiteralCommand = 0x00;
constexpr std::uint8_t kRunCommand = 0x80;

// Extension bytes: the printer adds bytes until it meets one that is not
// 0xFF, so 255 is written FF 00. A lone FF would swallow the next byte.
int appendExtension(std::uint8_t* command, int length, int value) {
  while (value >= 255) {
    command[length++] = 0xFF;
    value -= 255;
  }
  command[length++] = static_cast<std::uint8_t>(value);
  return length;
}

// The command byte's offset and count fields and their extension bytes
// (checkOptByte); returns the command's length. Inline: it runs once per
// command, and halftone rows carry a command every few bytes.
inline int encodeCommand(std::uint8_t* command, int offset, int count) {
  int length = 1;
  if ((command[0] & kRunCommand) == 0) {
    // Literal: offset in bits 6-3 (15 escapes), count - 1 in bits 2-0 (7 escapes).
    if (offset < 15) {
      command[0] = static_cast<std::uint8_t>(command[0] | (offset * 8));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 0x78);
      length = appendExtension(command, length, offset - 15);
    }
    if (count - 1 < 7) {
      command[0] = static_cast<std::uint8_t>(command[0] | (count - 1));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 7);
      length = appendExtension(command, length, count - 8);
    }
  } else {
    // Run: offset in bits 6-5 (3 escapes), count - 2 in bits 4-0 (31 escapes).
    if (offset < 3) {
      command[0] = static_cast<std::uint8_t>(command[0] | (offset * 32));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 0x60);
      length = appendExtension(command, length, offset - 3);
    }
    if (count - 2 < 31) {
      command[0] = static_cast<std::uint8_t>(command[0] | (count - 2));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 0x1F);
      length = appendExtension(command, length, count - 33);
    }
  }
  return length;
}

// Literals are mostly a few bytes long: two overlapping fixed-size copies
// instead of a call to memcpy. With encodeCommand inline, a 2-page A4
// halftone job went from 119 M to 110 M instructions (callgrind).
inline void copyLiteral(std::uint8_t* to, const std::uint8_t* from, int count) {
  if (count <= 0) return;
  const auto n = static_cast<std::size_t>(count);
  if (n >= 8 && n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n < 4) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  } else {
    std::memcpy(to, from, n);
  }
}

// The command byte and its extensions are built in place at `out`, and the
// literal bytes go straight from the row after them: every byte is written
// once. Each returns the end of its command.
inline std::uint8_t* putLiteral(std::uint8_t* out, int offset, const std::uint8_t* bytes,
                                int count) {
  out[0] = kLiteralCommand;
  const int length = encodeCommand(out, offset, count);
  copyLiteral(out + length, bytes, count);
  return out + length + count;
}

inline std::uint8_t* putRun(std::uint8_t* out, int offset, int count, std::uint8_t value) {
  out[0] = kRunCommand;
  const int length = encodeCommand(out, offset, count);
  out[length] = value;
  return out + length + 1;
}

// Where a row differs from its seed and where it repeats itself, one bit a
// byte: the compressor's decisions are then scans for the next set or clear
// bit, 64 bytes per step, instead of byte compares. Rows are at most 1248
// bytes.
constexpr int kMaxRowBytes = 1248;
constexpr int kMaskWords = kMaxRowBytes / 64 + 2;

struct RowMasks {
  std::uint64_t differ[kMaskWords];  // bit i: row[i] != seed[i]; and bit rowLen
  std::uint64_t same[kMaskWords];    // bit i: row[i] == row[i + 1], both in the row
  // bit i: row[i] == row[i + 1] == row[i + 2], all in the row; and bit rowLen
  std::uint64_t triple[kMaskWords];
};

// The masks' words for 64 bytes of row and seed, `row` readable one byte
// further: bit k of `differ` for row[k] != seed[k], of `same` for
// row[k] == row[k + 1]. SSE2 is in every x86-64; other processors take the
// bytes one by one.
inline void blockMasks(const std::uint8_t* row, const std::uint8_t* seed, std::uint64_t& differ,
                       std::uint64_t& same) {
  std::uint64_t equal = 0;
  same = 0;
#if defined(__SSE2__)
  for (int k = 0; k < 64; k += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k));
    const __m128i seedBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(seed + k));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k + 1));
    equal |= std::uint64_t{static_cast<std::uint16_t>(
                 _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, seedBytes)))}
             << k;
    same |=
        std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, next)))}
        << k;
  }
#else
  for (int k = 0; k < 64; ++k) {
    equal |= std::uint64_t{row[k] == seed[k]} << k;
    same |= std::uint64_t{row[k] == row[k + 1]} << k;
  }
#endif
  differ = ~equal;
}

#if defined(__x86_64__)
// 32 bytes a compare where the processor has AVX2 (chosen at run time).
__attribute__((target("avx2"))) void blockMasksAvx2(const std::uint8_t* row,
                                                    const std::uint8_t* seed, std::uint64_t& differ,
                                                    std::uint64_t& same) {
  std::uint64_t equal = 0;
  same = 0;
  for (int k = 0; k < 64; k += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + k));
    const __m256i seedBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(seed + k));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + k + 1));
    equal |= std::uint64_t{static_cast<std::uint32_t>(
                 _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, seedBytes)))}
             << k;
    same |= std::uint64_t{static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, next)))}
            << k;
  }
  differ = ~equal;
}
#endif

// Bits past the row's end are clear, and one more clear word follows.
// Whole 64-byte blocks are read in place while the byte after the block is
// in the row too; the rest (1 to 64 bytes) from a copy padded with zeros.
template <void (*kBlock)(const std::uint8_t*, const std::uint8_t*, std::uint64_t&, std::uint64_t&)>
void buildMasksWith(RowMasks& masks, const std::uint8_t* row, const std::uint8_t* seed,
                    int rowLen) {
  int i = 0;
  for (; i + 65 <= rowLen; i += 64)
    kBlock(row + i, seed + i, masks.differ[i / 64], masks.same[i / 64]);
  const int words = (rowLen + 63) / 64;
  if (i < rowLen) {
    const auto rest = static_cast<std::size_t>(rowLen - i);
    std::uint8_t rowTail[80] = {}, seedTail[80] = {};
    std::memcpy(rowTail, row + i, rest);
    std::memcpy(seedTail, seed + i, rest);
    std::uint64_t differ, same;
    kBlock(rowTail, seedTail, differ, same);
    // The last byte has no byte after it in the row.
    const std::uint64_t inRow = rest == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << rest) - 1;
    masks.differ[i / 64] = differ & inRow;
    masks.same[i / 64] = same & (inRow >> 1);
  }
  masks.differ[words] = 0;
  masks.same[words] = 0;
  for (int w = 0; w < words; ++w)
    masks.triple[w] = masks.same[w] & ((masks.same[w] >> 1) | (masks.same[w + 1] << 63));
  masks.triple[words] = 0;
  // Stops for the scans for the next differing byte and the next three
  // equal bytes: they need no bound.
  masks.differ[rowLen / 64] |= std::uint64_t{1} << (rowLen % 64);
  masks.triple[rowLen / 64] |= std::uint64_t{1} << (rowLen % 64);
}

void buildMasks(RowMasks& masks, const std::uint8_t* row, const std::uint8_t* seed, int rowLen) {
#if defined(__x86_64__)
  static const bool hasAvx2 = __builtin_cpu_supports("avx2");
  if (hasAvx2) return buildMasksWith<blockMasksAvx2>(masks, row, seed, rowLen);
#endif
  buildMasksWith<blockMasks>(masks, row, seed, rowLen);
}

// The first set bit at or after `from`; the mask has one past every `from`.
inline int firstSetFrom(const std::uint64_t* mask, int from) {
  int w = from >> 6;
  std::uint64_t word = mask[w] & (~std::uint64_t{0} << (from & 63));
  while (word == 0) word = mask[++w];
  return (w << 6) + std::countr_zero(word);
}

// The first clear bit at or after `from`; the mask has one past every `from`.
inline int firstClearFrom(const std::uint64_t* mask, int from) {
  int w = from >> 6;
  std::uint64_t word = ~mask[w] & (~std::uint64_t{0} << (from & 63));
  while (word == 0) word = ~mask[++w];
  return (w << 6) + std::countr_zero(word);
}

// Covers the differing stretch [start, end) (3 or more bytes) with runs of
// three or more equal bytes and literals between them, greedily from the
// left; the first command carries `offset`. Stops early when the row's
// command count reaches its limit; `stop` is where it stopped.
std::uint8_t* encodeStretch(const RowMasks& masks, const std::uint8_t* row, int start, int end,
                            int offset, int& commands, int& stop, std::uint8_t* out) {
  int j = start;
  bool runAhead = false;  // j starts three equal bytes: a literal stopped there
  while (j < end) {
    if (runAhead || (j + 2 < end && ((masks.triple[j >> 6] >> (j & 63)) & 1) != 0)) {
      // The run ends at the first byte that differs from the one before.
      const int runEnd = firstClearFrom(masks.same, j + 2) + 1;
      const int next = runEnd < end ? runEnd : end;
      out = putRun(out, offset, next - j, row[j]);
      j = next;
      runAhead = false;
    } else {
      // The literal stops just before the next three equal bytes that lie
      // in the stretch (there are none at j itself).
      const int triple = firstSetFrom(masks.triple, j + 1);
      const int next = triple < end - 2 ? triple : end;
      out = putLiteral(out, offset, row + j, next - j);
      j = next;
      runAhead = true;
    }
    offset = 0;
    if (++commands == kMaxOrdinaryCommands) break;
  }
  stop = j;
  return out;
}

}  // namespace

void checkOptByte(std::uint8_t* command, int offset, int count, int& length) {
  length = encodeCommand(command, offset, count);
}

void setCommand(const std::uint8_t* command, std::uint8_t* destination, int length) {
  std::memcpy(destination, command, static_cast<std::size_t>(length));
}

// Performance-critical: runs on every non-blank row. Each differing stretch
// of 3 or more bytes is covered with runs of three or more equal bytes and
// literals between them, greedily from the left; the first command of a
// stretch carries its offset (the equal bytes before it).
int compressRow(const std::uint8_t* row, const std::uint8_t* seed, int rowLen, int leftShift,
                std::uint8_t* dest) {
  // Most printed rows of a text page repeat the row above.
  if (std::memcmp(row, seed, static_cast<std::size_t>(rowLen)) == 0) return 0;
  RowMasks masks;
  buildMasks(masks, row, seed, rowLen);
  std::uint8_t* out = dest + 1;
  int commands = 0;
  // The left shift is one run of zero bytes at the start of the printer's
  // row; it is the only run that may be two bytes long.
  if (leftShift > 0) {
    out = putRun(out, 0, leftShift, 0x00);
    ++commands;
  }
  int pos = 0;
  bool rowHasCommand = false;
  while (pos < rowLen) {
    if (commands >= kMaxOrdinaryCommands) {
      out = putLiteral(out, 0, row + pos, rowLen - pos);
      ++commands;
      break;
    }
    const int start = firstSetFrom(masks.differ, pos);
    // Trailing bytes equal to the seed need no command; a row equal to its
    // seed needs none at all, not even the shift.
    if (start == rowLen) {
      if (!rowHasCommand) return 0;
      break;
    }
    const int offset = start - pos;
    const int differing = firstClearFrom(masks.differ, start);
    const int end = differing < rowLen ? differing : rowLen;
    rowHasCommand = true;
    if (end - start <= 2) {
      out = putLiteral(out, offset, row + start, end - start);
      ++commands;
      pos = end;
      continue;
    }
    out = encodeStretch(masks, row, start, end, offset, commands, pos, out);
  }
  dest[0] = static_cast<std::uint8_t>(commands);
  return static_cast<int>(out - dest);
}

// Takes its job, whose compData and sParam a one-job filter keeps program-wide.
void compressM9_1030(MonoJobState& job) {
  CompData& data = job.compData;
  data.destLen = static_cast<std::uint16_t>(compressRow(data.row, data.seed,
                                                        static_cast<std::int16_t>(data.rowLen),
                                                        job.sParam.leftShift, data.dest));
}

}  // namespace qv::mono
