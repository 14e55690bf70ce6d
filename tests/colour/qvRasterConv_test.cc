// qvRasterConv_test.cc - the blank-page test. Whether it runs (QVSkipBlank)
// and what a blank page does to the job is run end to end in colour_job_test.
#include <gtest/gtest.h>

#include <vector>

#include "colour/qvRasterConv.h"

namespace {

TEST(IsWhitePage, LooksAtEveryByte) {
  struct Case {
    const char* why;
    std::size_t size;
    std::size_t darkAt;  // index of a byte below 255, or size for none
    std::uint8_t dark;
    bool white;
  };
  const Case cases[] = {
      {"all 255", 15, 15, 0, true},
      {"the very last byte, after the whole groups", 15, 14, 0, false},
      {"last byte of an exact multiple of eight", 16, 15, 254, false},
      {"the first byte", 15, 0, 254, false},
      {"near white 254 in the middle", 4001, 2000, 254, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::uint8_t> page(c.size, 255);
    if (c.darkAt < c.size) page[c.darkAt] = c.dark;
    EXPECT_EQ(c.white, isWhitePage(page.data(), page.size()));
  }
}

}  // namespace
