// mono_settings_fuzz.cc - the mono filter's settings file parser.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "mono/qvcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::UniqueFile rc = qvfuzz::memoryStream(data, size);
  qv::mono::PrintSettings settings{};
  if (rc) (void)qv::mono::getRcFile(rc.get(), &settings);
  return 0;
}
