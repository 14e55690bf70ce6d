// debugtool.h - the colour filter's debug log, "/tmp/qv_lprng_debuglog.txt".
//
// The log sits in a shared directory, so it is opened append-only, created
// with mode 0600, never through a symbolic link, and only when it is a
// regular file of the effective user that no one else may write. It is a
// diagnostic aid: when it cannot be opened or written, one line goes to the
// job's environment, the log is switched off for the rest of the job, and the
// job goes on. Nothing of the log ever reaches the job's output.
#pragma once

#include <cstdio>

#include "colour/status.h"

namespace qv::colour {

// The log's path in production.
inline constexpr const char kDebugLogPath[] = "/tmp/qv_lprng_debuglog.txt";

// One job's handle on the log: opened by the first message, closed with the
// handle.
struct DebugLog {
  const char* path = kDebugLogPath;
  std::FILE* stream = nullptr;
  bool disabled = false;  // set after the first failure: report it once
  JobEnv env;             // where that failure is told

  DebugLog() = default;
  explicit DebugLog(const char* logPath, JobEnv failureEnv = {}) : path(logPath), env(failureEnv) {}
  ~DebugLog();
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;
};

// Formats like printf and appends the text to the log, flushing it. Returns
// the number of characters written, or -1 when the log is unusable.
int Debug_printf(DebugLog* log, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace qv::colour
