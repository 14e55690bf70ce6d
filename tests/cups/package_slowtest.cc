// package_slowtest.cc - the Debian package holds what cmake --install
// installs, owned by root with safe modes; lintian finds nothing to warn
// about (the /opt geometry has a documented override), and its PPDs pass
// cupstestppd against the package's own files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "tests/cups/cups_harness.h"

namespace fs = std::filesystem;

namespace {

TEST(Package, FilesModesAndPpds) {
  for (const char* tool : {"dpkg-deb", "cupstestppd", "lintian"})
    if (qvcupstest::systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  qvtest::ScopedTempDir scratch;
  const qvtest::ProgramResult built =
      qvcupstest::run(QV_CPACK_COMMAND,
                      {"-G", "DEB", "-B", scratch.file("cpack"), "--config",
                       std::string(QV_BINARY_DIR) + "/CPackConfig.cmake"},
                      {{"TMPDIR", scratch.path()}});
  ASSERT_EQ(0, built.status) << built.out << built.err;
  std::string deb;
  for (const auto& entry : fs::directory_iterator(scratch.file("cpack")))
    if (entry.path().extension() == ".deb") deb = entry.path();
  ASSERT_NE("", deb) << built.out;
  const std::string dpkgDeb = qvcupstest::systemTool("dpkg-deb");

  // Every entry root/root, as dpkg will install it.
  std::istringstream listing(qvcupstest::run(dpkgDeb, {"-c", deb}).out);
  std::set<std::string> files;
  for (std::string mode, owner, size, date, time, path;
       listing >> mode >> owner >> size >> date >> time >> path;) {
    EXPECT_EQ("root/root", owner) << path;
    if (mode[0] == '-') files.insert(path);
  }
  const std::set<std::string> expected = {"./usr/lib/cups/filter/qvcupsfilter",
                                          "./usr/lib/cups/filter/rawtoqv",
                                          "./usr/lib/cups/filter/rastertoqv",
                                          "./usr/share/ppd/quarno/qvm600.ppd",
                                          "./usr/share/ppd/quarno/qvc600.ppd",
                                          "./opt/quarno/QV-C600/bin/inf/ImagingArea",
                                          "./opt/quarno/QV-C600/bin/inf/PaperDimension",
                                          "./usr/bin/qvinspect",
                                          "./usr/share/man/man1/rawtoqv.1.gz",
                                          "./usr/share/man/man1/rastertoqv.1.gz",
                                          "./usr/share/man/man1/qvinspect.1.gz",
                                          "./usr/share/man/man8/qvcupsfilter.8.gz",
                                          "./usr/share/doc/qv-printer-driver/copyright",
                                          "./usr/share/doc/qv-printer-driver/README.md",
                                          "./usr/share/doc/qv-printer-driver/changelog.gz",
                                          "./usr/share/lintian/overrides/qv-printer-driver"};
  EXPECT_EQ(expected, files);

  // Programs 0755, data 0644, nothing writable by group or others.
  const std::string root = scratch.file("root");
  ASSERT_EQ(0, qvcupstest::run(dpkgDeb, {"-x", deb, root}).status);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat info {};
    ASSERT_EQ(0, ::lstat(entry.path().c_str(), &info));
    const std::string path = entry.path().string().substr(root.size());
    EXPECT_EQ(0u, info.st_mode & (S_IWGRP | S_IWOTH)) << path;
    const bool program =
        path.find("/filter/") != std::string::npos || path.rfind("/usr/bin/", 0) == 0;
    if (S_ISREG(info.st_mode)) {
      EXPECT_EQ(program ? 0755u : 0644u, info.st_mode & 07777) << path;
    }
  }
  // Stripped binaries, copyright, changelog, extended description, shared
  // library dependencies, man pages: lintian names what is missing.
  const qvtest::ProgramResult lintian = qvcupstest::run(qvcupstest::systemTool("lintian"), {deb});
  EXPECT_EQ(0, lintian.status);
  EXPECT_EQ("", lintian.out);
  EXPECT_NE(std::string::npos,
            qvcupstest::run(dpkgDeb, {"-f", deb, "Depends"}).out.find("libcups2"));
  for (const char* ppd : {"qvm600.ppd", "qvc600.ppd"}) {
    // -R: the cupsFilter2 program is looked for under the package's root.
    const qvtest::ProgramResult r = qvcupstest::run(
        qvcupstest::systemTool("cupstestppd"), {"-R", root, root + "/usr/share/ppd/quarno/" + ppd});
    EXPECT_EQ(0, r.status) << r.out << r.err;
  }
}

}  // namespace
