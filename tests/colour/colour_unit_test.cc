// colour_unit_test.cc - the PWG line encoder, line folding, gray conversion,
// rotation, page header, blank-page test, PPM header reader and the settings
// table lookups, against bytes derived by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "colour/Mfunc.h"
#include "colour/pbmproc.h"
#include "colour/qvRasterConv.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes times(std::size_t count, const Bytes& unit) {
  Bytes out;
  while (count-- > 0) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}
Bytes counting(int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(i));
  return out;
}

Bytes encodePage(const Bytes& page, int width, int height, bool gray, bool rotate) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  static PwgLineScratch scratch;
  EXPECT_EQ(PageWriteStatus::kDone,
            writePwgLines(out, page.data(), width, height, gray, rotate, nullptr, scratch));
  std::fclose(out);
  Bytes bytes(data, data + size);
  std::free(data);
  return bytes;
}

// One line through the encoder alone, 1-byte (gray) or 3-byte pixels.
Bytes encodeLine(const Bytes& line, int pixelBytes) {
  RasterState st;
  st.lineBytes = static_cast<int>(line.size());
  st.pixelBytes = pixelBytes;
  st.repeatCount = 1;
  const long length = raster_write(&st, line.data());
  return Bytes(st.output.get(), st.output.get() + std::max(length, 0L));
}

