// colour_roundtrip.h - random colour jobs through rastertoqv and back through
// the independent PWG decoder. Shared by the fast and the slow sweep.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "colour/Mfunc.h"
#include "decode/pwg_stream.h"
#include "tests/e2e/colour_job_support.h"

namespace colourtest {

struct RoundTripCase {
  int width = 0;
  int height = 0;
  bool gray = false;
  bool duplexNoTumble = false;
  std::vector<std::string> pages;  // RGB pixels, height x width x 3 each
};

// Run lengths on the encoder's boundaries, and ordinary ones.
inline int pickRunLength(std::mt19937& rng) {
  static constexpr int kLengths[] = {1, 2, 3, 126, 127, 128, 129, 130, 255, 256, 257, 5, 17};
  return kLengths[std::uniform_int_distribution<int>(0, std::size(kLengths) - 1)(rng)];
}

inline int pickWidth(std::mt19937& rng) {
  static constexpr int kWidths[] = {1, 2, 3, 127, 128, 129, 130, 256, 257, 300, 600};
  if (rng() % 3 == 0) return std::uniform_int_distribution<int>(1, 400)(rng);
  return kWidths[std::uniform_int_distribution<int>(0, std::size(kWidths) - 1)(rng)];
}

// A line made of runs of one pixel, literal noise and near-equal pixels
// (pixels that differ in one byte only).
inline std::string randomLine(std::mt19937& rng, int width) {
  std::string line;
  line.reserve(static_cast<std::size_t>(width) * 3);
  std::uniform_int_distribution<int> byte(0, 255);
  // A small palette makes accidental runs of equal pixels likely.
  const char palette[4][3] = {{0, 0, 0}, {'\xff', '\xff', '\xff'}, {10, 20, 30}, {10, 20, 31}};
  while (static_cast<int>(line.size()) < width * 3) {
    const int kind = byte(rng) % 4;
    const int length = pickRunLength(rng);
    for (int i = 0; i < length && static_cast<int>(line.size()) < width * 3; ++i) {
      if (kind == 0) {  // noise
        for (int c = 0; c < 3; ++c) line += static_cast<char>(byte(rng));
      } else if (kind == 1) {  // palette noise
        line.append(palette[byte(rng) % 4], 3);
      } else {  // a run of one colour
        if (i == 0) {
          for (int c = 0; c < 3; ++c) line += static_cast<char>(byte(rng));
        } else {
          line.append(line.end() - 3, line.end());
        }
      }
    }
  }
  line.resize(static_cast<std::size_t>(width) * 3);
  return line;
}

inline std::string randomPage(std::mt19937& rng, int width, int height) {
  std::string page;
  std::string line = randomLine(rng, width);
  while (static_cast<int>(page.size()) < width * height * 3) {
    // Blocks of repeated lines, some past the 256-line fold.
    const int repeats = rng() % 4 == 0 ? pickRunLength(rng) : 1;
    for (int r = 0; r < repeats; ++r) page += line;
    line = randomLine(rng, width);
  }
  page.resize(static_cast<std::size_t>(width) * height * 3);
  return page;
}

inline RoundTripCase randomCase(std::mt19937& rng, int maxHeight) {
  RoundTripCase c;
  c.width = pickWidth(rng);
  c.height = std::uniform_int_distribution<int>(1, maxHeight)(rng);
  c.gray = rng() % 3 == 0;
  c.duplexNoTumble = rng() % 2 == 0;
  const int pages = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int p = 0; p < pages; ++p) c.pages.push_back(randomPage(rng, c.width, c.height));
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
