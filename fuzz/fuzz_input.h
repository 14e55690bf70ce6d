// fuzz_input.h - the fuzzer's bytes as the inputs the parsers take: a stdio
// stream over memory, or a descriptor (and its /proc path) of a memory file.
#pragma once

#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/unique_file.h"

namespace qvfuzz {

// A read-only stream over the bytes; null for an empty input (fmemopen
// refuses a zero size).
inline qv::UniqueFile memoryStream(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return qv::UniqueFile(fopen("/dev/null", "r"));
  return qv::UniqueFile(fmemopen(const_cast<std::uint8_t*>(data), size, "r"));
}

// A memory file holding the bytes, positioned at its start.
inline qv::UniqueFd memoryFile(const std::uint8_t* data, std::size_t size) {
  qv::UniqueFd fd(memfd_create("qvfuzz", MFD_CLOEXEC));
  if (!fd || write(fd.get(), data, size) != static_cast<ssize_t>(size) ||
      lseek(fd.get(), 0, SEEK_SET) != 0) {
    return qv::UniqueFd();
  }
  return fd;
}

inline std::string procPath(const qv::UniqueFd& fd) {
  return "/proc/self/fd/" + std::to_string(fd.get());
}

}  // namespace qvfuzz
