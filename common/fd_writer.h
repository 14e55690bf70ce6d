// fd_writer.h - a job's output to a descriptor in large writes.
//
// Small writes are gathered in one buffer and large ones go straight through
// after it, as papplDeviceWrite does; interrupted and partial writes are
// continued. The first failure is kept: every later write is dropped and
// reported as failed, so a job that lost its output can say so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_sink.h"
#include "common/malloc_buffer.h"

namespace qv {

class FdWriter {
 public:
  static constexpr std::size_t kDefaultBufferBytes = std::size_t{1} << 20;

  // Does not own `fd`. A buffer that cannot be had makes every write go
  // straight to the descriptor: slower, never wrong.
  explicit FdWriter(int fd, std::size_t bufferBytes = kDefaultBufferBytes);
  // Flushes what is left; check flush() before, to see whether that worked.
  ~FdWriter();
  FdWriter(const FdWriter&) = delete;
  FdWriter& operator=(const FdWriter&) = delete;

  // False once any write has failed, this one or an earlier one.
  bool write(std::span<const std::uint8_t> bytes);
  bool flush();
  // errno of the first failure, 0 while every byte has gone out.
  int error() const { return error_; }
  // A qv::ByteSink that writes here.
  ByteSink sink() { return {&FdWriter::sinkWrite, this}; }

 private:
  static bool sinkWrite(void* self, std::span<const std::uint8_t> bytes);
  bool writeAll(const std::uint8_t* bytes, std::size_t size);

  const int fd_;
  const std::size_t capacity_;
  ByteBuffer buffer_;
  std::size_t used_ = 0;
  int error_ = 0;
};

}  // namespace qv
