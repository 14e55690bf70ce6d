// exclusive_file.h - create a temporary file that holds a customer's document.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

namespace qv {

// O_CREAT|O_EXCL|O_NOFOLLOW with mode 0600: the file lives in a shared
// directory, so it must be new, readable by the job's user alone, and a link
// planted under its name must not redirect it. Returns the descriptor or -1
// (errno set by open).
inline int createExclusive(const char* path, int extraFlags = O_RDWR) {
  return ::open(path, O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | extraFlags, S_IRUSR | S_IWUSR);
}

}  // namespace qv
