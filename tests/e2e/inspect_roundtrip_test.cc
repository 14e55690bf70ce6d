// inspect_roundtrip_test.cc - pages through the real filters and back out
// of qvinspect --pnm: the previews must be the pages as the printer puts
// them on paper. Also, qvinspect --check passes every job made here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/colour_job_support.h"
#include "tests/support/run_program.h"

namespace {

struct Pnm {
  std::string magic;
  std::size_t width = 0, height = 0;
  std::string data;
};

// P4/P5/P6 as qvinspect writes them: no comments, maxval 255.
Pnm readPnm(const std::string& path) {
  const std::string bytes = qvtest::readFile(path);
  Pnm pnm;
  std::size_t at = 0;
  auto token = [&]() {
    while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    const std::size_t start = at;
    while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    return bytes.substr(start, at - start);
  };
  pnm.magic = token();
  pnm.width = std::stoul(token());
  pnm.height = std::stoul(token());
  if (pnm.magic != "P4") token();  // maxval
  pnm.data = bytes.substr(at + 1);
  return pnm;
}

qvtest::ProgramResult inspect(const std::vector<std::string>& args) {
  qvtest::ProgramRun run;
  run.path = QVINSPECT_PATH;
  run.args = args;
  return qvtest::runProgram(run);
}

// ---- mono ----

struct MonoMode {
  const char* word;                            // Resolution= in the settings
  int dpi;                                     // printer dots per inch, both ways
  int xDiv, xMul;                              // 600-dpi dots to input dots across
  int yDiv, yMul;                              // and down
  std::size_t topSkip, leftSkip, maxRowBytes;  // in input rows and bytes
};

// The six modes; the 600 x 300 mode sends every row twice and XR1200A
// repeats every even row in place of the odd one.
constexpr MonoMode kModes[] = {
    {"300", 300, 2, 1, 2, 1, 50, 6, 312},         {"600", 600, 1, 1, 1, 1, 100, 12, 624},
    {"1200", 1200, 1, 2, 1, 2, 200, 25, 1248},    {"XR1200A", 1200, 1, 2, 1, 2, 200, 25, 1248},
    {"XR1200B", 1200, 1, 2, 1, 2, 200, 25, 1248}, {"600x300", 600, 1, 1, 2, 1, 50, 12, 624},
};

// A page of noise rows, repeated rows, text-like strokes and blank rows.
std::string monoPage(std::mt19937& rng, std::size_t rowBytes, std::size_t rows) {
  std::string page(rowBytes * rows, '\0');
  for (std::size_t y = 0; y < rows; ++y) {
    char* row = page.data() + y * rowBytes;
    switch (rng() % 5) {
      case 0:  // noise
        for (std::size_t x = 0; x < rowBytes; ++x) row[x] = static_cast<char>(rng());
        break;
      case 1:  // same as the row above
        if (y > 0) std::copy_n(row - rowBytes, rowBytes, row);
        break;
      case 2: {  // strokes
        for (int n = 0; n < 6; ++n) {
          const std::size_t from = rng() % rowBytes, length = 1 + rng() % 40;
          for (std::size_t x = from; x < std::min(rowBytes, from + length); ++x) row[x] = '\xff';
        }
        break;
      }
      default:
        break;  // blank
    }
  }
  return page;
}

// The paper canvas expected for the input page: the printable area (strips
// cut, right edge cut to the printer's row) at the left shift, in printer
// rows.
std::string expectedMonoCanvas(const MonoMode& mode, const std::string& page,
                               std::size_t inputRowBytes, std::size_t inputRows,
                               std::size_t canvasWidth, std::size_t canvasHeight,
                               std::size_t shift) {
  const std::size_t canvasRowBytes = (canvasWidth + 7) / 8;
  std::string canvas(canvasRowBytes * canvasHeight, '\0');
  const std::size_t printable = inputRows > 2 * mode.topSkip ? inputRows - 2 * mode.topSkip : 0;
  const bool doubled = std::string_view(mode.word) == "600x300";
  const bool evenOnly = std::string_view(mode.word) == "XR1200A";
  std::size_t rowLen = inputRowBytes - 2 * mode.leftSkip;
  if (rowLen + shift > mode.maxRowBytes) rowLen = mode.maxRowBytes - shift;
  const std::size_t printerRows = doubled ? 2 * printable : printable;
  const std::size_t printerTop = doubled ? 2 * mode.topSkip : mode.topSkip;
  for (std::size_t r = 0; r < printerRows; ++r) {
    std::size_t source = doubled ? r / 2 : r;
    if (evenOnly) source &= ~std::size_t{1};
    const char* from = page.data() + (mode.topSkip + source) * inputRowBytes + mode.leftSkip;
    char* to = canvas.data() + (printerTop + r) * canvasRowBytes + mode.leftSkip + shift;
    std::copy_n(from, std::min(rowLen, canvasRowBytes - mode.leftSkip - shift), to);
  }
  return canvas;
}

// A6 at 600 dpi is 2480 x 3505 dots (496 x 701 in 1/120 inch): the page
// fills the paper, so the filter centres nothing and the left shift comes
// from -offset alone; the canvas is the paper.
TEST(InspectRoundTrip, MonoPagesComeBackAsTheirPrintableArea) {
  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("pi"), "A6\t2480\t3505\n");
  std::mt19937 rng(2024);
  for (const MonoMode& mode : kModes) {
    for (const char* offset : {"0", "60"}) {
      SCOPED_TRACE(testing::Message() << mode.word << " offset " << offset);
      qvtest::writeFile(dir.file("rc"), std::string("[QV]\nPaperType=A6\nResolution=") + mode.word +
                                            "\nPaperSource=Tray1\n");
      const std::size_t width = 2480u * mode.xMul / mode.xDiv;
      const std::size_t rows = 3505u * mode.yMul / mode.yDiv;
      const std::size_t rowBytes = (width + 7) / 8;
      const std::string page = monoPage(rng, rowBytes, rows);
      qvtest::ProgramRun filter;
      filter.path = RAWTOQV_PATH;
      filter.args = {"-rc", dir.file("rc"), "-pi", dir.file("pi"), "-offset", offset};
      filter.input = page;
      const qvtest::ProgramResult job = qvtest::runProgram(filter);
      ASSERT_EQ(0, job.status) << job.err;
      qvtest::writeFile(dir.file("job.prn"), job.out);

      const qvtest::ProgramResult check = inspect({"--check", dir.file("job.prn")});
      EXPECT_EQ(0, check.status) << check.err;
      const qvtest::ProgramResult preview = inspect({"--pnm", dir.path(), dir.file("job.prn")});
      ASSERT_EQ(0, preview.status) << preview.err;
      const Pnm pnm = readPnm(dir.file("job-page-001.pbm"));
      ASSERT_EQ("P4", pnm.magic);
      const std::size_t paperWidth = 496u * mode.dpi / 120, paperLength = 701u * mode.dpi / 120;
      EXPECT_EQ(paperWidth, pnm.width);
      EXPECT_EQ(paperLength, pnm.height);
      // The shift is the filter's business; the preview must be the page at
      // one shift, and with no offset on a page that fills its paper, none.
      std::size_t shift = 0;
      for (; shift < 64; ++shift) {
        if (expectedMonoCanvas(mode, page, rowBytes, rows, pnm.width, pnm.height, shift) ==
            pnm.data) {
          break;
        }
      }
      ASSERT_LT(shift, 64u) << "no left shift makes the preview the page's printable area";
      EXPECT_EQ(std::string_view(offset) == "0", shift == 0) << "shift " << shift;
    }
  }
}

