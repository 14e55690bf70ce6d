// mono_roundtrip_test.cc - random and text-like pages at every resolution
// mode, with and without a left shift, decoded back to their printable
// area by the independent decoder. The large sweep is in the slow suite.
#include "tests/mono/mono_roundtrip.h"

namespace {

TEST(MonoRoundTrip, RandomAndTextLikePages) {
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);  // a failure names its case
    std::mt19937 rng(seed);
    const monotest::MonoCase job = monotest::randomMonoCase(rng, 140, 2);
    monotest::expectPrintableArea(job);
    if (HasFatalFailure()) return;
  }
}

// Every mode at least once with a full-width noisy page and a shift.
TEST(MonoRoundTrip, EveryModeWithAShiftAndFullRows) {
  for (int mode = 1; mode <= 6; ++mode) {
    SCOPED_TRACE(testing::Message() << "mode " << mode);
    std::mt19937 rng(static_cast<std::uint32_t>(1000 + mode));
    monotest::MonoCase job;
    job.resMode = mode;
    const monotest::Strips s = monotest::stripsOf(mode);
    const int rowBytes = 2 * s.leftSkip + s.maxRowBytes;
    job.width = rowBytes * 8;
    job.height = 2 * s.topSkip + 300;
    job.offset = 120;
    job.pages.push_back(monotest::makePage(rng, rowBytes, job.height));
    job.description = "full rows";
    monotest::expectPrintableArea(job);
  }
}

// Eight unlike bytes then three equal ones, over whole 1248-byte rows: key
// rows that encode in more bytes than the row (about 1360, near the most a
// record can grow), so that a block closes for size every dozen rows.
TEST(MonoRoundTrip, KeyRowsThatGrowWhenEncoded) {
  monotest::MonoCase job;
  job.resMode = 3;
  const int rowBytes = 2 * 25 + 1248;
  job.width = rowBytes * 8;
  job.height = 2 * 200 + 130;
  monotest::Bytes page(static_cast<std::size_t>(rowBytes * job.height));
  for (std::size_t i = 0; i < page.size(); ++i)
    page[i] = i % 11 < 8 ? static_cast<std::uint8_t>(i * 7 + i / 1298) : 0xA5;
  job.pages.push_back(page);
  job.description = "growing key rows";
  monotest::expectPrintableArea(job);
}

}  // namespace
