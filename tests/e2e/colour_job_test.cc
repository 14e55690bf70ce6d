// colour_job_test.cc - rastertoqv end to end: the page loop's results on
// stdout, stderr and the exit status, copies, blank pages, duplex rotation,
// gray jobs and page files.
#include <gtest/gtest.h>

#include "tests/e2e/colour_job_support.h"

namespace colourtest {
namespace {

constexpr const char* kReady = "INFO: The printer is ready to print.\n";
constexpr const char* kPrintPhase = "Error: error occurred at print phase !!\n";

// 4 x 3 pages: a solid page encodes as one line (4 equal pixels) repeated 3
// times: repeat byte 2, run byte 3, the pixel.
std::string solidPage(int r, int g, int b) { return ppmPage(4, 3, solidPixels(4, 3, r, g, b)); }
std::string solidPwg(int r, int g, int b) {
  return pageHeader(4, 3, false) + bytes({2, 3, r, g, b});
}

TEST(ColourJob, FailureRowsBeforeAnyPage) {
  struct Case {
    const char* why;
    std::string input;
    std::string err;
  };
  const Case cases[] = {
      {"empty input", "", "ERROR: No pages found!\n"},
      {"gray PPM first", ppmPage(4, 3, std::string(12, 'x')),
       std::string(kPrintPhase) + "ERROR: No pages found!\n"},
      {"a lone line feed", "\n", std::string(kPrintPhase) + "ERROR: No pages found!\n"},
  };
  TestPrinter printer(4, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::string input = c.input;
    if (input.rfind("P6", 0) == 0) input[1] = '5';
    const qvtest::ProgramResult r = qvtest::runProgram(printer.run(input));
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ("", r.out);  // a failed job sends the printer nothing
  }
}

TEST(ColourJob, PageRowsThatStillEndTheJob) {
  const std::string red = solidPage(255, 0, 0);
  const std::string redPwg = solidPwg(255, 0, 0);
  struct Case {
    const char* why;
    std::string input;
    std::string afterPjl;  // everything after "@PJL ENTER LANGUAGE=PWGRASTER\n"
    std::string err;
  };
  const Case cases[] = {
      {"one page", red, "RaS2" + redPwg + kTrailer, kReady},
      {"two pages in order", red + solidPage(0, 0, 255),
       "RaS2" + redPwg + solidPwg(0, 0, 255) + kTrailer, kReady},
      {"malformed second header", red + "P7\n4 3\n255\n", "RaS2" + redPwg + kTrailer,
       std::string(kPrintPhase) + kReady},
      {"a line feed after the last page", red + "\n", "RaS2" + redPwg + kTrailer,
       std::string(kPrintPhase) + kReady},
      {"surplus pixel bytes are read as the next header", red + "\xff\xff",
       "RaS2" + redPwg + kTrailer, std::string(kPrintPhase) + kReady},
      {"short page: missing lines are zero", ppmPage(4, 3, solidPixels(4, 1, 255, 0, 0) + "\x01"),
       "RaS2" + pageHeader(4, 3, false) + bytes({0, 3, 255, 0, 0}) +
           bytes({0, 0, 1, 0, 0, 2, 0, 0, 0}) + bytes({0, 3, 0, 0, 0}) + kTrailer,
       kReady},
      {"second page without pixel data", red + ppmPage(4, 3, ""), "RaS2" + redPwg + kTrailer,
       std::string("ERROR:   Reading pixels failed\n") + kReady},
      {"first page without pixel data: header and trailer only", ppmPage(4, 3, ""), kTrailer,
       std::string("ERROR:   Reading pixels failed\n") + kReady},
  };
  TestPrinter printer(4, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const qvtest::ProgramResult r = qvtest::runProgram(printer.run(c.input));
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(c.afterPjl, afterHeader(r.out));
    EXPECT_EQ(0u, r.out.find(kUel + "@PJL \n"));
  }
}

TEST(ColourJob, UncollatedCopiesComeFromTheCopiesFile) {
  const std::string pages = solidPage(255, 0, 0) + solidPage(0, 255, 0);
  const std::string p1 = solidPwg(255, 0, 0);
  const std::string p2 = solidPwg(0, 255, 0);
  struct Case {
    const char* why;
    std::string settings;
    std::string afterPjl;
  };
  const Case cases[] = {
      {"3 copies, collate off: 1,1,1,2,2,2", "Copies=3\nCollate=OFF\n",
       "RaS2" + p1 + p1 + p1 + p2 + p2 + p2 + kTrailer},
      {"3 copies, collate on: each page once", "Copies=3\nCollate=ON\n",
       "RaS2" + p1 + p2 + kTrailer},
      {"copies 0: each page once", "Copies=0\n", "RaS2" + p1 + p2 + kTrailer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TestPrinter printer(4, 3, c.settings);
    qvtest::ProgramRun run = printer.run(pages);
    run.env["TMPDIR"] = printer.dir().path();
    const qvtest::ProgramResult r = qvtest::runProgram(run);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(kReady, r.err);
    EXPECT_EQ(c.afterPjl, afterHeader(r.out));
    // The copies file is gone: only the settings and paper files remain.
    EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());
  }
}

TEST(ColourJob, WithoutACopiesFileEachPageGoesOutOnce) {
  TestPrinter printer(4, 3, "Copies=2\n");
  qvtest::ProgramRun run = printer.run(solidPage(255, 0, 0) + solidPage(0, 255, 0));
  run.env["TMPDIR"] = printer.dir().path() + "/missing";
  const qvtest::ProgramResult r = qvtest::runProgram(run);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(std::string("ERROR: Unable to create a temporay file\n") +
                "ERROR: Unable to create a temporay file\n" + kReady,
            r.err);
  EXPECT_EQ("RaS2" + solidPwg(255, 0, 0) + solidPwg(0, 255, 0) + kTrailer, afterHeader(r.out));
}

TEST(ColourJob, BlankPagesAreSkippedWhenAsked) {
  const std::string white = solidPage(255, 255, 255);
  const std::string red = solidPage(255, 0, 0);
  const std::string nearWhite = solidPage(255, 255, 254);
  struct Case {
    const char* why;
    std::string settings;
    std::string input;
    std::string afterPjl;
  };
  const Case cases[] = {
      {"skipping off prints white pages", "", white + red,
       "RaS2" + solidPwg(255, 255, 255) + solidPwg(255, 0, 0) + kTrailer},
      {"a white page between two pages disappears", "QVSkipBlank=ON\n", red + white + red,
       "RaS2" + solidPwg(255, 0, 0) + solidPwg(255, 0, 0) + kTrailer},
      {"near white is printed", "QVSkipBlank=ON\n", nearWhite,
       "RaS2" + solidPwg(255, 255, 254) + kTrailer},
      {"all pages blank: RaS2 alone", "QVSkipBlank=ON\n", white + white, "RaS2" + kTrailer},
      {"every copy of a blank page is skipped", "QVSkipBlank=ON\nCopies=2\n", white + red,
       "RaS2" + solidPwg(255, 0, 0) + solidPwg(255, 0, 0) + kTrailer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TestPrinter printer(4, 3, c.settings);
    const qvtest::ProgramResult r = qvtest::runProgram(printer.run(c.input));
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(c.afterPjl, afterHeader(r.out));
  }
}

TEST(ColourJob, DuplexNoTumbleTurnsEvenPrintedPages) {
  // 2 x 2 page: line 0 = A B, line 1 = C C. Turned: C C, then B A.
  const std::string page = ppmPage(2, 2, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9}));
  const std::string upright =
      pageHeader(2, 2, false) + bytes({0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 7, 8, 9});
  const std::string turned =
      pageHeader(2, 2, false) + bytes({0, 1, 7, 8, 9, 0, 255, 4, 5, 6, 1, 2, 3});
  const std::string white = ppmPage(2, 2, solidPixels(2, 2, 255, 255, 255));
  struct Case {
    const char* why;
    std::string settings;
    std::string input;
    std::string afterPjl;
  };
  const Case cases[] = {
      {"pages 1 and 3 upright, page 2 turned", "QVDuplex=DuplexNoTumble\n", page + page + page,
       "RaS2" + upright + turned + upright + kTrailer},
      {"a skipped blank page shifts the parity", "QVDuplex=DuplexNoTumble\nQVSkipBlank=ON\n",
       page + white + page + page, "RaS2" + upright + turned + upright + kTrailer},
      {"DuplexTumble turns nothing", "QVDuplex=DuplexTumble\n", page + page,
       "RaS2" + upright + upright + kTrailer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TestPrinter printer(2, 2, c.settings);
    const qvtest::ProgramResult r = qvtest::runProgram(printer.run(c.input));
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(c.afterPjl, afterHeader(r.out));
  }
}

TEST(ColourJob, MonoJobsWriteGrayLines) {
  TestPrinter printer(4, 3, "QVMonoColor=Mono\n");
  const qvtest::ProgramResult r = qvtest::runProgram(printer.run(solidPage(255, 0, 0)));
  EXPECT_EQ(0, r.status);
  // Pure red is gray 76.
  EXPECT_EQ("RaS2" + pageHeader(4, 3, true) + bytes({2, 3, 76}) + kTrailer, afterHeader(r.out));
  EXPECT_NE(std::string::npos, r.out.find("@PJL SET RENDERMODE=GRAYSCALE\n"));
}

TEST(ColourJob, APageBufferThatCannotBeHadEndsTheJobCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
  // The largest page the paper files allow (7200 x 32767 pixels, 707 MB)
  // under a 256 MB address-space limit.
  TestPrinter printer(7200, 32767);
  qvtest::ProgramRun run = printer.run("P6\n7200 32767\n255\n");
  run.args.insert(run.args.begin(), {"-c", "ulimit -v 262144; exec \"$0\" \"$@\"", run.path});
  run.path = "/bin/sh";
  const qvtest::ProgramResult r = qvtest::runProgram(run);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(std::string("ERROR: Insufficient memory!\n") + kReady, r.err);
  EXPECT_EQ(kTrailer, afterHeader(r.out));  // header and trailer: a job with no page
#endif
}

TEST(ColourJob, PageFilesAreExclusive) {
  // A file planted under the name of the first page file: that page is not
  // written, the planted file is left alone, the job stays well formed.
  TestPrinter printer(4, 3);
  qvtest::RunningProgram program(printer.run(""));
  const std::string planted = "/tmp/ec_tmppage_" + std::to_string(program.pid()) + "_1";
  qvtest::writeFile(planted, "planted");
  ASSERT_TRUE(program.writeInput(solidPage(255, 0, 0) + solidPage(0, 0, 255)));
  const qvtest::ProgramResult r = program.wait();
  EXPECT_EQ("planted", qvtest::readFile(planted));
  std::filesystem::remove(planted);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.err.find("ERROR: Unable to create page file " + planted));
  EXPECT_EQ("RaS2" + solidPwg(0, 0, 255) + kTrailer, afterHeader(r.out));
  EXPECT_TRUE(pageFilesOf(program.pid()).empty());
}

TEST(ColourJob, LeavesNoPageFiles) {
  TestPrinter printer(4, 3, "Copies=2\n");
  qvtest::RunningProgram program(printer.run(""));
  ASSERT_TRUE(program.writeInput(solidPage(1, 2, 3) + solidPage(4, 5, 6) + "P6\n4"));
  const qvtest::ProgramResult r = program.wait();
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(pageFilesOf(program.pid()).empty());
}

}  // namespace
}  // namespace colourtest
