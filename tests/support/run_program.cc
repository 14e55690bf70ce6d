// run_program.cc - fork/exec with pipes and a poll loop.
#include "tests/support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

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
  int pipes[3][2];  // standard input, output, error; the child's end is [0][0], [1][1], [2][1]
  for (auto& p : pipes)
    if (::pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if ((pid_ = ::fork()) < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    for (int i = 0; i < 3; ++i) ::dup2(pipes[i][i == 0 ? 0 : 1], i);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(run.path.c_str(), argv.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", run.path.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  for (int i = 0; i < 3; ++i) ::close(pipes[i][i == 0 ? 0 : 1]);
  in_ = pipes[0][1];
  out_ = pipes[1][0];
  err_ = pipes[2][0];
  for (int fd : {in_, out_, err_}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);  // a write to a child that has gone gives EPIPE
}

RunningProgram::~RunningProgram() {
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_})
    if (fd >= 0) ::close(fd);
}

void RunningProgram::drain(int timeoutMs, bool forInput) {
  pollfd fds[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {forInput ? in_ : -1, POLLOUT, 0}};
  if (::poll(fds, 3, timeoutMs) <= 0) return;
  char buf[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    int& fd = i == 0 ? out_ : err_;
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got > 0) {
      (i == 0 ? result_.out : result_.err).append(buf, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      ::close(fd);
      fd = -1;
    }
  }
}

bool RunningProgram::writeInput(std::string_view bytes) {
  while (in_ >= 0 && !bytes.empty()) {
    const ssize_t put = ::write(in_, bytes.data(), bytes.size());
    if (put > 0)
      bytes.remove_prefix(static_cast<std::size_t>(put));
    else if (put < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    else
      drain(50, true);
  }
  return in_ >= 0;
}

void RunningProgram::closeInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void RunningProgram::signal(int sig) {
  if (!reaped_) ::kill(pid_, sig);
}

void RunningProgram::pump(int milliseconds) { drain(milliseconds, false); }

ProgramResult RunningProgram::wait() {
  closeInput();
  while (out_ >= 0 || err_ >= 0) drain(1000, false);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  if (WIFEXITED(status)) result_.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.termSignal = WTERMSIG(status);
  return result_;
}

ScopedTempDir::ScopedTempDir() {
  char pattern[] = "/tmp/qvtest.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

}  // namespace qvtest
