// compsub_test.cc - the word-at-a-time byte helpers give what a byte loop
// over exactly `count` bytes gives, at every length and alignment, and
// never look past `count`.
#include "mono/compsub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Lengths around the 8- and 32-byte steps, at every start alignment, with
// one marked byte at every position (and the byte just past the end marked
// too, which must not count).
TEST(CompSub, WordLoopsMatchByteLoops) {
  for (int offset = 0; offset < 8; ++offset) {
    for (int count = 0; count <= 70; ++count) {
      for (int mark = -1; mark <= count; ++mark) {
        SCOPED_TRACE(testing::Message()
                     << "offset " << offset << " count " << count << " mark " << mark);
        std::vector<std::uint8_t> a(static_cast<std::size_t>(offset + count + 8), 0x00);
        std::vector<std::uint8_t> b(a.size(), 0x00);
        std::uint8_t* bytes = a.data() + offset;
        const std::uint8_t* other = b.data() + offset;
        if (mark >= 0) bytes[mark] = 0x40;  // mark == count: just past the end

        const bool zeroWithin = mark < 0 || mark == count;
        EXPECT_EQ(zeroWithin ? 1 : 0, checkZero(bytes, static_cast<std::int16_t>(count)));
        const auto n = static_cast<std::size_t>(count);
        EXPECT_EQ(zeroWithin ? n : static_cast<std::size_t>(mark),
                  countEqualBytes(bytes, other, n));

        // Differing everywhere except at the mark.
        std::vector<std::uint8_t> c(a.size(), 0x01);
        if (mark >= 0) c[static_cast<std::size_t>(offset + mark)] = 0x00;
        EXPECT_EQ(zeroWithin ? n : static_cast<std::size_t>(mark),
                  countDifferentBytes(c.data() + offset, other, n));

        std::vector<std::uint8_t> inverted(a.size(), 0x5A);
        invertData(bytes, inverted.data() + offset, static_cast<std::int16_t>(count));
        for (int i = 0; i < count; ++i)
          EXPECT_EQ(static_cast<std::uint8_t>(~bytes[i]),
                    inverted[static_cast<std::size_t>(offset + i)]);
        EXPECT_EQ(0x5A, inverted[static_cast<std::size_t>(offset + count)]);
      }
    }
  }
}

// Bytes otherwise all different from their neighbours, with three equal
// ones at `at`: the triple is found exactly when it lies wholly in
// [from, end); a byte just past `end` never completes one.
TEST(CompSub, FindTripleStartOnlyInsideTheRange) {
  for (std::size_t end = 0; end <= 40; ++end) {
    for (std::size_t at = 0; at < end + 2; ++at) {
      for (std::size_t from = 0; from <= end; ++from) {
        std::vector<std::uint8_t> bytes(end + 16);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 3, 0xEE);
        const std::size_t expected = at >= from && at + 3 <= end ? at : end;
        ASSERT_EQ(expected, findTripleStart(bytes.data(), from, end))
            << "end " << end << " triple at " << at << " from " << from;
      }
    }
  }
}

TEST(CompSub, NonPositiveCountsTouchNothing) {
  std::uint8_t bytes[4] = {1, 2, 3, 4};
  std::uint8_t target[4] = {9, 9, 9, 9};
  EXPECT_EQ(1, checkZero(bytes, 0));
  EXPECT_EQ(1, checkZero(bytes, -5));
  copyData(bytes, target, -1);
  invertData(bytes, target, 0);
  EXPECT_EQ(9, target[0]);
}

}  // namespace
