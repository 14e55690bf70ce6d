// colour_cancel_test.cc - SIGTERM while a job runs: the job still ends on the
// printer (complete pages, the zero fill, the trailer), exit status 0, and no
// page file or copies file is left behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "tests/e2e/colour_job_support.h"

namespace colourtest {
namespace {

constexpr int kSettleMs = 300;  // time for the filter to block on its input

// The printer is told the job was cut short by a run of zero bytes.
// pump() returns as soon as output arrives; wait the whole time so that the
// filter has read everything it was given and blocks on its input.
void settle(qvtest::RunningProgram& program, int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < deadline) program.pump(10);
}

std::string zeroFill() { return std::string(5768, '\0'); }

// 64 x 32 pages: big enough that half a page is a real partial read.
constexpr int kWidth = 64;
constexpr int kHeight = 32;

std::string stripedPixels(int seed) {
  std::string pixels;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      pixels += {static_cast<char>(seed), static_cast<char>(y), static_cast<char>(x / 8)};
  return pixels;
}

struct CancelCase {
  const char* why;
  std::string settings;
  int completePages;  // pages written whole before the stall
  bool stallMidPage;  // the next page's header and half its pixels follow
};

void runCancelCase(const CancelCase& c) {
  SCOPED_TRACE(c.why);
  TestPrinter printer(kWidth, kHeight, c.settings);
  qvtest::ProgramRun run = printer.run("");
  run.env["TMPDIR"] = printer.dir().path();

  // The same pages, run to their end, give the expected complete pages.
  std::string complete;
  for (int p = 0; p < c.completePages; ++p) complete += ppmPage(kWidth, kHeight, stripedPixels(p));
  std::string pages;
  if (c.completePages > 0) {
    const qvtest::ProgramResult reference = qvtest::runProgram(printer.run(complete));
    ASSERT_EQ(0, reference.status);
    const std::string body = afterHeader(reference.out);
    ASSERT_GE(body.size(), kTrailer.size());
    pages = body.substr(0, body.size() - kTrailer.size());
  }

  qvtest::RunningProgram program(run);
  std::string input = complete;
  if (c.stallMidPage) {
    const std::string next = ppmPage(kWidth, kHeight, stripedPixels(99));
    input += next.substr(0, next.size() / 2);
  }
  ASSERT_TRUE(program.writeInput(input));
  settle(program, kSettleMs);
  program.signal(SIGTERM);
  const qvtest::ProgramResult r = program.wait();

  EXPECT_TRUE(r.exited());
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find(kUel + "@PJL \n"));
  // Compared as a flag: a failure would otherwise print pages of bytes.
  const std::string expected = pages + zeroFill() + kTrailer;
  const std::string body = afterHeader(r.out);
  EXPECT_TRUE(expected == body) << "expected " << expected.size() << " bytes, got " << body.size()
                                << "; stderr: " << r.err;
  EXPECT_TRUE(pageFilesOf(program.pid()).empty());
  EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());  // rc and pi only
}

TEST(ColourCancel, StallInTheMiddleOfAPage) {
  const CancelCase cases[] = {
      {"after two pages, half of the third read", "", 2, true},
      {"half of the first page read: header, fill, trailer", "", 0, true},
      {"uncollated copies: the copies file goes too", "Copies=2\n", 1, true},
  };
  for (const CancelCase& c : cases) runCancelCase(c);
}

TEST(ColourCancel, StallBetweenPages) {
  const CancelCase cases[] = {
      {"after one page, waiting for the next header", "", 1, false},
      {"after two pages with duplex", "QVDuplex=DuplexNoTumble\n", 2, false},
  };
  for (const CancelCase& c : cases) runCancelCase(c);
}

TEST(ColourCancel, EvenSigkillLeavesNoTemporaryFile) {
  // Page files and the copies file lose their names as soon as they exist:
  // a process killed outright leaves no customer page behind.
  TestPrinter printer(kWidth, kHeight, "Copies=2\n");
  qvtest::ProgramRun run = printer.run("");
  run.env["TMPDIR"] = printer.dir().path();
  qvtest::RunningProgram program(run);
  const std::string next = ppmPage(kWidth, kHeight, stripedPixels(2));
  ASSERT_TRUE(program.writeInput(ppmPage(kWidth, kHeight, stripedPixels(1)) +
                                 next.substr(0, next.size() / 2)));
  settle(program, kSettleMs);
  program.signal(SIGKILL);
  const qvtest::ProgramResult r = program.wait();
  EXPECT_EQ(SIGKILL, r.termSignal);
  EXPECT_TRUE(pageFilesOf(program.pid()).empty());
  EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());
}

}  // namespace
}  // namespace colourtest
