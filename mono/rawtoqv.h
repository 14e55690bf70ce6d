// rawtoqv.h - entry of the mono filter and its program-wide job flags.
#pragma once

#include <cstdint>
#include <cstdio>

// The -flags value as hexadecimal digits, least significant first: entry 0
// is the rightmost digit of the option value. Initially 32 times '0'.
extern char cflags[32];

// Horizontal image offset in 1/720 inch from -offset, added to the centring
// margin when the left shift is worked out.
extern std::int32_t arg_offset;

// Value of one hexadecimal digit character; anything else is 0.
int A2H(char digit);

// Bit `bit` (1, 2, 4 or 8) of cflags digit `digit`.
inline bool cflagSet(int digit, int bit) { return (A2H(cflags[digit]) & bit) != 0; }

// The whole program: command line, settings, page size, then the job on
// `out`. Returns the exit status.
int runRawtoqv(int argc, char** argv, std::FILE* in, std::FILE* out);
