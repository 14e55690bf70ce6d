// filter_streams.h - qvcupsfilter's side of the pipes to the model's filter:
// page data in, the job stream out to the printer, the messages out to the
// CUPS log. The job stream passes through us rather than going straight to
// our standard output, so that a failed write to the printer is seen at the
// first byte it loses, whatever the filter does with its own write errors.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/unique_file.h"

namespace qvcups {

class FilterStreams {
 public:
  // Takes the parent's ends: the filter's input (write end), its job
  // stream and its messages (read ends). Allocates the copy buffer.
  void attach(int input, int jobStream, int messages);

  // Writes all bytes to the filter's input while forwarding its job stream
  // and messages, so that neither side can block the other. Returns 0,
  // ECANCELED once `cancelled` is set, EPIPE when the filter has gone,
  // EIO when a write to the printer has failed, or another errno.
  [[nodiscard]] int write(const std::uint8_t* data, std::size_t size,
                          const volatile sig_atomic_t& cancelled);

  // Moves `size` bytes from the pipe `source` (Ghostscript's output) to the
  // filter's input with splice(2): the pages stay in the kernel instead of
  // being copied into this process and out again, while the job stream and
  // messages are forwarded as write() does. Returns what write() returns,
  // and ENODATA when `source` ends first.
  [[nodiscard]] int splice(int source, std::size_t size, const volatile sig_atomic_t& cancelled);

  // Ends the filter's input, then forwards the rest of its job stream and
  // messages until it closes both.
  void finish();

  // The errno of the first failed write to the printer (our standard
  // output), 0 while none. After it, the rest of the job stream is dropped
  // (its pipe is closed, so the filter stops at its next write) and the
  // filter's messages go to the log as DEBUG: lines: the job has one error,
  // reported once by the caller.
  int printerError() const { return printerError_; }

 private:
  // One poll over the filter's outputs and `fd` for `events` (none when
  // `fd` is -1); forwards what is readable. Returns the revents of `fd`.
  int pollOnce(int fd, short events);
  void forwardJobStream();
  void relayMessages();

  qv::UniqueFd input_, jobStream_, messages_;
  std::vector<std::uint8_t> buffer_;
  std::string pending_;  // a message line not yet complete
  int printerError_ = 0;
};

}  // namespace qvcups
