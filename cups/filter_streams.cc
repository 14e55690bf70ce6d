// filter_streams.cc - the pipes to and from the model's filter.
#include "cups/filter_streams.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "cups/cups_job.h"

namespace qvcups {
namespace {

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writes every byte to standard output, waiting when it is non-blocking.
// Returns 0 or the errno of the failed write.
int writeAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(1, data, size);
    if (n < 0 && errno == EAGAIN) {
      pollfd out = {1, POLLOUT, 0};
      (void)::poll(&out, 1, -1);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

void FilterStreams::attach(int input, int jobStream, int messages) {
  input_.reset(input);
  jobStream_.reset(jobStream);
  messages_.reset(messages);
  setNonBlocking(input);
  setNonBlocking(jobStream);
  setNonBlocking(messages);
  // The colour filter writes a page at a time: a large buffer moves it in
  // few system calls (the pipe itself holds 1 MiB, see makePipe).
  buffer_.resize(std::size_t{1} << 20);
}

int FilterStreams::pollOnce(int fd, short events) {
  pollfd fds[3] = {{jobStream_.get(), POLLIN, 0}, {messages_.get(), POLLIN, 0}, {fd, events, 0}};
  if (::poll(fds, 3, -1) < 0) return 0;  // EINTR: the caller looks at its cancel flag
  if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) forwardJobStream();
  if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) relayMessages();
  return fds[2].revents;
}

void FilterStreams::forwardJobStream() {
  for (;;) {
    const ssize_t n = ::read(jobStream_.get(), buffer_.data(), buffer_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // EAGAIN: all there is for now
    if (n == 0 || (printerError_ = writeAll(buffer_.data(), static_cast<std::size_t>(n))) != 0) {
      jobStream_.reset();  // end of the stream, or the printer is lost
      return;
    }
  }
}

void FilterStreams::relayMessages() {
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(messages_.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    if (n > 0) pending_.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0, end;
    while ((end = pending_.find('\n', start)) != std::string::npos ||
           (n == 0 && start < pending_.size())) {
      if (end == std::string::npos) end = pending_.size();
      std::string text = cupsMessageFor(pending_.substr(start, end - start));
      if (printerError_ != 0 && !text.empty()) text = "DEBUG: " + text;
      if (!text.empty()) {
        text += '\n';
        (void)!::write(2, text.data(), text.size());
      }
      start = end + 1;
    }
    pending_.erase(0, std::min(start, pending_.size()));
    if (n == 0) {
      messages_.reset();
      return;
    }
  }
}

int FilterStreams::write(const std::uint8_t* data, std::size_t size,
                         const volatile sig_atomic_t& cancelled) {
  while (size > 0) {
    if (cancelled) return ECANCELED;
    if (printerError_ != 0) return EIO;
    const int events = pollOnce(input_.get(), POLLOUT);
    if ((events & (POLLOUT | POLLERR | POLLHUP)) == 0) continue;
    const ssize_t n = ::write(input_.get(), data, size);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// The splice is tried first and the poll only follows a full pipe on either
// side: a colour page moves as one splice per row, and a poll before each
// would triple the system calls. Waiting for the source and then for room
// in two polls keeps a half-ready pair from spinning; both polls forward
// the filter's output, so the filter never waits on us.
int FilterStreams::splice(int source, std::size_t size, const volatile sig_atomic_t& cancelled) {
  while (size > 0) {
    if (cancelled) return ECANCELED;
    if (printerError_ != 0) return EIO;
    const ssize_t n =
        ::splice(source, nullptr, input_.get(), nullptr, size, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n == 0) return ENODATA;
    if (n > 0) {
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return errno;
    if ((pollOnce(source, POLLIN) & (POLLIN | POLLHUP | POLLERR)) != 0)
      (void)pollOnce(input_.get(), POLLOUT);
  }
  return 0;
}

void FilterStreams::finish() {
  input_.reset();
  while (jobStream_ || messages_) (void)pollOnce(-1, 0);
}

}  // namespace qvcups
