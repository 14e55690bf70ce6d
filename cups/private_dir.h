// private_dir.h - the job's private directory: the settings file, the paper
// file and the spooled document live here, readable by the job's user alone,
// and all of it goes when the job ends, whichever way it ends.
#pragma once

#include <string>
#include <string_view>

namespace qvcups {

class PrivateDir {
 public:
  PrivateDir() = default;
  ~PrivateDir() { remove(); }
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;

  // mkdtemp under $TMPDIR (or /tmp when unset or empty), mode 0700. Returns
  // 0 or the errno of the failure.
  [[nodiscard]] int create();

  // Creates `name` in the directory exclusively, mode 0600, and writes
  // `bytes` into it. Returns 0 or an errno.
  [[nodiscard]] int writeFile(std::string_view name, std::string_view bytes);

  // Creates `name` exclusively (mode 0600) and returns its descriptor, or -1.
  int createFile(std::string_view name);

  std::string file(std::string_view name) const;
  const std::string& path() const { return path_; }

  // Removes every file in the directory and the directory itself. The
  // directory holds only files this object created, so one level suffices.
  void remove();

 private:
  std::string path_;
};

}  // namespace qvcups
