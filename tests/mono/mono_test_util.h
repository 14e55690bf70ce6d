// mono_test_util.h - table rows, job runs, random pages and the round-trip law.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "decode/m1030_stream.h"
#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/mono_job.h"
#include "mono/rawtoqv.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/run_program.h"

namespace monotest {

using namespace qv::mono;

using qvtest::Bytes;
using qvtest::text;

// "~" for ESC: esc("~E~&l1X").
inline std::string esc(std::string s) {
  std::replace(s.begin(), s.end(), '~', '\x1b');
  return s;
}

// Rows of "|"-separated fields ("~" is ESC, "\\n" "\\r" "\\t" "\\xHH" as in C); "#" comments.
inline std::vector<std::vector<std::string>> tableRows(std::string_view table) {
  std::vector<std::vector<std::string>> rows;
  for (std::size_t at = 0, end = 0; at < table.size(); at = end + 1) {
    end = std::min(table.find('\n', at), table.size());
    std::string line = esc(std::string(table.substr(at, end - at)));
    for (std::size_t n = 0; (n = line.find('\\', n)) != std::string::npos && n + 1 < line.size();) {
      const std::size_t named = std::string_view("nrt").find(line[n + 1]);
      const char byte = named != std::string::npos
                            ? "\n\r\t"[named]
                            : static_cast<char>(std::stoi(line.substr(n + 2, 2), nullptr, 16));
      line.replace(n++, named != std::string::npos ? 2 : 4, 1, byte);
    }
    if (line.empty() || line[0] == '#') continue;
    rows.emplace_back();
    for (std::size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 1) {
      bar = line.find('|', from);
      std::string field = line.substr(from, bar - from);
      field.erase(0, field.find_first_not_of(' '));
      rows.back().push_back(field.erase(field.find_last_not_of(' ') + 1));
    }
  }
  return rows;
}

inline PrintSettings pageSettings(int resolution, int width, int height, int paperType = 1) {
  PrintSettings settings = {};
  settings.resolution = resolution, settings.paperType = paperType;
  settings.width = settings.paperWidth = width;
  settings.height = settings.paperHeight = height;
  return settings;
}

// 600-dpi A4 from tray 1, plain paper, one copy, every flag 0, no owner.
inline const std::string kGoldenHeader =
    esc("~%-12345X@PJL\n@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600\n"
        "@PJL SET ECONOMODE = OFF\n@PJL SET SOURCETRAY = TRAY1\n@PJL SET MEDIATYPE = REGULAR\n"
        "@PJL SET ORIENTATION = PORTRAIT\n@PJL SET PAGEPROTECT = AUTO\n@PJL ENTER LANGUAGE = PCL\n"
        "~E~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l0S");
inline const std::string kTrailer = "\x1b%-12345X@PJL EOJ NAME=\"Linux print job\"\n\x1b%-12345X";

// The -flags value (most significant digit first) and -offset of a job.
struct Flags {
  std::string_view digits = "0";
  std::int32_t offset = 0;
};
inline PrintSettings withFlags(PrintSettings settings, Flags flags) {
  std::memset(settings.cflags, '0', sizeof settings.cflags);
  for (std::size_t d = 0; d < flags.digits.size() && d < sizeof settings.cflags; ++d)
    settings.cflags[d] = flags.digits[flags.digits.size() - 1 - d];
  settings.arg_offset = flags.offset;
  return settings;
}

inline qv::ByteSink stringSink(std::string& out) {
  return {[](void* context, std::span<const std::uint8_t> bytes) {
            static_cast<std::string*>(context)->append(bytes.begin(), bytes.end());
            return true;
          },
          &out};
}

// A scratch stream holding `bytes`, read from its start.
inline qv::UniqueFile fileWith(std::string_view bytes) {
  qv::UniqueFile file(std::tmpfile());
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

// A whole job ("failed" when the writer says so), and how much input it read.
struct JobRun {
  std::string out;
  long inputUsed = 0;
};
inline JobRun runJob(const PrintSettings& settings, const Bytes& input, Flags flags = {}) {
  const qv::UniqueFile in = fileWith({reinterpret_cast<const char*>(input.data()), input.size()});
  std::string out;
  const Status result =
      qvcomp1030(PageSource{::fileno(in.get())}, stringSink(out), withFlags(settings, flags));
  return {result == Status::kOk ? out : "failed", std::ftell(in.get())};
}

// The job header and the parameter record; `now` is the print-log time, if any.
inline std::pair<std::string, SParam> jobHeader(const PrintSettings& settings, Flags flags,
                                                std::optional<std::time_t> now = std::nullopt) {
  MonoJobState job;
  job.settings = withFlags(settings, flags);
  setSParam(job.sParam, job.settings);
  std::string out;
  job.sink = stringSink(out);
  const qv::UniqueFile copy(std::tmpfile());
  BeginSendData(job, copy.get(), now);
  return {out, job.sParam};
}

struct MonoCase {
  PrintSettings settings{};
  Flags flags;
  std::vector<Bytes> pages;
  Bytes input() const {
    Bytes all;
    for (const Bytes& page : pages) all.insert(all.end(), page.begin(), page.end());
    return all;
  }
};

// Noise, strokes, changed copies, runs and gaps at command-shape lengths, 253-command rows.
inline Bytes makePage(std::mt19937& rng, int n, int height) {
  static constexpr int kLengths[] = {1,   2,   3,   4,   7,   8,   9,   14,  15,  16,
                                     17,  31,  32,  33,  34,  35,  62,  63,  64,  262,
                                     263, 264, 269, 270, 271, 287, 288, 289, 542, 543};
  const auto upTo = [&](int k) { return static_cast<int>(rng() % static_cast<unsigned>(k)); };
  const auto length = [&] { return kLengths[rng() % std::size(kLengths)]; };
  Bytes page, row(static_cast<std::size_t>(n), 0);
  const int kind = upTo(4);
  for (int y = 0; y < height; ++y) {
    const int style = kind == 0   ? (upTo(8) == 0 ? 2 : 0)
                      : kind == 1 ? (upTo(3) == 0 ? 5 : (upTo(2) == 0 ? 2 : 1))
                      : kind == 2 ? upTo(6)
                                  : (upTo(50) == 0 ? 1 : 5);
    if (style != 2 && style != 4) std::fill(row.begin(), row.end(), 0);
    if (style == 0) std::ranges::generate(row, [&] { return static_cast<std::uint8_t>(rng()); });
    for (int s = style == 1 ? upTo(12) : 0; s > 0; --s)  // strokes
      for (int x = upTo(n), len = 1 + upTo(6), i = x; i < std::min(n, x + len); ++i)
        row[i] = upTo(3) == 0 ? 0xFF : 0x3C;
    for (int c = style == 2 ? upTo(4) : 0; c > 0; --c)
      row[upTo(n)] ^= static_cast<std::uint8_t>(rng());
    for (int x = style == 3 ? upTo(20) : n, len = 0; x < n; x += len + length() - 1) {
      len = length();
      const auto value = static_cast<std::uint8_t>(upTo(2) == 0 ? 0xFF : rng());
      const bool literal = upTo(2) == 0;
      for (int i = x; i < std::min(n, x + len); ++i)
        row[i] = literal ? static_cast<std::uint8_t>(i * 37 + 1) : value;
    }
    for (int i = style == 4 ? upTo(2) : n; i < n; i += 2) row[i] ^= 0x81;
    page.insert(page.end(), row.begin(), row.end());
  }
  return page;
}

// Mode 1-6; rows too narrow, ordinary, widest or too wide; short pages; -offset half the time.
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
  MonoCase job{pageSettings(mode, width, height), {"0", upTo(2) == 0 ? 0 : upTo(700) - 50}, {}};
  for (int p = 1 + upTo(pagesMax); p > 0; --p) job.pages.push_back(makePage(rng, rowBytes, height));
  return job;
}

// The decoded job is the page's printable area, shifted right by the left shift; the job.
inline std::string expectPrintableArea(const MonoCase& job) {
  SCOPED_TRACE(testing::Message() << "mode " << job.settings.resolution << ", "
                                  << job.settings.width << " x " << job.settings.height
                                  << ", offset " << job.flags.offset);
  const int mode = job.settings.resolution, rowBytes = (job.settings.width + 7) / 8;
  const int leftShift = jobHeader(job.settings, job.flags).second.leftShift;
  const PrintableArea s = printableAreaFor(mode);
  const int rowLen = std::max(std::min(rowBytes - 2 * s.leftSkip, s.maxRowBytes - leftShift), 0);
  const int rows = std::max(job.settings.height - 2 * s.topSkip, 0) * (mode == 6 ? 2 : 1);
  const std::string stream = runJob(job.settings, job.input(), job.flags).out;
  qvdecode::MonoJob decoded;
  qvdecode::DecodeError error;
  EXPECT_EQ(0, qvdecode::decodeMonoJob(text(stream), decoded, error))
      << qvdecode::describeError(error);
  EXPECT_EQ(job.pages.size(), decoded.pages.size());
  for (std::size_t p = 0; p < std::min(job.pages.size(), decoded.pages.size()); ++p) {
    const qvdecode::MonoPage& page = decoded.pages[p];
    EXPECT_EQ(static_cast<std::size_t>(rows), page.rows.size()) << "page " << p + 1;
    for (std::size_t r = 0; r < std::min(static_cast<std::size_t>(rows), page.rows.size()); ++r) {
      // 600x300 prints every row twice; XR1200A each even row in place of the odd.
      const int source = static_cast<int>(mode == 6 ? r / 2 : (mode == 4 ? r & ~1u : r));
      Bytes expected(static_cast<std::size_t>(leftShift), 0);
      const auto from = job.pages[p].begin() + (s.topSkip + source) * rowBytes + s.leftSkip;
      expected.insert(expected.end(), from, from + rowLen);
      expected.resize(std::max<std::size_t>(expected.size(), page.rows[r].size()), 0);
      if (expected != page.rowAt(r, expected.size())) {
        ADD_FAILURE() << "page " << p + 1 << ": printer row " << r << " differs from page row "
                      << s.topSkip + source;
        break;
      }
    }
  }
  return stream;
}

}  // namespace monotest
