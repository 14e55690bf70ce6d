// package_slowtest.cc - the Debian package installs what cmake --install
// installs, where CUPS and the filters look, with safe modes; its PPDs pass
// cupstestppd against the package's own files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "tests/cups/cups_harness.h"

namespace fs = std::filesystem;

namespace {

class Package : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"dpkg-deb", "cupstestppd"})
      if (qvcupstest::systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    // One package per test run, built from this build tree.
    qvtest::ProgramRun run;
    run.path = QV_CPACK_COMMAND;
    run.args = {"-G",       "DEB",
                "-B",       scratch_.file("cpack"),
                "--config", std::string(QV_BINARY_DIR) + "/CPackConfig.cmake"};
    run.env = {{"TMPDIR", scratch_.path()}};
    const qvtest::ProgramResult built = qvtest::runProgram(run);
    ASSERT_EQ(0, built.status) << built.out << built.err;
    for (const auto& entry : fs::directory_iterator(scratch_.file("cpack")))
      if (entry.path().extension() == ".deb") deb_ = entry.path().string();
    ASSERT_FALSE(deb_.empty()) << built.out;
  }

  qvtest::ProgramResult dpkgDeb(std::vector<std::string> args) {
    qvtest::ProgramRun run;
    run.path = qvcupstest::systemTool("dpkg-deb");
    run.args = std::move(args);
    return qvtest::runProgram(run);
  }

  qvtest::ScopedTempDir scratch_;
  std::string deb_;
};

TEST_F(Package, FilesOwnersAndModes) {
  // Owners as dpkg will install them: every entry root/root.
  const qvtest::ProgramResult listing = dpkgDeb({"-c", deb_});
  ASSERT_EQ(0, listing.status) << listing.err;
  std::istringstream lines(listing.out);
  std::string line;
  std::set<std::string> files;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    EXPECT_EQ("root/root", owner) << path;
    if (mode[0] == '-') files.insert(path);
  }
  std::set<std::string> expected = {
      "./usr/lib/cups/filter/qvcupsfilter", "./usr/share/ppd/quarno/qvm600.ppd",
      "./usr/share/ppd/quarno/qvc600.ppd", "./opt/quarno/QV-C600/bin/inf/ImagingArea",
      "./opt/quarno/QV-C600/bin/inf/PaperDimension"};
  for (const char* filter : {"rawtoqv", "rastertoqv"})
    if (!qvcupstest::builtProgram(filter).empty())
      expected.insert(std::string("./usr/lib/cups/filter/") + filter);
  EXPECT_EQ(expected, files);

  // Modes as extracted: programs 0755, data 0644, nothing group- or
  // world-writable anywhere.
  const std::string root = scratch_.file("root");
  const qvtest::ProgramResult extracted = dpkgDeb({"-x", deb_, root});
  ASSERT_EQ(0, extracted.status) << extracted.err;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat info {};
    ASSERT_EQ(0, ::lstat(entry.path().c_str(), &info));
    const std::string path = entry.path().string().substr(root.size());
    EXPECT_EQ(0u, info.st_mode & (S_IWGRP | S_IWOTH)) << path << " is writable by others";
    EXPECT_EQ(0u, info.st_uid) << path;
    if (S_ISREG(info.st_mode)) {
      const bool program = path.rfind("/usr/lib/cups/filter/", 0) == 0;
      EXPECT_EQ(program ? 0755u : 0644u, info.st_mode & 07777) << path;
    }
  }
}

TEST_F(Package, PpdsPassCupstestppdAgainstThePackage) {
  const std::string root = scratch_.file("root");
  ASSERT_EQ(0, dpkgDeb({"-x", deb_, root}).status);
  for (const char* ppd : {"qvm600.ppd", "qvc600.ppd"}) {
    SCOPED_TRACE(ppd);
    qvtest::ProgramRun run;
    run.path = qvcupstest::systemTool("cupstestppd");
    // -R: look for the cupsFilter2 program under the package's root.
    run.args = {"-R", root, root + "/usr/share/ppd/quarno/" + ppd};
    const qvtest::ProgramResult result = qvtest::runProgram(run);
    EXPECT_EQ(0, result.status) << result.out << result.err;
    EXPECT_NE(std::string::npos, result.out.find("PASS")) << result.out;
  }
}

}  // namespace
