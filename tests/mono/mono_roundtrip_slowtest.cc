// mono_roundtrip_slowtest.cc - the round-trip law over a large sweep: more
// seeds, taller pages, up to three pages per job (seed rows across pages,
// blocks closing for size and for the 128-record groups).
#include "tests/mono/mono_roundtrip.h"

namespace {

TEST(MonoRoundTripSweep, ManyPages) {
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed * 7919u);
    const monotest::MonoCase job = monotest::randomMonoCase(rng, 700, 3);
    monotest::expectPrintableArea(job);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
