// decoders_test.cc - the job decoders on worked rows and on hostile jobs.
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
using qvtest::Bytes;
using qvtest::operator+;

// Offsets and counts with extension bytes over a seed row; records ending early or overrunning.
TEST(Method9Row, WorkedRowsAndFaults) {
  const struct {
    Bytes seed, record, row;
    const char* fault = nullptr;
    std::size_t maxRow = qvdecode::kMaxMethod9RowBytes;
  } rows[] = {
      {Bytes(12, 0),
       {3, 0xC2, 0xFF, 1, 0x12, 0x34, 0x10, 0x80},
       {0, 0, 255, 255, 255, 255, 0x12, 0x34, 0, 0, 0x80, 0}},
      {Bytes(22, 0), {1, 0x78, 0x05, 0xAA}, Bytes(20, 0) + Bytes{0xAA, 0}},
      {Bytes(40, 0), {1, 0x9F, 0x07, 0x55}, Bytes(40, 0x55)},
      {Bytes(40, 1), {1, 0xFF, 0x00, 0x04, 0x11}, Bytes{1, 1, 1} + Bytes(37, 0x11)},
      {{},
       {2, 0x07, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x81, 0xDD},
       {1, 2, 3, 4, 5, 6, 7, 8, 0xDD, 0xDD, 0xDD}},
      {Bytes(400, 0), {1, 0x78, 0xFF, 0x1E, 0x09}, Bytes(300, 0) + Bytes{9} + Bytes(99, 0)},
      {{}, {0x01}, {}, "byte 1: the record ends inside the command byte of command 1 of 1", 64},
      {{}, {1, 0x78, 0xFF}, {}, "byte 1: the record ends inside the offset", 400},
      {{}, {0xFF}, {}, "0xFF is the blank-row marker", 64},
      {{}, {1, 0x9F, 0x08, 0x55}, {}, "run of 41 bytes at position 0 runs past", 40},
  };
  for (const auto& c : rows) {
    Bytes row = c.seed;
    std::size_t used = 0;
    std::string error;
    const int result = qvdecode::decodeMethod9Row(c.record, row, used, error, c.maxRow);
    if (c.fault != nullptr)
      EXPECT_TRUE(result == -1 && error.find(c.fault) != std::string::npos) << error;
    else
      EXPECT_TRUE(result == 0 && c.row == row && c.record.size() == used) << error;
  }
}

// 0, or -1 with an offset inside: cuts fail but at `cleanCut`, mangled jobs never crash.
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
      for (std::size_t n = rng() % 8 + 1; n > 0; --n)
        input[rng() % input.size()] = static_cast<std::uint8_t>(rng());
    }
    const int result = decode(input, error);
    ASSERT_TRUE(result == 0 || (result == -1 && error.offset <= input.size()));
  }
}

TEST(MonoDecoder, Robust) {
  const Bytes hand = qvtest::monoJob();
  // Cut after the trailer's first exit: a lone universal exit, as the filter may end.
  expectRobust(hand, hand.size() - 41, true, [](const Bytes& input, DecodeError& error) {
    qvdecode::MonoJob job;
    qvdecode::MonoDecodeOptions options;
    options.keepRows = false;
    return qvdecode::decodeMonoJob(input, job, error, options);
  });
}

TEST(PwgDecoder, Robust) {
  const Bytes pages = qvtest::grayPage() + qvtest::pwgHeader(2, 2, true) +
                      Bytes{0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 9, 9, 9};
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
    if (input.size() > raster)
      (void)qvdecode::decodePwgRaster(std::span(input).subspan(raster), bare, ignored, options);
    return result;
  });
}

}  // namespace
