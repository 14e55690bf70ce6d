// private_dir.cc - the job's private directory.
#include "cups/private_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/exclusive_file.h"
#include "common/unique_file.h"

namespace qvcups {

int PrivateDir::create() {
  const char* base = std::getenv("TMPDIR");
  if (base == nullptr || base[0] == '\0') base = "/tmp";
  std::string pattern = std::string(base) + "/qvcups-XXXXXX";
  // mkdtemp creates the directory with mode 0700: the job's document and
  // settings (PIN included) must not be readable by other users.
  if (::mkdtemp(pattern.data()) == nullptr) return errno;
  path_ = pattern;
  return 0;
}

std::string PrivateDir::file(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

int PrivateDir::createFile(std::string_view name) {
  return qv::createExclusive(file(name).c_str(), O_WRONLY);
}

int PrivateDir::writeFile(std::string_view name, std::string_view bytes) {
  qv::UniqueFd fd(createFile(name));
  if (!fd) return errno;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

void PrivateDir::remove() {
  if (path_.empty()) return;
  if (DIR* dir = ::opendir(path_.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
  }
  ::rmdir(path_.c_str());
  path_.clear();
}

}  // namespace qvcups
