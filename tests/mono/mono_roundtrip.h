// mono_roundtrip.h - the round-trip law of the mono writer, shared by the
// fast and the slow suite: whatever the page and the resolution mode, the
// printer's view of the job (decoded by the independent decoder in decode/)
// is the page's printable area.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "decode/m1030_stream.h"
#include "tests/mono/mono_test_util.h"

namespace monotest {

// The strips the printer cannot image, per resolution mode 1-6.
struct Strips {
  int topSkip, leftSkip, maxRowBytes;
};
inline Strips stripsOf(int resMode) {
  static const Strips strips[] = {{0, 0, 0},       {50, 6, 312},    {100, 12, 624}, {200, 25, 1248},
                                  {200, 25, 1248}, {200, 25, 1248}, {50, 12, 624}};
  return strips[resMode];
}

struct MonoCase {
  int resMode = 2;
  int width = 0;  // dots
  int height = 0;
  int offset = 0;  // -offset, 1/720 inch
  std::vector<Bytes> pages;
  std::string description;
};

// Lengths where the command bytes change shape: escape values of offsets
// and counts, and 255 more than them.
inline int boundaryLength(std::mt19937& rng) {
  static const int lengths[] = {1,   2,   3,   4,   7,   8,   9,   14,  15,  16,
                                17,  31,  32,  33,  34,  35,  62,  63,  64,  262,
                                263, 264, 269, 270, 271, 287, 288, 289, 542, 543};
  return lengths[rng() % std::size(lengths)];
}

// One row of `n` bytes, given the row above it: noise, text-like strokes,
// a copy of the row above with a few changes, long runs on escape
// boundaries, every-other-byte changes (the 253-command limit), or blank.
inline Bytes makeRow(std::mt19937& rng, int n, const Bytes& above, int style) {
  Bytes row(static_cast<std::size_t>(n), 0);
  auto at = [&](int i) -> std::uint8_t& { return row[static_cast<std::size_t>(i)]; };
  switch (style) {
    case 0:  // noise
      for (auto& b : row) b = static_cast<std::uint8_t>(rng());
      break;
    case 1: {  // text-like: a few strokes
      const int strokes = static_cast<int>(rng() % 12);
      for (int s = 0; s < strokes && n > 0; ++s) {
        const int x = static_cast<int>(rng() % static_cast<unsigned>(n));
        const int len = 1 + static_cast<int>(rng() % 6);
        for (int i = x; i < std::min(n, x + len); ++i) at(i) = (rng() % 3 == 0) ? 0xFF : 0x3C;
      }
      break;
    }
    case 2:  // the row above with a few changes (often none)
      row = above;
      row.resize(static_cast<std::size_t>(n), 0);
      for (int c = static_cast<int>(rng() % 4); c > 0 && n > 0; --c)
        at(static_cast<int>(rng() % static_cast<unsigned>(n))) ^= static_cast<std::uint8_t>(rng());
      break;
    case 3: {  // runs and gaps of boundary lengths
      int x = static_cast<int>(rng() % 20);
      while (x < n) {
        const int len = boundaryLength(rng);
        const auto value = static_cast<std::uint8_t>(rng() % 2 == 0 ? 0xFF : rng());
        const bool literal = rng() % 2 == 0;
        for (int i = x; i < std::min(n, x + len); ++i)
          at(i) = literal ? static_cast<std::uint8_t>(i * 37 + 1) : value;
        x += len + boundaryLength(rng) - 1;
      }
      break;
    }
    case 4:  // every other byte differs from the row above
      row = above;
      row.resize(static_cast<std::size_t>(n), 0);
      for (int i = static_cast<int>(rng() % 2); i < n; i += 2) at(i) ^= 0x81;
      break;
    default:  // blank
      break;
  }
  return row;
}

inline Bytes makePage(std::mt19937& rng, int rowBytes, int height) {
  Bytes page;
  page.reserve(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height));
  Bytes above(static_cast<std::size_t>(rowBytes), 0);
  const int pageKind = static_cast<int>(rng() % 4);  // 0 noise, 1 text, 2 mixed, 3 blank
  for (int y = 0; y < height; ++y) {
    const auto one = [&](unsigned n) { return rng() % n == 0; };
    const int style = pageKind == 0   ? (one(8) ? 2 : 0)
                      : pageKind == 1 ? (one(3) ? 5 : (one(2) ? 2 : 1))
                      : pageKind == 2 ? static_cast<int>(rng() % 6)
                                      : (one(50) ? 1 : 5);
    above = makeRow(rng, rowBytes, above, style);
    page.insert(page.end(), above.begin(), above.end());
  }
  return page;
}

