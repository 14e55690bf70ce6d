// colour_encoder_test.cc - the line encoder where its scan changes gear (16 RGB
// or 48 gray pixels at once, then pixel by pixel), and page files larger than
// the 8 MiB window they are sent through.
#include "tests/e2e/colour_roundtrip.h"

namespace colourtest {
namespace {

using qv::colour::raster_write;
using qv::colour::RasterState;

using Bytes = std::vector<std::uint8_t>;

// Runs in order from the first pixel: n > 0 a literal of n pixels, (257 - n)
// and the pixels; n < 0 a repeat of -n pixels, (-n - 1) and the pixel.
Bytes encoded(const Bytes& line, int size, const std::vector<int>& runs) {
  Bytes out{0};  // the line repeat byte
  int at = 0;
  for (const int n : runs) {
    out.push_back(static_cast<std::uint8_t>(n > 0 ? 257 - n : -n - 1));
    out.insert(out.end(), &line[at * size], &line[(at + std::max(n, 1)) * size]);
    at += std::abs(n);
  }
  return out;
}

TEST(ColourEncoder, RunsWhereTheScanChangesGear) {
  struct Case {
    const char* why;
    int pixels, size, copy;
    std::vector<int> runs;
  };
  const Case cases[] = {
      {"RGB pair ends the first 16-pixel block", 20, 3, 17, {16, -2, 2}},
      {"RGB pair just past it", 20, 3, 18, {17, -2, -1}},
      {"gray pair ends the first 48-pixel block", 60, 1, 49, {48, -2, 10}},
      {"129 gray pixels: 128, then the last alone", 129, 1, -1, {128, -1}},
      {"130 gray pixels: 128 and 2", 130, 1, -1, {128, 2}},
      {"one RGB pixel", 1, 3, -1, {-1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes line;  // pixel k is k + 1 in every byte; pixel `copy` repeats its left neighbour
    for (int k = 0; k < c.pixels; ++k)
      line.insert(line.end(), c.size, static_cast<std::uint8_t>(k + (k != c.copy)));
    RasterState st{c.pixels * c.size, 1, c.size, {}, 0};
    const long length = raster_write(&st, line.data());
    ASSERT_GT(length, 0);
    EXPECT_EQ(encoded(line, c.size, c.runs), Bytes(st.output.get(), st.output.get() + length));
  }
}

// Two noise pages of 9.2 MB each: the first leaves at the second's begin, the
// second at the job end, each in two windows.
TEST(ColourPageFile, PagesBeyondTheCopyWindowArriveWhole) {
  std::mt19937 rng(11);
  std::vector<std::string> pages;
  std::string input;
  for (int page = 0; page < 2; ++page) {
    std::string& pixels = pages.emplace_back(1800 * 1700 * 3, '\0');
    for (char& b : pixels) b = static_cast<char>(rng());
    input += ppmPage(1800, 1700, pixels);
  }
  const qvtest::ProgramResult r = qvtest::runProgram(TestPrinter(1800, 1700, "").run(input));
  ASSERT_EQ(0, r.status) << r.err;
  qvdecode::ColourJob job;
  qvdecode::DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeColourJob(qvtest::text(r.out), job, error));
  ASSERT_EQ(2u, job.pages.size());
  for (std::size_t p = 0; p < 2; ++p) EXPECT_TRUE(pages[p] == qvtest::str(job.pages[p].pixels));
}

}  // namespace
}  // namespace colourtest
