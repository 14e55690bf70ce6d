// run_program.cc - fork/exec with pipes and a poll loop.
#include "tests/support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qvtest {
namespace {

std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& env) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    const std::string name(entry.substr(0, entry.find('=')));
    const bool filtered = std::any_of(std::begin(kFilterVariables), std::end(kFilterVariables),
                                      [&](const char* v) { return name == v; });
    if (!filtered && env.find(name) == env.end()) out.emplace_back(entry);
  }
  for (const auto& [name, value] : env) out.push_back(name + "=" + value);
  return out;
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

RunningProgram::RunningProgram(const ProgramRun& run) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe(inPipe) != 0 || ::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
    throw std::runtime_error("pipe failed");

  std::vector<std::string> args;
  args.push_back(run.argv0 ? *run.argv0 : run.path);
  args.insert(args.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = childEnvironment(run.env);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(inPipe[0], 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
      ::close(fd);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(run.path.c_str(), argv.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", run.path.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  err_ = errPipe[0];
  setNonBlocking(out_);
  setNonBlocking(err_);
  // A test that writes to a child that has already exited must see EPIPE,
  // not die of SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
}

RunningProgram::~RunningProgram() {
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  for (int fd : {in_, out_, err_})
    if (fd >= 0) ::close(fd);
}

void RunningProgram::drain(int timeoutMs, int stdinFd) {
  pollfd fds[3];
  int n = 0;
  if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
  if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
  if (stdinFd >= 0) fds[n++] = {stdinFd, POLLOUT, 0};
  if (n == 0) return;
  if (::poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return;
  char buf[65536];
  for (int i = 0; i < n; ++i) {
    if (fds[i].fd == stdinFd || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
    std::string& sink = fds[i].fd == out_ ? result_.out : result_.err;
    if (got > 0) {
      sink.append(buf, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      int& fd = fds[i].fd == out_ ? out_ : err_;
      ::close(fd);
      fd = -1;
    }
  }
}

bool RunningProgram::writeInput(std::string_view bytes) {
  if (in_ < 0) return false;
  setNonBlocking(in_);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
    drain(50, in_);
  }
  return true;
}

void RunningProgram::closeInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void RunningProgram::signal(int sig) {
  if (!reaped_) ::kill(pid_, sig);
}

void RunningProgram::pump(int milliseconds) { drain(milliseconds, -1); }

ProgramResult RunningProgram::wait() {
  closeInput();
  while (out_ >= 0 || err_ >= 0) drain(1000, -1);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  if (WIFEXITED(status)) {
    result_.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result_.termSignal = WTERMSIG(status);
  }
  return result_;
}

ProgramResult runProgram(const ProgramRun& run) {
  RunningProgram program(run);
  if (!run.input.empty()) program.writeInput(run.input);
  return program.wait();
}

ScopedTempDir::ScopedTempDir() {
  char pattern[] = "/tmp/qvtest.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> listDirectory(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> newEntries(const std::vector<std::string>& before,
                                    const std::vector<std::string>& after) {
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  return added;
}

}  // namespace qvtest
