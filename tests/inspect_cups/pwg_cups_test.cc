// pwg_cups_test.cc - the colour decoder agrees with a reader no one here
// wrote: libcups's raster reader decodes the same PWG Raster streams, and
// every header field the printer uses and every pixel must match.
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

using qvtest::append;
using qvtest::Bytes;

// A random but valid stream: pages of random size and colour or gray,
// lines of random runs (lengths drawn toward 1, 2, 127 and 128, pixels from
// a small palette or random), and random line repeat bytes. It is not an
// encoder: it writes runs as it pleases, as any PWG writer may.
Bytes randomStream(std::mt19937& rng, int pages) {
  Bytes stream = qvtest::text("RaS2");
  for (int p = 0; p < pages; ++p) {
    const bool colour = rng() % 2 == 0;
    const auto width = static_cast<std::uint32_t>(1 + rng() % 400);
    const auto height = static_cast<std::uint32_t>(1 + rng() % 300);
    Bytes header = qvtest::pwgHeader(width, height, colour);
    qvtest::putU32(header, qvdecode::pwgfield::kPageSize, 100 + static_cast<std::uint32_t>(p));
    append(stream, header);
    const std::size_t unit = colour ? 3 : 1;
    auto pixel = [&](Bytes& to) {
      const bool palette = rng() % 4 != 0;
      for (std::size_t i = 0; i < unit; ++i) {
        to.push_back(static_cast<std::uint8_t>(palette ? (rng() % 3) * 127 : rng()));
      }
    };
    for (std::uint32_t y = 0; y < height;) {
      const std::uint32_t left = height - y;
      const std::uint32_t repeat =
          rng() % 3 == 0
              ? std::min<std::uint32_t>(static_cast<std::uint32_t>(rng() % 256), left - 1)
              : 0;
      stream.push_back(static_cast<std::uint8_t>(repeat));
      for (std::uint32_t x = 0; x < width;) {
        const std::uint32_t room = std::min<std::uint32_t>(128, width - x);
        static constexpr std::uint32_t kEdges[] = {1, 2, 3, 127, 128};
        std::uint32_t count =
            rng() % 2 == 0 ? kEdges[rng() % 5] : 1 + static_cast<std::uint32_t>(rng() % 128);
        count = std::min(count, room);
        if (count == 1 || rng() % 2 == 0) {
          stream.push_back(static_cast<std::uint8_t>(count - 1));
          pixel(stream);
        } else {
          stream.push_back(static_cast<std::uint8_t>(257 - count));
          for (std::uint32_t i = 0; i < count; ++i) pixel(stream);
        }
        x += count;
      }
      y += repeat + 1;
    }
  }
  return stream;
}

// Decodes `stream` with both readers and compares them page by page.
void expectSameAsLibcups(const Bytes& stream) {
  std::vector<qvdecode::PwgPage> pages;
  qvdecode::DecodeError error;
  ASSERT_EQ(0, qvdecode::decodePwgRaster(stream, pages, error)) << qvdecode::describeError(error);

  qvtest::ScopedTempDir dir;
  const std::string path = dir.file("stream.pwg");
  qvtest::writeFile(path, std::string(stream.begin(), stream.end()));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  ASSERT_NE(nullptr, raster);
  cups_page_header2_t header;
  std::size_t page = 0;
  while (cupsRasterReadHeader2(raster, &header) != 0) {
    SCOPED_TRACE(testing::Message() << "page " << page + 1);
    ASSERT_LT(page, pages.size()) << "libcups sees more pages";
    const qvdecode::PwgHeader& ours = pages[page].header;
    const std::uint32_t theirs[] = {
        header.cupsWidth,        header.cupsHeight,       header.cupsBitsPerColor,
        header.cupsBitsPerPixel, header.cupsBytesPerLine, header.cupsColorOrder,
        header.cupsColorSpace,   header.cupsNumColors,    header.HWResolution[0],
        header.HWResolution[1],  header.PageSize[0],      header.PageSize[1]};
    const std::uint32_t mine[] = {ours.width,           ours.height,       ours.bitsPerColor,
                                  ours.bitsPerPixel,    ours.bytesPerLine, ours.colorOrder,
                                  ours.colorSpace,      ours.numColors,    ours.hwResolution[0],
                                  ours.hwResolution[1], ours.pageSize[0],  ours.pageSize[1]};
    EXPECT_TRUE(std::equal(std::begin(theirs), std::end(theirs), mine));
    EXPECT_EQ(std::string(header.MediaType), ours.mediaType);
    Bytes line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      ASSERT_EQ(header.cupsBytesPerLine,
                cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine))
          << "line " << y;
      const auto* ours_line = pages[page].pixels.data() + std::size_t{y} * ours.bytesPerLine;
      ASSERT_TRUE(std::equal(line.begin(), line.end(), ours_line)) << "line " << y;
    }
    ++page;
  }
  cupsRasterClose(raster);
  ::close(fd);
  EXPECT_EQ(pages.size(), page) << "libcups sees fewer pages";
}

// The hand-written gray and white pages, then random streams.
TEST(PwgAgainstLibcups, SamePagesAndPixels) {
  Bytes stream = qvtest::text("RaS2");
  append(append(stream, qvtest::grayPage()), qvtest::whiteColourPage(600, 300));
  expectSameAsLibcups(stream);
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    expectSameAsLibcups(randomStream(rng, 1 + static_cast<int>(seed % 3)));
  }
}

}  // namespace
