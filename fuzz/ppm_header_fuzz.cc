// ppm_header_fuzz.cc - the colour filter's PPM page header reader, header
// after header as long as the stream holds them.
#include <cstddef>
#include <cstdint>

#include "colour/pbmproc.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::UniqueFile in = qvfuzz::memoryStream(data, size);
  if (!in) return 0;
  for (int page = 0; page < 64 && qv::colour::ReadPpmFileHeader(in.get()) == qv::colour::kPpmPage;
       ++page) {
  }
  return 0;
}
