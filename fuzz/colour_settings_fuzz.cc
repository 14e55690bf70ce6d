// colour_settings_fuzz.cc - the colour filter's settings file parser, read
// from a memory file through its path.
#include <cstddef>
#include <cstdint>

#include "colour/qvresource.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::UniqueFd rc = qvfuzz::memoryFile(data, size);
  if (!rc) return 0;
  qv::colour::RcSettings settings;
  (void)qv::colour::LoadRcFile(qvfuzz::procPath(rc).c_str(), &settings.info, {});
  return 0;
}
