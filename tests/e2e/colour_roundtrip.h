// colour_roundtrip.h - random colour jobs through rastertoqv and back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "decode/pwg_stream.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/colour_printer.h"

namespace colourtest {

// A random job (gray?, DuplexNoTumble?) decodes as printed; `inspect`: qvinspect previews too.
inline void checkRoundTrip(std::mt19937& rng, int maxHeight, std::string* out = nullptr,
                           bool inspect = false) {
  static constexpr int kWidths[] = {1, 2, 3, 127, 128, 129, 130, 256, 257, 300, 600};
  const int width =
      rng() % 3 == 0 ? 1 + static_cast<int>(rng() % 400) : kWidths[rng() % std::size(kWidths)];
  const int height = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxHeight));
  const bool gray = rng() % 3 == 0, turned = rng() % 2 == 0;
  std::vector<std::string> pages;  // RGB pixels
  std::string input;
  for (int p = 1 + static_cast<int>(rng() % 3); p > 0; --p)
    input += ppmPage(width, height, pages.emplace_back(randomPage(rng, width, height)));
  const TestPrinter printer(
      width, height,
      std::string(gray ? "QVMonoColor=Mono\n" : "") + (turned ? "QVDuplex=DuplexNoTumble\n" : ""));
  const std::string dir = printer.dir().path();
  const qvtest::ProgramResult r = qvtest::runProgram(printer.run(input));
  ASSERT_EQ(0, r.status) << r.err;
  if (out != nullptr) *out += r.out;
  if (inspect) {
    qvtest::writeFile(dir + "/job.prn", r.out);
    const qvtest::ProgramResult check =
        qvtest::runProgram({QVINSPECT_PATH, {"--check", "--pnm", dir, dir + "/job.prn"}, {}, ""});
    ASSERT_EQ(0, check.status) << check.err;
  }
  qvdecode::ColourJob job;
  qvdecode::DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeColourJob(qvtest::text(r.out), job, error))
      << qvdecode::describeError(error);
  ASSERT_EQ(pages.size(), job.pages.size());
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const qvdecode::PwgHeader& header = job.pages[p].header;
    EXPECT_EQ(std::tuple(width, height, gray ? 8u : 24u),
              (std::tuple<int, int, unsigned>(header.width, header.height, header.bitsPerPixel)));
    // The page as printed: gray if asked, even pages of DuplexNoTumble turned.
    std::string expected = pages[p];
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    for (std::size_t i = 0; turned && p % 2 == 1 && i < pixels / 2; ++i)
      std::swap_ranges(&expected[i * 3], &expected[i * 3 + 3], &expected[(pixels - 1 - i) * 3]);
    if (gray) {
      const std::string rgb = expected;
      expected.resize(pixels);
      qv::colour::makegray(reinterpret_cast<std::uint8_t*>(expected.data()),
                           reinterpret_cast<const std::uint8_t*>(rgb.data()),
                           static_cast<long>(pixels));
    }
    EXPECT_TRUE(expected == qvtest::str(job.pages[p].pixels)) << "page " << p + 1;  // no dump
    const std::string name = "/job-page-00" + std::to_string(p + 1) + (gray ? ".pgm" : ".ppm");
    EXPECT_TRUE(!inspect || qvtest::readFile(dir + name) ==
                                (gray ? "P5\n" : "P6\n") + std::to_string(width) + " " +
                                    std::to_string(height) + "\n255\n" + expected)
        << "preview of page " << p + 1;
  }
}

}  // namespace colourtest
