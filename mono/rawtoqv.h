// rawtoqv.h - entry of the mono filter.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/unique_file.h"
#include "mono/qvcommon.h"

// The whole program: command line, settings, page size, then the job on
// `out`. `in` is the input when the command line names no file. Returns the
// exit status.
int runRawtoqv(int argc, char** argv, std::FILE* in, std::FILE* out);

// Everything before the job: reads the command line and the environment,
// loads the settings and paper files, and fills `settings` with the codes,
// texts and the raster size at the job resolution. `in` is the input on
// entry (the default) and on return; a named input file is opened into
// `inputOwner`. Returns 0, or the exit status after writing its message.
// Nothing is written to standard output.
[[nodiscard]] int prepareRawtoqvJob(int argc, char** argv, PrintSettings& settings,
                                    qv::UniqueFile& inputOwner, std::FILE*& in);

// Cuts `text` in place at its first line feed, carriage return or escape
// byte, so that a text placed in a PJL line can neither end that line nor
// start a universal exit. Returns whether it cut.
bool del_crlf(char* text);

// Converts the job title from `charset` to UTF-8 into `jobName`: at most 78
// bytes of whole characters, zero-terminated. "utf-8" is checked as UTF-8;
// "euc-jp", "euc-tw", "euc-cn" and "euc-kr" are converted only when
// `eucEnabled`. Any other charset, or one the C library cannot convert,
// copies the first 78 bytes unchanged.
void convertTitle(const char* title, const char* charset, bool eucEnabled, char (&jobName)[144]);

// Largest raster, in dots and rows at the job resolution, that a page may
// have: the writer counts rows and sizes in signed 16-bit fields.
inline constexpr std::int32_t kMaxRasterRows = 32767;
inline constexpr std::int32_t kMaxRasterDots = 32767;

// Scales a page size in dots at 600 dpi to the job resolution (the
// `resolution` code of the settings). Returns false, leaving `width` and
// `height` unchanged, when either result is 0 or less or above the limits
// above.
[[nodiscard]] bool scalePageSize(std::int32_t pageWidth, std::int32_t pageHeight,
                                 std::int32_t resolution, std::int32_t& width,
                                 std::int32_t& height);
