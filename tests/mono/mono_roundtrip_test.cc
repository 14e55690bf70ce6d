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

}  // namespace
