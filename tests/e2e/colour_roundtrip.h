// colour_roundtrip.h - random colour jobs through rastertoqv and back through
// the independent PWG decoder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <tuple>
#include <vector>

#include "decode/pwg_stream.h"
#include "tests/support/colour_printer.h"

namespace colourtest {

struct RoundTripCase {
  int width = 0, height = 0;
  bool gray = false, duplexNoTumble = false;
  std::vector<std::string> pages;  // RGB pixels
  std::string settings() const {
    return std::string(gray ? "QVMonoColor=Mono\n" : "") +
           (duplexNoTumble ? "QVDuplex=DuplexNoTumble\n" : "");
  }
  std::string input() const {
    std::string all;
    for (const std::string& page : pages) all += ppmPage(width, height, page);
    return all;
  }
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

// The page as printed: gray if asked, even pages of DuplexNoTumble turned.
inline std::vector<std::uint8_t> expectedPixels(const RoundTripCase& c, std::size_t index) {
  const std::size_t pixels = static_cast<std::size_t>(c.width) * c.height;
  std::vector<std::uint8_t> source(c.pages[index].begin(), c.pages[index].end());
  if (c.duplexNoTumble && index % 2 == 1)
    for (std::size_t i = 0; i < pixels / 2; ++i)
      std::swap_ranges(&source[i * 3], &source[i * 3 + 3], &source[(pixels - 1 - i) * 3]);
  if (!c.gray) return source;
  std::vector<std::uint8_t> gray(pixels);
  makegray(gray.data(), source.data(), static_cast<long>(pixels));
  return gray;
}

// `out`, if given, receives the job.
inline void checkRoundTrip(const RoundTripCase& c, std::string* out = nullptr) {
  const qvtest::ProgramResult r =
      qvtest::runProgram(TestPrinter(c.width, c.height, c.settings()).run(c.input()));
  ASSERT_EQ(0, r.status) << r.err;
  if (out != nullptr) *out += r.out;
  qvdecode::ColourJob job;
  qvdecode::DecodeError error;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(r.out.data());
  ASSERT_EQ(0, qvdecode::decodeColourJob(std::span(bytes, r.out.size()), job, error))
      << qvdecode::describeError(error);
  ASSERT_EQ(c.pages.size(), job.pages.size());
  for (std::size_t p = 0; p < c.pages.size(); ++p) {
    const qvdecode::PwgHeader& header = job.pages[p].header;
    EXPECT_EQ(std::tuple(c.width, c.height, c.gray ? 8u : 24u),
              (std::tuple<int, int, unsigned>(header.width, header.height, header.bitsPerPixel)));
    EXPECT_TRUE(expectedPixels(c, p) == job.pages[p].pixels) << "page " << p + 1;  // no dump
  }
}

}  // namespace colourtest