// ---- colour ----

// Lines of runs around 127/128/129 pixels, repeated lines and noise.
std::string colourPixels(std::mt19937& rng, int width, int height) {
  std::string pixels;
  for (int y = 0; y < height; ++y) {
    if (y > 0 && rng() % 3 == 0) {
      pixels += pixels.substr(pixels.size() - static_cast<std::size_t>(width) * 3);
      continue;
    }
    static constexpr int kRuns[] = {1, 2, 126, 127, 128, 129, 130};
    for (int x = 0; x < width;) {
      const int run = std::min(width - x, rng() % 2 ? kRuns[rng() % 7] : 1 + int(rng() % 5));
      const bool noise = rng() % 3 == 0;
      char colour[3] = {static_cast<char>(rng()), static_cast<char>(rng()),
                        static_cast<char>(rng())};
      for (int i = 0; i < run; ++i) {
        if (noise) colour[rng() % 3] = static_cast<char>(rng());
        pixels.append(colour, 3);
      }
      x += run;
    }
  }
  return pixels;
}

// The filter's gray: G x 0.59, then + B x 0.11, then + R x 0.3, truncated.
std::string grayOf(const std::string& rgb) {
  std::string gray;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    double t = static_cast<std::uint8_t>(rgb[i + 1]) * 0.59;
    t = static_cast<std::uint8_t>(rgb[i + 2]) * 0.11 + t;
    t = static_cast<std::uint8_t>(rgb[i]) * 0.3 + t;
    gray += static_cast<char>(static_cast<int>(t));
  }
  return gray;
}

