// compsub.h - byte helpers of the band pipeline and the row compressor. Each
// touches exactly `count` bytes; a count of 0 or less touches none.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 if all `count` bytes are 0, else 0.
int checkZero(const std::uint8_t* bytes, std::int16_t count);

// Copies `count` bytes from `source` to `destination` (no overlap).
void copyData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count);

// Writes the bitwise complement of each of `count` source bytes.
void invertData(const std::uint8_t* source, std::uint8_t* destination, std::int16_t count);

// Number of leading bytes, at most `count`, in which `a` and `b` agree.
std::size_t countEqualBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t count);

// Number of leading bytes of `bytes`, at most `count`, equal to `value`.
std::size_t countBytesEqualTo(const std::uint8_t* bytes, std::uint8_t value, std::size_t count);

// Number of leading bytes, at most `count`, in which `a` and `b` differ.
std::size_t countDifferentBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t count);

// Index of the first position k in [from, end - 2) where bytes k, k + 1 and
// k + 2 are equal (the start of a run worth a run command), or `end` when
// there is none.
std::size_t findTripleStart(const std::uint8_t* bytes, std::size_t from, std::size_t end);
