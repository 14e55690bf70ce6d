// qvRasterConv_test.cc - the blank-page test.
#include <gtest/gtest.h>

#include <vector>

#include "colour/qvRasterConv.h"
#include "colour/qvresource.h"

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

class SkipBlank : public testing::Test {
 protected:
  void SetUp() override {
    ResetRcInfo();
    job_.nWidth = 3;
    job_.nHeight = 3;
    job_.nBytesPerLine = 9;
    page_.assign(27, 255);
    Planes[0] = page_.data();
  }
  void TearDown() override {
    Planes[0] = nullptr;
    ResetRcInfo();
  }
  PjpInfo job_{};
  SendInfo send_{};
  std::vector<std::uint8_t> page_;
};

TEST_F(SkipBlank, OffByDefault) {
  send_.wFlags = 1;
  EXPECT_EQ(0, skipBlankPagePrint(&job_, &send_));
  EXPECT_EQ(0, send_.wFlags & 1);
}

TEST_F(SkipBlank, OnSkipsWhitePagesOnly) {
  ASSERT_EQ(0, SetSelectionParam(20, "ON", &g_rcInfo));
  EXPECT_EQ(1, skipBlankPagePrint(&job_, &send_));
  EXPECT_EQ(1, send_.wFlags & 1);
  page_[26] = 254;
  EXPECT_EQ(0, skipBlankPagePrint(&job_, &send_));
  EXPECT_EQ(0, send_.wFlags & 1);
  job_.nHeight = 0;  // an empty page is not blank
  page_[26] = 255;
  EXPECT_EQ(0, skipBlankPagePrint(&job_, &send_));
}

}  // namespace
