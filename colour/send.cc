// send.cc - buffered writer to standard output.
#include "colour/send.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// 1 MiB: a chart page encodes to a few hundred KiB, so a page leaves in a
// handful of write calls. Static storage: no allocation on the output path.
constexpr std::size_t kOutputBufferSize = std::size_t{1} << 20;
std::uint8_t outputBuffer[kOutputBufferSize];
std::size_t outputUsed = 0;
int outputFd = 1;
bool outputFailed = false;
int outputErrno = 0;

// Writes all bytes, resuming after EINTR. A failed descriptor (closed pipe,
// full disk) drops the rest of the job's output: the spooler reports that.
bool writeAll(const std::uint8_t* bytes, std::size_t length) {
  while (length > 0 && !outputFailed) {
    const ssize_t written = ::write(outputFd, bytes, length);
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      outputFailed = true;
      outputErrno = errno;
      break;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return !outputFailed;
}

}  // namespace

int pswrite(const void* bytes, std::size_t length) {
  if (length == 0) return 1;
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  if (outputUsed + length <= kOutputBufferSize) {
    std::memcpy(outputBuffer + outputUsed, data, length);
    outputUsed += length;
    return outputFailed ? 0 : 1;
  }
  if (!flushOutput()) return 0;
  if (length >= kOutputBufferSize) return writeAll(data, length) ? 1 : 0;
  std::memcpy(outputBuffer, data, length);
  outputUsed = length;
  return 1;
}

int flushOutput() {
  const bool ok = writeAll(outputBuffer, outputUsed);
  outputUsed = 0;
  return ok ? 1 : 0;
}

void setOutputFd(int fd) {
  flushOutput();
  outputFd = fd;
  outputFailed = false;
}

bool outputHasFailed() { return outputFailed; }

void reportOutputFailure() {
  std::fprintf(stderr, "ERROR: Unable to send print data: %s\n", std::strerror(outputErrno));
}

DevModeBlock* tmppdev = nullptr;

int CreateSendBuf(SendInfo* send) {
  static DevModeBlock block{};
  send->pdev = &block;
  tmppdev = &block;
  return 0;
}

void DestroySendBuf() {}
