// compsub.h - byte helpers of the band pipeline. Each
// touches exactly `count` bytes; a count of 0 or less touches none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv::mono {

// 1 if all `count` bytes are 0, else 0.
int checkZero(const std::uint8_t* bytes, std::int16_t count);

// Copies `count` bytes from `source` to `destination` (no overlap).
void copyData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count);

// Writes the bitwise complement of each of `count` source bytes.
void invertData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count);

// Word loads for the helpers above; memcpy keeps them correct at any
// alignment.
namespace detail {

inline std::uint64_t loadWord(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

}  // namespace detail

}  // namespace qv::mono
