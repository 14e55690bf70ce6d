// cupsfilter_slowtest.cc - whole CUPS filter chains (pdftopdf, then
// qvcupsfilter with Ghostscript and the model's filter) run by cupsfilter
// for a matrix of options. Every job must pass qvinspect --check, carry the
// settings it was asked for, and print exactly Ghostscript's own rendering
// of the same PDF inside the printable area.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cups/paper_table.h"
#include "tests/cups/cups_harness.h"

namespace {

using qvcupstest::Expectation;

struct MatrixCase {
  const char* why;
  bool mono;
  const char* pageSize;
  int pages;  // of the document
  int copies;
  std::vector<std::string> options;  // -o values
  Expectation expect;                // pageOrder filled from pages and copies below
  bool collated = true;
};

std::vector<int> pageOrderFor(int pages, int copies, bool collated, bool printerCopies) {
  std::vector<int> order;
  if (printerCopies) copies = 1;  // the mono printer repeats pages itself
  if (collated) {
    for (int c = 0; c < copies; ++c)
      for (int p = 0; p < pages; ++p) order.push_back(p);
  } else {
    for (int p = 0; p < pages; ++p)
      for (int c = 0; c < copies; ++c) order.push_back(p);
  }
  return order;
}

class CupsFilterMatrix : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = qvcupstest::missingPrerequisite(); !missing.empty())
      GTEST_SKIP() << missing;
    if (qvcupstest::builtProgram("qvinspect").empty())
      std::fprintf(stderr, "note: qvinspect is not built; --check is not run\n");
  }
};

