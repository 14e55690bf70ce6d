// byte_sink.h - where a job's printer bytes go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qv {

// Receives a job's bytes in order. `write` returns true when every byte was
// taken; false means the device or the pipe is gone, and the job that wrote
// ends with a write failure.
struct ByteSink {
  bool (*write)(void* context, std::span<const std::uint8_t> bytes) = nullptr;
  void* context = nullptr;

  [[nodiscard]] bool operator()(std::span<const std::uint8_t> bytes) const {
    return write(context, bytes);
  }
};

}  // namespace qv
