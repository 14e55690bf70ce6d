// inspect_roundtrip_test.cc - mono pages through rawtoqv and back out of
// qvinspect --check --pnm: the previews are the pages on their paper. (The
// colour round trip checks the colour previews.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "tests/support/run_program.h"

namespace {

// A6 (496 x 701 in 1/120 inch) in each mode: dpi across and down, the strips
// the filter cuts (rows, bytes, widest row). The page fills the paper, so the
// left shift comes from -offset alone and the canvas is the paper. 600x300
// sends every row twice; XR1200A every even row in place of the odd one.
TEST(InspectRoundTrip, MonoPagesComeBackOnTheirPaper) {
  constexpr struct {
    std::string_view word;
    std::size_t dpi, down, top, left, maxRow;
  } kModes[] = {{"300", 300, 300, 50, 6, 312},          {"600", 600, 600, 100, 12, 624},
                {"1200", 1200, 1200, 200, 25, 1248},    {"XR1200A", 1200, 1200, 200, 25, 1248},
                {"XR1200B", 1200, 1200, 200, 25, 1248}, {"600x300", 600, 300, 50, 12, 624}};
  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("pi"), "A6\t2480\t3505\n");
  std::mt19937 rng(2024);
  for (const auto& mode : kModes) {
    const std::size_t top = mode.top, left = mode.left;
    for (const char* offset : {"0", "60"}) {
      SCOPED_TRACE(testing::Message() << mode.word << " offset " << offset);
      qvtest::writeFile(dir.file("rc"), "[QV]\nPaperType=A6\nResolution=" + std::string(mode.word) +
                                            "\nPaperSource=Tray1\n");
      const std::size_t width = 496 * mode.dpi / 120, height = 701 * mode.dpi / 120;
      const std::size_t rowBytes = (width + 7) / 8, rows = 701 * mode.down / 120;
      std::string page(rowBytes * rows, '\0');  // rows of noise, copies of the row above, blank
      for (std::size_t at = rowBytes; at < page.size(); at += rowBytes) {
        const auto kind = rng() % 3;
        for (std::size_t x = 0; x < rowBytes && kind < 2; ++x)
          page[at + x] = kind == 0 ? static_cast<char>(rng()) : page[at + x - rowBytes];
      }
      const qvtest::ProgramResult job =
          qvtest::runProgram({RAWTOQV_PATH,
                              {"-rc", dir.file("rc"), "-pi", dir.file("pi"), "-offset", offset},
                              {},
                              page});
      qvtest::writeFile(dir.file("job.prn"), job.out);
      const qvtest::ProgramResult check = qvtest::runProgram(
          {QVINSPECT_PATH, {"--check", "--pnm", dir.path(), dir.file("job.prn")}, {}, ""});
      ASSERT_TRUE(job.status == 0 && check.status == 0) << job.err << check.err;
      const std::string image = qvtest::readFile(dir.file("job-page-001.pbm"));
      // The printable area at a left shift, in printer rows, on the paper.
      const std::size_t doubled = mode.dpi / mode.down, evenOnly = mode.word == "XR1200A";
      const std::size_t canvasRow = (width + 7) / 8, printable = rows - 2 * top;
      const auto canvasAt = [&](std::size_t shift) {
        std::string canvas(canvasRow * height, '\0');
        const std::size_t length = std::min(rowBytes - 2 * left, mode.maxRow - shift);
        for (std::size_t r = 0; r < doubled * printable; ++r)
          std::copy_n(page.data() + (top + ((r / doubled) & ~evenOnly)) * rowBytes + left,
                      std::min(length, canvasRow - left - shift),
                      canvas.data() + (doubled * top + r) * canvasRow + left + shift);
        return "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n" + canvas;
      };
      std::size_t shift = 0;
      while (shift < 64 && canvasAt(shift) != image) ++shift;
      ASSERT_LT(shift, 64u) << "no left shift makes the preview the page's printable area";
      EXPECT_EQ(std::string_view(offset) == "0", shift == 0) << "shift " << shift;
    }
  }
}

}  // namespace
