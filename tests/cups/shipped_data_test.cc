// shipped_data_test.cc - the paper table agrees with the mono printer's
// paper matching, the built PPDs, the colour geometry files and the sample
// files that ship for running the filters by hand.
#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "cups/paper_files.h"
#include "cups/paper_table.h"
#include "tests/support/run_program.h"

namespace {

// "<word>: a b ..." or "<word>\ta\tb" lines of a paper file, by word.
std::map<std::string, std::vector<int>> readPaperFile(const std::string& path) {
  std::map<std::string, std::vector<int>> out;
  std::istringstream in(qvtest::readFile(path));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string word;
    fields >> word;
    if (!word.empty() && word.back() == ':') word.pop_back();
    for (int n; fields >> n;) out[word].push_back(n);
  }
  return out;
}

TEST(ShippedData, PaperTablePpdsGeometryAndSamplesAgree) {
  // The mono printer's papers in 1/120 inch (width, length) in the order it
  // matches a page against them, the -flags bit a paper needs, and the
  // settings word that must land on it with (almost) no centring margin.
  struct PrinterPaper {
    const char* word;
    int width120, length120, flag;
  };
  constexpr PrinterPaper kPrinterPapers[] = {
      {"3x5", 360, 600, 0x200},  {"Monarch", 465, 900, 0},     {"Postcard", 473, 700, 0},
      {"Com-10", 495, 1140, 0},  {"A6", 496, 701, 0},          {"EnvYou4", 496, 1111, 0x400},
      {"DL", 520, 1039, 0},      {"B6", 590, 832, 0},          {"JISB6", 605, 860, 0},
      {"A5", 701, 992, 0},       {"C5", 767, 1082, 0},         {"B5", 832, 1180, 0},
      {"JISB5", 860, 1214, 0},   {"Exective", 870, 1260, 0},   {"A4", 992, 1403, 0},
      {"Letter", 1020, 1320, 0}, {"FOLIO", 1020, 1560, 0x100}, {"Legal", 1020, 1680, 0}};
  for (const qvcups::PaperSize& paper : qvcups::paperSizes()) {
    if (paper.monoWord == nullptr) continue;
    const int width120 = paper.width600 / 5, length120 = paper.height600 / 5;
    const PrinterPaper* chosen = nullptr;
    for (const PrinterPaper& candidate : kPrinterPapers)
      if ((candidate.flag == 0 || (paper.monoFlags & candidate.flag) != 0) &&
          candidate.length120 >= length120 && candidate.width120 >= width120 && !chosen)
        chosen = &candidate;
    ASSERT_NE(nullptr, chosen) << paper.ppdName;
    EXPECT_STREQ(paper.monoWord, chosen->word) << paper.ppdName;
    EXPECT_LE(chosen->width120 - width120, 2) << paper.ppdName << ": centring margin";
  }

  // PPD sizes within half a point of the 600-dpi sheet, 12-point margins;
  // ImagingArea in 1/600 inch from the top left, PaperDimension in points,
  // the colour raster the imaging area.
  const std::string geometry = QV_GEOMETRY_DIR;
  const auto imaging = readPaperFile(geometry + "/ImagingArea");
  const auto dimension = readPaperFile(geometry + "/PaperDimension");
  const auto raster = readPaperFile(geometry + "/paperinf");
  for (const bool mono : {true, false}) {
    ppd_file_t* ppd =
        ppdOpenFile((std::string(QV_PPD_DIR) + (mono ? "/qvm600.ppd" : "/qvc600.ppd")).c_str());
    ASSERT_NE(nullptr, ppd);
    ASSERT_GT(ppd->num_sizes, 0);
    for (int i = 0; i < ppd->num_sizes; ++i) {
      const ppd_size_t& size = ppd->sizes[i];
      if (std::string(size.name) == "Custom") continue;  // the variable size, checked elsewhere
      const qvcups::PaperSize* paper = qvcups::findPaperSize(size.name);
      ASSERT_NE(nullptr, paper) << size.name;
      SCOPED_TRACE(size.name);
      EXPECT_NEAR(paper->width600 * 0.12, size.width, 0.5);
      EXPECT_NEAR(paper->height600 * 0.12, size.length, 0.5);
      const std::vector<float> margins = {size.left, size.bottom, size.width - size.right,
                                          size.length - size.top};
      EXPECT_EQ(std::vector<float>(4, 12.0f), margins);
      if (mono) continue;
      const std::vector<int>& area = imaging.at(paper->colourWord);
      const std::vector<int> expected = {100, 100, paper->width600 - 100, paper->height600 - 100};
      EXPECT_EQ(expected, area);
      EXPECT_EQ((std::vector<int>{int(size.width), int(size.length)}),
                dimension.at(paper->colourWord));
      EXPECT_EQ((std::vector<int>{area[2] - area[0], area[3] - area[1]}),
                raster.at(paper->colourWord));
    }
    ppdClose(ppd);
  }

  // The sample files may differ by 1/100 inch at most, or a hand-run job
  // and a CUPS job would print differently.
  const std::string samples = std::string(QV_SOURCE_DIR) + "/samples";
  const auto colour = readPaperFile(samples + "/colour/paperinf");
  const auto sheets = readPaperFile(samples + "/colour/PaperDimension");
  const auto monoFile = readPaperFile(samples + "/mono/paperinf");
  int compared = 0;
  for (const qvcups::PaperSize& paper : qvcups::paperSizes()) {
    SCOPED_TRACE(paper.ppdName);
    const auto near = [&](const std::vector<int>& got, int width, int height) {
      ASSERT_EQ(2u, got.size());
      EXPECT_NEAR(width, got[0], 6);
      EXPECT_NEAR(height, got[1], 6);
      ++compared;
    };
    if (paper.colourWord && colour.count(paper.colourWord))
      near(colour.at(paper.colourWord), qvcups::colourRasterWidth(paper),
           qvcups::colourRasterHeight(paper));
    if (paper.colourWord && sheets.count(paper.colourWord)) {
      EXPECT_EQ((std::vector<int>{qvcups::roundedPoints(paper.width600),
                                  qvcups::roundedPoints(paper.height600)}),
                sheets.at(paper.colourWord));
    }
    if (paper.monoWord && monoFile.count(paper.monoWord))
      near(monoFile.at(paper.monoWord), paper.width600, paper.height600);
  }
  EXPECT_GT(compared, 3);
}

}  // namespace
