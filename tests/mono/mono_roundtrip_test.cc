// mono_roundtrip_test.cc - random pages decoded back to their printable area.
#include "tests/mono/mono_test_util.h"

namespace {

TEST(MonoRoundTrip, RandomPagesAndTheirBytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a over every job's bytes
  for (std::uint32_t seed = 1; seed <= 60 && !HasFailure(); ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    for (const char c : monotest::expectPrintableArea(monotest::randomMonoCase(rng, 140, 2)))
      hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ull;
  }
  // The encoding choices that decode to the same pixels are pinned too.
  EXPECT_EQ(0x6520f03b841a4418ull, hash);
}

// Key rows that encode in more bytes than the row (about 1360, near the most
// a record can grow) at 1200 dpi, so that blocks close for size.
TEST(MonoRoundTrip, KeyRowsThatGrowWhenEncoded) {
  const int rowBytes = 2 * 25 + 1248, height = 2 * 200 + 130;
  monotest::MonoCase job{monotest::pageSettings(3, rowBytes * 8, height), {}, {{}}};
  job.pages[0].resize(static_cast<std::size_t>(rowBytes * height));
  for (std::size_t i = 0; i < job.pages[0].size(); ++i)
    job.pages[0][i] = i % 11 < 8 ? static_cast<std::uint8_t>(i * 7 + i / 1298) : 0xA5;
  monotest::expectPrintableArea(job);
}

}  // namespace
