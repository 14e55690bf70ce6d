// Page geometry: the paper information file and the printer's ImagingArea and
// PaperDimension files. Missing and unreadable files are run against the
// binary in tests/e2e/colour_front_test.cc.
#include <gtest/gtest.h>

#include <string>

#include "colour/rastertoqv.h"
#include "tests/support/colour_printer.h"

namespace {

// Chooses the page size in the job's settings record.
void choosePageSize(const char* size) {
  ResetRcInfo();
  ASSERT_EQ(0, SetSelectionParam(kParamPageSize, size, &g_rcInfo));
}

constexpr const char* kNotFound = "Error: A4: paper info not found in paperinf !!\n";

TEST(GetPaperInf, PageSizeOrStatus) {
  struct Case {
    const char* why;
    std::string body;  // after the first line, unless `whole`
    int status;
    int width = 0, height = 0;
    bool whole = false;
  };
  const char* kFormat = "Error: A4 :invalid format found in paperinf !!\n";
  const Case cases[] = {
      {"plain line", "A4: 4760 6812\n", 0, 4760, 6812},
      {"A4Long: is another paper", "A4Long: 1 1\nA4: 10 4\n", 0, 10, 4},
      {"anything may follow the colon", "A4:portrait 10 4\n", 0, 10, 4},
      {"the first matching line wins", "A4: 10 4\nA4: 20 8\n", 0, 10, 4},
      {"last line without a line feed", "Letter: 5 5\nA4: 10 4", 0, 10, 4},
      {"tabs and blank lines are white space", "\n\nA4:\t10\t4\n\n", 0, 10, 4},
      {"largest page the writer takes", "A4: 7200 32767\n", 0, 7200, 32767},
      {"only the first line", "", 7},
      {"first line of three words", "a b c\n", 6, 0, 0, true},
      {"a number that is not one", "A4: ten 4\n", 6},
      {"a malformed line before the match", "Letter: 12\nA4: 10 4\n", 6},
      {"width 0", "A4: 0 4\n", 6},
      {"negative width", "A4: -10 4\n", 6},
      {"taller than a 16-bit height", "A4: 10 32768\n", 6},
      {"a width that overflows any integer", "A4: 99999999999999999999 4\n", 6},
      {"a first-line word over 63 characters", std::string(64, 'w') + " b c d\nA4: 10 4\n", 6, 0, 0,
       true},
      {"a name word over 1024 characters", std::string(1025, 'n') + " 1 1\nA4: 10 4\n", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    choosePageSize("A4");
    qvtest::ScopedTempDir dir;
    qvtest::writeFile(dir.file("paperinf"), (c.whole ? "" : "name width height dpi\n") + c.body);
    PjpInfo job{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.status, GetPaperInf(dir.file("paperinf").c_str(), &job));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.status == 0 ? "" : c.status == 7 ? kNotFound : kFormat, err);
    EXPECT_EQ(c.width, job.nWidth);
    EXPECT_EQ(c.height, job.nHeight);
  }
}

struct AreaResult {
  int status;
  std::string err;
  int paperWidth, paperLength;
};

AreaResult readGeometry(const colourtest::TestPrinter& printer, const char* size = "A4") {
  choosePageSize(size);
  std::snprintf(g_rcInfo.szPrinterName, sizeof g_rcInfo.szPrinterName, "%s",
                printer.name().c_str());
  PjpInfo job{};
  testing::internal::CaptureStderr();
  const int status = GetImagingArea(&job, &g_rcInfo);
  return {status, testing::internal::GetCapturedStderr(), job.nPaperWidth, job.nPaperLength};
}

TEST(GetImagingArea, PaperSizeFromTheGeometryFiles) {
  struct Case {
    const char* why;
    const char* imagingArea;
    const char* paperDimension;
    int status;
    int width, length;  // checked when status is 0
    bool message;       // "paper info not found" on stderr
  };
  const Case cases[] = {
      {"both files know A4", "A4:\t1\t2\t3\t4\n", "A4:\t595\t842\n", 0, 595, 842, false},
      {"comments and other papers first", "# c\nLetter:\t1\t2\t3\t4\nA4:\t1\t2\t3\t4\n",
       "\n# c\nA4Long:\t1\t1\nA4:\t595\t842\n", 0, 595, 842, false},
      {"blanks are white space too", "A4: 1 2 3 4\n", "A4: 595 842", 0, 595, 842, false},
      {"missing in ImagingArea only: accepted", "Letter:\t1\t2\t3\t4\n", "A4:\t595\t842\n", 0, 595,
       842, false},
      {"missing in PaperDimension only: paper size 0", "A4:\t1\t2\t3\t4\n", "Letter:\t612\t792\n",
       0, 0, 0, false},
      {"a leading blank hides the line", " A4:\t1\t2\t3\t4\n", " A4:\t595\t842\n", 7, 0, 0, true},
      {"PaperDimension line with one number", "A4:\t1\t2\t3\t4\n", "A4:\t595\n", 14, 0, 0, false},
      {"PaperDimension beyond a 16-bit field", "A4:\t1\t2\t3\t4\n", "A4:\t595\t40000\n", 14, 0, 0,
       false},
      {"negative paper width", "A4:\t1\t2\t3\t4\n", "A4:\t-595\t842\n", 14, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    colourtest::TestPrinter printer;
    printer.writeGeometry("ImagingArea", c.imagingArea);
    printer.writeGeometry("PaperDimension", c.paperDimension);
    const AreaResult r = readGeometry(printer);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.message ? kNotFound : "", r.err);
    if (c.status == 0) {
      EXPECT_EQ(c.width, r.paperWidth);
      EXPECT_EQ(c.length, r.paperLength);
    }
  }
}

TEST(GetImagingArea, LongLineTailIsNotALine) {
  colourtest::TestPrinter printer;
  // The first 1023 characters fill the read buffer; the tail begins "A4:".
  const std::string comment = "#" + std::string(1022, 'c');
  printer.writeGeometry("ImagingArea", comment + "A4:\t1\t2\t3\t4\n");
  printer.writeGeometry("PaperDimension", comment + "A4:\t595\t842\n");
  EXPECT_EQ(7, readGeometry(printer).status);
}

}  // namespace
