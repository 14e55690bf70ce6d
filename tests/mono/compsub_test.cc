// compsub_test.cc - the word-at-a-time byte helpers give what a byte loop
// over exactly `count` bytes gives, at every length around the 8- and
// 32-byte steps and every alignment, and never look past `count`.
#include "mono/compsub.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CompSub, WordLoopsMatchByteLoops) {
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t count = 0; count <= 70; ++count) {
      // One marked byte at each place; a mark at `count` lies just past the end.
      for (std::size_t mark = 0; mark <= count + 1; ++mark) {
        SCOPED_TRACE(testing::Message() << offset << " " << count << " " << mark);
        std::vector<std::uint8_t> a(offset + count + 8, 0x00), zero(a.size(), 0x00);
        std::vector<std::uint8_t> ones(a.size(), 0x01), inverted(a.size(), 0x5A);
        if (mark <= count) a[offset + mark] = 0x40, ones[offset + mark] = 0x00;
        const std::size_t expected = mark < count ? mark : count;
        const auto n = static_cast<std::int16_t>(count);
        EXPECT_EQ(mark < count ? 0 : 1, checkZero(a.data() + offset, n));
        EXPECT_EQ(expected, countEqualBytes(a.data() + offset, zero.data() + offset, count));
        EXPECT_EQ(expected, countDifferentBytes(ones.data() + offset, zero.data() + offset, count));
        invertData(a.data() + offset, inverted.data() + offset, n);
        for (std::size_t i = 0; i <= count; ++i)
          ASSERT_EQ(i < count ? static_cast<std::uint8_t>(~a[offset + i]) : 0x5A,
                    inverted[offset + i]);
        // Three equal bytes at `mark` count only when wholly inside [offset, count).
        std::vector<std::uint8_t> noise(count + 16);
        for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i + 1);
        std::fill_n(noise.begin() + static_cast<std::ptrdiff_t>(mark), 3, 0xEE);
        const std::size_t from = std::min(offset, count);
        ASSERT_EQ(mark >= from && mark + 3 <= count ? mark : count,
                  findTripleStart(noise.data(), from, count));
      }
    }
  }
  std::uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(1, checkZero(bytes, -5));  // a count of 0 or less touches nothing
  invertData(bytes, bytes, -1);
  EXPECT_EQ(1, bytes[0]);
}
