// colour_roundtrip.h - random colour jobs through rastertoqv and back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <tuple>
#include <vector>

#include "decode/pwg_stream.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/colour_printer.h"

namespace colourtest {

struct RoundTripCase {
  int width = 0, height = 0;
  bool gray = false, duplexNoTumble = false;
  std::vector<std::string> pages;  // RGB pixels
};

inline RoundTripCase randomCase(std::mt19937& rng, int maxHeight) {
  static constexpr int kWidths[] = {1, 2, 3, 127, 128, 129, 130, 256, 257, 300, 600};
  RoundTripCase c;
  c.width =
      rng() % 3 == 0 ? 1 + static_cast<int>(rng() % 400) : kWidths[rng() % std::size(kWidths)];
  c.height = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxHeight));
  c.gray = rng() % 3 == 0;
  c.duplexNoTumble = rng() % 2 == 0;
  for (int p = 1 + static_cast<int>(rng() % 3); p > 0; --p)
    c.pages.push_back(randomPage(rng, c.width, c.height));
  return c;
}

// `out` receives the job; with `inspect`, qvinspect passes it and previews the pages as printed.
inline void checkRoundTrip(const RoundTripCase& c, std::string* out = nullptr,
                           bool inspect = false) {
  const TestPrinter printer(c.width, c.height,
                            std::string(c.gray ? "QVMonoColor=Mono\n" : "") +
                                (c.duplexNoTumble ? "QVDuplex=DuplexNoTumble\n" : ""));
  const std::string dir = printer.dir().path();
  std::string input;
  for (const std::string& page : c.pages) input += ppmPage(c.width, c.height, page);
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
  ASSERT_EQ(c.pages.size(), job.pages.size());
  for (std::size_t p = 0; p < c.pages.size(); ++p) {
    const qvdecode::PwgHeader& header = job.pages[p].header;
    EXPECT_EQ(std::tuple(c.width, c.height, c.gray ? 8u : 24u),
              (std::tuple<int, int, unsigned>(header.width, header.height, header.bitsPerPixel)));
    // The page as printed: gray if asked, even pages of DuplexNoTumble turned.
    std::string expected = c.pages[p];
    const std::size_t pixels = static_cast<std::size_t>(c.width) * c.height;
    for (std::size_t i = 0; c.duplexNoTumble && p % 2 == 1 && i < pixels / 2; ++i)
      std::swap_ranges(&expected[i * 3], &expected[i * 3 + 3], &expected[(pixels - 1 - i) * 3]);
    if (c.gray) {
      const std::string rgb = expected;
      expected.resize(pixels);
      makegray(reinterpret_cast<std::uint8_t*>(expected.data()),
               reinterpret_cast<const std::uint8_t*>(rgb.data()), static_cast<long>(pixels));
    }
    EXPECT_TRUE(expected == qvtest::str(job.pages[p].pixels)) << "page " << p + 1;  // no dump
    char name[64];
    std::snprintf(name, sizeof name, "/job-page-%03zu.%s", p + 1, c.gray ? "pgm" : "ppm");
    EXPECT_TRUE(!inspect || qvtest::readFile(dir + name) ==
                                (c.gray ? "P5\n" : "P6\n") + std::to_string(c.width) + " " +
                                    std::to_string(c.height) + "\n255\n" + expected)
        << "preview of page " << p + 1;
  }
}

}  // namespace colourtest
