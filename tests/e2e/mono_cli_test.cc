// mono_cli_test.cc - rawtoqv as the spooler runs it: the exact printer
// stream of a page, and the exit statuses of jobs that could not be sent.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

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
  }
  std::vector<std::string> args() const { return {"-rc", dir_.file("rc"), "-pi", dir_.file("pi")}; }
  qvtest::ScopedTempDir dir_;
};

// A blank A4 page at 600 dpi: 7016 - 2 x 100 = 6816 printable rows, each the
// blank record, in 53 blocks of 128 records and one of 32; the input is one
// byte short of a second page, which is dropped.
TEST_F(MonoCli, SmokeBlankPage) {
  const qvtest::ProgramResult result =
      qvtest::runProgram({RAWTOQV_PATH, args(), {}, std::string(2 * 620 * 7016 - 1, '\0')});
  std::string page = "\x1b*b1030m";
  for (int block = 0; block < 53; ++block) page += "130w\x00\x80"s + std::string(128, '\xff');
  page += "34w\x00\x20"s + std::string(32, '\xff') + "1030M\f";
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(monotest::kGoldenHeader + page + monotest::kTrailer, result.out);
}

#if !defined(__SANITIZE_ADDRESS__)
// A job whose page buffer cannot be had must not pass for a printed one.
// (Address-space limits and AddressSanitizer's shadow memory do not mix.)
TEST_F(MonoCli, UnallocatablePageIsExit3WithNothingSent) {
  std::vector<std::string> words = {"-c", "ulimit -v 65536 && exec \"$0\" \"$@\"", RAWTOQV_PATH};
  for (const std::string& arg : args()) words.push_back(arg);
  words.insert(words.end(), {"-ps", "32767x32767"});
  const qvtest::ProgramResult result = qvtest::runProgram({"/bin/sh", words, {}, {}});
  EXPECT_EQ(3, result.status);
  EXPECT_EQ("Error: cannot allocate memory !!\n", result.err);
  EXPECT_EQ("", result.out);
}
#endif

// Standard output on a full disk, or a pipe whose reader has gone, stops the
// filter at that write with a status and message of its own.
TEST_F(MonoCli, FailedOutputIsExit4) {
  qvtest::writeFile(dir_.file("in"), std::string(620 * 7016, '\0'));
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  ::close(fds[0]);
  const qv::UniqueFd full(::open("/dev/full", O_WRONLY)), closedPipe(fds[1]);
  std::vector<std::string> words = args();
  words.insert(words.begin(), RAWTOQV_PATH);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  for (const int out : {full.get(), closedPipe.get()}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, dir_.file("in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_addopen(&actions, 2, dir_.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    int status = 0;
    ASSERT_EQ(0, ::posix_spawn(&pid, RAWTOQV_PATH, &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << status;
    EXPECT_EQ("Error: cannot write output !!\n", qvtest::readFile(dir_.file("err")));
  }
}

}  // namespace
