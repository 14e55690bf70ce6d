// colour_roundtrip_test.cc - whatever the page, the mode and the rotation, the
// printer's view of the job is the input (gray: its gray values; even pages
// of a DuplexNoTumble job: turned by 180 degrees). A small sweep; the large
// one is in colour_roundtrip_slowtest.cc.
#include "tests/e2e/colour_roundtrip.h"

namespace colourtest {
namespace {

TEST(ColourRoundTrip, RandomPages) {
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    checkRoundTrip(randomCase(rng, 40));
  }
}

}  // namespace
}  // namespace colourtest
