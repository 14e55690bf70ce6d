// send_test.cc - the buffered output writer, the page-file copy and the copies
// file name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "colour/Mfunc.h"
#include "colour/debugtool.h"
#include "colour/send.h"
#include "colour/tempfile.h"
#include "tests/support/run_program.h"

namespace {

std::string readAll(int fd) {
  std::string bytes;
  char chunk[65536];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(got));
  return bytes;
}

TEST(Pswrite, KeepsOrderAcrossSmallAndLargeWrites) {
  const int fd = ::memfd_create("qv-output", 0);
  setOutputFd(fd);
  const std::string small = "@PJL \n";
  const std::string large(3u << 20, 'x');  // larger than the buffer: written through
  EXPECT_EQ(1, pswrite(nullptr, 0));
  EXPECT_EQ(1, pswrite(small.data(), small.size()));
  EXPECT_EQ(1, pswrite(large.data(), large.size()));
  EXPECT_EQ(1, pswrite(small.data(), small.size()));
  setOutputFd(1);
  EXPECT_TRUE(small + large + small == readAll(fd));
  ::close(fd);
}

TEST(DoCompress, CopiesAPageFileWholeAndLogsAFailedOutput) {
  qvtest::ScopedTempDir dir;
  Debug_resetLog(dir.file("log").c_str());
  std::string page(2u << 20, '\0');
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7);
  std::FILE* file = fmemopen(page.data(), page.size(), "rb");

  const int fd = ::memfd_create("qv-output", 0);
  setOutputFd(fd);
  do_compress(file);
  setOutputFd(1);
  EXPECT_TRUE(page == readAll(fd));
  ::close(fd);

  // A full disk behind standard output: the copy stops and the debug log
  // says so.
  const int full = ::open("/dev/full", O_WRONLY);
  setOutputFd(full);
  do_compress(file);
  setOutputFd(1);
  ::close(full);
  std::fclose(file);
  Debug_resetLog(nullptr);
  EXPECT_EQ("Write error\xC2\xA5n", qvtest::readFile(dir.file("log")));
}

TEST(MyTempFd, CreatesAnExclusivePrivateFileNamedByTheClock) {
  qvtest::ScopedTempDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  char path[1024];
  const int fd = myTempFd(path, sizeof path);
  if (old != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(std::regex_match(path, std::regex(dir.path() + "/[0-9a-f]{8}[0-9a-f]{5}"))) << path;
  struct stat info {};
  ASSERT_EQ(0, ::fstat(fd, &info));
  EXPECT_EQ(0600u, info.st_mode & 0777u);
  ::close(fd);
  ::unlink(path);
}

}  // namespace
