// tempfile.cc - the copies file.
#include "colour/tempfile.h"

#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/exclusive_file.h"

int myTempFd(char* path, std::size_t size) {
  static char ownBuffer[1024];
  if (path == nullptr || size == 0) {
    path = ownBuffer;
    size = sizeof ownBuffer;
  }
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr) dir = "/tmp";

  int fd = -1;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::snprintf(path, size, "%s/%08lx%05lx", dir, static_cast<unsigned long>(now.tv_sec),
                  static_cast<unsigned long>(now.tv_usec));
    // The file holds a customer's page in a shared directory: it must be new,
    // and a link planted under its name must not redirect it.
    fd = qv::createExclusive(path, O_RDWR);
    if (fd >= 0 || errno != EEXIST) break;
  }
  return fd;
}
