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
      {"mono 300 dpi, tray 2, long-edge duplex: each collated copy starts on a new sheet", true,
       "Letter", 3, 2, 300, 300, "Resolution=300dpi Duplex=DuplexNoTumble InputSlot=Tray2",
       "0 1 2 -1 0 1 2", "@PJL SET RESOLUTION = 300|@PJL SET SOURCETRAY = TRAY2|\x1b&l1S"},
      {"mono 1200 dpi, You4 by its flag, uncollated copies by the printer", true, "EnvYou4", 2, 3,
       1200, 1200, "Resolution=1200dpi Collate=False", "0 1",
       "@PJL SET RESOLUTION = 1200|\x1b&l4096a1040a6d1E|\x1b&l3X"},
      {"mono 600x300, multi-purpose tray", true, "Legal", 1, 1, 600, 300,
       "Resolution=600x300dpi InputSlot=MPTray", "0", "@PJL SET SOURCETRAY = MPTRAY"},
      {"mono custom 5 x 7 inch: the custom paper, centred as on Legal width", true,
       "Custom.360x504", 1, 1, 600, 600, "", "0", "\x1b&l4096a101a6d1E"},
      {"colour defaults", false, "A4", 2, 1, 600, 600, "", "0 1",
       "@PJL SET PAPER=A4|@PJL SET RENDERMODE=COLOR|@PJL SET DUPLEX=OFF"},
      {"colour gray, uncollated copies by the filter", false, "Letter", 2, 2, 600, 600,
       "ColorModel=Gray Collate=False cupsPrintQuality=Normal InputSlot=Tray2", "0 0 1 1",
       "@PJL SET RENDERMODE=GRAYSCALE|@PJL SET APTMODE=OFF"},
      {"colour long-edge duplex turns even pages, a blank back before copy 2", false, "A5", 3, 2,
       600, 600, "Duplex=DuplexNoTumble InputSlot=Manual OutputBin=Upper", "0 1 2 -1 0 1 2",
       "@PJL SET DUPLEX=ON|@PJL SET MANUALFEED=ON|@PJL SET OUTBIN=UPPER"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Expectation expect;  // the sheet: the table's dots, or a custom size's points
    int width = 0, height = 0;
    if (const qvcups::PaperSize* paper = qvcups::findPaperSize(row.paper)) {
      expect.width600 = paper->width600;
      expect.height600 = paper->height600;
    } else {
      ASSERT_EQ(2, std::sscanf(row.paper, "Custom.%dx%d", &width, &height));
      expect.width600 = width * 600 / 72;
      expect.height600 = height * 600 / 72;
      expect.shift = 131;  // (1020 - 600) x 3 / 720 inch, in bytes
    }
    width = qvcups::roundedPoints(static_cast<int>(expect.width600));
    height = qvcups::roundedPoints(static_cast<int>(expect.height600));
    const std::string pdf = qvcupstest::makeTestPdf(sandbox_.root(), row.pages, width, height);
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
    expect.mono = row.mono;
    expect.xdpi = row.xdpi;
    expect.ydpi = row.ydpi;
    expect.gray = opts.find("Gray") != std::string::npos;
    expect.rotateEvenPages = !row.mono && opts.find("DuplexNoTumble") != std::string::npos;
    std::istringstream order(row.order), header(row.header);
    for (int page; order >> page;) expect.pageOrder.push_back(page);
    for (std::string line; std::getline(header, line, '|');)
      (line[0] == '\x1b' ? expect.pcl : expect.pjl).push_back(line);
    qvcupstest::expectJobMatches(result.out, pdf, expect, sandbox_.root());
  }
}

// A job that cannot print as asked says why on one line; one that fails
// sends the printer nothing more than it could print.
TEST_F(CupsFilter, JobsThatCannotPrintAsAskedSayWhy) {
  const std::string pdf = qvcupstest::makeTestPdf(sandbox_.root(), 1, 595, 842);
  const std::string corrupt = sandbox_.file("corrupt.pdf");
  qvtest::writeFile(corrupt, "%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>>\n%%EOF\n");
  struct Row {
    const char* why;
    bool mono;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Row rows[] = {
      {"a PIN that is not four digits",
       true,
       {"-o", "job-password=12x4", pdf},
       1,
       "ERROR: The secure-print PIN"},
      {"a corrupt PDF, mono", true, {corrupt}, 1, "ERROR: The document cannot be rendered"},
      {"a corrupt PDF, colour", false, {corrupt}, 1, "ERROR: The document cannot be rendered"},
      {"a custom size beyond the mono printer's",
       true,
       {"-o", "PageSize=Custom.700x1100", pdf},
       0,
       "WARNING: Page size \"Custom.700x1100\" is not supported by the Quarno QV M600; "
       "printing on A4 instead."},
      {"no custom size on the colour printer",
       false,
       {"-o", "media=Custom.300x500", pdf},
       0,
       "WARNING: Page size \"Custom.300x500\" is not supported"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const qvtest::ProgramResult result = sandbox_.cupsfilter(row.mono, row.args);
    EXPECT_EQ(row.status, result.status);
    EXPECT_EQ(row.status == 0, !result.out.empty()) << "a failed job sends the printer nothing";
    EXPECT_NE(std::string::npos, result.err.find(row.message)) << result.err;
  }
  // The printer's side gone (a full disk for a file device, a closed
  // socket): the first lost write ends the job with one ERROR: line, on
  // either model, whatever the filter makes of its own write errors.
  for (const bool mono : {true, false}) {
    const qvtest::ProgramResult result = qvcupstest::run(
        "/bin/sh",
        {"-c", "exec \"$0\" 1 alice title 1 '' \"$1\" >/dev/full", QVCUPSFILTER_PATH, pdf},
        {{"PPD", sandbox_.ppd(mono)},
         {"TMPDIR", sandbox_.root()},
         {"QV_FILTER_DIR", sandbox_.serverBin() + "/filter"}});
    EXPECT_EQ(1, result.status);
    std::istringstream lines(result.err);
    std::vector<std::string> errors;
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("ERROR:", 0) == 0) errors.push_back(line);
    EXPECT_EQ(std::vector<std::string>{"ERROR: Cannot send the job to the printer: No space left "
                                       "on device"},
              errors);
  }
}

}  // namespace
