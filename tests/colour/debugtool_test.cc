// Debug log: appends, never through a planted link, and its failures neither
// reach standard output nor stop the job.
#include "colour/debugtool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/run_program.h"

namespace {

class DebugLog : public testing::Test {
 protected:
  void SetUp() override { Debug_resetLog(path_.c_str()); }
  void TearDown() override { Debug_resetLog(nullptr); }
  qvtest::ScopedTempDir dir_;
  std::string path_ = dir_.file("qv_lprng_debuglog.txt");
};

TEST_F(DebugLog, AppendsToEarlierTextAndCreatesPrivately) {
  EXPECT_EQ(8, Debug_printf("Write %s", "a\n"));
  EXPECT_EQ(4, Debug_printf("%d\n", 123));
  EXPECT_EQ("Write a\n123\n", qvtest::readFile(path_)) << "flushed after every message";
  struct stat info;
  ASSERT_EQ(0, ::stat(path_.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777u);

  Debug_resetLog(path_.c_str());  // a later job
  Debug_printf("next\n");
  EXPECT_EQ("Write a\n123\nnext\n", qvtest::readFile(path_));
}

TEST_F(DebugLog, PlantedLinkIsNotFollowedAndTheJobGoesOn) {
  const std::string victim = dir_.file("victim");
  qvtest::writeFile(victim, "keep");
  ASSERT_EQ(0, ::symlink(victim.c_str(), path_.c_str()));

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, Debug_printf("Write error\n"));
  EXPECT_EQ(-1, Debug_printf("again\n"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "stdout carries print data";
  EXPECT_EQ("!!! log file open error.!!! [" + path_ + "]\n", err) << "one line, once";
  EXPECT_EQ("keep", qvtest::readFile(victim));
}

TEST_F(DebugLog, PlantedFifoDoesNotStallTheJob) {
  ASSERT_EQ(0, ::mkfifo(path_.c_str(), 0600));
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, Debug_printf("x\n"));
  EXPECT_NE("", testing::internal::GetCapturedStderr());
}

TEST(DebugLogPath, IsTheFixedTmpFile) { EXPECT_STREQ("/tmp/qv_lprng_debuglog.txt", kDebugLogPath); }

}  // namespace
