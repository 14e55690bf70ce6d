// run_program.h - run a built program as a spooler does; scratch directories, whole files.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest {

// Variables the filters read: kept from a child unless the test sets them.
inline constexpr const char* kFilterVariables[] = {
    "OWNER", "PASSWORD", "TITLE", "NODENAME", "CHARSET", "QVREDVAL", "OUTPUTTRAY", "TMPDIR",
};

struct ProgramResult {
  int status = -1;     // exit status when the program exited
  int termSignal = 0;  // the signal that ended it, else 0
  std::string out, err;
  bool exited() const { return termSignal == 0; }
};

struct ProgramRun {
  std::string path;
  std::vector<std::string> args;           // without the program name
  std::map<std::string, std::string> env;  // set in the child
  std::string input;                       // written to standard input
};

// Its input on a pipe, its outputs in memory files; the destructor kills and reaps it.
class RunningProgram {
 public:
  explicit RunningProgram(const ProgramRun& run);  // run.input is not written
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  bool writeInput(std::string_view bytes);  // blocks; false once the program has gone
  void closeInput();
  void signal(int sig);
  ProgramResult wait();         // reaps it; its outputs
  void pump(int milliseconds);  // lets it run that long
  int unread() const;           // input bytes written and not yet read
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool reaped_ = false;
};

inline ProgramResult runProgram(const ProgramRun& run) {
  RunningProgram program(run);
  program.writeInput(run.input);
  return program.wait();
}

// A scratch directory under /tmp, removed with its contents.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir() { std::filesystem::remove_all(path_, ignored_); }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
  std::error_code ignored_;
};

inline std::string readFile(const std::string& path) {
  return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::ssize(bytes));
}

inline std::vector<std::string> listDirectory(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Entries of `after` that are not in `before` (both sorted).
inline std::vector<std::string> newEntries(const std::vector<std::string>& before,
                                           const std::vector<std::string>& after) {
  std::vector<std::string> added;
  std::ranges::set_difference(after, before, std::back_inserter(added));
  return added;
}

}  // namespace qvtest
