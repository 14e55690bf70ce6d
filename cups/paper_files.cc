// paper_files.cc - paper files derived from the paper table.
#include "cups/paper_files.h"

#include <cstdio>

namespace qvcups {

using qv::host::colourRasterHeight;
using qv::host::colourRasterWidth;
using qv::host::kImagingMargin600;
using qv::host::paperSizes;

namespace {

// Appends printf-formatted text; every line here is short.
template <typename... Args>
void appendf(std::string& out, const char* format, Args... args) {
  char line[256];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n > 0) out.append(line, static_cast<std::size_t>(n) < sizeof line ? n : sizeof line - 1);
}

}  // namespace

int roundedPoints(int dots600) { return (dots600 * 72 + 300) / 600; }

std::string monoPaperInfLine(const qv::host::PaperSize& paper) {
  std::string out;
  appendf(out, "%s\t%d\t%d\n", paper.monoWord, paper.width600, paper.height600);
  return out;
}

std::string colourPaperInfFile() {
  // The filter skips the first line's four words; they name the file for a
  // person reading it.
  std::string out = "QV-C600 paper information 600dpi\n";
  for (const qv::host::PaperSize& paper : paperSizes())
    if (paper.colourWord != nullptr)
      appendf(out, "%s: %d %d\n", paper.colourWord, colourRasterWidth(paper),
              colourRasterHeight(paper));
  return out;
}

std::string imagingAreaFile() {
  std::string out =
      "# QV-C600 imaging area: left top right bottom, in 1/600 inch from the\n"
      "# top left corner of the sheet. Generated from cups/paper_table.cc.\n";
  for (const qv::host::PaperSize& paper : paperSizes())
    if (paper.colourWord != nullptr)
      appendf(out, "%s:\t%d\t%d\t%d\t%d\n", paper.colourWord, kImagingMargin600, kImagingMargin600,
              paper.width600 - kImagingMargin600, paper.height600 - kImagingMargin600);
  return out;
}

std::string paperDimensionFile() {
  std::string out =
      "# QV-C600 paper dimensions: width and length of the sheet in points.\n"
      "# Generated from cups/paper_table.cc.\n";
  for (const qv::host::PaperSize& paper : paperSizes())
    if (paper.colourWord != nullptr)
      appendf(out, "%s:\t%d\t%d\n", paper.colourWord, roundedPoints(paper.width600),
              roundedPoints(paper.height600));
  return out;
}

std::string ppdcMediaDefinitions() {
  std::string out = "// Generated from cups/paper_table.cc; do not edit.\n";
  // Whole points, as the colour printer's PaperDimension file and the PWG
  // page header carry them; within half a point of the 600-dpi raster.
  for (const qv::host::PaperSize& paper : paperSizes())
    appendf(out, "#media \"%s/%s\" %d %d\n", paper.ppdName, paper.ppdText,
            roundedPoints(paper.width600), roundedPoints(paper.height600));
  return out;
}

std::string ppdcMediaSizes(bool mono) {
  std::string out = "// Generated from cups/paper_table.cc; do not edit.\n";
  bool first = true;
  for (const qv::host::PaperSize& paper : paperSizes()) {
    if ((mono ? paper.monoWord : paper.colourWord) == nullptr) continue;
    appendf(out, "%sMediaSize \"%s\"\n", first ? "*" : "", paper.ppdName);
    first = false;
  }
  return out;
}

}  // namespace qvcups
