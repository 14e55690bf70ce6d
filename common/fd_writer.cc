// fd_writer.cc - large writes to a descriptor, the first failure kept.
#include "common/fd_writer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/page_input.h"

namespace qv {

FdWriter::FdWriter(int fd, std::size_t bufferBytes)
    : fd_(fd), capacity_(bufferBytes), buffer_(allocateBytes(bufferBytes)) {
  raisePipeCapacity(fd);
}

FdWriter::~FdWriter() { flush(); }

bool FdWriter::write(std::span<const std::uint8_t> bytes) {
  if (error_ != 0) return false;
  if (buffer_ && used_ + bytes.size() <= capacity_) {
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return true;
  }
  if (!flush()) return false;
  if (!buffer_ || bytes.size() >= capacity_) return writeAll(bytes.data(), bytes.size());
  std::memcpy(buffer_.get(), bytes.data(), bytes.size());
  used_ = bytes.size();
  return true;
}

bool FdWriter::flush() {
  if (error_ != 0) return false;
  const std::size_t size = used_;
  used_ = 0;
  return writeAll(buffer_.get(), size);
}

bool FdWriter::writeAll(const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n > 0) {
      bytes += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {  // a non-blocking descriptor: wait for room
      pollfd room{fd_, POLLOUT, 0};
      ::poll(&room, 1, -1);
      continue;
    }
    error_ = n < 0 ? errno : EIO;
    return false;
  }
  return true;
}

bool FdWriter::sinkWrite(void* self, std::span<const std::uint8_t> bytes) {
  return static_cast<FdWriter*>(self)->write(bytes);
}

}  // namespace qv
