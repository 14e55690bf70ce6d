// run_program.h - run a built program the way a print spooler does: arguments,
// an environment, bytes on standard input; collect standard output, standard
// error and the exit status.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest {

// Environment variables that the filters read. They are removed from the
// child's environment unless a test sets them, so that the caller's shell
// (or CI) cannot change what a test sees.
inline constexpr const char* kFilterVariables[] = {
    "OWNER", "PASSWORD", "TITLE", "NODENAME", "CHARSET", "QVREDVAL", "OUTPUTTRAY", "TMPDIR",
};

struct ProgramResult {
  int status = -1;     // exit status when the program exited
  int termSignal = 0;  // the signal that ended it, else 0
  std::string out;     // every byte written to standard output
  std::string err;     // standard error
  bool exited() const { return termSignal == 0; }
};

struct ProgramRun {
  std::string path;
  std::vector<std::string> args;           // without the program name
  std::map<std::string, std::string> env;  // set in the child
  std::string input;                       // written to standard input
  std::optional<std::string> argv0;        // program name, default path
};

// Runs the program to its end. Standard input is fed while the outputs are
// drained, so large jobs cannot deadlock on a full pipe.
ProgramResult runProgram(const ProgramRun& run);

// A program started in the background with pipes on its three standard
// streams, for tests that stop feeding input half-way (cancel, stalls).
class RunningProgram {
 public:
  explicit RunningProgram(const ProgramRun& run);  // run.input is not written
  ~RunningProgram();                               // kills and reaps if still running
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool writeInput(std::string_view bytes);  // blocking write, draining outputs meanwhile
  void closeInput();
  void signal(int sig);
  // Reads standard output and error until both close, then reaps the child.
  ProgramResult wait();
  // Reads whatever is available for up to the given time (output so far).
  void pump(int milliseconds);
  const std::string& outputSoFar() const { return result_.out; }
  const std::string& errorSoFar() const { return result_.err; }
  pid_t pid() const { return pid_; }

 private:
  void drain(int timeoutMs, int stdinFd);
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  ProgramResult result_;
  bool reaped_ = false;
};

// A scratch directory under /tmp, removed with its contents on destruction.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, std::string_view bytes);

// The names in /tmp, for tests that check that a run leaves nothing behind.
std::vector<std::string> listDirectory(const std::string& dir);

// Entries of `after` that are not in `before`.
std::vector<std::string> newEntries(const std::vector<std::string>& before,
                                    const std::vector<std::string>& after);

}  // namespace qvtest
