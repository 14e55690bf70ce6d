// private_dir_test.cc - the job's private directory is private and leaves
// nothing behind.
#include "cups/private_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/run_program.h"

namespace {

// Points TMPDIR at a scratch directory for one test and restores it.
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::string& dir) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old, hadOld_ = true;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpdir() {
    if (hadOld_)
      ::setenv("TMPDIR", saved_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

 private:
  std::string saved_;
  bool hadOld_ = false;
};

TEST(PrivateDir, ModesAreOwnerOnlyAndEverythingGoes) {
  qvtest::ScopedTempDir scratch;
  ScopedTmpdir tmpdir(scratch.path());
  std::string path;
  {
    qvcups::PrivateDir dir;
    ASSERT_EQ(0, dir.create());
    path = dir.path();
    EXPECT_EQ(0u, path.rfind(scratch.path() + "/qvcups-", 0)) << "made under $TMPDIR";
    struct stat info {};
    ASSERT_EQ(0, ::stat(path.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 07777);
    ASSERT_EQ(0, dir.writeFile("qvmono.rc", "[QV-M600]\n"));
    ASSERT_EQ(0, ::stat(dir.file("qvmono.rc").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    EXPECT_EQ("[QV-M600]\n", qvtest::readFile(dir.file("qvmono.rc")));
    EXPECT_NE(0, dir.writeFile("qvmono.rc", "again")) << "files are created exclusively";
  }
  EXPECT_NE(0, ::access(path.c_str(), F_OK)) << "removed with its files";
  EXPECT_TRUE(qvtest::listDirectory(scratch.path()).empty());
}

TEST(PrivateDir, EmptyTmpdirMeansTmp) {
  ScopedTmpdir tmpdir("");
  qvcups::PrivateDir dir;
  ASSERT_EQ(0, dir.create());
  EXPECT_EQ(0u, dir.path().rfind("/tmp/qvcups-", 0));
}

}  // namespace
