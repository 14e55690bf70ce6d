// mono_cli_test.cc - rawtoqv as the spooler runs it: settings and paper
// files, command line and environment in, the exact printer stream out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>

#include "common/unique_file.h"
#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

using namespace std::string_literals;

class MonoCli : public testing::Test {
 protected:
  MonoCli() {
    qvtest::writeFile(dir_.file("rc"),
                      "[QV]\nResolution=600\nPaperSource=Tray1\nPaperType=A4\nMedia=PlainPaper\n"
                      "Copies=1\nSleep=PrinterDefault\nTonerSaveMode=OFF\nDuplex=OFF\n");
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
  qvtest::ScopedTempDir dir_;
};

// A blank A4 page at 600 dpi: 7016 - 2 x 100 = 6816 printable rows, each the
// blank record, in 53 blocks of 128 records and one of 32; the input is one
// byte short of a second page, which is dropped. Owner and title reach PJL
// lines, but only the job's own universal exits appear in the stream.
TEST_F(MonoCli, SmokeBlankPageAndHostileTexts) {
  qvtest::ProgramRun run = job({}, std::string(2 * 620 * 7016 - 1, '\0'));
  qvtest::ProgramResult result = qvtest::runProgram(run);
  std::string page = "\x1b*b1030m";
  for (int block = 0; block < 53; ++block) page += "130w\x00\x80"s + std::string(128, '\xff');
  page += "34w\x00\x20"s + std::string(32, '\xff') + "1030M\f";
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(monotest::kGoldenHeader + page + monotest::kTrailer, result.out);

  run = job({"-owner", "alice\r@PJL SET COPIES=99", "-nodename", "host"});
  run.env = {{"TITLE", "Report\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n"}};
  result = qvtest::runProgram(run);
  EXPECT_EQ(0, result.status);
  std::size_t exits = 0;
  for (std::size_t at = 0; (at = result.out.find("\x1b%-12345X", at)) != std::string::npos; ++at)
    ++exits;
  EXPECT_EQ(3u, exits) << "job start, end-of-job block, final exit";
  EXPECT_NE(std::string::npos, result.out.find("@PJL JOB NAME=\"Report\"\n@PJL SET STRING"));
  EXPECT_NE(std::string::npos, result.out.find("@PJL SET LOGINUSER=\"alice\"\n@PJL PRINTLOG"));
  EXPECT_EQ(std::string::npos, result.out.find("COPIES=99"));
  EXPECT_EQ(std::string::npos, result.out.find("POSTSCRIPT"));

  run = job({});
  run.args.resize(2);  // no paper file, no -ps
  result = qvtest::runProgram(run);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("Error: paperinf :cannot open file !!\n", result.err);
  EXPECT_EQ("", result.out);
}

#if !defined(__SANITIZE_ADDRESS__)
// A job whose page buffer cannot be had must not pass for a printed one.
// (Address-space limits and AddressSanitizer's shadow memory do not mix.)
TEST_F(MonoCli, UnallocatablePageIsExit3WithNothingSent) {
  qvtest::ProgramRun run = job({"-ps", "32767x32767"});
  run.args.insert(run.args.begin(), {"-c", "ulimit -v 65536 && exec \"$0\" \"$@\"", RAWTOQV_PATH});
  run.path = "/bin/sh";
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  EXPECT_EQ(3, result.status);
  EXPECT_EQ("Error: cannot allocate memory !!\n", result.err);
  EXPECT_EQ("", result.out);
}
#endif

// A job the printer did not get whole is a failure: standard output on a
// full disk, or a pipe whose reader has gone, stops the filter at that
// write with a status and message of its own.
TEST_F(MonoCli, FailedOutputIsExit4) {
  qvtest::writeFile(dir_.file("in"), std::string(620 * 7016, '\0'));
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  ::close(fds[0]);
  const qv::UniqueFd full(::open("/dev/full", O_WRONLY)), closedPipe(fds[1]);
  for (const int out : {full.get(), closedPipe.get()}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, dir_.file("in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_addopen(&actions, 2, dir_.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> words = job({}).args;
    words.insert(words.begin(), RAWTOQV_PATH);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(0, ::posix_spawn(&pid, RAWTOQV_PATH, &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << status;
    EXPECT_EQ("Error: cannot write output !!\n", qvtest::readFile(dir_.file("err")));
  }
}

}  // namespace
