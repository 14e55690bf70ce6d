// tempfile.cc - scratch files without a name, or with one for an instant.
#include "colour/tempfile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "common/exclusive_file.h"

namespace qv::colour {

const char* scratchDirectory(const char* tmpdir) {
  return tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
}

int openScratchFile(const char* dir, const char* namePrefix) {
  // O_EXCL: the file can never be given a name later.
  const int fd = ::open(dir, O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd >= 0) return fd;
  return openNamedScratchFile(dir, namePrefix);
}

int openNamedScratchFile(const char* dir, const char* namePrefix) {
  char path[1024];
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    const int length = std::snprintf(path, sizeof path, "%s/%s%012llx", dir, namePrefix,
                                     static_cast<unsigned long long>(random & 0xFFFFFFFFFFFFull));
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
      errno = ENAMETOOLONG;
      return -1;
    }
    // No signal may end the process between create and unlink: the name
    // would stay with a customer's page behind it.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int fd = qv::createExclusive(path, O_RDWR);
    const int error = errno;
    if (fd >= 0) ::unlink(path);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (fd >= 0) return fd;
    errno = error;
    if (error != EEXIST) return -1;
  }
  return -1;
}

int myTempFd(const char* dir) {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%08lx%05lx", static_cast<unsigned long>(now.tv_sec),
                static_cast<unsigned long>(now.tv_usec));
  return openScratchFile(dir, prefix);
}

}  // namespace qv::colour