TEST_F(CupsFilterMatrix, JobsPrintWhatGhostscriptRenders) {
  qvcupstest::CupsSandbox sandbox;
  ASSERT_EQ("", sandbox.error());
  const MatrixCase cases[] = {
      {"mono defaults: A4, 600 dpi",
       true,
       "A4",
       2,
       1,
       {},
       {true,
        600,
        600,
        {},
        false,
        false,
        {"@PJL SET RESOLUTION = 600", "@PJL SET SOURCETRAY = AUTO"},
        {"\x1b&l0S"}}},
      {"mono Letter at 300 dpi, long-edge duplex, tray 2",
       true,
       "Letter",
       2,
       1,
       {"Resolution=300dpi", "Duplex=DuplexNoTumble", "InputSlot=Tray2"},
       {true,
        300,
        300,
        {},
        false,
        false,
        {"@PJL SET RESOLUTION = 300", "@PJL SET SOURCETRAY = TRAY2"},
        {"\x1b&l1S"}}},
      {"mono Legal at 1200 dpi",
       true,
       "Legal",
       1,
       1,
       {"Resolution=1200dpi"},
       {true, 1200, 1200, {}, false, false, {"@PJL SET RESOLUTION = 1200"}, {"\x1b&u1200D"}}},
      {"mono A5 at 600x300 dpi, multi-purpose tray",
       true,
       "A5",
       1,
       1,
       {"Resolution=600x300dpi", "InputSlot=MPTray"},
       {true, 600, 300, {}, false, false, {"@PJL SET SOURCETRAY = MPTRAY"}, {}}},
      {"mono You4 envelope (needs the matching flag), 2 collated copies",
       true,
       "EnvYou4",
       1,
       2,
       {},
       {true, 600, 600, {}, false, false, {}, {"\x1b&l4096a1040a6d1E"}}},
      {"mono uncollated copies are the printer's",
       true,
       "Env10",
       2,
       3,
       {"Collate=False"},
       {true, 600, 600, {}, false, false, {}, {"\x1b&l3X"}},
       false},
      {"colour defaults: A4",
       false,
       "A4",
       2,
       1,
       {},
       {false,
        600,
        600,
        {},
        false,
        false,
        {"@PJL SET PAPER=A4", "@PJL SET RENDERMODE=COLOR", "@PJL SET DUPLEX=OFF"},
        {}}},
      {"colour Letter in gray",
       false,
       "Letter",
       1,
       1,
       {"ColorModel=Gray"},
       {false, 600, 600, {}, true, false, {"@PJL SET RENDERMODE=GRAYSCALE"}, {}}},
      {"colour A5 long-edge duplex turns even pages",
       false,
       "A5",
       3,
       1,
       {"Duplex=DuplexNoTumble", "InputSlot=Manual", "OutputBin=Upper"},
       {false,
        600,
        600,
        {},
        false,
        true,
        {"@PJL SET DUPLEX=ON", "@PJL SET MANUALFEED=ON", "@PJL SET OUTBIN=UPPER"},
        {}}},
      {"colour Oficio, 2 collated copies",
       false,
       "Oficio",
       2,
       2,
       {},
       {false, 600, 600, {}, false, false, {"@PJL SET PAPER=MEXICANLEGAL"}, {}}},
      {"colour uncollated copies come from the filter",
       false,
       "Legal",
       2,
       2,
       {"Collate=False", "cupsPrintQuality=Normal"},
       {false, 600, 600, {}, false, false, {"@PJL SET APTMODE=OFF"}, {}},
       false},
  };
  for (const MatrixCase& c : cases) {
    SCOPED_TRACE(c.why);
    const qvcups::PaperSize* paper = qvcups::findPaperSize(c.pageSize);
    ASSERT_NE(nullptr, paper);
    const int widthPoints = (paper->width600 * 72 + 300) / 600;
    const int heightPoints = (paper->height600 * 72 + 300) / 600;
    const std::string pdf =
        qvcupstest::makeTestPdf(sandbox.root(), "doc.pdf", c.pages, widthPoints, heightPoints);

    qvtest::ProgramRun run;
    run.path = qvcupstest::systemTool("cupsfilter");
    run.args = {"-c",
                sandbox.filesConf(),
                "-p",
                sandbox.ppd(c.mono),
                "-e",
                "-m",
                "printer/qv",
                "-n",
                std::to_string(c.copies),
                "-t",
                "matrix job",
                "-o",
                std::string("PageSize=") + c.pageSize};
    for (const std::string& option : c.options) {
      run.args.push_back("-o");
      run.args.push_back(option);
    }
    run.args.push_back(pdf);
    run.env = {{"TMPDIR", sandbox.root()}};
    const qvtest::ProgramResult result = qvtest::runProgram(run);
    ASSERT_EQ(0, result.status) << result.err;
    ASSERT_FALSE(result.out.empty()) << result.err;
    const std::string jobPath = sandbox.file("job.prn");
    qvtest::writeFile(jobPath, result.out);
    EXPECT_EQ("", qvcupstest::inspectCheck(jobPath));

    Expectation expect = c.expect;
    expect.pageOrder = pageOrderFor(c.pages, c.copies, c.collated, c.mono && !c.collated);
    const qvcupstest::Rendering rendering = qvcupstest::renderWithGhostscript(
        pdf, c.mono, expect.xdpi, expect.ydpi, paper->width600 * expect.xdpi / 600,
        paper->height600 * expect.ydpi / 600, sandbox.root());
    ASSERT_EQ(static_cast<std::size_t>(c.pages), rendering.pages.size());
    qvcupstest::expectJobMatches(result.out, rendering, expect);
    ::unlink(jobPath.c_str());
    ::unlink(pdf.c_str());
  }
  // Nothing of the jobs is left in the scratch directory but our own set-up.
  for (const std::string& name : qvtest::listDirectory(sandbox.root()))
    EXPECT_TRUE(name == "serverbin" || name == "cups-files.conf" || name == "qvm600.ppd" ||
                name == "qvc600.ppd")
        << "left behind: " << name;
}

TEST_F(CupsFilterMatrix, RefusedJobsSayWhyAndSendNothing) {
  qvcupstest::CupsSandbox sandbox;
  ASSERT_EQ("", sandbox.error());
  const std::string pdf = qvcupstest::makeTestPdf(sandbox.root(), "doc.pdf", 1, 595, 842);
  struct Case {
    const char* why;
    std::vector<std::string> options;
    const char* message;
  };
  const Case cases[] = {
      {"a PIN that is not four digits", {"job-password=12x4"}, "ERROR: The secure-print PIN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    qvtest::ProgramRun run;
    run.path = qvcupstest::systemTool("cupsfilter");
    run.args = {"-c", sandbox.filesConf(), "-p", sandbox.ppd(true), "-e", "-m", "printer/qv"};
    for (const std::string& option : c.options) {
      run.args.push_back("-o");
      run.args.push_back(option);
    }
    run.args.push_back(pdf);
    run.env = {{"TMPDIR", sandbox.root()}};
    const qvtest::ProgramResult result = qvtest::runProgram(run);
    EXPECT_NE(0, result.status);
    EXPECT_TRUE(result.out.empty()) << "a refused job must send the printer nothing";
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
  }
}

}  // namespace
