// child_process.cc - posix_spawn with explicit descriptors.
#include "host/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace qv::host {
namespace {

// Owners of the spawn attribute objects, destroyed on every return.
struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};
struct SpawnAttr {
  posix_spawnattr_t attr;
  SpawnAttr() { posix_spawnattr_init(&attr); }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
};

}  // namespace

int makePipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  // A page is tens of megabytes: a 1 MiB pipe instead of the default 64 KiB
  // lets each side move a large block per wake-up. Best effort: the kernel
  // may cap it (pipe-max-size) and the default still works.
  (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  return 0;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    (void)wait();
  }
}

SpawnSpec ghostscriptRaster(bool mono, std::string resolution, std::string geometry,
                            std::string document, const std::string& tmpdir) {
  SpawnSpec spec;
  spec.program = "gs";
  spec.args = {"gs",
               "-q",
               "-dSAFER",
               "-dBATCH",
               "-dNOPAUSE",
               mono ? "-sDEVICE=pbmraw" : "-sDEVICE=ppmraw",
               std::move(resolution),
               std::move(geometry),
               "-dFIXEDMEDIA",
               "-sstdout=%stderr",
               "-sOutputFile=%stdout",
               "-f",
               std::move(document)};
  const char* path = std::getenv("PATH");
  spec.env = {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
              "TMPDIR=" + tmpdir};
  return spec;
}

int ChildProcess::spawn(const SpawnSpec& spec) {
  FileActions files;
  const int targets[3] = {0, 1, 2};
  const int sources[3] = {spec.stdinFd, spec.stdoutFd, spec.stderrFd};
  for (int i = 0; i < 3; ++i) {
    if (sources[i] >= 0)
      posix_spawn_file_actions_adddup2(&files.actions, sources[i], targets[i]);
    else
      posix_spawn_file_actions_addopen(&files.actions, targets[i], "/dev/null",
                                       i == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  for (std::size_t i = 0; i < spec.extraFds.size(); ++i)
    posix_spawn_file_actions_adddup2(&files.actions, spec.extraFds[i], 3 + static_cast<int>(i));

  // The child starts with default signal actions and nothing blocked: we
  // ignore SIGPIPE and catch SIGTERM, the filters must not inherit either.
  SpawnAttr attributes;
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  sigemptyset(&empty);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  posix_spawnattr_setsigdefault(&attributes.attr, &defaults);
  posix_spawnattr_setsigmask(&attributes.attr, &empty);
  if (spec.ownProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes.attr, 0);
  }
  posix_spawnattr_setflags(&attributes.attr, flags);

  std::vector<char*> argv, envp;
  for (const std::string& arg : spec.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  for (const std::string& var : spec.env) envp.push_back(const_cast<char*>(var.c_str()));
  envp.push_back(nullptr);

  const bool searchPath = spec.program.find('/') == std::string::npos;
  pid_t pid = -1;
  const int rc = searchPath ? ::posix_spawnp(&pid, spec.program.c_str(), &files.actions,
                                             &attributes.attr, argv.data(), envp.data())
                            : ::posix_spawn(&pid, spec.program.c_str(), &files.actions,
                                            &attributes.attr, argv.data(), envp.data());
  if (rc != 0) return rc;
  pid_ = pid;
  return 0;
}

int ChildProcess::wait(volatile sig_atomic_t* published) {
  if (pid_ <= 0) return -1;
  if (published != nullptr) {
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    *published = 0;
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) {
      status = -1;
      break;
    }
  }
  pid_ = -1;
  return status;
}

void ChildProcess::signal(int sig) const {
  if (pid_ > 0) ::kill(pid_, sig);
}

std::string describeWaitStatus(int status) {
  char text[64];
  if (status == -1)
    std::snprintf(text, sizeof text, "not started");
  else if (WIFEXITED(status))
    std::snprintf(text, sizeof text, "exit status %d", WEXITSTATUS(status));
  else if (WIFSIGNALED(status))
    std::snprintf(text, sizeof text, "killed by signal %d", WTERMSIG(status));
  else
    std::snprintf(text, sizeof text, "wait status %d", status);
  return text;
}

}  // namespace qv::host
