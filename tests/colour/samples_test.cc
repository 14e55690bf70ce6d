// The sample colour printer: its settings file sets every parameter, and its
// paper information, ImagingArea and PaperDimension files agree at 600 dpi.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "colour/rastertoqv.h"
#include "tests/colour/colour_front_fixture.h"

namespace {

const std::string kSamples = std::string(QV_SOURCE_DIR) + "/samples/colour/";

TEST(SamplePrinter, SettingsFileSetsAllParameters) {
  ResetRcInfo();
  const std::string rc = kSamples + "qvcolour.rc";
  ASSERT_EQ(0u, LoadRcFile(rc.c_str(), &g_rcInfo));
  EXPECT_STREQ("QV-C600", g_rcInfo.szPrinterName);

  std::set<int> seen;
  std::istringstream lines(qvtest::readFile(rc));
  char value[1024];
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line[0] == '[') continue;
    const int index = ParamSearch(line.c_str(), value, sizeof value);
    ASSERT_GE(index, 0) << line;
    EXPECT_TRUE(IsNumericalParam(index) ||
                GetKeyValue(tblQvParams[static_cast<std::size_t>(index)].pszKey, &g_rcInfo) ==
                    std::string(value))
        << "an item word the table knows: " << line;
    seen.insert(index);
  }
  EXPECT_EQ(static_cast<std::size_t>(kQvParamCount), seen.size());
  ResetRcInfo();
}

TEST(SamplePrinter, GeometryAgreesAt600Dpi) {
  qvtest::ScopedPrinterDir printer;
  printer.writeImagingArea(qvtest::readFile(kSamples + "ImagingArea"));
  printer.writePaperDimension(qvtest::readFile(kSamples + "PaperDimension"));
  const std::string paperInf = kSamples + "paperinf";
  const std::string area = qvtest::readFile(kSamples + "ImagingArea");

  for (const char* size : {"A4", "Letter", "Legal", "Executive", "A5"}) {
    SCOPED_TRACE(size);
    ResetRcInfo();
    ASSERT_EQ(0, SetSelectionParam(kParamPageSize, size, &g_rcInfo));
    std::snprintf(g_rcInfo.szPrinterName, sizeof g_rcInfo.szPrinterName, "%s",
                  printer.name().c_str());
    PjpInfo job{};
    ASSERT_EQ(0, GetPaperInf(paperInf.c_str(), &job));
    ASSERT_EQ(0, GetImagingArea(&job, &g_rcInfo));

    const std::size_t at = area.find(std::string("\n") + size + ":");
    ASSERT_NE(std::string::npos, at);
    int left = 0, top = 0, right = 0, bottom = 0;
    ASSERT_EQ(4,
              std::sscanf(area.c_str() + at + 1, "%*s %d %d %d %d", &left, &top, &right, &bottom));
    EXPECT_EQ(job.nWidth, right - left) << "page width in pixels is the imaging width";
    EXPECT_EQ(job.nHeight, bottom - top);
    // The imaging area lies on the sheet: points x 600 / 72 = pixels.
    EXPECT_LE(right, job.nPaperWidth * 600 / 72);
    EXPECT_LE(bottom, job.nPaperLength * 600 / 72);
    EXPECT_GT(left, 0);
    EXPECT_GT(top, 0);
  }
  ResetRcInfo();
}

}  // namespace
