// compsub.cc - byte helpers of the band pipeline and the row compressor.
//
// These run over every printable row of every page, tens of MB per page at
// 1200 dpi, so they work eight bytes at a time and finish byte by byte (the
// compressor's helpers are inline, in compsub.h).
#include "mono/compsub.h"

#include <cstring>

namespace qv::mono {

// Most rows of a text page are blank, so this runs on nearly every row.
int checkZero(const std::uint8_t* bytes, std::int16_t count) {
  using namespace detail;
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
  using namespace detail;
  const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t word = ~loadWord(source + i);
    std::memcpy(destination + i, &word, sizeof word);
  }
  for (; i < n; ++i) destination[i] = static_cast<std::uint8_t>(~source[i]);
}

}  // namespace qv::mono
