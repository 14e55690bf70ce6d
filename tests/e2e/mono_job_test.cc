// tests/e2e/mono_job_test.cc - whole rawtoqv jobs through the built binary:
// settings and paper files, command line and environment in, the exact
// printer stream out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

using namespace std::string_literals;

// The job header of a 600-dpi A4 job from tray 1, plain paper, toner save
// off, one copy, simplex, no owner, every flag 0: derived line by line from
// the header rules, in the order the printer expects them.
const std::string kA4Tray1Header = monotest::esc(
    "~%-12345X@PJL\n@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600\n"
    "@PJL SET ECONOMODE = OFF\n@PJL SET SOURCETRAY = TRAY1\n@PJL SET MEDIATYPE = REGULAR\n"
    "@PJL SET ORIENTATION = PORTRAIT\n@PJL SET PAGEPROTECT = AUTO\n@PJL ENTER LANGUAGE = PCL\n"
    "~E~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l0S");

const std::string kTrailer = "\x1b%-12345X@PJL EOJ NAME=\"Linux print job\"\n\x1b%-12345X";

const char* const kTray1Settings =
    "[QV]\nResolution=600\nPaperSource=Tray1\nPaperType=A4\nMedia=PlainPaper\nCopies=1\n"
    "Sleep=PrinterDefault\nTonerSaveMode=OFF\nDuplex=OFF\n";

constexpr std::size_t kA4RowBytes = 620;  // 4960 dots
constexpr std::size_t kA4Rows = 7016;

class MonoJob : public testing::Test {
 protected:
  MonoJob() {
    qvtest::writeFile(dir_.file("rc"), kTray1Settings);
    qvtest::writeFile(dir_.file("pi"), "A4\t4960\t7016\n");
  }
  qvtest::ProgramRun job(std::vector<std::string> extra, std::string input = "") const {
    qvtest::ProgramRun run;
    run.path = RAWTOQV_PATH;
    run.args = {"-rc", dir_.file("rc"), "-pi", dir_.file("pi")};
    run.args.insert(run.args.end(), extra.begin(), extra.end());
    run.input = std::move(input);
    return run;
  }
  static std::size_t count(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
      ++n;
    return n;
  }
  qvtest::ScopedTempDir dir_;
};

TEST_F(MonoJob, EmptyInputIsHeaderAndTrailer) {
  const qvtest::ProgramResult result = qvtest::runProgram(job({}));
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(kA4Tray1Header + kTrailer, result.out);
  // The same size given on the command line needs no paper file.
  qvtest::ProgramRun run = job({"-ps", "4960x7016"});
  run.args.erase(run.args.begin() + 2, run.args.begin() + 4);
  EXPECT_EQ(kA4Tray1Header + kTrailer, qvtest::runProgram(run).out);
}

// A blank page at 600 dpi: 7016 - 2 x 100 = 6816 printable rows, each the
// blank record 0xFF, in 53 blocks of 128 records and one of 32.
TEST_F(MonoJob, BlankPageIsBlankRecordsInBlocks) {
  std::string page = "\x1b*b1030m";
  for (int block = 0; block < 53; ++block) page += "130w\x00\x80"s + std::string(128, '\xff');
  page += "34w\x00\x20"s + std::string(32, '\xff');
  page += "1030M\f";
  // Input one byte short of a second page: that page is dropped.
  const std::string input(2 * kA4RowBytes * kA4Rows - 1, '\0');
  const qvtest::ProgramResult result = qvtest::runProgram(job({}, input));
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(kA4Tray1Header + page + kTrailer, result.out);
}

// Owner, title and node name reach PJL lines: whatever the spooler passes,
// only the job's own universal exits may appear in the stream.
TEST_F(MonoJob, TitleCannotInjectPrinterCommands) {
  qvtest::ProgramRun run = job({"-owner", "alice\r@PJL SET COPIES=99", "-nodename", "host"});
  run.env = {{"TITLE", "Report\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n"}};
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(3u, count(result.out, "\x1b%-12345X")) << "job start, end-of-job block, final exit";
  EXPECT_EQ(1u, count(result.out, "@PJL JOB NAME=\"Report\"\n"));
  EXPECT_EQ(1u, count(result.out, "@PJL SET LOGINUSER=\"alice\"\n"));
  EXPECT_EQ(1u, count(result.out, "@PJL PRINTLOG ITEM = 4,host\n"));
  EXPECT_EQ(0u, count(result.out, "COPIES=99"));
  EXPECT_EQ(0u, count(result.out, "POSTSCRIPT"));
}

#if !defined(__SANITIZE_ADDRESS__)
// A job whose page buffer cannot be had must not pass for a printed one.
// (Address-space limits and AddressSanitizer's shadow memory do not mix.)
TEST_F(MonoJob, UnallocatablePageIsExit3WithNothingSent) {
  qvtest::ProgramRun run = job({"-ps", "32767x32767"});
  std::vector<std::string> words = {"-c", "ulimit -v 65536 && exec \"$0\" \"$@\"", RAWTOQV_PATH};
  words.insert(words.end(), run.args.begin(), run.args.end());
  run.path = "/bin/sh";
  run.args = words;
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  EXPECT_EQ(3, result.status);
  EXPECT_EQ("Error: cannot allocate memory !!\n", result.err);
  EXPECT_EQ("", result.out);
}
#endif

}  // namespace
