// run_program.cc - fork/exec with an input pipe and memory files for the outputs.
#include "tests/support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace qvtest {

RunningProgram::RunningProgram(const ProgramRun& run) {
  std::vector<std::string> args{run.path}, env;
  args.insert(args.end(), run.args.begin(), run.args.end());
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string name(*e, std::strcspn(*e, "="));
    if (!run.env.count(name) && std::find(std::begin(kFilterVariables), std::end(kFilterVariables),
                                          name) == std::end(kFilterVariables))
      env.emplace_back(*e);
  }
  for (const auto& [name, value] : run.env) env.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  int input[2];
  out_ = ::memfd_create("out", MFD_CLOEXEC);
  err_ = ::memfd_create("err", MFD_CLOEXEC);
  if (::pipe2(input, O_CLOEXEC) != 0 || out_ < 0 || err_ < 0) throw std::runtime_error("pipe");
  if ((pid_ = ::fork()) < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(input[0], 0);
    ::dup2(out_, 1);
    ::dup2(err_, 2);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(run.path.c_str(), argv.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", run.path.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  ::close(input[0]);
  in_ = input[1];
  ::signal(SIGPIPE, SIG_IGN);  // a write to a child that has gone gives EPIPE
}

RunningProgram::~RunningProgram() {
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_}) ::close(fd);
}

bool RunningProgram::writeInput(std::string_view bytes) {
  while (in_ >= 0 && !bytes.empty()) {
    const ssize_t put = ::write(in_, bytes.data(), bytes.size());
    if (put < 0 && errno != EINTR) return false;
    bytes.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(put, 0)));
  }
  return in_ >= 0;
}

void RunningProgram::closeInput() { ::close(std::exchange(in_, -1)); }

void RunningProgram::signal(int sig) {
  if (!reaped_) ::kill(pid_, sig);
}

void RunningProgram::pump(int milliseconds) { ::poll(nullptr, 0, milliseconds); }

int RunningProgram::unread() const {
  int bytes = 0;
  return in_ >= 0 && ::ioctl(in_, FIONREAD, &bytes) == 0 ? bytes : -1;
}

ProgramResult RunningProgram::wait() {
  closeInput();
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  ProgramResult result;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
  for (auto [fd, text] : {std::pair{out_, &result.out}, {err_, &result.err}}) {
    text->resize(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
    if (::pread(fd, text->data(), text->size(), 0) != ssize_t(text->size())) text->clear();
  }
  return result;
}

ScopedTempDir::ScopedTempDir() {
  char pattern[] = "/tmp/qvtest.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

}  // namespace qvtest
