// colour_cancel_test.cc - SIGTERM while a job runs: the job still ends on the
// printer (the zero fill, then the last complete page not yet sent and the
// trailer), exit status 0, and no page file or copies file is left behind.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/colour_printer.h"

namespace colourtest {
namespace {

// Waits until the filter sits in read() on its standard input: it has then
// taken everything it was given. Output is drained meanwhile.
void waitBlockedOnInput(qvtest::RunningProgram& program) {
  const std::string syscall = "/proc/" + std::to_string(program.pid()) + "/syscall";
  while (qvtest::readFile(syscall).rfind("0 0x0 ", 0) != 0) program.pump(1);
}

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
  int signal = SIGTERM;
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
  waitBlockedOnInput(program);
  program.signal(c.signal);
  const qvtest::ProgramResult r = program.wait();
  EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());  // rc and pi only
  if (c.signal == SIGKILL) {
    EXPECT_EQ(SIGKILL, r.termSignal);
    return;
  }
  EXPECT_TRUE(r.exited());
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find(kUel + "@PJL \n"));
  // The zero fill goes before the page file still waiting for the next page
  // begin: the last complete page (with "RaS2" when it is the first).
  std::size_t waiting = pages.rfind("PwgRaster");
  if (waiting == std::string::npos || waiting == 4) waiting = 0;
  const std::string expected =
      pages.substr(0, waiting) + kCancelFill + pages.substr(waiting) + kTrailer;
  // Compared as a flag: a failure would otherwise print pages of bytes.
  const std::string body = afterHeader(r.out);
  EXPECT_TRUE(expected == body) << "expected " << expected.size() << " bytes, got " << body.size()
                                << "; stderr: " << r.err;
}

TEST(ColourCancel, StallsInAndBetweenPages) {
  const CancelCase cases[] = {
      {"after two pages, half of the third read", "", 2, true},
      {"half of the first page read: header, fill, trailer", "", 0, true},
      {"uncollated copies: the copies file goes too", "Copies=2\n", 1, true},
      {"after one page, waiting for the next header", "", 1, false},
      {"after two pages with duplex", "QVDuplex=DuplexNoTumble\n", 2, false},
      // Page files and the copies file lose their names as soon as they
      // exist: a process killed outright leaves no customer page behind.
      {"SIGKILL mid-page with copies", "Copies=2\n", 1, true, SIGKILL},
  };
  for (const CancelCase& c : cases) runCancelCase(c);
}

}  // namespace
}  // namespace colourtest
