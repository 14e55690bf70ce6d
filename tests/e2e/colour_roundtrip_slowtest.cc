// colour_roundtrip_slowtest.cc - the large round-trip sweep: taller pages
// (many 256-line folds) and many seeds.
#include "tests/e2e/colour_roundtrip.h"

namespace colourtest {
namespace {

TEST(ColourRoundTripSlow, RandomPages) {
  for (std::uint32_t seed = 1000; seed < 1400; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    checkRoundTrip(randomCase(rng, seed % 4 == 0 ? 1200 : 60));
  }
}

}  // namespace
}  // namespace colourtest
