// mono_roundtrip.h - the one random-page generator of the mono tests and the
// round-trip law: whatever the page and the resolution mode, the printer's
// view of the job (decoded by the independent decoder in decode/) is the
// page's printable area, shifted right by the job's left shift.
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

struct MonoCase {
  PrintSettings settings{};
  Flags flags;
  std::vector<Bytes> pages;
  std::string description;
  Bytes input() const {
    Bytes all;
    for (const Bytes& page : pages) all = all + page;
    return all;
  }
};

// Lengths where the command bytes change shape: escape values of offsets
// and counts, and 255 more than them.
inline int boundaryLength(std::mt19937& rng) {
  static const int lengths[] = {1,   2,   3,   4,   7,   8,   9,   14,  15,  16,
                                17,  31,  32,  33,  34,  35,  62,  63,  64,  262,
                                263, 264, 269, 270, 271, 287, 288, 289, 542, 543};
  return lengths[rng() % std::size(lengths)];
}

// A page of `height` rows of `n` bytes. Rows are noise, text-like strokes,
// the row above with a few changes, runs and gaps of boundary lengths,
// every-other-byte changes (the 253-command limit), or blank; the page kind
// (noise, text, mixed, nearly blank) weighs them.
inline Bytes makePage(std::mt19937& rng, int n, int height) {
  const auto upTo = [&](int k) { return static_cast<int>(rng() % static_cast<unsigned>(k)); };
  const auto un = static_cast<std::size_t>(n);
  Bytes page, row(un, 0);
  const int kind = upTo(4);
  for (int y = 0; y < height; ++y) {
    const int style = kind == 0   ? (upTo(8) == 0 ? 2 : 0)
                      : kind == 1 ? (upTo(3) == 0 ? 5 : (upTo(2) == 0 ? 2 : 1))
                      : kind == 2 ? upTo(6)
                                  : (upTo(50) == 0 ? 1 : 5);
    if (style != 2 && style != 4) std::fill(row.begin(), row.end(), 0);
    if (style == 0) {
      for (auto& b : row) b = static_cast<std::uint8_t>(rng());
    } else if (style == 1) {
      for (int s = upTo(12); s > 0; --s) {
        const int x = upTo(n), len = 1 + upTo(6);
        for (int i = x; i < std::min(n, x + len); ++i) row[i] = upTo(3) == 0 ? 0xFF : 0x3C;
      }
    } else if (style == 2) {
      for (int c = upTo(4); c > 0; --c) row[upTo(n)] ^= static_cast<std::uint8_t>(rng());
    } else if (style == 3) {
      for (int x = upTo(20); x < n;) {
        const int len = boundaryLength(rng);
        const auto value = static_cast<std::uint8_t>(upTo(2) == 0 ? 0xFF : rng());
        const bool literal = upTo(2) == 0;
        for (int i = x; i < std::min(n, x + len); ++i)
          row[i] = literal ? static_cast<std::uint8_t>(i * 37 + 1) : value;
        x += len + boundaryLength(rng) - 1;
      }
    } else if (style == 4) {
      for (int i = upTo(2); i < n; i += 2) row[i] ^= 0x81;
    }
    page.insert(page.end(), row.begin(), row.end());
  }
  return page;
}

// A job at mode 1-6 of rows too narrow for the strips, ordinary, exactly
// the widest row, or wider than the printer takes; pages shorter than the
// strips now and then; a left shift through -offset half of the time.
inline MonoCase randomMonoCase(std::mt19937& rng, int maxExtraRows, int pagesMax) {
  const auto upTo = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int mode = 1 + upTo(6);
  const PrintableArea s = printableAreaFor(mode);
  const int edge = 2 * s.leftSkip, kind = upTo(4);
  const int rowBytes = kind == 0   ? 1 + upTo(edge + 3)
                       : kind == 1 ? edge + 1 + upTo(200)
                       : kind == 2 ? edge + s.maxRowBytes
                                   : edge + s.maxRowBytes + 1 + upTo(40);
  const int width = rowBytes * 8 - upTo(8);
  const int height =
      upTo(8) == 0 ? upTo(2 * s.topSkip + 1) : 2 * s.topSkip + 1 + upTo(maxExtraRows);
  MonoCase job{pageSettings(mode, width, height), {"0", upTo(2) == 0 ? 0 : upTo(700) - 50}, {}, ""};
  for (int p = 1 + upTo(pagesMax); p > 0; --p) job.pages.push_back(makePage(rng, rowBytes, height));
  job.description = "mode " + std::to_string(mode) + ", " + std::to_string(width) + " x " +
                    std::to_string(height) + ", offset " + std::to_string(job.flags.offset) + ", " +
                    std::to_string(job.pages.size()) + " page(s)";
  return job;
}

// Checks the law for one job and returns the job's bytes.
inline std::string expectPrintableArea(const MonoCase& job) {
  SCOPED_TRACE(job.description);
  const int mode = job.settings.resolution;
  const int leftShift = jobParam(job.settings, job.flags).leftShift;
  const PrintableArea s = printableAreaFor(mode);
  const int rowBytes = (job.settings.width + 7) / 8;
  int rowLen = rowBytes - 2 * s.leftSkip;
  if (s.maxRowBytes < rowLen + leftShift) rowLen = s.maxRowBytes - leftShift;
  rowLen = std::max(rowLen, 0);
  const int rows = std::max(job.settings.height - 2 * s.topSkip, 0);
  const auto printerWidth = static_cast<std::size_t>(leftShift + rowLen);

  const std::string stream = runJob(job.settings, job.input(), job.flags).out;
  qvdecode::MonoJob decoded;
  qvdecode::DecodeError error;
  EXPECT_EQ(0, qvdecode::decodeMonoJob(bytesOf(stream), decoded, error))
      << qvdecode::describeError(error);
  EXPECT_EQ(job.pages.size(), decoded.pages.size());
  for (std::size_t p = 0; p < std::min(job.pages.size(), decoded.pages.size()); ++p) {
    const qvdecode::MonoPage& page = decoded.pages[p];
    const int printerRows = mode == 6 ? 2 * rows : rows;
    EXPECT_EQ(static_cast<std::size_t>(printerRows), page.rows.size()) << "page " << p + 1;
    for (int r = 0; r < printerRows && r < static_cast<int>(page.rows.size()); ++r) {
      // 600x300 prints every row twice; XR1200A prints each even row twice
      // in place of the odd row.
      int source = mode == 6 ? r / 2 : r;
      if (mode == 4 && source % 2 == 1) source -= 1;
      Bytes expected(static_cast<std::size_t>(leftShift), 0);
      const auto from = job.pages[p].begin() + (s.topSkip + source) * rowBytes + s.leftSkip;
      expected.insert(expected.end(), from, from + rowLen);
      // Nothing is printed beyond the row.
      const std::size_t width = std::max(printerWidth, page.rows[r].size());
      expected.resize(width, 0);
      if (expected != page.rowAt(static_cast<std::size_t>(r), width)) {
        ADD_FAILURE() << "page " << p + 1 << ": printer row " << r << " differs from page row "
                      << s.topSkip + source;
        break;
      }
    }
  }
  return stream;
}

}  // namespace monotest
