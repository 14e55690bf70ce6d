// Mfunc_pwg_test.cc - the PWG line encoder, identical-line folding, gray
// conversion, rotation and the page header, against bytes derived by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "colour/Mfunc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encodeLine(const Bytes& line, int pixelBytes) {
  RasterState st;
  st.lineBytes = static_cast<int>(line.size());
  st.pixelBytes = pixelBytes;
  st.repeatCount = 1;
  const long length = raster_write(&st, line.data());
  EXPECT_GT(length, 0);
  return Bytes(st.output.get(), st.output.get() + length);
}

Bytes repeated(std::size_t count, Bytes pixel) {
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

Bytes counting(int from, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(from + i));
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Runs writePwgLines into memory (no file on disk).
Bytes encodePage(const Bytes& page, int width, int height, bool gray, bool rotate) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  EXPECT_EQ(PageWriteStatus::kDone,
            writePwgLines(out, page.data(), width, height, gray, rotate, nullptr));
  std::fclose(out);
  Bytes bytes(data, data + size);
  std::free(data);
  return bytes;
}

TEST(RasterWrite, GrayRunsFromTheWorkedExamples) {
  struct Case {
    const char* why;
    Bytes pixels;
    Bytes encoded;  // after the line repeat byte 0
  };
  const Case cases[] = {
      {"three different pixels: one literal run", {1, 2, 3}, {254, 1, 2, 3}},
      {"repeat then the last pixel alone", {1, 1, 2}, {1, 1, 0, 2}},
      {"a literal of one stops before a repeat", {1, 2, 2}, {0, 1, 1, 2}},
      {"literal, repeat of three, last pixel", {1, 2, 3, 3, 3, 4}, {255, 1, 2, 2, 3, 0, 4}},
      {"130 equal pixels: 128 and 2", Bytes(130, 5), {127, 5, 1, 5}},
      {"129 equal pixels: 128 and the last alone", Bytes(129, 9), {127, 9, 0, 9}},
      {"127 equal pixels fit one run", Bytes(127, 7), {126, 7}},
      {"128 equal pixels fit one run", Bytes(128, 7), {127, 7}},
      {"a single pixel", {42}, {0, 42}},
      {"128 different pixels: one literal of 128", counting(0, 128),
       concat({{129}, counting(0, 128)})},
      {"129 different pixels: 128 and the last alone", counting(0, 129),
       concat({{129}, counting(0, 128), {0, 128}})},
      {"130 different pixels: 128 and a literal of 2", counting(0, 130),
       concat({{129}, counting(0, 128), {255, 128, 129}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(concat({{0}, c.encoded}), encodeLine(c.pixels, 1));
  }
}

TEST(RasterWrite, ColourRunsCompareWholePixels) {
  struct Case {
    const char* why;
    Bytes pixels;
    Bytes encoded;
  };
  const Bytes white{255, 255, 255};
  const Case cases[] = {
      {"white line of 600: four runs of 128 and one of 88", repeated(600, white),
       concat({repeated(4, {127, 255, 255, 255}), {87, 255, 255, 255}})},
      {"pixels equal in two bytes differ", {1, 2, 3, 1, 2, 4}, {255, 1, 2, 3, 1, 2, 4}},
      {"a run ends where only the last byte differs",
       {9, 9, 9, 9, 9, 9, 9, 9, 8},
       {1, 9, 9, 9, 0, 9, 9, 8}},
      {"a pixel whose bytes are all equal is no run", {7, 7, 7, 8, 8, 8}, {255, 7, 7, 7, 8, 8, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(concat({{0}, c.encoded}), encodeLine(c.pixels, 3));
  }
}

TEST(RasterWrite, ReusesItsBufferForLongLines) {
  RasterState st;
  st.lineBytes = 7200 * 3;
  st.pixelBytes = 3;
  st.repeatCount = 1;
  const Bytes line = counting(0, 7200 * 3);  // every pixel differs from the next
  ASSERT_GT(raster_write(&st, line.data()), 7200 * 3);
  EXPECT_EQ(65536u, st.capacity);  // max(65536, 2 x 21600)
  const std::uint8_t* buffer = st.output.get();
  ASSERT_GT(raster_write(&st, line.data()), 0);
  EXPECT_EQ(buffer, st.output.get());
}

TEST(MakeGray, RoundsLikeThePrinterDriver) {
  struct Case {
    const char* why;
    Bytes rgb;
    std::uint8_t gray;
  };
  const Case cases[] = {
      {"pure red", {255, 0, 0}, 76},
      {"neutral 23 does not come back as 23", {23, 23, 23}, 22},
      {"black", {0, 0, 0}, 0},
      {"white", {255, 255, 255}, 255},
      {"pure green: 150.45", {0, 255, 0}, 150},
      {"pure blue: 28.05", {0, 0, 255}, 28},
      {"red 1 is below one", {1, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::uint8_t gray = 1;
    makegray(&gray, c.rgb.data(), 1);
    EXPECT_EQ(c.gray, gray);
  }
}

TEST(PwgLines, FoldsIdenticalLinesUpTo256) {
  const Bytes white = repeated(600, {255, 255, 255});
  const Bytes runs = concat({repeated(4, {127, 255, 255, 255}), {87, 255, 255, 255}});
  struct Case {
    const char* why;
    int lines;
    Bytes repeatBytes;  // one encoded line per entry, with this repeat byte
  };
  const Case cases[] = {
      {"300 lines: 256 and 44", 300, {255, 43}},
      {"exactly 256 lines close one line", 256, {255}},
      {"257 lines: the 257th starts a new line", 257, {255, 0}},
      {"512 lines: two full lines", 512, {255, 255}},
      {"one line", 1, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes expected;
    for (std::uint8_t r : c.repeatBytes) expected = concat({expected, {r}, runs});
    const Bytes page = repeated(static_cast<std::size_t>(c.lines), white);
    EXPECT_EQ(expected, encodePage(page, 600, c.lines, false, false));
  }
}

TEST(PwgLines, FoldsDifferentRgbLinesThatGiveTheSameGray) {
  // (1,0,0) and (0,0,0) are both gray 0: the encoded lines are compared, not
  // only the input.
  const Bytes page = concat({repeated(4, {1, 0, 0}), repeated(4, {0, 0, 0})});
  EXPECT_EQ((Bytes{1, 3, 0}), encodePage(page, 4, 2, true, false));
  EXPECT_EQ((Bytes{0, 3, 1, 0, 0, 0, 3, 0, 0, 0}), encodePage(page, 4, 2, false, false));
}

TEST(PwgLines, RotatedPageStartsWithItsLastLineMirrored) {
  // Line 0: (1,2,3) (4,5,6); line 1: (7,8,9) (7,8,9).
  const Bytes page{1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9};
  EXPECT_EQ((Bytes{0, 1, 7, 8, 9, 0, 255, 4, 5, 6, 1, 2, 3}), encodePage(page, 2, 2, false, true));
  EXPECT_EQ((Bytes{0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 7, 8, 9}), encodePage(page, 2, 2, false, false));
  // Gray of the rotated page: 2 -> 1.x... computed per pixel by makegray.
  std::uint8_t g[3];
  makegray(g, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}.data(), 3);
  EXPECT_EQ((Bytes{0, 1, g[2], 0, 255, g[1], g[0]}), encodePage(page, 2, 2, true, true));
}

TEST(PwgLines, RefusesPagesWiderThanTheLineBuffers) {
  const Bytes line(3 * 7201, 0);
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  EXPECT_EQ(PageWriteStatus::kTooWide,
            writePwgLines(out, line.data(), 7201, 1, false, false, nullptr));
  std::fclose(out);
  std::free(data);
}

TEST(PwgLines, StopsAtACancel) {
  const Bytes page(3 * 4 * 2, 0);
  volatile std::sig_atomic_t cancel = 1;
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  EXPECT_EQ(PageWriteStatus::kCancelled,
            writePwgLines(out, page.data(), 4, 2, false, false, &cancel));
  std::fclose(out);
  EXPECT_EQ(0u, size);
  std::free(data);
}

std::uint32_t field(const std::uint8_t* header, std::size_t offset) {
  return (std::uint32_t{header[offset]} << 24) | (std::uint32_t{header[offset + 1]} << 16) |
         (std::uint32_t{header[offset + 2]} << 8) | header[offset + 3];
}

TEST(PwgPageHeader, ColourAndGrayFields) {
  std::uint8_t header[kPwgHeaderSize];
  const PwgPageGeometry page{4960, 7016, 595, 842, 4960 * 3};
  struct Case {
    bool gray;
    std::uint32_t bitsPerPixel, bytesPerLine, colorSpace, numColors;
  };
  for (const Case& c : {Case{false, 24, 14880, 19, 3}, Case{true, 8, 4960, 18, 1}}) {
    SCOPED_TRACE(c.gray ? "gray" : "colour");
    std::fill(std::begin(header), std::end(header), 0xAA);
    buildPwgPageHeader(page, c.gray, header);
    EXPECT_EQ(0, std::memcmp(header, "PwgRaster\0", 10));
    EXPECT_EQ(0, std::memcmp(header + 128, "auto\0", 5));
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {276, 600},
        {280, 600},
        {352, 595},
        {356, 842},
        {372, 4960},
        {376, 7016},
        {384, 8},
        {388, c.bitsPerPixel},
        {392, c.bytesPerLine},
        {400, c.colorSpace},
        {420, c.numColors},
    };
    std::size_t nonZero = 0;
    for (const auto& [offset, value] : fields) EXPECT_EQ(value, field(header, offset)) << offset;
    for (std::uint8_t b : header) nonZero += b != 0;
    // "PwgRaster" (9), "auto" (4) and the 11 numbers' non-zero bytes; all else 0.
    std::size_t expectedNonZero = 9 + 4;
    for (const auto& [offset, value] : fields)
      for (int shift = 0; shift < 32; shift += 8) expectedNonZero += ((value >> shift) & 0xFF) != 0;
    EXPECT_EQ(expectedNonZero, nonZero);
  }
}

TEST(PwgPageHeader, SignExtendsTheSixteenBitFields) {
  std::uint8_t header[kPwgHeaderSize];
  buildPwgPageHeader(PwgPageGeometry{10, 10, -1, -2, 30}, false, header);
  EXPECT_EQ(0xFFFFFFFFu, field(header, 352));
  EXPECT_EQ(0xFFFFFFFEu, field(header, 356));
}

}  // namespace
