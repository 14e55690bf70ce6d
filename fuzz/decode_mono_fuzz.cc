// decode_mono_fuzz.cc - the mono job decoder on any bytes.
#include <cstddef>
#include <cstdint>

#include "decode/m1030_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvdecode::MonoJob job;
  qvdecode::DecodeError error;
  (void)qvdecode::decodeMonoJob({data, size}, job, error);
  return 0;
}
