// mono_cli_test.cc - rawtoqv as the spooler runs it.
#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

using namespace std::string_literals;

class MonoCli : public testing::Test {
 protected:
  MonoCli() {
    qvtest::writeFile(dir_.file("rc"),
                      "[QV]\nPaperSource=Tray1\nPaperType=A4\nMedia=PlainPaper\n"
                      "Copies=1\nSleep=PrinterDefault\nTonerSaveMode=OFF\n");
    qvtest::writeFile(dir_.file("pi"), "A4\t4960\t7016\n");
    qvtest::writeFile(dir_.file("in"), std::string(2 * 620 * 7016 - 1, '\0'));
  }
  // rawtoqv on the settings and paper files and `args`, its input and
  // output set up by the bash `redirect`.
  qvtest::ProgramResult run(const std::string& redirect, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"-c", redirect + "; exec \"$0\" \"$@\" <" + dir_.file("in"),
                               RAWTOQV_PATH, "-rc", dir_.file("rc"), "-pi", dir_.file("pi")});
    return qvtest::runProgram({"/bin/bash", args, {}, {}});
  }
  qvtest::ScopedTempDir dir_;
};

// A blank A4 page at 600 dpi: 7016 - 2 x 100 = 6816 printable rows, each the
// blank record, in 53 blocks of 128 records and one of 32; the input is one
// byte short of a second page, which is dropped.
TEST_F(MonoCli, SmokeBlankPage) {
  const qvtest::ProgramResult result = run(":");
  std::string page = "\x1b*b1030m";
  for (int block = 0; block < 53; ++block) page += "130w\x00\x80"s + std::string(128, '\xff');
  page += "34w\x00\x20"s + std::string(32, '\xff') + "1030M\f";
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(monotest::kGoldenHeader + page + monotest::kTrailer, result.out);
}

// A job lost for want of memory, or because standard output is a full disk
// or a pipe whose reader has gone, is a failure with a status of its own.
TEST_F(MonoCli, LostJobsAreFailures) {
#if !defined(__SANITIZE_ADDRESS__)  // address-space limits and its shadow memory do not mix
  const qvtest::ProgramResult unallocated = run("ulimit -v 65536", {"-ps", "32767x32767"});
  EXPECT_EQ(3, unallocated.status);
  EXPECT_EQ("Error: cannot allocate memory !!\n", unallocated.err);
  EXPECT_EQ("", unallocated.out);
#endif
  for (const std::string redirect : {"exec >/dev/full", "exec 4> >(:); wait $!; exec >&4 4>&-"}) {
    const qvtest::ProgramResult result = run(redirect);
    EXPECT_EQ(4, result.status) << redirect;
    EXPECT_EQ("Error: cannot write output !!\n", result.err);
  }
}

}  // namespace
