// colour_io_test.cc - the colour filter's scratch files and debug log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "colour/debugtool.h"
#include "colour/tempfile.h"
#include "tests/support/run_program.h"

namespace {

using namespace qv::colour;

TEST(ColourScratchFiles, PrivateAndNamelessInTheGivenDirectory) {
  qvtest::ScopedTempDir dir;
  EXPECT_EQ("/tmp /tmp /x", std::string(scratchDirectory(nullptr)) + " " + scratchDirectory("") +
                                " " + scratchDirectory("/x"));
  for (int (*open)(const char*, const char*) : {openScratchFile, openNamedScratchFile}) {
    const int fd = open(dir.path().c_str(), "ec_tmppage_1_1_");
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(0, ::fstat(fd, &info));
    EXPECT_EQ(0600u, info.st_mode & 0777u);
    EXPECT_EQ(0u, info.st_nlink) << "no name, however the process ends";
    EXPECT_TRUE(qvtest::listDirectory(dir.path()).empty());
    ::close(fd);
  }
  EXPECT_EQ(-1, myTempFd(dir.file("missing").c_str()));
}

// The log only in the user's own private regular file; else one line to the job's reporter, and
// none to stderr, the job goes on.
TEST(ColourDebugLog, OwnPrivateFileOnlyNoLinkFifoOrForeignFile) {
  qvtest::ScopedTempDir dir;
  const std::string path = dir.file("qv_lprng_debuglog.txt"), victim = dir.file("victim");
  const auto expectRefused = [&] {
    std::string reported;
    const auto keep = [](void* context, qv::ReportLevel level, std::string_view text) {
      *static_cast<std::string*>(context) += (level == qv::ReportLevel::kError ? "E " : "? ");
      static_cast<std::string*>(context)->append(text).append("\n");
    };
    DebugLog log(path.c_str(), {keep, nullptr, &reported});
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, Debug_printf(&log, "Write error\n"));
    EXPECT_EQ(-1, Debug_printf(&log, "again\n"));
    EXPECT_EQ("E !!! log file open error.!!! [" + path + "]\n", reported);
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "a host's stderr is its own";
    EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "stdout carries print data";
  };
  DebugLog first(path.c_str());
  EXPECT_EQ(8, Debug_printf(&first, "Write %s", "a\n"));
  DebugLog later(path.c_str());  // a later job appends; each message is flushed
  Debug_printf(&later, "%d\n", 12);
  EXPECT_EQ("Write a\n12\n", qvtest::readFile(path));
  struct stat info;
  ASSERT_EQ(0, ::stat(path.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777u);

  ::unlink(path.c_str());
  qvtest::writeFile(victim, "keep");
  ASSERT_EQ(0, ::symlink(victim.c_str(), path.c_str()));
  expectRefused();
  EXPECT_EQ("keep", qvtest::readFile(victim));
  ::unlink(path.c_str());
  ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
  expectRefused();
  for (const mode_t mode : {0620, 0602}) {
    ::unlink(path.c_str());
    qvtest::writeFile(path, "");
    ASSERT_EQ(0, ::chmod(path.c_str(), mode));
    expectRefused();
  }
  if (::geteuid() == 0) {  // another user's file, where the test can make one
    ASSERT_EQ(0, ::chmod(path.c_str(), 0600));
    ASSERT_EQ(0, ::chown(path.c_str(), 65534, 65534));
    expectRefused();
  }
  EXPECT_EQ("", qvtest::readFile(path));
}

}  // namespace
