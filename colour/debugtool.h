// debugtool.h - the colour filter's debug log, "/tmp/qv_lprng_debuglog.txt".
//
// The log sits in a shared directory, so it is opened append-only, created
// with mode 0600, never through a symbolic link, and only when it is a
// regular file of the effective user that no one else may write. It is a diagnostic aid:
// when it cannot be opened or written, one line goes to standard error, the
// log is switched off for the rest of the process, and the job goes on.
// Nothing of the log ever reaches standard output, which carries print data.
#pragma once

// The log's path in production.
inline constexpr const char kDebugLogPath[] = "/tmp/qv_lprng_debuglog.txt";

// Formats like printf and appends the text to the log, flushing it. The log
// is opened by the first call and kept open. Returns the number of characters
// written, or -1 when the log is unusable.
int Debug_printf(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// For tests: closes the log if it is open, re-enables it after a failure, and
// makes the next Debug_printf open `pszPath` (null: the production path).
void Debug_resetLog(const char* pszPath);
