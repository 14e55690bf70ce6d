// mono_roundtrip_test.cc - random and text-like pages at every resolution
// mode, with and without a left shift, decoded back to their printable
// area; and the bytes of the same jobs, which must not change.
#include "tests/mono/mono_roundtrip.h"

namespace {

// FNV-1a: a change of any byte of any job changes the digest.
std::uint64_t digest(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ull;
  return hash;
}

TEST(MonoRoundTrip, RandomPagesAndTheirBytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    hash = digest(hash, monotest::expectPrintableArea(monotest::randomMonoCase(rng, 140, 2)));
    if (HasFailure()) return;
  }
  // The same jobs' bytes as the writer has always sent them: the encoding
  // choices (runs against literals, key rows, block splits) that decode to
  // the same pixels.
  EXPECT_EQ(0x6520f03b841a4418ull, hash);
}

// Every mode with full-width noisy rows and a shift; and rows of eight
// unlike bytes and three equal ones at 1200 dpi, key rows that encode in
// more bytes than the row (about 1360), so that blocks close for size.
TEST(MonoRoundTrip, FullRowsAndGrowingKeyRows) {
  for (int mode = 1; mode <= 7; ++mode) {
    std::mt19937 rng(static_cast<std::uint32_t>(1000 + mode));
    const PrintableArea s = printableAreaFor(mode == 7 ? 3 : mode);
    const int rowBytes = 2 * s.leftSkip + s.maxRowBytes, height = 2 * s.topSkip + 300;
    monotest::MonoCase job{monotest::pageSettings(mode == 7 ? 3 : mode, rowBytes * 8, height),
                           {"0", mode == 7 ? 0 : 120},
                           {},
                           "mode " + std::to_string(mode)};
    monotest::Bytes page = monotest::makePage(rng, rowBytes, height);
    if (mode == 7) {
      for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = i % 11 < 8 ? static_cast<std::uint8_t>(i * 7 + i / 1298) : 0xA5;
    }
    job.pages.push_back(page);
    monotest::expectPrintableArea(job);
  }
}

}  // namespace
