// m1030_stream_test.cc - the mono job decoder against hand-written streams.
#include "decode/m1030_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/decode/hand_jobs.h"

namespace {

using qvdecode::DecodeError;
using qvdecode::MonoJob;
using qvtest::append;
using qvtest::Bytes;

// `length` zero bytes with the given bytes set.
Bytes rowWith(std::size_t length, std::initializer_list<std::pair<std::size_t, int>> set) {
  Bytes row(length, 0);
  for (const auto& [at, value] : set) row[at] = static_cast<std::uint8_t>(value);
  return row;
}

Bytes decodeAgainst(Bytes seed, const Bytes& record) {
  std::size_t used = 0;
  std::string error;
  EXPECT_EQ(0, qvdecode::decodeMethod9Row(record, seed, used, error)) << error;
  EXPECT_EQ(record.size(), used);
  return seed;
}

TEST(Method9Row, DecodesTheWorkedRows) {
  Bytes ten(40, 0);
  for (int i = 0; i < 10; ++i) ten[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
  Bytes eleven(40, 0x11);
  std::fill_n(eleven.begin(), 3, 0);
  struct Case {
    const char* why;
    Bytes encoded;
    Bytes row;  // seed: zero bytes of the same length
  };
  const Case cases[] = {
      {"run, literal of 2, literal at offset 3",
       {0x03, 0xC2, 0xFF, 0x01, 0x12, 0x34, 0x18, 0x80},
       {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0, 0, 0, 0x80, 0, 0, 0, 0}},
      {"literal offset 15 + 5", {0x01, 0x78, 0x05, 0xAA}, rowWith(40, {{20, 0xAA}})},
      {"run count 33 + 7", {0x01, 0x9F, 0x07, 0x55}, Bytes(40, 0x55)},
      {"run offset 3 + 0, count 33 + 4", {0x01, 0xFF, 0x00, 0x04, 0x11}, eleven},
      {"literal count 8 + 2", {0x01, 0x07, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, ten},
      {"run offset 3 + 2, count 7",
       {0x01, 0xE5, 0x02, 0xFF},
       rowWith(40,
               {{5, 0xFF}, {6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}, {11, 0xFF}})},
      {"run, literal, run",
       {0x03, 0x81, 0xAA, 0x01, 0xBB, 0xCC, 0x81, 0xDD},
       {0xAA, 0xAA, 0xAA, 0xBB, 0xCC, 0xDD, 0xDD, 0xDD}},
      {"offset extension 0", {0x01, 0x79, 0x00, 0x01, 0x02}, rowWith(40, {{15, 1}, {16, 2}})},
      {"offset extension FF 1E: 15 + 255 + 30",
       {0x01, 0x78, 0xFF, 0x1E, 0x09},
       rowWith(400, {{300, 9}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.row, decodeAgainst(Bytes(c.row.size(), 0), c.encoded));
  }
}

TEST(Method9Row, KeyRowIgnoresTheSeedAndUntouchedBytesKeepIt) {
  const Bytes key = {0x03, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34};
  const Bytes row = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  EXPECT_EQ(row, decodeAgainst({0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xED, 0xCB}, key));
  EXPECT_EQ(row, decodeAgainst({}, key)) << "an empty seed grows to the row";
  // Only byte 2 is replaced; the seed's other bytes stay.
  EXPECT_EQ(Bytes({7, 7, 0xAA, 7}), decodeAgainst({7, 7, 7, 7}, {0x01, 0x10, 0xAA}));
}

TEST(Method9Row, RefusesTruncatedAndOverlongRecords) {
  struct Case {
    const char* why;
    Bytes record;
    std::size_t maxRow;
    const char* says;
  };
  const Case cases[] = {
      {"no command byte", {0x01}, 64, "command byte"},
      {"offset extension cut", {0x01, 0x78, 0xFF}, 400, "offset"},
      {"count extension cut", {0x01, 0x9F}, 64, "count"},
      {"literal data cut", {0x01, 0x02, 0xAA, 0xBB}, 64, "data"},
      {"run byte missing", {0x01, 0x81}, 64, "data"},
      {"blank marker is no count", {0xFF}, 64, "blank-row marker"},
      {"literal past a 16-byte row", {0x01, 0x78, 0x01, 0x01, 0x02}, 16, "runs past the end"},
      {"run past a 40-byte row", {0x01, 0x9F, 0x08, 0x55}, 40, "runs past the end"},
      {"huge offset", {0x01, 0x78, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01}, 1000, "runs past"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes row;
    std::size_t used = 0;
    std::string error;
    EXPECT_EQ(-1, qvdecode::decodeMethod9Row(c.record, row, used, error, c.maxRow));
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
  }
}

TEST(MonoJobDecoder, DecodesTheWorkedPage) {
  MonoJob job;
  DecodeError error;
  const Bytes bytes = qvtest::workedMonoJob();
  ASSERT_EQ(0, qvdecode::decodeMonoJob(bytes, job, error)) << qvdecode::describeError(error);
  EXPECT_EQ("@PJL", job.pjlLines.front());
  EXPECT_EQ("@PJL SET RESOLUTION = 300", job.pjlLines[2]);
  EXPECT_EQ("@PJL ENTER LANGUAGE = PCL", job.pjlLines.back());
  EXPECT_EQ(300, job.unitDpi);
  EXPECT_EQ(300, job.rasterDpi);
  EXPECT_EQ(50u, job.geometry.topSkipRows);
  EXPECT_EQ(6u, job.geometry.leftSkipBytes);
  EXPECT_EQ(312u, job.geometry.maxRowBytes);
  EXPECT_EQ(std::vector<std::string>{"@PJL EOJ NAME=\"Linux print job\""}, job.trailerLines);
  ASSERT_EQ(1u, job.pages.size());
  const qvdecode::MonoPage& page = job.pages[0];
  const Bytes printed = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  EXPECT_EQ(8u, page.rowBytes);
  ASSERT_EQ(3u, page.rows.size());
  EXPECT_EQ(printed, page.rows[0]);
  EXPECT_EQ(printed, page.rows[1]);
  EXPECT_EQ(Bytes(8, 0), page.rows[2]);
  EXPECT_EQ(1u, page.blocks);
  EXPECT_EQ(1u, page.blankRecords);
  EXPECT_EQ(1u, page.repeatRecords);
  EXPECT_EQ(1u, page.deltaRecords);
  EXPECT_EQ(1u, page.keyRows);
  EXPECT_EQ(qvtest::workedMonoPage().size(), page.wireBytes);
  EXPECT_EQ(Bytes({0, 0, 0xFF, 0xFF}), page.rowAt(0, 4));
  EXPECT_EQ(Bytes(10, 0), page.rowAt(2, 10));
}

TEST(MonoJobDecoder, LeftShiftLandsInTheRow) {
  Bytes bytes = qvtest::monoHeader300();
  append(bytes, "\x1b*b1030m15w");
  append(bytes, {0x00, 0x03, 0x04, 0x80, 0x00, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34, 0x00,
                 0xFF});
  append(bytes, "1030M\f");
  append(bytes, qvtest::kMonoTrailer);
  MonoJob job;
  DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeMonoJob(bytes, job, error)) << qvdecode::describeError(error);
  const Bytes shifted = {0, 0, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  ASSERT_EQ(3u, job.pages.at(0).rows.size());
  EXPECT_EQ(shifted, job.pages[0].rows[0]);
  EXPECT_EQ(shifted, job.pages[0].rows[1]);
  EXPECT_EQ(Bytes(10, 0), job.pages[0].rows[2]);
}

// 1000 blank rows at 600 dpi: seven blocks "130w" of 128 FF records and
// one "106w" of 104.
TEST(MonoJobDecoder, BlankPageInFullBlocks) {
  Bytes bytes;
  append(bytes, "\x1b%-12345X@PJL\n@PJL SET RESOLUTION = 600\n@PJL ENTER LANGUAGE = PCL\n");
  append(bytes,
         "\x1b"
         "E\x1b&u600D\x1b*t600R\x1b*b1030m");
  for (int block = 0; block < 7; ++block) {
    append(bytes, "130w");
    append(bytes, {0x00, 0x80});
    append(bytes, Bytes(128, 0xFF));
  }
  append(bytes, "106w");
  append(bytes, {0x00, 0x68});
  append(bytes, Bytes(104, 0xFF));
  append(bytes, "1030M\f\x1b%-12345X");  // the trailer as a lone exit
  MonoJob job;
  DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeMonoJob(bytes, job, error)) << qvdecode::describeError(error);
  ASSERT_EQ(1u, job.pages.size());
  EXPECT_EQ(1000u, job.pages[0].rowCount);
  EXPECT_EQ(1000u, job.pages[0].blankRecords);
  EXPECT_EQ(8u, job.pages[0].blocks);
  EXPECT_EQ(624u, job.geometry.maxRowBytes);
  EXPECT_TRUE(job.trailerLines.empty());
}

TEST(MonoJobDecoder, SortedCopyReplaysAndEmptyJobs) {
  Bytes bytes;
  append(bytes,
         "\x1b%-12345X@PJL\n@PJL SET OUTBIN = ALLSORTER\n@PJL SET COPY=1\n"
         "@PJL ENTER LANGUAGE = PCL\n");
  const std::string_view setup =
      "\x1b"
      "E\x1b&u300D\x1b*t300R";
  append(bytes, setup);
  append(bytes, qvtest::workedMonoPage());
  for (const char* copy : {"2", "3"}) {
    append(bytes, "\x1b%-12345X@PJL\n@PJL SET COPY=");
    append(bytes, copy);
    append(bytes, "\n@PJL ENTER LANGUAGE = PCL\n");
    append(bytes, setup);
    append(bytes, qvtest::workedMonoPage());
  }
  append(bytes, qvtest::kMonoTrailer);
  MonoJob job;
  DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeMonoJob(bytes, job, error)) << qvdecode::describeError(error);
  ASSERT_EQ(3u, job.pages.size());
  EXPECT_EQ(1, job.pages[0].copy);
  EXPECT_EQ(3, job.pages[2].copy);
  ASSERT_EQ(2u, job.replays.size());
  EXPECT_EQ(std::string(setup), job.replays[1].pcl);
  EXPECT_EQ(job.pages[0].rows, job.pages[2].rows);

  Bytes empty = qvtest::monoHeader300();
  append(empty, qvtest::kMonoTrailer);
  ASSERT_EQ(0, qvdecode::decodeMonoJob(empty, job, error)) << qvdecode::describeError(error);
  EXPECT_TRUE(job.pages.empty());
}

TEST(MonoJobDecoder, KeepRowsFalseStillCountsAndCallsBack) {
  MonoJob job;
  DecodeError error;
  qvdecode::MonoDecodeOptions options;
  options.keepRows = false;
  std::size_t seenRows = 0;
  options.onPage = [&](const qvdecode::MonoPage& page) {
    seenRows = page.rows.size();
    return 0;
  };
  ASSERT_EQ(0, qvdecode::decodeMonoJob(qvtest::workedMonoJob(), job, error, options));
  EXPECT_EQ(3u, seenRows);
  EXPECT_TRUE(job.pages.at(0).rows.empty());
  EXPECT_EQ(3u, job.pages[0].rowCount);
}

// Replaces the bytes of `from` (first occurrence) in the worked job.
Bytes damaged(std::string_view from, std::string_view to) {
  const Bytes good = qvtest::workedMonoJob();
  std::string text(good.begin(), good.end());
  const std::size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  text.replace(at, from.size(), to);
  return Bytes(text.begin(), text.end());
}

// The worked page's block replaced by one literal at offset 15 + 255 + 60 =
// 330 of a 312-byte row.
Bytes pastTheRow() {
  using namespace std::string_view_literals;
  return damaged("13w\x00\x03\x03\x01\x00\x00\x82\xFF\x01\x12\x34\x00\xFF"sv,
                 "7w\x00\x01\x01\x78\xFF\x3C\x09"sv);
}

TEST(MonoJobDecoder, NamesEachKindOfDamage) {
  using namespace std::string_view_literals;
  struct Case {
    const char* why;
    Bytes job;
    const char* says;
    int page;
  };
  const Case cases[] = {
      {"no universal exit first", damaged("\x1b%-12345X@PJL\n", "@PJL\n"), "universal exit", 0},
      {"PJL line never ended", damaged("= PCL\n", "= PCL"), "unterminated PJL", 0},
      {"block length one too long", damaged("13w", "14w"), "1 bytes left over", 1},
      {"block length one too short", damaged("13w", "12w"), "ends after 2 of its 3", 1},
      {"block length inside a record", damaged("13w", "7w"), "the block (length 7) ends first", 1},
      {"row count one too low", damaged("13w\x00\x03"sv, "13w\x00\x02"sv), "1 bytes left over", 1},
      {"row count one too high", damaged("13w\x00\x03"sv, "13w\x00\x04"sv), "ends after 3 of its 4",
       1},
      {"row count 0", damaged("13w\x00\x03"sv, "13w\x00\x00"sv), "outside 1 to 128", 1},
      {"command past the 312-byte row", pastTheRow(), "runs past the end of the 312-byte row", 1},
      {"no form feed", damaged("1030M\f", "1030M"), "form feed", 1},
      {"bytes between page and trailer", damaged("1030M\f", "1030M\fxx"), "after page 1", 0},
      {"no trailer", damaged("\x1b%-12345X@PJL EOJ NAME=\"Linux print job\"\n\x1b%-12345X", ""),
       "without the trailer", 0},
      {"garbage in the set-up", damaged("\x1b&l1X", "&l1X"), "escape sequence", 0},
      {"block without w", damaged("13w", "13x"), "expected \"w\"", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    MonoJob job;
    DecodeError error;
    EXPECT_EQ(-1, qvdecode::decodeMonoJob(c.job, job, error));
    EXPECT_NE(std::string::npos, error.message.find(c.says)) << qvdecode::describeError(error);
    EXPECT_EQ(c.page, error.page) << qvdecode::describeError(error);
  }
  Bytes extra = qvtest::workedMonoJob();
  extra.push_back('\n');
  MonoJob job;
  DecodeError error;
  EXPECT_EQ(-1, qvdecode::decodeMonoJob(extra, job, error));
  EXPECT_EQ(extra.size() - 1, error.offset);
}

TEST(MonoJobDecoder, ErrorNamesOffsetBlockAndRow) {
  MonoJob job;
  DecodeError error;
  const Bytes bytes = pastTheRow();
  ASSERT_EQ(-1, qvdecode::decodeMonoJob(bytes, job, error));
  const std::string stream(bytes.begin(), bytes.end());
  EXPECT_EQ(stream.find("7w") + 5, error.offset) << "the offending command byte";
  EXPECT_EQ(1, error.page);
  EXPECT_EQ(1u, error.block);
  EXPECT_EQ(0, error.row);
  const std::string text = qvdecode::describeError(error);
  EXPECT_EQ(0u, text.find("offset " + std::to_string(error.offset) + " (page 1, block 1, row 0): "))
      << text;
}

TEST(MonoJobDecoder, EveryTruncationFailsCleanly) {
  const Bytes good = qvtest::workedMonoJob();
  // Cut right after the trailer's first exit, the job ends the way the
  // mono filter may end it: a lone universal exit.
  const std::size_t loneExit = good.size() - qvtest::kMonoTrailer.size() + 9;
  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    MonoJob job;
    DecodeError error;
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    if (length == loneExit) {
      EXPECT_EQ(0, qvdecode::decodeMonoJob(cut, job, error));
      continue;
    }
    EXPECT_EQ(-1, qvdecode::decodeMonoJob(cut, job, error));
    EXPECT_LE(error.offset, length);
    EXPECT_FALSE(error.message.empty());
  }
}

// Random bytes, and the good job with a few bytes changed: whatever comes,
// the decoder answers 0 or -1 (the sanitizer build checks the memory side).
TEST(MonoJobDecoder, SurvivesRandomAndMutatedInput) {
  std::mt19937 rng(1234);
  const Bytes good = qvtest::workedMonoJob();
  for (int round = 0; round < 3000; ++round) {
    Bytes input;
    if (round % 2 == 0) {
      input.resize(rng() % 200);
      for (auto& byte : input) byte = static_cast<std::uint8_t>(rng());
      if (round % 4 == 0) input.insert(input.begin(), good.begin(), good.begin() + 200);
    } else {
      input = good;
      for (std::size_t n = rng() % 4 + 1; n > 0; --n) {
        input[rng() % input.size()] = static_cast<std::uint8_t>(rng());
      }
    }
    MonoJob job;
    DecodeError error;
    const int result = qvdecode::decodeMonoJob(input, job, error);
    ASSERT_TRUE(result == 0 || result == -1);
    if (result == -1) {
      ASSERT_LE(error.offset, input.size());
    }
  }
}

}  // namespace
