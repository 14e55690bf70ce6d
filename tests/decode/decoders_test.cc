// decoders_test.cc - the two job decoders on worked streams, and on every
// cut, mutated and random copy of hand-written and filter-written jobs.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/run_program.h"

namespace {

using qvdecode::DecodeError;
using qvtest::append;
using qvtest::Bytes;

TEST(Method9Row, WorkedRowsAndFaults) {
  const auto with = [](Bytes row, std::initializer_list<std::pair<std::size_t, int>> set) {
    for (const auto& [i, v] : set) row[i] = static_cast<std::uint8_t>(v);
    return row;
  };
  const Bytes zeros(40, 0), key = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  const struct {
    Bytes seed, record, row;
  } rows[] = {
      {zeros,
       {3, 0xC2, 0xFF, 1, 0x12, 0x34, 0x18, 0x80},
       with(zeros, {{2, 255}, {3, 255}, {4, 255}, {5, 255}, {6, 0x12}, {7, 0x34}, {11, 0x80}})},
      {zeros, {1, 0x78, 0x05, 0xAA}, with(zeros, {{20, 0xAA}})},
      {zeros, {1, 0x9F, 0x07, 0x55}, Bytes(40, 0x55)},
      {Bytes(40, 1), {1, 0xFF, 0x00, 0x04, 0x11}, with(Bytes(40, 0x11), {{0, 1}, {1, 1}, {2, 1}})},
      {{}, {1, 0x07, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {Bytes(12, 0),
       {1, 0xE5, 0x02, 0xFF},
       with(Bytes(12, 0xFF), {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}})},
      {{},
       {3, 0x81, 0xAA, 0x01, 0xBB, 0xCC, 0x81, 0xDD},
       {0xAA, 0xAA, 0xAA, 0xBB, 0xCC, 0xDD, 0xDD, 0xDD}},
      {Bytes(17, 0), {1, 0x79, 0x00, 0x01, 0x02}, with(Bytes(17, 0), {{15, 1}, {16, 2}})},
      {Bytes(400, 0), {1, 0x78, 0xFF, 0x1E, 0x09}, with(Bytes(400, 0), {{300, 9}})},
      {{7, 7, 7, 7}, {1, 0x10, 0xAA}, {7, 7, 0xAA, 7}},
      {{0xFF, 0xFF, 0, 0, 0, 0, 0xED, 0xCB}, {3, 0x01, 0, 0, 0x82, 0xFF, 0x01, 0x12, 0x34}, key},
  };
  for (const auto& c : rows) {
    Bytes row = c.seed;
    std::size_t used = 0;
    std::string error;
    EXPECT_EQ(0, qvdecode::decodeMethod9Row(c.record, row, used, error)) << error;
    EXPECT_EQ(c.row, row);
    EXPECT_EQ(c.record.size(), used);
  }
  const struct {
    Bytes record;
    std::size_t maxRow;
    const char* says;
  } faults[] = {
      {{0x01}, 64, "byte 1: the record ends inside the command byte of command 1 of 1"},
      {{1, 0x78, 0xFF}, 400, "byte 1: the record ends inside the offset"},
      {{1, 0x9F}, 64, "inside the count"},
      {{2, 0x02, 0xAA, 0xBB, 0xCC, 0}, 64, "byte 5: the record ends inside the data of command 2"},
      {{1, 0x81}, 64, "inside the data"},
      {{0xFF}, 64, "0xFF is the blank-row marker"},
      {{1, 0x78, 0x01, 0x01, 0x02}, 16, "literal of 1 bytes at position 16 runs past the end"},
      {{1, 0x9F, 0x08, 0x55}, 40, "run of 41 bytes at position 0 runs past"},
      {{1, 0x78, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1}, 1000, "runs past"},
  };
  for (const auto& c : faults) {
    Bytes row;
    std::size_t used = 0;
    std::string error;
    EXPECT_EQ(-1, qvdecode::decodeMethod9Row(c.record, row, used, error, c.maxRow));
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
  }
}

// The worked page; a page whose rows start with a left shift of two bytes;
// 1000 blank rows in seven full blocks and one of 104; a sorted-copy replay.
TEST(MonoDecoder, PagesBlocksAndReplays) {
  Bytes body = qvtest::workedMonoPage();
  append(body, "\x1b*b1030m15w");
  append(body, {0, 3, 0x04, 0x80, 0, 1, 0, 0, 0x82, 0xFF, 0x01, 0x12, 0x34, 0x00, 0xFF});
  append(body, "1030M\f\x1b*b1030m");
  for (int block = 0; block < 8; ++block) {
    append(body, block < 7 ? "130w" : "106w");
    body.push_back(0);
    body.push_back(block < 7 ? 128 : 104);
    body.insert(body.end(), block < 7 ? 128 : 104, 0xFF);
  }
  append(append(append(body, "1030M\f"), qvtest::monoReplay('2')), qvtest::workedMonoPage());
  qvdecode::MonoJob job;
  DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeMonoJob(qvtest::monoJob(body), job, error))
      << qvdecode::describeError(error);
  EXPECT_EQ("@PJL SET RESOLUTION = 300", job.pjlLines.at(1));
  EXPECT_EQ((std::vector<std::string>{"@PJL EOJ NAME=\"Linux print job\""}), job.trailerLines);
  EXPECT_EQ(300, job.rasterDpi);
  EXPECT_EQ(50u, job.geometry.topSkipRows);
  EXPECT_EQ(6u, job.geometry.leftSkipBytes);
  EXPECT_EQ(312u, job.geometry.maxRowBytes);
  ASSERT_EQ(4u, job.pages.size());
  const Bytes printed = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  EXPECT_EQ((std::vector<Bytes>{printed, printed, Bytes(8, 0)}), job.pages[0].rows);
  Bytes shifted = {0, 0};
  append(shifted, printed);
  EXPECT_EQ((std::vector<Bytes>{shifted, shifted, Bytes(10, 0)}), job.pages[1].rows);
  EXPECT_EQ(Bytes({0, 0, 0xFF, 0xFF}), job.pages[0].rowAt(0, 4));
  EXPECT_EQ(Bytes(10, 0), job.pages[0].rowAt(2, 10));
  EXPECT_EQ(1000u, job.pages[2].blankRecords);
  EXPECT_EQ(8u, job.pages[2].blocks);
  ASSERT_EQ(1u, job.replays.size());
  EXPECT_EQ(std::string(qvtest::kSetup300), job.replays[0].pcl);
  EXPECT_EQ(2, job.pages[3].copy);
  EXPECT_EQ(job.pages[0].rows, job.pages[3].rows);
  EXPECT_EQ(1, job.pages[2].copy);
}

// Two pages, a trailer line, and a job without pages. (How runs decode is
// compared with libcups's reader in tests/inspect_cups.)
TEST(PwgDecoder, PagesAndJobs) {
  Bytes two = qvtest::grayPage();
  const Bytes job =
      qvtest::colourJob(append(append(qvtest::text("RaS2"), two), two), "@PJL EOJ NAME=\"r\"\n");
  qvdecode::ColourJob decoded;
  DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeColourJob(job, decoded, error)) << qvdecode::describeError(error);
  ASSERT_EQ(2u, decoded.pages.size());
  EXPECT_EQ(Bytes({1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4}), decoded.pages[1].pixels);
  EXPECT_EQ("auto", decoded.pages[1].header.mediaType);
  EXPECT_EQ(std::vector<std::string>{"@PJL EOJ NAME=\"r\""}, decoded.trailerLines);
  EXPECT_TRUE(decoded.hasSyncWord);
  ASSERT_EQ(0, qvdecode::decodeColourJob(qvtest::colourJob({}), decoded, error));
  EXPECT_FALSE(decoded.hasSyncWord);
  EXPECT_TRUE(decoded.pages.empty());
}