TEST(RasterWrite, RunsOfWholePixels) {
  struct Case {
    int pixelBytes;
    Bytes pixels, encoded;  // after the line repeat byte 0
  };
  const Case cases[] = {
      {1, {1, 2, 3}, {254, 1, 2, 3}},
      {1, {1, 1, 2}, {1, 1, 0, 2}},
      {1, {1, 2, 2}, {0, 1, 1, 2}},
      {1, {1, 2, 3, 3, 3, 4}, {255, 1, 2, 2, 3, 0, 4}},
      {1, Bytes(130, 5), {127, 5, 1, 5}},
      {1, Bytes(129, 9), {127, 9, 0, 9}},
      {1, Bytes(127, 7), {126, 7}},
      {1, {42}, {0, 42}},
      {1, counting(128), cat({{129}, counting(128)})},
      {1, counting(129), cat({{129}, counting(128), {0, 128}})},
      {1, counting(130), cat({{129}, counting(128), {255, 128, 129}})},
      {3, times(600, {255, 255, 255}), cat({times(4, {127, 255, 255, 255}), {87, 255, 255, 255}})},
      {3, {1, 2, 3, 1, 2, 4}, {255, 1, 2, 3, 1, 2, 4}},
      {3, {9, 9, 9, 9, 9, 9, 9, 9, 8}, {1, 9, 9, 9, 0, 9, 9, 8}},
      {3, {7, 7, 7, 8, 8, 8}, {255, 7, 7, 7, 8, 8, 8}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cat({{0}, cases[i].encoded}), encodeLine(cases[i].pixels, cases[i].pixelBytes))
        << "case " << i;
}

TEST(PwgLines, FoldsGrayAndRotation) {
  const Bytes white = times(600, {255, 255, 255});
  const Bytes runs = cat({times(4, {127, 255, 255, 255}), {87, 255, 255, 255}});
  const Bytes redBlack = cat({times(4, {1, 0, 0}), times(4, {0, 0, 0})});
  const Bytes rotating{1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9};
  struct Case {
    const char* why;
    Bytes page;
    int width, height;
    bool gray, rotate;
    Bytes encoded;  // every output line with its repeat byte
  };
  const Case cases[] = {
      {"300 lines: 256 and 44", times(300, white), 600, 300, 0, 0, cat({{255}, runs, {43}, runs})},
      {"256 lines close one line", times(256, white), 600, 256, 0, 0, cat({{255}, runs})},
      {"257 lines: the 257th opens a line", times(257, white), 600, 257, 0, 0,
       cat({{255}, runs, {0}, runs})},
      {"512 lines: two full lines", times(512, white), 600, 512, 0, 0,
       cat({{255}, runs, {255}, runs})},
      {"different RGB lines of one gray fold", redBlack, 4, 2, 1, 0, {1, 3, 0}},
      {"... but not in colour", redBlack, 4, 2, 0, 0, {0, 3, 1, 0, 0, 0, 3, 0, 0, 0}},
      {"gray like the driver: red 76, green 150, blue 28, 23 is 22",
       {255, 0, 0, 0, 255, 0, 0, 0, 255, 23, 23, 23, 255, 255, 255},
       5,
       1,
       1,
       0,
       {0, 252, 76, 150, 28, 22, 255}},
      {"rotated: last line first, mirrored",
       rotating,
       2,
       2,
       0,
       1,
       {0, 1, 7, 8, 9, 0, 255, 4, 5, 6, 1, 2, 3}},
      {"upright", rotating, 2, 2, 0, 0, {0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 7, 8, 9}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.encoded, encodePage(c.page, c.width, c.height, c.gray, c.rotate)) << c.why;
}

TEST(PwgPageHeader, ColourAndGrayFieldsAndNothingElse) {
  const std::size_t offsets[] = {276, 280, 352, 356, 372, 376, 384, 388, 392, 400, 420};
  // PageSize width -1 is sign-extended; ColorSpace 19 is sRGB, 18 sGray.
  const std::uint32_t colour[] = {600, 600, 0xFFFFFFFF, 842, 4960, 7016, 8, 24, 14880, 19, 3};
  const std::uint32_t gray[] = {600, 600, 0xFFFFFFFF, 842, 4960, 7016, 8, 8, 4960, 18, 1};
  for (const std::uint32_t* values : {colour, gray}) {
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

TEST(IsWhitePage, LooksAtEveryByte) {
  const std::size_t sizes[][2] = {{15, 14}, {16, 15}, {15, 0}, {4001, 2000}, {15, 15}};
  for (const auto& [size, darkAt] : sizes) {
    Bytes page(size, 255);
    if (darkAt < size) page[darkAt] = 254;
    EXPECT_EQ(darkAt == size, isWhitePage(page.data(), page.size())) << size << " " << darkAt;
  }
}

TEST(ReadPpmFileHeader, AcceptsOnlyTheStrictForm) {
  struct Case {
    std::string input;
    long status;
    int next;  // the stream's next byte afterwards
  };
  const Case cases[] = {
      {"P6\n640 480\n255\nX", kPpmPage, 'X'},
      {"P6 4 3 255 X", kPpmPage, 'X'},
      {"P6\n# made by a test\n640 480\n255\nX", kPpmPage, 'X'},
      {"P6\n" + std::string(70, '1') + " 1\n255\nX", kPpmPage, 'X'},
      {"P6\n" + std::string(71, '1') + " 1\n255\nX", kPpmMalformed, ' '},
      {"P6\n# c\n\n640 480\n255\nX", kPpmMalformed, '6'},
      {"P6  640 480 255 X", kPpmMalformed, '6'},
      {"P6\r\n640 480\n255\nX", kPpmMalformed, '6'},
      {"P5\n640 480\n255\nX", kPpmMalformed, '6'},
      {"p6\n640 480\n255\nX", kPpmMalformed, '6'},
      {"", kPpmEnd, EOF},
      {"\n", kPpmMalformed, EOF},
      {"P6\n640 48", kPpmMalformed, EOF},
  };
  for (const Case& c : cases) {
    std::string copy = c.input;
    std::FILE* in = fmemopen(copy.data(), std::max<std::size_t>(copy.size(), 1), "rb");
    if (copy.empty()) std::fgetc(in);  // fmemopen needs a size; start at its end
    EXPECT_EQ(c.status, ReadPpmFileHeader(in)) << c.input;
    EXPECT_EQ(c.next, std::fgetc(in)) << c.input;
    std::fclose(in);
  }
}

}  // namespace
