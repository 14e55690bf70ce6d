// colour_cancel_slowtest.cc - SIGTERM at random moments of a job: whatever
// the filter was doing (reading, encoding, copying a page file), the printer
// gets complete pages only, in order, then the zero fill and the trailer.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <thread>

#include "decode/pwg_stream.h"
#include "tests/e2e/colour_job_support.h"

namespace colourtest {
namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 700;

std::string noisePixels(std::mt19937& rng) {
  std::string pixels(static_cast<std::size_t>(kWidth) * kHeight * 3, '\0');
  for (char& c : pixels) c = static_cast<char>(rng() % 4 == 0 ? rng() : 255);
  return pixels;
}

TEST(ColourCancelSlow, AtRandomMomentsOnlyCompletePagesReachThePrinter) {
  TestPrinter printer(kWidth, kHeight, "Copies=2\n");
  std::mt19937 rng(11);
  std::vector<std::string> pages;
  std::string input;
  for (int p = 0; p < 3; ++p) {
    pages.push_back(noisePixels(rng));
    input += ppmPage(kWidth, kHeight, pages.back());
  }
  const std::string fill(5768, '\0');
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    qvtest::ProgramRun run = printer.run("");
    run.env["TMPDIR"] = printer.dir().path();
    qvtest::RunningProgram program(run);
    const int delayMs = static_cast<int>(rng() % 120);
    std::thread writer([&] { program.writeInput(input); });
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    program.signal(SIGTERM);
    writer.join();
    const qvtest::ProgramResult r = program.wait();

    EXPECT_TRUE(pageFilesOf(program.pid()).empty());
    EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());
    if (!r.exited()) {
      // Before the first page begins SIGTERM keeps its default action: the
      // job had not started, nothing was sent.
      EXPECT_EQ(SIGTERM, r.termSignal);
      EXPECT_EQ("", r.out);
      continue;
    }
    EXPECT_EQ(0, r.status);
    const std::string body = afterHeader(r.out);
    ASSERT_GE(body.size(), fill.size() + kTrailer.size());
    const std::string raster = body.substr(0, body.size() - fill.size() - kTrailer.size());
    EXPECT_TRUE(body.substr(raster.size()) == fill + kTrailer);
    if (raster.empty()) continue;  // cancelled before the first page was complete

    std::vector<qvdecode::PwgPage> decoded;
    qvdecode::DecodeError error;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(raster.data());
    ASSERT_EQ(0, qvdecode::decodePwgRaster(std::span(bytes, raster.size()), decoded, error))
        << qvdecode::describeError(error);
    ASSERT_LE(decoded.size(), 6u);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      const std::string& page = pages[i / 2];  // two copies of each page
      const std::vector<std::uint8_t> expected(page.begin(), page.end());
      EXPECT_TRUE(expected == decoded[i].pixels) << "page " << i + 1;
    }
  }
}

}  // namespace
}  // namespace colourtest
