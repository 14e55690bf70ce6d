// pump_faults_test.cc - qvcupsfilter's page pump when a side fails: a stand-in Ghostscript runs
// the document as a shell script; stand-in filters read, echo or quit; the printer may be full.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/run_program.h"

namespace {

TEST(PumpFaults, AFailureInsideAPageIsReportedOnce) {
  const char* const ended = "ERROR: Ghostscript output ends inside a page\n";
  const char* const full = "ERROR: Cannot send the job to the printer: No space left on device\n";
  // Model, what Ghostscript writes after the A4 page header, the filter (its title), ERROR: lines.
  const std::tuple<bool, const char*, const char*, std::string> cases[] = {
      {true, "head -c 1000000 /dev/zero", "reads", ended},
      {false, "head -c 3000000 /dev/zero", "reads",
       ended + std::string("ERROR: rastertoqv failed (killed by signal 15)\n")},
      {true, "exec cat /dev/zero", "quits",
       "ERROR: Cannot send the page to the filter: Broken pipe\n"
       "ERROR: rawtoqv failed (exit status 3)\n"},
      {true, "head -c 4349920 /dev/zero", "echoes", full},  // a whole page to a full printer
      {false, "head -c 104398080 /dev/zero", "echoes", full}};
  qvtest::ScopedTempDir dir;
  for (const std::string name : {"gs", "rawtoqv", "rastertoqv"}) {  // gs runs the document
    qvtest::writeFile(dir.file(name), name == "gs" ? "#!/bin/sh\nfor a; do :; done; . \"$a\"\n"
                                                   : "#!/bin/sh\ncase $TITLE in quits) exit 3;; "
                                                     "echoes) exec cat;; esac\n"
                                                     "exec cat >/dev/null\n");
    std::filesystem::permissions(dir.file(name), std::filesystem::perms::owner_all);
  }
  for (const auto& [mono, raster, filter, errors] : cases) {
    SCOPED_TRACE(raster);
    qvtest::writeFile(dir.file("doc"), std::string(mono ? "printf 'P4\\n4960 7016\\n'; "
                                                        : "printf 'P6\\n4960 7016\\n255\\n'; ") +
                                           raster);
    const qvtest::ProgramResult result = qvtest::runProgram(
        {"/bin/sh",  // the printer full for the echoing filter
         {"-c", "[ $3 = echoes ] && exec \"$0\" \"$@\" >/dev/full; exec \"$0\" \"$@\"",
          QVCUPSFILTER_PATH, "1", "alice", filter, "1", "PageSize=A4", dir.file("doc")},
         {{"PPD", std::string(QV_PPD_DIR) + (mono ? "/qvm600.ppd" : "/qvc600.ppd")},
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
}

}  // namespace
