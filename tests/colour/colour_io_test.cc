// colour_io_test.cc - what the colour filter writes besides the job: the
// buffered output, the page-file copy, scratch files, the debug log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "colour/Mfunc.h"
#include "colour/debugtool.h"
#include "colour/send.h"
#include "colour/tempfile.h"
#include "tests/support/run_program.h"

namespace {

std::string readAll(int fd) {
  std::string bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  EXPECT_EQ(static_cast<ssize_t>(bytes.size()), ::pread(fd, bytes.data(), bytes.size(), 0));
  return bytes;
}

TEST(ColourOutput, KeepsOrderAndStopsAtTheFirstFailedWrite) {
  qvtest::ScopedTempDir dir;
  Debug_resetLog(dir.file("log").c_str());
  const int fd = ::memfd_create("qv-output", 0);
  setOutputFd(fd);
  const std::string small = "@PJL \n", large(3u << 20, 'x');  // larger than the buffer
  EXPECT_EQ(1, pswrite(small.data(), small.size()));
  EXPECT_EQ(1, pswrite(large.data(), large.size()));
  std::string page(2u << 20, '\0');  // a page file copied through 1 MiB reads
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7);
  std::FILE* file = fmemopen(page.data(), page.size(), "rb");
  do_compress(file);
  EXPECT_TRUE(flushOutput() == 1 && !outputHasFailed());
  EXPECT_TRUE(small + large + page == readAll(fd));
  ::close(fd);

  // A full disk behind the output: the copy stops, the log says so.
  const int full = ::open("/dev/full", O_WRONLY);
  setOutputFd(full);
  do_compress(file);
  EXPECT_TRUE(outputHasFailed());
  EXPECT_EQ(0, pswrite(small.data(), small.size()));
  setOutputFd(1);
  ::close(full);
  std::fclose(file);
  Debug_resetLog(nullptr);
  EXPECT_EQ("Write error\n", qvtest::readFile(dir.file("log")));
}

TEST(ColourScratchFiles, PrivateAndNamelessInTheGivenDirectory) {
  qvtest::ScopedTempDir dir;
  EXPECT_STREQ("/tmp", scratchDirectory(nullptr));
  EXPECT_STREQ("/tmp", scratchDirectory(""));
  EXPECT_STREQ("/x", scratchDirectory("/x"));
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

class DebugLog : public testing::Test {
 protected:
  void SetUp() override { Debug_resetLog(path_.c_str()); }
  void TearDown() override { Debug_resetLog(nullptr); }
  // The log is refused with one stderr line, and the job goes on.
  void expectRefused() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, Debug_printf("Write error\n"));
    EXPECT_EQ(-1, Debug_printf("again\n"));
    EXPECT_EQ("!!! log file open error.!!! [" + path_ + "]\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "stdout carries print data";
  }
  qvtest::ScopedTempDir dir_;
  std::string path_ = dir_.file("qv_lprng_debuglog.txt");
};

TEST_F(DebugLog, AppendsToItsOwnPrivateFile) {
  EXPECT_EQ(8, Debug_printf("Write %s", "a\n"));
  EXPECT_EQ("Write a\n", qvtest::readFile(path_)) << "flushed after every message";
  struct stat info;
  ASSERT_EQ(0, ::stat(path_.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777u);
  Debug_resetLog(path_.c_str());  // a later job
  Debug_printf("%d\n", 12);
  EXPECT_EQ("Write a\n12\n", qvtest::readFile(path_));
}

TEST_F(DebugLog, PlantedLinkFifoOrForeignFileIsRefused) {
  const std::string victim = dir_.file("victim");
  qvtest::writeFile(victim, "keep");
  ASSERT_EQ(0, ::symlink(victim.c_str(), path_.c_str()));
  expectRefused();
  EXPECT_EQ("keep", qvtest::readFile(victim));

  ::unlink(path_.c_str());
  ASSERT_EQ(0, ::mkfifo(path_.c_str(), 0600));
  Debug_resetLog(path_.c_str());
  expectRefused();

  for (const mode_t mode : {0620, 0602}) {
    ::unlink(path_.c_str());
    qvtest::writeFile(path_, "");
    ASSERT_EQ(0, ::chmod(path_.c_str(), mode));
    Debug_resetLog(path_.c_str());
    expectRefused();
  }
  if (::geteuid() == 0) {  // another user's file, where the test can make one
    ASSERT_EQ(0, ::chmod(path_.c_str(), 0600));
    ASSERT_EQ(0, ::chown(path_.c_str(), 65534, 65534));
    Debug_resetLog(path_.c_str());
    expectRefused();
  }
  EXPECT_EQ("", qvtest::readFile(path_));
}

}  // namespace
