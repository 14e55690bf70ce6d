// debugtool.cc - the colour filter's debug log.
#include "colour/debugtool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::FILE* logStream = nullptr;  // open log, kept for the process
bool logDisabled = false;        // set after the first failure: report it once
char logPath[4096] = {};         // empty: the production path

const char* currentLogPath() { return logPath[0] != '\0' ? logPath : kDebugLogPath; }

// Reports a failure of the log once and switches the log off. Standard error
// only: standard output is the printer's byte stream.
void disableLog(const char* what) {
  std::fprintf(stderr, "!!! log file %s error.!!! [%s]\n", what, currentLogPath());
  if (logStream != nullptr) std::fclose(logStream);
  logStream = nullptr;
  logDisabled = true;
}

// Opens the log for appending. /tmp is shared: O_NOFOLLOW refuses a symbolic
// link planted at the name, O_NONBLOCK keeps a planted FIFO from stalling the
// job at open, and anything but a regular file of our own that no one else
// may write is refused (another user's file could be read or swapped under
// us). Created 0600.
std::FILE* openLog() {
  const int fd =
      ::open(currentLogPath(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
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

int Debug_printf(const char* pszFormat, ...) {
  if (logDisabled) return -1;
  if (logStream == nullptr) {
    logStream = openLog();
    if (logStream == nullptr) {
      disableLog("open");
      return -1;
    }
  }
  std::va_list args;
  va_start(args, pszFormat);
  const int count = std::vfprintf(logStream, pszFormat, args);
  va_end(args);
  if (count < 0 || std::fflush(logStream) != 0) {
    disableLog("write");
    return -1;
  }
  return count;
}

void Debug_resetLog(const char* pszPath) {
  if (logStream != nullptr) std::fclose(logStream);
  logStream = nullptr;
  logDisabled = false;
  logPath[0] = '\0';
  if (pszPath != nullptr) {
    std::strncpy(logPath, pszPath, sizeof logPath - 1);
    logPath[sizeof logPath - 1] = '\0';
  }
}
