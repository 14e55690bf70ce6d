// pwg_cups_test.cc - the colour decoder and libcups's raster reader agree on every header
// field the printer uses and every pixel.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "decode/pwg_stream.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/run_program.h"

namespace {

using qvtest::Bytes;
using qvtest::operator+;

// Random valid pages as any writer may make them: runs often 1, 2, 127 or 128, line repeats.
Bytes randomStream(std::mt19937& rng, std::uint32_t pages) {
  Bytes stream = qvtest::text("RaS2");
  const auto below = [&rng](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  for (std::uint32_t p = 0; p < pages; ++p) {
    const bool colour = below(2) == 0, palette = below(4) != 0;
    const std::uint32_t width = 1 + below(400), height = 1 + below(300), unit = colour ? 3 : 1;
    stream = stream + qvtest::pwgHeader(width, height, colour);
    qvtest::putU32(
        stream, stream.size() - qvdecode::kPwgHeaderBytes + qvdecode::pwgfield::kPageSize, 100 + p);
    for (std::uint32_t y = 0, repeat; y < height; y += repeat + 1) {
      stream.push_back(static_cast<std::uint8_t>(
          repeat = below(3) == 0 ? std::min(below(256), height - y - 1) : 0));
      for (std::uint32_t x = 0, count; x < width; x += count) {
        static constexpr std::uint32_t kEdges[] = {1, 2, 3, 127, 128};
        count =
            std::min(below(2) == 0 ? kEdges[below(5)] : 1 + below(128), std::min(128u, width - x));
        const bool run = count == 1 || below(2) == 0;
        stream.push_back(static_cast<std::uint8_t>(run ? count - 1 : 257 - count));
        for (std::uint32_t i = 0; i < (run ? 1 : count) * unit; ++i)
          stream.push_back(static_cast<std::uint8_t>(palette ? below(3) * 127 : rng()));
      }
    }
  }
  return stream;
}

void expectSameAsLibcups(const Bytes& stream) {
  std::vector<qvdecode::PwgPage> pages;
  qvdecode::DecodeError error;
  ASSERT_EQ(0, qvdecode::decodePwgRaster(stream, pages, error)) << qvdecode::describeError(error);
  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("s.pwg"), std::string(stream.begin(), stream.end()));
  const int fd = ::open(dir.file("s.pwg").c_str(), O_RDONLY | O_CLOEXEC);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  ASSERT_NE(nullptr, raster);
  cups_page_header2_t h;
  std::size_t page = 0;
  for (; cupsRasterReadHeader2(raster, &h) != 0; ++page) {
    SCOPED_TRACE(testing::Message() << "page " << page + 1);
    ASSERT_LT(page, pages.size()) << "libcups sees more pages";
    const qvdecode::PwgHeader& o = pages[page].header;
    EXPECT_EQ(
        (std::vector<unsigned>{h.cupsWidth, h.cupsHeight, h.cupsBitsPerColor, h.cupsBitsPerPixel,
                               h.cupsBytesPerLine, h.cupsColorOrder, h.cupsColorSpace,
                               h.cupsNumColors, h.HWResolution[0], h.HWResolution[1], h.PageSize[0],
                               h.PageSize[1]}),
        (std::vector<unsigned>{o.width, o.height, o.bitsPerColor, o.bitsPerPixel, o.bytesPerLine,
                               o.colorOrder, o.colorSpace, o.numColors, o.hwResolution[0],
                               o.hwResolution[1], o.pageSize[0], o.pageSize[1]}));
    EXPECT_EQ(std::string(h.MediaType), o.mediaType);
    Bytes pixels(std::size_t{h.cupsBytesPerLine} * h.cupsHeight);
    ASSERT_EQ(pixels.size(),
              cupsRasterReadPixels(raster, pixels.data(), static_cast<unsigned>(pixels.size())));
    EXPECT_TRUE(pixels == pages[page].pixels);
  }
  cupsRasterClose(raster);
  ::close(fd);
  EXPECT_EQ(pages.size(), page) << "libcups sees fewer pages";
}

TEST(PwgAgainstLibcups, SamePagesAndPixels) {
  expectSameAsLibcups(qvtest::text("RaS2") + qvtest::grayPage() +
                      qvtest::whiteColourPage(600, 300));
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    expectSameAsLibcups(randomStream(rng, 1 + seed % 3));
  }
}

}  // namespace
