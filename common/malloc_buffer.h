// malloc_buffer.h - large job buffers that report a failed allocation as an
// empty owner instead of throwing, so that the filter can print its own
// message and exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace qv {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

using ByteBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Returns an empty owner when the memory cannot be had. `zeroed` asks for
// calloc, which the kernel serves from zero pages without touching them.
inline ByteBuffer allocateBytes(std::size_t size, bool zeroed = false) {
  if (size == 0) size = 1;
  void* p = zeroed ? std::calloc(size, 1) : std::malloc(size);
  return ByteBuffer(static_cast<std::uint8_t*>(p));
}

}  // namespace qv
