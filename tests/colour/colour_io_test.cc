// colour_io_test.cc - what the colour filter writes besides the job: the
// buffered output, the page-file copy, scratch files, the debug log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "colour/Mfunc.h"
#include "colour/debugtool.h"
#include "colour/job_state.h"
#include "colour/send.h"
#include "colour/tempfile.h"
#include "tests/support/run_program.h"

namespace {

// Small and large writes and a page file copied through 1 MiB reads keep
// their order; at the first failed write (a full disk) the copy stops, the log
// says so, and nothing more is taken.
TEST(ColourOutput, KeepsOrderAndStopsAtTheFirstFailedWrite) {
  qvtest::ScopedTempDir dir;
  const std::string logPath = dir.file("log");
  const RcSettings rc;
  std::pair<std::string, bool> out;  // the bytes, and whether the disk is full
  const auto write = [](void* context, std::span<const std::uint8_t> data) {
    auto& [bytes, full] = *static_cast<std::pair<std::string, bool>*>(context);
    if (!full) bytes.append(data.begin(), data.end());
    return !full;
  };
  ColourJobState job(rc.info, PjpInfo{}, {}, {write, &out}, true);
  job.log.path = logPath.c_str();
  ASSERT_EQ(0, CreateSendBuf(job));
  ASSERT_EQ(0, CreatePageFileBuffers(job));
  const std::string small = "@PJL \n", large(3u << 20, 'x');  // larger than the buffer
  std::string page(2u << 20, '\0');
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7);
  std::FILE* file = fmemopen(page.data(), page.size(), "rb");
  EXPECT_EQ(1, pswrite(job, small.data(), small.size()));
  EXPECT_EQ(1, pswrite(job, large.data(), large.size()));
  do_compress(job, file);
  EXPECT_EQ(1, flushOutput(job));
  EXPECT_TRUE(small + large + page == out.first);
  out.second = true;
  do_compress(job, file);
  EXPECT_TRUE(job.outFailed);
  out.second = false;
  EXPECT_EQ(0, pswrite(job, small.data(), small.size()));
  EXPECT_EQ(0, flushOutput(job));
  std::fclose(file);
  EXPECT_EQ("Write error\n", qvtest::readFile(logPath));
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

// The log is kept only in a private regular file of the user's own; else one
// stderr line, and the job goes on.
TEST(ColourDebugLog, OwnPrivateFileOnlyNoLinkFifoOrForeignFile) {
  qvtest::ScopedTempDir dir;
  const std::string path = dir.file("qv_lprng_debuglog.txt"), victim = dir.file("victim");
  const auto expectRefused = [&] {
    DebugLog log(path.c_str());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, Debug_printf(&log, "Write error\n"));
    EXPECT_EQ(-1, Debug_printf(&log, "again\n"));
    EXPECT_EQ("!!! log file open error.!!! [" + path + "]\n",
              testing::internal::GetCapturedStderr());
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
