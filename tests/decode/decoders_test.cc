// decoders_test.cc - the job decoders on worked rows and on hostile jobs.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>

#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/run_program.h"

namespace {

using qvdecode::DecodeError;
using qvtest::Bytes;
using qvtest::operator+;

// Offsets and counts with extension bytes over a seed row; records ending early or overrunning.
// seed | record | row, or with a row limit the fault (hex bytes, "HH*n" n times)
TEST(Method9Row, WorkedRowsAndFaults) {
  const auto hex = [](const std::string& s) {
    Bytes out;
    std::istringstream in(s);
    for (std::string w; in >> w;)
      out.insert(out.end(), w.size() > 2 ? std::stoul(w.substr(3)) : 1,
                 static_cast<std::uint8_t>(std::stoul(w.substr(0, 2), nullptr, 16)));
    return out;
  };
  const std::tuple<const char*, const char*, const char*, std::size_t> rows[] = {
      {"00*12", "03 C2 FF 01 12 34 10 80", "00 00 FF FF FF FF 12 34 00 00 80 00", 0},
      {"00*22", "01 78 05 AA", "00*20 AA 00", 0},
      {"00*40", "01 9F 07 55", "55*40", 0},
      {"01*40", "01 FF 00 04 11", "01*3 11*37", 0},
      {"", "02 07 00 01 02 03 04 05 06 07 08 81 DD", "01 02 03 04 05 06 07 08 DD DD DD", 0},
      {"00*400", "01 78 FF 1E 09", "00*300 09 00*99", 0},
      {"", "01", "byte 1: the record ends inside the command byte of command 1 of 1", 64},
      {"", "01 78 FF", "byte 1: the record ends inside the offset", 400},
      {"", "FF", "0xFF is the blank-row marker", 64},
      {"", "01 9F 08 55", "run of 41 bytes at position 0 runs past", 40},
  };
  for (const auto& [seed, record, expected, maxRow] : rows) {
    Bytes row = hex(seed);
    std::size_t used = 0;
    std::string error;
    const int result = qvdecode::decodeMethod9Row(
        hex(record), row, used, error, maxRow != 0 ? maxRow : qvdecode::kMaxMethod9RowBytes);
    if (maxRow != 0)
      EXPECT_TRUE(result == -1 && error.find(expected) != std::string::npos) << error;
    else
      EXPECT_TRUE(result == 0 && hex(expected) == row && hex(record).size() == used) << error;
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
