// mono_paper_fuzz.cc - the paper information file lookup. The first byte
// picks the paper code (codes outside the table included); the rest is the
// file.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "mono/qvcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const qv::UniqueFile file = qvfuzz::memoryStream(data + 1, size - 1);
  std::int32_t width = 0, height = 0;
  if (file)
    (void)qv::mono::getPaperInf(file.get(), static_cast<std::int8_t>(data[0]), width, height);
  return 0;
}
