// paper_table_test.cc - the paper table agrees with the printers, with the
// generated PPDs and geometry files, and with the sample files.
#include "cups/paper_table.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cups/paper_files.h"
#include "tests/support/run_program.h"

namespace {

using qvcups::PaperSize;

// The mono printer's own paper list in 1/120 inch (shorter side, longer
// side), in the order it matches a page against it, and the -flags bit a
// paper needs to be eligible. Taken from the printer's documentation.
struct PrinterPaper {
  const char* name;
  int width120, length120, flag;
};
constexpr PrinterPaper kMonoPrinterPapers[] = {
    {"3x5", 360, 600, 0x200},  {"MONARCH", 465, 900, 0},     {"HAGAKI", 473, 700, 0},
    {"COM10", 495, 1140, 0},   {"A6", 496, 701, 0},          {"EnvYou4", 496, 1111, 0x400},
    {"DL", 520, 1039, 0},      {"B6", 590, 832, 0},          {"JISB6", 605, 860, 0},
    {"A5", 701, 992, 0},       {"C5", 767, 1082, 0},         {"B5", 832, 1180, 0},
    {"JISB5", 860, 1214, 0},   {"EXECUTIVE", 870, 1260, 0},  {"A4", 992, 1403, 0},
    {"LETTER", 1020, 1320, 0}, {"FOLIO", 1020, 1560, 0x100}, {"LEGAL", 1020, 1680, 0},
};

// Which printer paper each mono settings word must land on.
const std::map<std::string, std::string> kMonoPaperFor = {
    {"A4", "A4"},           {"Letter", "LETTER"},   {"Legal", "LEGAL"}, {"Exective", "EXECUTIVE"},
    {"A5", "A5"},           {"A6", "A6"},           {"B5", "B5"},       {"JISB5", "JISB5"},
    {"B6", "B6"},           {"JISB6", "JISB6"},     {"DL", "DL"},       {"C5", "C5"},
    {"Com-10", "COM10"},    {"Monarch", "MONARCH"}, {"3x5", "3x5"},     {"FOLIO", "FOLIO"},
    {"Postcard", "HAGAKI"}, {"EnvYou4", "EnvYou4"},
};

// A page on a paper wider than itself is shifted right by the difference;
// the table's sizes must land on their own paper with (almost) none.
TEST(PaperTable, MonoSizesLandOnTheirOwnPaper) {
  for (const PaperSize& paper : qvcups::paperSizes()) {
    if (paper.monoWord == nullptr) continue;
    SCOPED_TRACE(paper.ppdName);
    const int width120 = paper.width600 / 5, length120 = paper.height600 / 5;
    const PrinterPaper* chosen = nullptr;
    for (const PrinterPaper& candidate : kMonoPrinterPapers) {
      if (candidate.flag != 0 && (paper.monoFlags & candidate.flag) == 0) continue;
      if (candidate.length120 >= length120 && candidate.width120 >= width120) {
        chosen = &candidate;
        break;
      }
    }
    ASSERT_NE(nullptr, chosen);
    ASSERT_TRUE(kMonoPaperFor.count(paper.monoWord));
    EXPECT_EQ(kMonoPaperFor.at(paper.monoWord), chosen->name);
    EXPECT_LE(chosen->width120 - width120, 2) << "centring margin below one byte";
  }
}

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};

// "<word>: a b ..." or "<word>\ta\tb" lines of a paper file, by word.
std::map<std::string, std::vector<int>> readPaperFile(const std::string& path, bool colon) {
  std::map<std::string, std::vector<int>> out;
  std::istringstream in(qvtest::readFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string word;
    fields >> word;
    if (colon) {
      if (word.empty() || word.back() != ':') continue;
      word.pop_back();
    }
    std::vector<int> numbers;
    int n;
    while (fields >> n) numbers.push_back(n);
    out[word] = numbers;
  }
  return out;
}

