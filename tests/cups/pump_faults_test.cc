// pump_faults_test.cc - qvcupsfilter's page pump when a side fails: a stand-in Ghostscript runs
// the document as a shell script; stand-in filters read, echo or quit; the printer may be full.
// Colour jobs run in the wrapper on qvrender's pages: a real document, a printer that is full.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <regex>

#include "cups/paper_files.h"
#include "tests/support/run_program.h"

namespace {

TEST(PumpFaults, AFailureInsideAPageIsReportedOnce) {
  const char* const ended = "ERROR: Ghostscript output ends inside a page\n";
  const char* const full = "ERROR: Cannot send the job to the printer: No space left on device\n";
  // Model, what Ghostscript writes after the A4 page header (colour: the document), the filter
  // (its title), ERROR: lines.
  const std::tuple<bool, const char*, const char*, std::string> cases[] = {
      {true, "head -c 1000000 /dev/zero", "reads", ended},
      {true, "exec cat /dev/zero", "quits",
       "ERROR: Cannot send the page to the filter: Broken pipe\n"
       "ERROR: rawtoqv failed (exit status 3)\n"},
      {true, "head -c 4349920 /dev/zero", "echoes", full},  // a whole page to a full printer
      {false, "%!PS\nshowpage\n", "echoes", full},
      {false, "%!PS\nnot-an-operator\n", "reads",
       "ERROR: The document cannot be rendered: Ghostscript failed (exit status 2)\n"}};
  qvtest::ScopedTempDir dir;
  std::filesystem::create_symlink(QVRENDER_PATH, dir.file("qvrender"));
  // The colour job reads the printer's geometry under /opt/quarno: a printer of this test's own.
  const std::string printer = "QVT" + std::to_string(::getpid()) + "pump",
                    geometry = "/opt/quarno/" + printer + "/bin/inf/";
  const bool root = ::geteuid() == 0 && std::filesystem::create_directories(geometry);
  if (root) {
    qvtest::writeFile(geometry + "ImagingArea", qvcups::imagingAreaFile());
    qvtest::writeFile(geometry + "PaperDimension", qvcups::paperDimensionFile());
    qvtest::writeFile(dir.file("qvc600.ppd"),
                      std::regex_replace(qvtest::readFile(QV_PPD_DIR "/qvc600.ppd"),
                                         std::regex("QV-C600\""), printer + "\""));
  }
  for (const std::string name : {"gs", "rawtoqv", "rastertoqv"}) {  // gs runs the document
    qvtest::writeFile(dir.file(name), name == "gs" ? "#!/bin/sh\nfor a; do :; done; . \"$a\"\n"
                                                   : "#!/bin/sh\ncase $TITLE in quits) exit 3;; "
                                                     "echoes) exec cat;; esac\n"
                                                     "exec cat >/dev/null\n");
    std::filesystem::permissions(dir.file(name), std::filesystem::perms::owner_all);
  }
  for (const auto& [mono, raster, filter, errors] : cases) {
    SCOPED_TRACE(raster);
    if (!mono && !root) continue;  // no geometry of our own without root
    qvtest::writeFile(dir.file("doc"), mono ? "printf 'P4\\n4960 7016\\n'; " + std::string(raster)
                                            : std::string(raster));
    const qvtest::ProgramResult result = qvtest::runProgram(
        {"/bin/sh",  // the printer full for the echoing filter
         {"-c", "[ $3 = echoes ] && exec \"$0\" \"$@\" >/dev/full; exec \"$0\" \"$@\"",
          QVCUPSFILTER_PATH, "1", "alice", filter, "1", "PageSize=A4", dir.file("doc")},
         {{"PPD", mono ? QV_PPD_DIR "/qvm600.ppd" : dir.file("qvc600.ppd")},
          {"PATH", dir.path() + ":/usr/bin:/bin"},
          {"QV_FILTER_DIR", dir.path()},
          {"TMPDIR", dir.path()}},
         ""});
    EXPECT_EQ(1, result.status);
    std::istringstream lines(result.err);
    std::string seen;
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("ERROR:")) seen += line + "\n";
    EXPECT_EQ(errors, seen) << result.err;
  }
  std::filesystem::remove_all("/opt/quarno/" + printer);
}

}  // namespace
