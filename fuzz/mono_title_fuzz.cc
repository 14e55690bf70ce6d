// mono_title_fuzz.cc - the job title conversion to UTF-8. The first byte
// picks the character set (low bits) and EUC conversion (bit 3); the rest,
// cut at 255 bytes as the filter cuts its title, is the title.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "mono/rawtoqv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr const char* kCharsets[] = {"utf-8",  "euc-jp", "euc-tw", "euc-cn",
                                              "euc-kr", "EUC-JP", "latin1", ""};
  const std::string title(reinterpret_cast<const char*>(data + 1),
                          std::min<std::size_t>(size - 1, 255));
  char jobName[144];
  qv::mono::convertTitle(title.c_str(), kCharsets[data[0] & 7], (data[0] & 8) != 0, jobName);
  return 0;
}
