// colour_roundtrip.h - random colour jobs through rastertoqv and back through
// the independent PWG decoder. Shared by the fast and the slow sweep.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "colour/Mfunc.h"
#include "decode/pwg_stream.h"
#include "tests/support/colour_printer.h"

namespace colourtest {

struct RoundTripCase {
  int width = 0;
  int height = 0;
  bool gray = false;
  bool duplexNoTumble = false;
  std::vector<std::string> pages;  // RGB pixels, height x width x 3 each
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

// What the printer must see of a page: gray if asked, turned by 180 degrees
// on the even printed pages of a DuplexNoTumble job.
inline std::vector<std::uint8_t> expectedPixels(const RoundTripCase& c, std::size_t index) {
  const std::string& rgb = c.pages[index];
  const std::size_t pixels = static_cast<std::size_t>(c.width) * c.height;
  std::vector<std::uint8_t> source(rgb.begin(), rgb.end());
  if (c.duplexNoTumble && index % 2 == 1) {
    // Pixel i of the turned page is pixel (n - 1 - i) of the page.
    std::vector<std::uint8_t> turned(source.size());
    for (std::size_t i = 0; i < pixels; ++i)
      std::copy_n(&source[(pixels - 1 - i) * 3], 3, &turned[i * 3]);
    source.swap(turned);
  }
  if (!c.gray) return source;
  std::vector<std::uint8_t> gray(pixels);
  makegray(gray.data(), source.data(), static_cast<long>(pixels));
  return gray;
}

inline void checkRoundTrip(const RoundTripCase& c) {
  std::string settings;
  if (c.gray) settings += "QVMonoColor=Mono\n";
  if (c.duplexNoTumble) settings += "QVDuplex=DuplexNoTumble\n";
  TestPrinter printer(c.width, c.height, settings);
  std::string input;
  for (const std::string& page : c.pages) input += ppmPage(c.width, c.height, page);
  const qvtest::ProgramResult r = qvtest::runProgram(printer.run(input));
  ASSERT_EQ(0, r.status) << r.err;

  qvdecode::ColourJob job;
  qvdecode::DecodeError error;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(r.out.data());
  ASSERT_EQ(0, qvdecode::decodeColourJob(std::span(bytes, r.out.size()), job, error))
      << qvdecode::describeError(error);
  ASSERT_EQ(c.pages.size(), job.pages.size());
  for (std::size_t p = 0; p < c.pages.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "page " << p + 1);
    const qvdecode::PwgHeader& header = job.pages[p].header;
    EXPECT_EQ(static_cast<std::uint32_t>(c.width), header.width);
    EXPECT_EQ(static_cast<std::uint32_t>(c.height), header.height);
    EXPECT_EQ(c.gray ? 8u : 24u, header.bitsPerPixel);
    // Compared as a flag: a failing page would otherwise print all its bytes.
    const std::vector<std::uint8_t> expected = expectedPixels(c, p);
    const auto& got = job.pages[p].pixels;
    const auto diff = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
    EXPECT_TRUE(expected == got) << "first difference at byte " << (diff.first - expected.begin())
                                 << " of " << expected.size();
  }
}

}  // namespace colourtest
