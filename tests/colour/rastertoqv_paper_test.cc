// Page geometry: the paper information file and the printer's ImagingArea and
// PaperDimension files, with every status and message.
#include <gtest/gtest.h>

#include <string>

#include "colour/rastertoqv.h"
#include "tests/colour/colour_front_fixture.h"

namespace {

// Chooses the page size in the job's settings record.
void choosePageSize(const char* size) {
  ResetRcInfo();
  ASSERT_EQ(0, SetSelectionParam(kParamPageSize, size, &g_rcInfo));
}

struct PaperResult {
  int status;
  std::string err;
  int width, height;
};

PaperResult readPaperInf(const std::string& text, const char* size = "A4") {
  choosePageSize(size);
  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("paperinf"), text);
  PjpInfo job{};
  testing::internal::CaptureStderr();
  const int status = GetPaperInf(dir.file("paperinf").c_str(), &job);
  return {status, testing::internal::GetCapturedStderr(), job.nWidth, job.nHeight};
}

constexpr const char* kHead = "name width height dpi\n";
constexpr const char* kFormatError = "Error: A4 :invalid format found in paperinf !!\n";
constexpr const char* kNotFound = "Error: A4: paper info not found in paperinf !!\n";

TEST(GetPaperInf, FindsThePageSize) {
  struct Case {
    const char* why;
    std::string text;
    int width, height;
  };
  const Case cases[] = {
      {"plain line", std::string(kHead) + "A4: 4760 6812\n", 4760, 6812},
      {"A4Long: is another paper", std::string(kHead) + "A4Long: 1 1\nA4: 10 4\n", 10, 4},
      {"anything may follow the colon", std::string(kHead) + "A4:portrait 10 4\n", 10, 4},
      {"the first matching line wins", std::string(kHead) + "A4: 10 4\nA4: 20 8\n", 10, 4},
      {"last line without a line feed", std::string(kHead) + "Letter: 5 5\nA4: 10 4", 10, 4},
      {"tabs and blank lines are white space", std::string(kHead) + "\n\nA4:\t10\t4\n\n", 10, 4},
      {"largest page the writer takes", std::string(kHead) + "A4: 7200 32767\n", 7200, 32767},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const PaperResult r = readPaperInf(c.text);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(c.width, r.width);
    EXPECT_EQ(c.height, r.height);
  }
}

TEST(GetPaperInf, Failures) {
  struct Case {
    const char* why;
    std::string text;
    int status;
    const char* err;
  };
  const std::string head = kHead;
  const Case cases[] = {
      {"empty file: no first line", "", 6, kFormatError},
      {"first line of three words", "a b c\n", 6, kFormatError},
      {"only the first line", head, 7, kNotFound},
      {"no line for A4", head + "Letter: 12 3\n", 7, kNotFound},
      {"a number that is not one", head + "A4: ten 4\n", 6, kFormatError},
      {"a malformed line before the match", head + "Letter: 12\nA4: 10 4\n", 6, kFormatError},
      {"width 0", head + "A4: 0 4\n", 6, kFormatError},
      {"negative width", head + "A4: -10 4\n", 6, kFormatError},
      {"wider than the writer's line buffers", head + "A4: 7201 4\n", 6, kFormatError},
      {"height 0", head + "A4: 10 0\n", 6, kFormatError},
      {"taller than a 16-bit height", head + "A4: 10 32768\n", 6, kFormatError},
      {"a width that overflows any integer", head + "A4: 99999999999999999999 4\n", 6,
       kFormatError},
      {"a first-line word over 63 characters", std::string(64, 'w') + " b c d\nA4: 10 4\n", 6,
       kFormatError},
      {"a name word over 1024 characters", head + std::string(1025, 'n') + " 1 1\nA4: 10 4\n", 6,
       kFormatError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const PaperResult r = readPaperInf(c.text);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.err, r.err);
  }
}

TEST(GetPaperInf, CannotOpen) {
  choosePageSize("A4");
  PjpInfo job{};
  testing::internal::CaptureStderr();
  EXPECT_EQ(1, GetPaperInf("/nonexistent/paperinf", &job));
  EXPECT_EQ("Error: /nonexistent/paperinf :cannot open file !!\n",
            testing::internal::GetCapturedStderr());

  qvtest::ScopedTempDir dir;  // a directory opens, but cannot be read
  testing::internal::CaptureStderr();
  EXPECT_EQ(1, GetPaperInf(dir.path().c_str(), &job));
  EXPECT_EQ("Error: " + dir.path() + " :cannot open file !!\n",
            testing::internal::GetCapturedStderr());
}

struct AreaResult {
  int status;
  std::string err;
  int paperWidth, paperLength;
};

AreaResult readGeometry(const qvtest::ScopedPrinterDir& printer, const char* size = "A4") {
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
      {"missing in both", "Letter:\t1\t2\t3\t4\n", "Letter:\t612\t792\n", 7, 0, 0, true},
      {"a leading blank hides the line", " A4:\t1\t2\t3\t4\n", " A4:\t595\t842\n", 7, 0, 0, true},
      {"ImagingArea line with three numbers", "A4:\t1\t2\t3\n", "A4:\t595\t842\n", 13, 0, 0, false},
      {"PaperDimension line with one number", "A4:\t1\t2\t3\t4\n", "A4:\t595\n", 14, 0, 0, false},
      {"PaperDimension beyond a 16-bit field", "A4:\t1\t2\t3\t4\n", "A4:\t595\t40000\n", 14, 0, 0,
       false},
      {"negative paper width", "A4:\t1\t2\t3\t4\n", "A4:\t-595\t842\n", 14, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    qvtest::ScopedPrinterDir printer;
    printer.writeImagingArea(c.imagingArea);
    printer.writePaperDimension(c.paperDimension);
    const AreaResult r = readGeometry(printer);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.message ? kNotFound : "", r.err);
    if (c.status == 0) {
      EXPECT_EQ(c.width, r.paperWidth);
      EXPECT_EQ(c.length, r.paperLength);
    }
  }
}

TEST(GetImagingArea, MissingFiles) {
  qvtest::ScopedPrinterDir printer;
  AreaResult r = readGeometry(printer);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Error: " + printer.imagingAreaPath() + " :cannot open file !!\n", r.err);

  printer.writeImagingArea("A4:\t1\t2\t3\t4\n");
  r = readGeometry(printer);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Error: " + printer.paperDimensionPath() + " :cannot open file !!\n", r.err);

  ASSERT_EQ(0, ::mkdir(printer.paperDimensionPath().c_str(), 0755));
  r = readGeometry(printer);
  EXPECT_EQ(1, r.status) << "a directory is no geometry file";
  EXPECT_EQ("Error: " + printer.paperDimensionPath() + " :cannot open file !!\n", r.err);
}

TEST(GetImagingArea, LongLineTailIsNotALine) {
  qvtest::ScopedPrinterDir printer;
  // The first 1023 characters fill the read buffer; the tail begins "A4:".
  const std::string comment = "#" + std::string(1022, 'c');
  printer.writeImagingArea(comment + "A4:\t1\t2\t3\t4\n");
  printer.writePaperDimension(comment + "A4:\t595\t842\n");
  EXPECT_EQ(7, readGeometry(printer).status);
}

}  // namespace
