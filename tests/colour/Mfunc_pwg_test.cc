// Mfunc_pwg_test.cc - the PWG line encoder, identical-line folding, gray
// conversion, rotation and the page header, against bytes derived by hand.
// Random pages go through the whole filter and back through the independent
// decoder in tests/e2e/colour_roundtrip_test.cc.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "colour/Mfunc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes repeated(std::size_t count, const Bytes& pixel) {
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

Bytes counting(int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(i));
  return out;
}

Bytes encodeLine(const Bytes& line, int pixelBytes) {
  RasterState st;
  st.lineBytes = static_cast<int>(line.size());
  st.pixelBytes = pixelBytes;
  st.repeatCount = 1;
  const long length = raster_write(&st, line.data());
  EXPECT_GT(length, 0);
  return Bytes(st.output.get(), st.output.get() + length);
}

// Runs writePwgLines into memory.
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

TEST(RasterWrite, RunsOfWholePixels) {
  struct Case {
    const char* why;
    int pixelBytes;
    Bytes pixels;
    Bytes encoded;  // after the line repeat byte 0
  };
  const Bytes white{255, 255, 255};
  const Case cases[] = {
      {"three different pixels: one literal run", 1, {1, 2, 3}, {254, 1, 2, 3}},
      {"repeat then the last pixel alone", 1, {1, 1, 2}, {1, 1, 0, 2}},
      {"a literal of one stops before a repeat", 1, {1, 2, 2}, {0, 1, 1, 2}},
      {"literal, repeat of three, last pixel", 1, {1, 2, 3, 3, 3, 4}, {255, 1, 2, 2, 3, 0, 4}},
      {"130 equal pixels: 128 and 2", 1, Bytes(130, 5), {127, 5, 1, 5}},
      {"129 equal pixels: 128 and the last alone", 1, Bytes(129, 9), {127, 9, 0, 9}},
      {"127 equal pixels fit one run", 1, Bytes(127, 7), {126, 7}},
      {"a single pixel", 1, {42}, {0, 42}},
      {"128 different pixels: one literal of 128", 1, counting(128),
       concat({{129}, counting(128)})},
      {"129 different pixels: 128 and the last alone", 1, counting(129),
       concat({{129}, counting(128), {0, 128}})},
      {"130 different pixels: 128 and a literal of 2", 1, counting(130),
       concat({{129}, counting(128), {255, 128, 129}})},
      {"white line of 600: four runs of 128 and one of 88", 3, repeated(600, white),
       concat({repeated(4, {127, 255, 255, 255}), {87, 255, 255, 255}})},
      {"pixels equal in two bytes differ", 3, {1, 2, 3, 1, 2, 4}, {255, 1, 2, 3, 1, 2, 4}},
      {"a run ends where only the last byte differs",
       3,
       {9, 9, 9, 9, 9, 9, 9, 9, 8},
       {1, 9, 9, 9, 0, 9, 9, 8}},
      {"a pixel whose bytes are all equal is no run",
       3,
       {7, 7, 7, 8, 8, 8},
       {255, 7, 7, 7, 8, 8, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(concat({{0}, c.encoded}), encodeLine(c.pixels, c.pixelBytes));
  }
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::uint8_t gray = 1;
    makegray(&gray, c.rgb.data(), 1);
    EXPECT_EQ(c.gray, gray);
  }
}

TEST(PwgLines, FoldsIdenticalLinesUpTo256) {
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
  };
  const Bytes whiteLine = repeated(600, {255, 255, 255});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes expected;
    for (std::uint8_t r : c.repeatBytes) expected = concat({expected, {r}, runs});
    const Bytes page = repeated(static_cast<std::size_t>(c.lines), whiteLine);
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
}

TEST(PwgPageHeader, ColourAndGrayFieldsAndNothingElse) {
  const std::size_t offsets[] = {276, 280, 352, 356, 372, 376, 384, 388, 392, 400, 420};
  // PageSize width -1 is sign-extended; ColorSpace 19 is sRGB, 18 sGray.
  const std::uint32_t colour[] = {600, 600, 0xFFFFFFFF, 842, 4960, 7016, 8, 24, 14880, 19, 3};
  const std::uint32_t gray[] = {600, 600, 0xFFFFFFFF, 842, 4960, 7016, 8, 8, 4960, 18, 1};
  for (const std::uint32_t* values : {colour, gray}) {
    SCOPED_TRACE(values == gray ? "gray" : "colour");
    std::uint8_t header[kPwgHeaderSize];
    std::fill(std::begin(header), std::end(header), 0xAA);
    buildPwgPageHeader(PwgPageGeometry{4960, 7016, -1, 842, 4960 * 3}, values == gray, header);
    Bytes expected(kPwgHeaderSize, 0);
    std::copy_n("PwgRaster", 9, expected.begin());
    std::copy_n("auto", 4, expected.begin() + 128);
    for (std::size_t f = 0; f < std::size(offsets); ++f)
      for (std::size_t i = 0; i < 4; ++i)
        expected[offsets[f] + i] = static_cast<std::uint8_t>(values[f] >> (24 - 8 * i));
    EXPECT_EQ(expected, Bytes(std::begin(header), std::end(header)));
  }
}

}  // namespace
