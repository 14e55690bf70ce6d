// child_process.h - a program started with posix_spawn: no shell, no command
// line built from strings, descriptors given explicitly. The owner kills and
// reaps the child on every early return, so no process outlives the job.
#pragma once

#include <sys/types.h>

#include <csignal>

#include <string>
#include <vector>

namespace qv::host {

struct SpawnSpec {
  std::string program;            // absolute path, or a name searched in PATH
  std::vector<std::string> args;  // argv, program name first
  std::vector<std::string> env;   // the child's whole environment, NAME=value
  int stdinFd = -1;               // descriptors for the child's 0, 1, 2
  int stdoutFd = -1;              // (-1: /dev/null)
  int stderrFd = -1;
  std::vector<int> extraFds;     // become the child's 3, 4, ... (each must be above those)
  bool ownProcessGroup = false;  // out of the spooler's reach when it signals our group
};

// Ghostscript rendering `document` into its standard output as raw PBM
// (`mono`) or PPM pages, at `resolution` ("-rXxY") on a fixed sheet of
// `geometry` ("-gWxH") dots, whatever size the document asks for. Quiet, and
// PostScript's own stdout goes to stderr, so only page images reach the
// output. The environment holds PATH and TMPDIR alone.
SpawnSpec ghostscriptRaster(bool mono, std::string resolution, std::string geometry,
                            std::string document, const std::string& tmpdir);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program. Returns 0, or the error number of posix_spawn.
  [[nodiscard]] int spawn(const SpawnSpec& spec);

  // Waits for the child; returns its wait status (as waitpid gives it), or
  // -1 when there is no child. Retries when interrupted by a signal. When
  // `published` is given (a pid a signal handler may signal), it is cleared
  // after the child has ended but before it is reaped: while unreaped, the
  // pid cannot be reused, so the handler can never hit another process.
  int wait(volatile sig_atomic_t* published = nullptr);

  // Sends a signal if the child is still running.
  void signal(int sig) const;

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// "exit status 3", "killed by signal 9": for messages.
std::string describeWaitStatus(int status);

// Makes a pipe whose both ends close on exec (the child gets its end
// through the spawn's dup2, which clears that flag on the copy), with a
// large buffer for page data.
[[nodiscard]] int makePipe(int fds[2]);

}  // namespace qv::host
