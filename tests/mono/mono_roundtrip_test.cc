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

// Rows of eight unlike bytes and three equal ones at 1200 dpi: key rows
// that encode in more bytes than the row (about 1360, near the most a
// record can grow), so that blocks close for size every dozen rows.
TEST(MonoRoundTrip, KeyRowsThatGrowWhenEncoded) {
  const int rowBytes = 2 * 25 + 1248, height = 2 * 200 + 130;
  monotest::MonoCase job{monotest::pageSettings(3, rowBytes * 8, height), {}, {{}}, "growing"};
  job.pages[0].resize(static_cast<std::size_t>(rowBytes * height));
  for (std::size_t i = 0; i < job.pages[0].size(); ++i)
    job.pages[0][i] = i % 11 < 8 ? static_cast<std::uint8_t>(i * 7 + i / 1298) : 0xA5;
  monotest::expectPrintableArea(job);
}

}  // namespace
