// pbmproc.h - reader of the text header of each raw PPM page ("P6") in the
// colour filter's input stream.
#pragma once

#include <cstdio>

namespace qv::colour {

// Results of ReadPpmFileHeader.
enum : long { kPpmPage = 0, kPpmEnd = 1, kPpmMalformed = -1 };

// The longest header token (magic or number) the reader accepts.
inline constexpr int kPpmMaxToken = 70;

// Reads the header of the next page from `in` one character at a time, so
// that it shares stdio's buffer with the pixel reads that follow. Returns
// kPpmPage with the stream at the first pixel byte, kPpmEnd when the input
// ends before any header character, kPpmMalformed for a malformed header,
// a header token over kPpmMaxToken characters, or an input that ends (or
// fails) inside a header.
long ReadPpmFileHeader(std::FILE* in);

// Debug hook for the parsed header numbers; discards them.
void Debug_dummy(const char* format, ...);

}  // namespace qv::colour
