// copy_file.cc - the sorted-copy scratch file.
#include "mono/copy_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/times.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "common/exclusive_file.h"

namespace qv::mono {

int openCopyFile(const char* dir, bool allowNameless) {
  if (allowNameless) {
    const int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    // Older kernels and some file systems lack O_TMPFILE: use a name.
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  }
  struct tms ticks;
  const auto clock = static_cast<std::uint32_t>(::times(&ticks));
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::uint32_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
      random = clock * 2654435761u + static_cast<std::uint32_t>(attempt);
    char path[PATH_MAX];
    const int length = std::snprintf(path, sizeof path, "%s/rawtoqv_tmp_%x_%x_%08x", dir, clock,
                                     static_cast<unsigned>(::getpid()), random);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return -1;
    // No signal may end the process between creating the name and removing it.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const int fd = createExclusive(path);
    const int error = errno;
    if (fd >= 0) ::unlink(path);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (fd >= 0 || error != EEXIST) return fd;
  }
  return -1;
}

}  // namespace qv::mono