// The PPD's PaperDimension and ImageableArea against the geometry files
// installed for the colour printer, and both against the paper table.
TEST(PaperTable, PpdsAgreeWithGeometryFiles) {
  const auto imaging = readPaperFile(std::string(QV_GEOMETRY_DIR) + "/ImagingArea", true);
  const auto dimension = readPaperFile(std::string(QV_GEOMETRY_DIR) + "/PaperDimension", true);
  const auto raster = readPaperFile(std::string(QV_GEOMETRY_DIR) + "/paperinf", true);
  for (const char* file : {"qvm600.ppd", "qvc600.ppd"}) {
    SCOPED_TRACE(file);
    std::unique_ptr<ppd_file_t, PpdCloser> ppd(
        ppdOpenFile((std::string(QV_PPD_DIR) + "/" + file).c_str()));
    ASSERT_TRUE(ppd);
    ASSERT_GT(ppd->num_sizes, 0);
    for (int i = 0; i < ppd->num_sizes; ++i) {
      const ppd_size_t& size = ppd->sizes[i];
      SCOPED_TRACE(size.name);
      const PaperSize* paper = qvcups::findPaperSize(size.name);
      ASSERT_NE(nullptr, paper);
      // Within half a point of the 600-dpi sheet the filters render.
      EXPECT_NEAR(paper->width600 * 0.12, size.width, 0.5);
      EXPECT_NEAR(paper->height600 * 0.12, size.length, 0.5);
      EXPECT_NEAR(12.0, size.left, 0.01);
      EXPECT_NEAR(12.0, size.bottom, 0.01);
      EXPECT_NEAR(size.width - 12.0, size.right, 0.01);
      EXPECT_NEAR(size.length - 12.0, size.top, 0.01);
      if (paper->colourWord == nullptr || file[2] == 'm') continue;
      // Geometry: ImagingArea in 1/600 inch from the top left, PaperDimension
      // in points, paperinf the raster of the imaging area.
      ASSERT_TRUE(imaging.count(paper->colourWord));
      const std::vector<int>& area = imaging.at(paper->colourWord);
      ASSERT_EQ(4u, area.size());
      EXPECT_NEAR(size.left, area[0] * 0.12, 0.5);
      EXPECT_NEAR(size.length - size.top, area[1] * 0.12, 0.5);
      EXPECT_NEAR(size.right, area[2] * 0.12, 0.5);
      EXPECT_NEAR(size.length - size.bottom, area[3] * 0.12, 0.5);
      const std::vector<int> sheet = {static_cast<int>(size.width), static_cast<int>(size.length)};
      EXPECT_EQ(sheet, dimension.at(paper->colourWord));
      const std::vector<int> pixels = {area[2] - area[0], area[3] - area[1]};
      EXPECT_EQ(pixels, raster.at(paper->colourWord));
    }
  }
}

// The sample printer files that ship for running the filters by hand list
// a few of the same sizes; they must not disagree with the driver by more
// than 1/100 inch (6 dots), or a hand-run job and a CUPS job would differ.
TEST(PaperTable, SampleFilesAgreeWithTheTable) {
  const std::string samples = std::string(QV_SOURCE_DIR) + "/samples";
  const std::string colourInf = samples + "/colour/paperinf";
  const std::string monoInf = samples + "/mono/paperinf";
  if (::access(colourInf.c_str(), R_OK) != 0 || ::access(monoInf.c_str(), R_OK) != 0)
    GTEST_SKIP() << "sample paper files not in this tree";
  const auto colour = readPaperFile(colourInf, true);
  const auto dimension = readPaperFile(samples + "/colour/PaperDimension", true);
  const auto mono = readPaperFile(monoInf, false);
  int compared = 0;
  for (const PaperSize& paper : qvcups::paperSizes()) {
    SCOPED_TRACE(paper.ppdName);
    if (paper.colourWord != nullptr && colour.count(paper.colourWord)) {
      const std::vector<int>& size = colour.at(paper.colourWord);
      ASSERT_EQ(2u, size.size());
      EXPECT_NEAR(qvcups::colourRasterWidth(paper), size[0], 6);
      EXPECT_NEAR(qvcups::colourRasterHeight(paper), size[1], 6);
      ++compared;
    }
    if (paper.colourWord != nullptr && dimension.count(paper.colourWord)) {
      const std::vector<int> sheet = {qvcups::roundedPoints(paper.width600),
                                      qvcups::roundedPoints(paper.height600)};
      EXPECT_EQ(sheet, dimension.at(paper.colourWord));
    }
    if (paper.monoWord != nullptr && mono.count(paper.monoWord)) {
      const std::vector<int>& size = mono.at(paper.monoWord);
      ASSERT_EQ(2u, size.size());
      EXPECT_NEAR(paper.width600, size[0], 6);
      EXPECT_NEAR(paper.height600, size[1], 6);
      ++compared;
    }
  }
  EXPECT_GT(compared, 3);
}

}  // namespace
