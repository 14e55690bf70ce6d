// rawtoqv.h - entry of the mono filter.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/unique_file.h"
#include "mono/mono_job.h"
#include "mono/qvcommon.h"
#include "mono/status.h"

namespace qv::mono {

// The command line's job environment: each report becomes one line on
// standard error, as spoolers read it; nothing cancels.
JobEnv commandLineEnv();

// rawtoqv's exit status for the status that ended it: 0 ok, 1 a file cannot
// be opened, 2 invalid, 3 no memory, 4 output failed, 5 no sorted-copy file,
// 6 sorted copies lost.
int exitStatusFor(Status status);

// The whole program: command line, settings, page size, then the job on
// `out`. `in` is the input when the command line names no file. Messages go
// to `env`. Returns the exit status.
int runRawtoqv(int argc, char** argv, const PageSource& in, std::FILE* out, const JobEnv& env);

// Everything before the job: reads the command line and the environment,
// loads the settings and paper files, and fills `settings` with the codes,
// texts, the raster size at the job resolution, the -flags and -offset
// values and the TMPDIR of the sorted-copy file. `in` is the input on
// entry (the default) and on return; a named input file is opened into
// `inputOwner`. Returns Status::kOk, or the status after reporting its
// message to `env`. Nothing is written to standard output.
[[nodiscard]] Status prepareRawtoqvJob(int argc, char** argv, PrintSettings& settings,
                                       qv::UniqueFd& inputOwner, PageSource& in, const JobEnv& env);

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

}  // namespace qv::mono
