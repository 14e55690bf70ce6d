// image_filter_test.cc - the pixel budget of JPEG and PNG jobs.
#include "printer/image_filter.h"

#include <gtest/gtest.h>

namespace qvprinter {
namespace {

// The budget's edges: a side of 16384, 50 million pixels in all.
TEST(ImageSize, PixelBudget) {
  EXPECT_EQ("", checkImageSize(16384, 3051));
  EXPECT_NE("", checkImageSize(16385, 1));
  EXPECT_NE("", checkImageSize(16384, 3052));
  EXPECT_NE("", checkImageSize(0, 100));
}

}  // namespace
}  // namespace qvprinter
