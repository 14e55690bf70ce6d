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

TEST(ColourRoundTrip, MoreThan256IdenticalLines) {
  std::mt19937 rng(7);
  for (const bool gray : {false, true}) {
    RoundTripCase c;
    c.width = 129;
    c.height = 600;
    c.gray = gray;
    c.duplexNoTumble = true;
    const std::string line = randomLine(rng, c.width);
    std::string page;
    for (int y = 0; y < 300; ++y) page += line;  // 300 equal lines: 256 + 44
    page += randomPage(rng, c.width, 300);
    c.pages = {page, page};
    checkRoundTrip(c);
  }
}

}  // namespace
}  // namespace colourtest
