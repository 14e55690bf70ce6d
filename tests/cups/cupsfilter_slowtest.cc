// cupsfilter_slowtest.cc - whole CUPS filter chains run by cupsfilter
// (pdftopdf, qvcupsfilter, Ghostscript, the model's filter). The rows pair
// up model, paper, resolution, copies, duplex and tray so that every pair of
// values meets at least once; each job must pass qvinspect --check, carry
// its settings and print Ghostscript's own rendering of the same PDF.
#include <gtest/gtest.h>

#include <sstream>

#include "cups/paper_files.h"
#include "cups/paper_table.h"
#include "tests/cups/cups_harness.h"

namespace {

using qvcupstest::Expectation;

class CupsFilter : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = qvcupstest::missingPrerequisite(); !missing.empty())
      GTEST_SKIP() << missing;
    ASSERT_EQ("", sandbox_.error());
  }
  qvcupstest::CupsSandbox sandbox_;
};

TEST_F(CupsFilter, JobsPrintWhatGhostscriptRenders) {
  struct Row {
    const char* why;
    bool mono;
    const char* paper;
    int pages, copies, xdpi, ydpi;
    const char* options;  // -o values, blank-separated
    const char* order;    // the document's pages as printed
    const char* header;   // PJL lines and PCL commands (ESC first), "|"-separated
  };
  const Row rows[] = {
      {"mono defaults", true, "A4", 2, 1, 600, 600, "", "0 1",
       "@PJL SET RESOLUTION = 600|@PJL SET SOURCETRAY = AUTO|\x1b&l0S"},
      {"mono 300 dpi, long-edge duplex, tray 2, collated copies", true, "Letter", 2, 2, 300, 300,
       "Resolution=300dpi Duplex=DuplexNoTumble InputSlot=Tray2", "0 1 0 1",
       "@PJL SET RESOLUTION = 300|@PJL SET SOURCETRAY = TRAY2|\x1b&l1S"},
      {"mono 1200 dpi, You4 by its flag, uncollated copies by the printer", true, "EnvYou4", 2, 3,
       1200, 1200, "Resolution=1200dpi Collate=False", "0 1",
       "@PJL SET RESOLUTION = 1200|\x1b&l4096a1040a6d1E|\x1b&l3X"},
      {"mono 600x300, multi-purpose tray", true, "Legal", 1, 1, 600, 300,
       "Resolution=600x300dpi InputSlot=MPTray", "0", "@PJL SET SOURCETRAY = MPTRAY"},
      {"colour defaults", false, "A4", 2, 1, 600, 600, "", "0 1",
       "@PJL SET PAPER=A4|@PJL SET RENDERMODE=COLOR|@PJL SET DUPLEX=OFF"},
      {"colour gray, uncollated copies by the filter", false, "Letter", 2, 2, 600, 600,
       "ColorModel=Gray Collate=False cupsPrintQuality=Normal InputSlot=Tray2", "0 0 1 1",
       "@PJL SET RENDERMODE=GRAYSCALE|@PJL SET APTMODE=OFF"},
      {"colour long-edge duplex turns even pages, collated copies", false, "A5", 2, 2, 600, 600,
       "Duplex=DuplexNoTumble InputSlot=Manual OutputBin=Upper", "0 1 0 1",
       "@PJL SET DUPLEX=ON|@PJL SET MANUALFEED=ON|@PJL SET OUTBIN=UPPER"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const qvcups::PaperSize* paper = qvcups::findPaperSize(row.paper);
    ASSERT_NE(nullptr, paper);
    const std::string pdf =
        qvcupstest::makeTestPdf(sandbox_.root(), row.pages, qvcups::roundedPoints(paper->width600),
                                qvcups::roundedPoints(paper->height600));
    std::vector<std::string> args = {"-n", std::to_string(row.copies), "-o",
                                     std::string("PageSize=") + row.paper};
    std::istringstream options(row.options);
    for (std::string option; options >> option;) args.insert(args.end(), {"-o", option});
    args.push_back(pdf);
    const qvtest::ProgramResult result = sandbox_.cupsfilter(row.mono, args);
    ASSERT_EQ(0, result.status) << result.err;
    qvtest::writeFile(sandbox_.file("job.prn"), result.out);
    EXPECT_EQ("", qvcupstest::inspectCheck(sandbox_.file("job.prn")));
    const std::string opts = row.options;
    Expectation expect{row.mono,
                       row.xdpi,
                       row.ydpi,
                       paper->width600,
                       paper->height600,
                       {},
                       opts.find("Gray") != std::string::npos,
                       !row.mono && opts.find("DuplexNoTumble") != std::string::npos,
                       {},
                       {}};
    std::istringstream order(row.order), header(row.header);
    for (int page; order >> page;) expect.pageOrder.push_back(page);
    for (std::string line; std::getline(header, line, '|');)
      (line[0] == '\x1b' ? expect.pcl : expect.pjl).push_back(line);
    qvcupstest::expectJobMatches(result.out, pdf, expect, sandbox_.root());
  }
}

// A job that cannot print as asked fails with its reason and sends nothing.
TEST_F(CupsFilter, RefusedJobsSayWhyAndSendNothing) {
  const std::string pdf = qvcupstest::makeTestPdf(sandbox_.root(), 1, 595, 842);
  struct Row {
    const char* why;
    bool mono;
    std::vector<std::string> args;
    const char* message;
  };
  const Row rows[] = {
      {"a PIN that is not four digits",
       true,
       {"-o", "job-password=12x4", pdf},
       "ERROR: The secure-print PIN"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const qvtest::ProgramResult result = sandbox_.cupsfilter(row.mono, row.args);
    EXPECT_NE(0, result.status);
    EXPECT_EQ("", result.out) << "a refused job must send the printer nothing";
    EXPECT_NE(std::string::npos, result.err.find(row.message)) << result.err;
  }
}

}  // namespace