// Whatever comes, a decoder answers 0 or -1 with an offset inside the input
// (the sanitizer build checks the memory side): every cut of a hand job
// fails but at `cleanCut`, mutated and cut copies of the filters' jobs and
// random tails never crash.
using Decode = std::function<int(const Bytes&, DecodeError&)>;
void expectRobust(const Bytes& hand, std::size_t cleanCut, bool mono, const Decode& decode) {
  DecodeError error;
  for (std::size_t length = 0; length <= hand.size(); ++length) {
    const Bytes cut(hand.begin(), hand.begin() + static_cast<std::ptrdiff_t>(length));
    const bool whole = length == hand.size() || length == cleanCut;
    ASSERT_EQ(whole ? 0 : -1, decode(cut, error)) << length << ": " << error.message;
    ASSERT_TRUE(whole || (error.offset <= length && !error.message.empty()));
  }
  std::vector<Bytes> jobs{hand};
  const std::string dir = std::string(QV_FIXTURES_DIR) + "/decode";
  for (const std::string& name : qvtest::listDirectory(dir)) {
    const std::string bytes = qvtest::readFile(dir + "/" + name);
    if ((bytes.find("LANGUAGE = PCL\n") != std::string::npos) != mono) continue;
    jobs.push_back(qvtest::text(bytes));
    ASSERT_EQ(0, decode(jobs.back(), error)) << name << ": " << qvdecode::describeError(error);
  }
  ASSERT_EQ(mono ? 2u : 3u, jobs.size());
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    Bytes input = jobs[static_cast<std::size_t>(round) % jobs.size()];
    if (round % 3 == 0) {
      input.resize(rng() % input.size());
      for (std::size_t n = rng() % 64; n > 0; --n)
        input.push_back(static_cast<std::uint8_t>(rng()));
    } else {
      for (std::size_t n = rng() % 8 + 1; n > 0; --n) {
        input[rng() % input.size()] = static_cast<std::uint8_t>(rng());
      }
    }
    const int result = decode(input, error);
    ASSERT_TRUE(result == 0 || (result == -1 && error.offset <= input.size()));
  }
}

TEST(MonoDecoder, Robust) {
  const Bytes hand = qvtest::monoJob();
  // Cut after the trailer's first exit, the job ends as the mono filter may
  // end it: with a lone universal exit.
  const std::size_t loneExit = hand.size() - 41;
  expectRobust(hand, loneExit, true, [](const Bytes& input, DecodeError& error) {
    qvdecode::MonoJob job;
    qvdecode::MonoDecodeOptions options;
    options.keepRows = false;
    return qvdecode::decodeMonoJob(input, job, error, options);
  });
}

TEST(PwgDecoder, Robust) {
  Bytes pages = qvtest::grayPage();
  append(append(pages, qvtest::pwgHeader(2, 2, true)), {0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 9, 9, 9});
  const Bytes hand = qvtest::colourJobOf(pages);
  const std::size_t raster = hand.size() - pages.size() - 23;
  expectRobust(hand, hand.size() + 1, false, [raster](const Bytes& input, DecodeError& error) {
    qvdecode::ColourJob job;
    qvdecode::PwgDecodeOptions options;
    options.keepPixels = false;
    const int result = qvdecode::decodeColourJob(input, job, error, options);
    // The same bytes as a bare stream, from where "RaS2" stands in a job.
    std::vector<qvdecode::PwgPage> bare;
    DecodeError ignored;
    if (input.size() > raster) {
      (void)qvdecode::decodePwgRaster(std::span(input).subspan(raster), bare, ignored, options);
    }
    return result;
  });
}

}  // namespace
