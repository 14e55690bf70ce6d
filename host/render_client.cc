// render_client.cc - the page slots a caller shares with qvrender.
#include "host/render_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <utility>

namespace qv::host {

std::string programDirectory() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  const std::string path(self, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string findQvrender(const std::string& directory, std::string_view installed) {
  for (const std::string& path :
       {directory + "/qvrender", programDirectory() + "/" + std::string(installed) + "/qvrender"})
    if (::access(path.c_str(), X_OK) == 0) return path;
  return {};
}

RenderedPages::~RenderedPages() {
  finish();
  if (slots_ != nullptr) ::munmap(slots_, slotsSize_);
}

int RenderedPages::start(const std::string& program, const std::string& document,
                         const RenderArea& area, const std::string& tmpdir) {
  if (!area.valid()) return EINVAL;
  area_ = area;
  slotsSize_ = 2 * area.pageBytes();
  // Both descriptors above 4, so that giving them to the renderer as 3 and 4
  // cannot overwrite one with the other.
  const auto high = [](int fd) {
    const qv::UniqueFd low(fd);
    return low ? ::fcntl(low.get(), F_DUPFD_CLOEXEC, 5) : -1;
  };
  const qv::UniqueFd memory(high(::memfd_create("qv-page-slots", MFD_CLOEXEC)));
  if (!memory || ::ftruncate(memory.get(), static_cast<off_t>(slotsSize_)) != 0) return errno;
  void* slots = ::mmap(nullptr, slotsSize_, PROT_READ | PROT_WRITE, MAP_SHARED, memory.get(), 0);
  if (slots == MAP_FAILED) return errno;
  slots_ = static_cast<std::uint8_t*>(slots);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return errno;
  control_.reset(pair[0]);
  const qv::UniqueFd theirs(high(pair[1]));
  if (!theirs) return errno;

  SpawnSpec spec;
  spec.program = program;
  spec.args = {"qvrender",
               document,
               std::to_string(area.dpi),
               std::to_string(area.sheetWidth),
               std::to_string(area.sheetHeight),
               std::to_string(area.left),
               std::to_string(area.top),
               std::to_string(area.width),
               std::to_string(area.height)};
  spec.env = {"PATH=/usr/bin:/bin", "TMPDIR=" + tmpdir};
  spec.stderrFd = STDERR_FILENO;
  spec.extraFds = {memory.get(), theirs.get()};  // as 3 and 4
  spec.ownProcessGroup = true;
  return renderer_.spawn(spec);
}

std::span<std::uint8_t> RenderedPages::next(const std::function<bool()>& cancelled) {
  if (holding_) release();
  while (renderer_.running()) {
    if (cancelled()) break;
    pollfd ready{control_.get(), POLLIN, 0};
    // A quarter second at most between looks at the job's cancel flag.
    const int n = ::poll(&ready, 1, 250);
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    std::uint8_t slot = 0;
    const ssize_t got = ::read(control_.get(), &slot, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) ended_ = true;  // the renderer has finished (or died): its status says
    if (got != 1 || slot > 1) break;
    holding_ = true;
    return {slots_ + slot * area_.pageBytes(), area_.pageBytes()};
  }
  return {};
}

void RenderedPages::release() {
  if (!holding_) return;
  holding_ = false;
  const std::uint8_t given = 1;
  while (::write(control_.get(), &given, 1) < 0 && errno == EINTR) {
  }
}

int RenderedPages::finish() {
  if (!renderer_.running()) return -1;
  // A renderer that has not ended by itself is stopped: it may be waiting
  // for a slot, or still rendering pages nobody will take.
  control_.reset();
  if (!ended_) renderer_.signal(SIGTERM);
  return renderer_.wait();
}

}  // namespace qv::host