// A job of one or two pages at mode 1-6, with or without a left shift
// (through -offset on a page matched with margin 0 or not).
inline MonoCase randomMonoCase(std::mt19937& rng, int maxExtraRows, int pagesMax) {
  MonoCase job;
  job.resMode = 1 + static_cast<int>(rng() % 6);
  const Strips s = stripsOf(job.resMode);
  // Row widths: too narrow for the strips, ordinary, exactly the widest
  // row, wider than the printer takes (cut at the right).
  const auto upTo = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int edge = 2 * s.leftSkip;
  const int kind = upTo(4);
  const int rowBytes = kind == 0   ? 1 + upTo(edge + 3)
                       : kind == 1 ? edge + 1 + upTo(200)
                       : kind == 2 ? edge + s.maxRowBytes
                                   : edge + s.maxRowBytes + 1 + upTo(40);
  job.width = rowBytes * 8 - upTo(8);
  job.height = upTo(8) == 0 ? upTo(2 * s.topSkip + 1) : 2 * s.topSkip + 1 + upTo(maxExtraRows);
  job.offset = upTo(2) == 0 ? 0 : upTo(700) - 50;
  const int pages = 1 + upTo(pagesMax);
  for (int p = 0; p < pages; ++p) job.pages.push_back(makePage(rng, rowBytes, job.height));
  job.description = "mode " + std::to_string(job.resMode) + ", " + std::to_string(job.width) +
                    " x " + std::to_string(job.height) + ", offset " + std::to_string(job.offset) +
                    ", " + std::to_string(pages) + " page(s)";
  return job;
}

inline PrintSettings settingsFor(const MonoCase& job) {
  return pageSettings(job.resMode, job.width, job.height);
}

inline Bytes runMonoJob(const MonoCase& job) {
  Bytes input;
  for (const Bytes& page : job.pages) input.insert(input.end(), page.begin(), page.end());
  InputStream in(input);
  MemoryStream out;
  EXPECT_EQ(kQvcompDone, qvcomp1030(in.get(), out.get(), settingsFor(job)));
  return out.bytes();
}

// Checks the law for one job: every printer row of every page is the
// left shift's zero bytes followed by the printable bytes of its page row.
inline void expectPrintableArea(const MonoCase& job) {
  SCOPED_TRACE(job.description);
  ScopedJobFlags flags("0", job.offset);
  // The shift itself comes from the paper matching, which has its own
  // tests against worked examples.
  SParam param = {};
  setSParam(param, settingsFor(job));
  const int leftShift = param.leftShift;

  const Strips s = stripsOf(job.resMode);
  const int rowBytes = (job.width + 7) / 8;
  int rowLen = rowBytes - 2 * s.leftSkip;
  if (s.maxRowBytes < rowLen + leftShift) rowLen = s.maxRowBytes - leftShift;
  rowLen = std::max(rowLen, 0);
  const int rows = std::max(job.height - 2 * s.topSkip, 0);
  const std::size_t printerWidth = static_cast<std::size_t>(leftShift + rowLen);

  const Bytes stream = runMonoJob(job);
  qvdecode::MonoJob decoded;
  qvdecode::DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeMonoJob(stream, decoded, error)) << qvdecode::describeError(error);
  ASSERT_EQ(job.pages.size(), decoded.pages.size());

  for (std::size_t p = 0; p < job.pages.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "page " << p + 1);
    const qvdecode::MonoPage& page = decoded.pages[p];
    const int printerRows = job.resMode == 6 ? 2 * rows : rows;
    ASSERT_EQ(static_cast<std::size_t>(printerRows), page.rows.size());
    for (int r = 0; r < printerRows; ++r) {
      // 600x300 prints every row twice; XR1200A prints each even row twice
      // in place of the odd row.
      int source = job.resMode == 6 ? r / 2 : r;
      if (job.resMode == 4 && source % 2 == 1) source -= 1;
      Bytes expected(static_cast<std::size_t>(leftShift), 0);
      const std::uint8_t* from =
          job.pages[p].data() +
          static_cast<std::size_t>(s.topSkip + source) * static_cast<std::size_t>(rowBytes) +
          static_cast<std::size_t>(s.leftSkip);
      if (rowLen > 0) expected.insert(expected.end(), from, from + rowLen);
      if (expected != page.rowAt(static_cast<std::size_t>(r), printerWidth)) {
        ADD_FAILURE() << "printer row " << r << " differs from page row " << s.topSkip + source;
        return;
      }
    }
    // Nothing is printed beyond the shift and the row.
    for (std::size_t r = 0; r < page.rows.size(); ++r) {
      for (std::size_t i = printerWidth; i < page.rows[r].size(); ++i) {
        if (page.rows[r][i] != 0) {
          ADD_FAILURE() << "printer row " << r << " has ink at byte " << i;
          return;
        }
      }
    }
  }
}

}  // namespace monotest
