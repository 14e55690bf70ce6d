// fixture_replay_test.cc - jobs the real filters wrote (tests/fixtures/
// decode: a 300-dpi secure job with duplex, copies and a sorted-copy replay;
// an A4 colour and a gray duplex job) decode whole, and survive as a fuzz
// corpus: mutated and cut copies give 0 or -1, never a crash (the sanitizer
// build checks the memory side).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"
#include "tests/support/run_program.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Fixture {
  std::string name;
  Bytes bytes;
  bool mono;
};

std::vector<Fixture> fixtures() {
  std::vector<Fixture> all;
  const std::string dir = std::string(QV_FIXTURES_DIR) + "/decode";
  for (const std::string& name : qvtest::listDirectory(dir)) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".prn") continue;
    const std::string text = qvtest::readFile(dir + "/" + name);
    all.push_back({name, Bytes(text.begin(), text.end()),
                   text.find("@PJL ENTER LANGUAGE = PCL\n") != std::string::npos});
  }
  return all;
}

// Decodes without keeping rows or pixels (an A4 page is 97 MB of them).
int decode(const Fixture& fixture, const Bytes& input, std::size_t& pages) {
  qvdecode::DecodeError error;
  if (fixture.mono) {
    qvdecode::MonoJob job;
    qvdecode::MonoDecodeOptions options;
    options.keepRows = false;
    const int result = qvdecode::decodeMonoJob(input, job, error, options);
    pages = job.pages.size();
    return result;
  }
  qvdecode::ColourJob job;
  qvdecode::PwgDecodeOptions options;
  options.keepPixels = false;
  const int result = qvdecode::decodeColourJob(input, job, error, options);
  pages = job.pages.size();
  return result;
}

TEST(FixtureReplay, FilterJobsDecodeWhole) {
  const std::vector<Fixture> all = fixtures();
  ASSERT_EQ(3u, all.size());
  for (const Fixture& fixture : all) {
    SCOPED_TRACE(fixture.name);
    std::size_t pages = 0;
    EXPECT_EQ(0, decode(fixture, fixture.bytes, pages));
    EXPECT_GE(pages, 2u);
  }
}

TEST(FixtureReplay, MutatedAndCutCopiesNeverCrash) {
  std::mt19937 rng(31);
  for (const Fixture& fixture : fixtures()) {
    SCOPED_TRACE(fixture.name);
    for (int round = 0; round < 300; ++round) {
      Bytes input = fixture.bytes;
      if (round % 3 == 0) {
        input.resize(rng() % input.size());
      } else {
        for (std::size_t n = rng() % 8 + 1; n > 0; --n) {
          input[rng() % input.size()] = static_cast<std::uint8_t>(rng());
        }
      }
      std::size_t pages = 0;
      const int result = decode(fixture, input, pages);
      ASSERT_TRUE(result == 0 || result == -1);
    }
  }
}

}  // namespace
