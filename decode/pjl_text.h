// pjl_text.h - the PJL framing both job streams share: the universal exit,
// header lines "@PJL ...\n", and the trailer that closes a job.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "decode/byte_cursor.h"

namespace qvdecode {

struct DecodeError;

// "\e%-12345X": the printer leaves whatever language it is in and reads PJL.
inline constexpr std::string_view kUniversalExit = "\x1b%-12345X";

// A header line longer than this is not PJL any printer accepts; the cap also
// keeps a stream without line feeds from being read as one huge line.
inline constexpr std::size_t kMaxPjlLineBytes = 4096;
inline constexpr std::size_t kMaxPjlLines = 1024;

// Reads one "@PJL ...\n" line at the cursor into `line` (without the line
// feed). Returns 0, or -1 with `error` set: the line does not start with
// "@PJL", holds an escape byte (a universal exit inside a line means the
// line was never ended), is over the cap, or is not ended before the input
// ends.
int readPjlLine(ByteCursor& cursor, std::string& line, DecodeError& error);

// Reads the job's opening universal exit and its PJL lines up to and
// including `enterLine` (e.g. "@PJL ENTER LANGUAGE = PCL"). Every line is
// kept in `lines`, the enter line included.
int readPjlHeader(ByteCursor& cursor, std::string_view enterLine, std::vector<std::string>& lines,
                  DecodeError& error);

// How a job's trailer ends: the mono filter may close with a lone universal
// exit, and ends with the exit itself; the colour filter always writes two
// exits and a line feed.
enum class TrailerForm { kMono, kColour };

// Reads the trailer at the cursor (it starts with the universal exit) and
// requires the input to end with it, or, with `moreJobs`, to end or go on
// with the universal exit of another job (a capture of a device that kept
// its connection open across jobs). "@PJL ..." lines between the two exits
// go to `lines`.
int readPjlTrailer(ByteCursor& cursor, TrailerForm form, std::vector<std::string>& lines,
                   DecodeError& error, bool moreJobs = false);

}  // namespace qvdecode
