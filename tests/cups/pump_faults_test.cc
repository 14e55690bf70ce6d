// pump_faults_test.cc - qvcupsfilter's page pump (pages moved by splice)
// when one side fails in the middle of a page: a stand-in Ghostscript runs
// the document as a shell script, and stand-in filters read or quit.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/run_program.h"

namespace {

TEST(PumpFaults, AFailureInsideAPageIsReportedOnce) {
  struct Case {
    bool mono;
    const char* gs;
    const char* filter;
    const char* errors;
  };
  const Case cases[] = {
      {true, "printf 'P4\\n4960 7016\\n'; head -c 1000000 /dev/zero", "reads",
       "ERROR: Ghostscript output ends inside a page\n"},
      {false, "printf 'P6\\n4960 7016\\n255\\n'; head -c 3000000 /dev/zero", "reads",
       "ERROR: Ghostscript output ends inside a page\n"
       "ERROR: rastertoqv failed (killed by signal 15)\n"},
      {true, "printf 'P4\\n4960 7016\\n'; exec cat /dev/zero", "quits",
       "ERROR: Cannot send the page to the filter: Broken pipe\nERROR: rawtoqv failed (exit status "
       "3)\n"},
      {false, "printf 'P6\\n4960 7016\\n255\\n'; exec cat /dev/zero", "quits",
       "ERROR: Cannot send the page to the filter: Broken pipe\n"
       "ERROR: rastertoqv failed (exit status 3)\n"},
  };
  qvtest::ScopedTempDir dir;
  const auto script = [&](const char* name, const std::string& body) {
    qvtest::writeFile(dir.file(name), "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(dir.file(name), std::filesystem::perms::owner_all);
  };
  script("gs", "for last; do :; done; exec /bin/sh \"$last\"");  // the document is the script
  for (const char* filter : {"rawtoqv", "rastertoqv"})
    script(filter, "[ \"$TITLE\" = quits ] && exit 3; exec cat >/dev/null");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gs);
    qvtest::writeFile(dir.file("doc"), c.gs);
    const qvtest::ProgramResult result = qvtest::runProgram(
        {QVCUPSFILTER_PATH,
         {"1", "alice", c.filter, "1", "PageSize=A4", dir.file("doc")},
         {{"PPD", std::string(QV_PPD_DIR) + (c.mono ? "/qvm600.ppd" : "/qvc600.ppd")},
          {"PATH", dir.path() + ":/usr/bin:/bin"},
          {"QV_FILTER_DIR", dir.path()},
          {"TMPDIR", dir.path()}},
         ""});
    EXPECT_EQ(1, result.status);
    std::istringstream lines(result.err);
    std::string errors;
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("ERROR:")) errors += line + "\n";
    EXPECT_EQ(c.errors, errors) << result.err;
  }
}

}  // namespace
