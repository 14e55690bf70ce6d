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

// A job whose sink keeps what it is given, or refuses it once `full`.
struct Output {
  std::string bytes;
  bool full = false;
  static bool write(void* context, std::span<const std::uint8_t> data) {
    auto* out = static_cast<Output*>(context);
    if (!out->full) out->bytes.append(data.begin(), data.end());
    return !out->full;
  }
};

TEST(ColourOutput, KeepsOrderAndStopsAtTheFirstFailedWrite) {
  qvtest::ScopedTempDir dir;
  const std::string logPath = dir.file("log");
  const RcSettings rc;
  Output out;
  ColourJobState job(rc.info, PjpInfo{}, {}, {Output::write, &out}, true);
  job.log.path = logPath.c_str();
  ASSERT_EQ(0, CreateSendBuf(job));
  const std::string small = "@PJL \n", large(3u << 20, 'x');  // larger than the buffer
  EXPECT_EQ(1, pswrite(job, small.data(), small.size()));
  EXPECT_EQ(1, pswrite(job, large.data(), large.size()));
  std::string page(2u << 20, '\0');  // a page file copied through 1 MiB reads
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7);
  std::FILE* file = fmemopen(page.data(), page.size(), "rb");
  do_compress(job, file);
  EXPECT_EQ(1, flushOutput(job));
  EXPECT_TRUE(small + large + page == out.bytes);

  // A full disk behind the output: the copy stops, the log says so, and
  // nothing more is accepted.
  out.full = true;
  do_compress(job, file);
  EXPECT_TRUE(job.outFailed);
  out.full = false;
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

class ColourDebugLog : public testing::Test {
 protected:
  // The log is refused with one stderr line, and the job goes on.
  void expectRefused() {
    DebugLog log(path_.c_str());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, Debug_printf(&log, "Write error\n"));
    EXPECT_EQ(-1, Debug_printf(&log, "again\n"));
    EXPECT_EQ("!!! log file open error.!!! [" + path_ + "]\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "stdout carries print data";
  }
  qvtest::ScopedTempDir dir_;
  std::string path_ = dir_.file("qv_lprng_debuglog.txt");
};

TEST_F(ColourDebugLog, AppendsToItsOwnPrivateFile) {
  DebugLog log(path_.c_str());
  EXPECT_EQ(8, Debug_printf(&log, "Write %s", "a\n"));
  EXPECT_EQ("Write a\n", qvtest::readFile(path_)) << "flushed after every message";
  struct stat info;
  ASSERT_EQ(0, ::stat(path_.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777u);
  DebugLog later(path_.c_str());  // a later job
  Debug_printf(&later, "%d\n", 12);
  EXPECT_EQ("Write a\n12\n", qvtest::readFile(path_));
}

TEST_F(ColourDebugLog, PlantedLinkFifoOrForeignFileIsRefused) {
  const std::string victim = dir_.file("victim");
  qvtest::writeFile(victim, "keep");
  ASSERT_EQ(0, ::symlink(victim.c_str(), path_.c_str()));
  expectRefused();
  EXPECT_EQ("keep", qvtest::readFile(victim));

  ::unlink(path_.c_str());
  ASSERT_EQ(0, ::mkfifo(path_.c_str(), 0600));
  expectRefused();

  for (const mode_t mode : {0620, 0602}) {
    ::unlink(path_.c_str());
    qvtest::writeFile(path_, "");
    ASSERT_EQ(0, ::chmod(path_.c_str(), mode));
    expectRefused();
  }
  if (::geteuid() == 0) {  // another user's file, where the test can make one
    ASSERT_EQ(0, ::chmod(path_.c_str(), 0600));
    ASSERT_EQ(0, ::chown(path_.c_str(), 65534, 65534));
    expectRefused();
  }
  EXPECT_EQ("", qvtest::readFile(path_));
}

}  // namespace
