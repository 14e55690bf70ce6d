// debugtool.cc - the colour filter's debug log.
#include "colour/debugtool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qv::colour {
namespace {

// Reports a failure of the log once and switches the log off. To the
// environment only: standard output is the printer's byte stream.
void disableLog(DebugLog* log, const char* what) {
  reportf(log->env, ReportLevel::kError, "!!! log file %s error.!!! [%s]", what, log->path);
  if (log->stream != nullptr) std::fclose(log->stream);
  log->stream = nullptr;
  log->disabled = true;
}

// Opens the log for appending. /tmp is shared: O_NOFOLLOW refuses a symbolic
// link planted at the name, O_NONBLOCK keeps a planted FIFO from stalling the
// job at open, and anything but a regular file of our own that no one else
// may write is refused (another user's file could be read or swapped under
// us). Created 0600.
std::FILE* openLog(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                        S_IRUSR | S_IWUSR);
  if (fd < 0) return nullptr;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 || ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "a");
  if (stream == nullptr) ::close(fd);
  return stream;
}

}  // namespace

DebugLog::~DebugLog() {
  if (stream != nullptr) std::fclose(stream);
}

int Debug_printf(DebugLog* log, const char* format, ...) {
  if (log->disabled) return -1;
  if (log->stream == nullptr) {
    log->stream = openLog(log->path);
    if (log->stream == nullptr) {
      disableLog(log, "open");
      return -1;
    }
  }
  std::va_list args;
  va_start(args, format);
  const int count = std::vfprintf(log->stream, format, args);
  va_end(args);
  if (count < 0 || std::fflush(log->stream) != 0) {
    disableLog(log, "write");
    return -1;
  }
  return count;
}

}  // namespace qv::colour