// Turned by 180 degrees: last line first, each line's pixels reversed.
std::string turned(const std::string& pixels, int pixelBytes) {
  std::string out(pixels.size(), '\0');
  const std::size_t count = pixels.size() / static_cast<std::size_t>(pixelBytes);
  for (std::size_t i = 0; i < count; ++i) {
    std::copy_n(pixels.data() + i * pixelBytes, pixelBytes,
                out.data() + (count - 1 - i) * pixelBytes);
  }
  return out;
}

TEST(InspectRoundTrip, ColourAndGrayPagesComeBackAsSent) {
  std::mt19937 rng(77);
  for (int round = 0; round < 8; ++round) {
    const bool gray = round % 2 == 1;
    const bool duplex = round % 4 >= 2;
    const int width = 1 + static_cast<int>(rng() % 400), height = 1 + static_cast<int>(rng() % 60);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << " x " << height
                                    << (gray ? " gray" : " colour") << (duplex ? " duplex" : ""));
    std::string settings;
    if (gray) settings += "QVMonoColor=Mono\n";
    if (duplex) settings += "QVDuplex=DuplexNoTumble\n";
    colourtest::TestPrinter printer(width, height, settings);
    std::vector<std::string> pages;
    std::string input;
    for (int p = 0; p < 3; ++p) {
      pages.push_back(colourPixels(rng, width, height));
      input += colourtest::ppmPage(width, height, pages.back());
    }
    const qvtest::ProgramResult job = qvtest::runProgram(printer.run(input));
    ASSERT_EQ(0, job.status) << job.err;
    const std::string path = printer.dir().file("colour.prn");
    qvtest::writeFile(path, job.out);
    const qvtest::ProgramResult check = inspect({"--check", path});
    EXPECT_EQ(0, check.status) << check.err;
    const qvtest::ProgramResult preview = inspect({"--pnm", printer.dir().path(), path});
    ASSERT_EQ(0, preview.status) << preview.err;
    for (int p = 0; p < 3; ++p) {
      SCOPED_TRACE(testing::Message() << "page " << p + 1);
      char name[32];
      std::snprintf(name, sizeof name, "colour-page-%03d.%s", p + 1, gray ? "pgm" : "ppm");
      const Pnm pnm = readPnm(printer.dir().file(name));
      EXPECT_EQ(gray ? "P5" : "P6", pnm.magic);
      EXPECT_EQ(static_cast<std::size_t>(width), pnm.width);
      EXPECT_EQ(static_cast<std::size_t>(height), pnm.height);
      std::string expected =
          gray ? grayOf(pages[static_cast<std::size_t>(p)]) : pages[static_cast<std::size_t>(p)];
      if (duplex && p == 1) expected = turned(expected, gray ? 1 : 3);
      EXPECT_TRUE(expected == pnm.data);
    }
  }
}

}  // namespace
