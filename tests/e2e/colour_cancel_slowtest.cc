// colour_cancel_slowtest.cc - SIGTERM at random microseconds; the large round trip.
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/e2e/colour_roundtrip.h"

namespace colourtest {
namespace {

// No scratch file left; complete pages only, in order, the zero fill before the last, the trailer.
TEST(ColourCancelSlow, AtRandomMomentsOnlyCompletePagesReachThePrinter) {
  constexpr int kWidth = 900, kHeight = 700;
  TestPrinter printer(kWidth, kHeight, "Copies=2\n");
  std::mt19937 rng(11);
  std::vector<std::string> pages;
  std::string input;
  for (int p = 0; p < 3; ++p)
    input += ppmPage(kWidth, kHeight, pages.emplace_back(randomPage(rng, kWidth, kHeight)));
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    qvtest::ProgramRun run = printer.run("");
    run.env["TMPDIR"] = printer.dir().path();
    qvtest::RunningProgram program(run);
    std::thread writer([&] { program.writeInput(input); });
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (round % 2 ? 150'000 : 3'000)));
    program.signal(SIGTERM);
    writer.join();
    const qvtest::ProgramResult r = program.wait();

    ASSERT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size()) << "a scratch file left";
    // Before the first page begins, SIGTERM keeps its default action.
    EXPECT_TRUE(r.exited() ? r.status == 0 : r.termSignal == SIGTERM && r.out.empty());
    if (!r.exited()) continue;
    const std::string body = afterHeader(r.out);
    ASSERT_TRUE(body.size() >= kCancelFill.size() + kTrailer.size() && body.ends_with(kTrailer));
    // The fill ends where the zero bytes end ("RaS2" or "PwgRaster" follow).
    std::size_t fillEnd = body.find(kCancelFill);
    ASSERT_NE(std::string::npos, fillEnd);
    while (fillEnd < body.size() && body[fillEnd] == '\0') ++fillEnd;
    const std::string raster = body.substr(0, fillEnd - kCancelFill.size()) +
                               body.substr(fillEnd, body.size() - kTrailer.size() - fillEnd);
    if (raster.empty()) continue;  // cancelled before the first page was complete
    std::vector<qvdecode::PwgPage> decoded;
    qvdecode::DecodeError error;
    ASSERT_EQ(0, qvdecode::decodePwgRaster(qvtest::text(raster), decoded, error))
        << qvdecode::describeError(error);
    ASSERT_LE(decoded.size(), 6u);
    for (std::size_t i = 0; i < decoded.size(); ++i)  // two copies of each page
      EXPECT_TRUE(pages[i / 2] == qvtest::str(decoded[i].pixels)) << "page " << i + 1;
  }
}

// Taller pages (many 256-line folds) and many seeds.
TEST(ColourRoundTripSlow, RandomPages) {
  for (std::uint32_t seed = 1000; seed < 1400; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    checkRoundTrip(rng, seed % 4 == 0 ? 1200 : 60);
  }
}

}  // namespace
}  // namespace colourtest
