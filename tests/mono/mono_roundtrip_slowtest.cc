// mono_roundtrip_slowtest.cc - the round-trip law over more and taller pages.
#include "tests/mono/mono_test_util.h"

TEST(MonoRoundTripSweep, ManyPages) {
  for (std::uint32_t seed = 1; seed <= 400 && !HasFailure(); ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed * 7919u);
    monotest::expectPrintableArea(monotest::randomMonoCase(rng, 700, 3));
  }
}
