// paper_table.h - the paper sizes of the QV driver, in one table from which
// the PPD media list, the per-job paper information files and the colour
// printer's geometry files are all derived, so that they cannot disagree.
#pragma once

#include <span>
#include <string_view>

namespace qv::host {

// One paper size. Sizes are given in dots at 600 dpi, the unit of both
// filters' paper information files; the PPD and the colour geometry files
// carry them in whole points (dots x 72 / 600, rounded).
struct PaperSize {
  const char* ppdName;     // PageSize choice, as CUPS users know it
  const char* ppdText;     // its human-readable name
  const char* monoWord;    // PaperType word of the mono settings file, or nullptr
  const char* colourWord;  // PageSize item word of the colour settings file, or nullptr
  int width600;            // page width in dots at 600 dpi
  int height600;           // page height in dots at 600 dpi
  int monoFlags;           // -flags digits rawtoqv needs to pick this paper (0 = none)
};

// Every paper size either model supports, mono-only and colour-only sizes
// included. The order is the PPD's order.
std::span<const PaperSize> paperSizes();

// The entry whose ppdName is `name`, or nullptr.
const PaperSize* findPaperSize(std::string_view name);

// The unprintable margin of both models on every edge, 1/6 inch: the mono
// printer drops 1/6 inch of rows at the top and bottom and about 1/6 inch of
// dots at each side; the colour printer takes a raster of its imaging area
// only, the sheet less 1/6 inch all round.
inline constexpr int kHardwareMarginPoints = 12;
inline constexpr int kImagingMargin600 = 100;  // the same, in dots at 600 dpi

// The colour printer's raster: its imaging area in pixels at 600 dpi.
inline int colourRasterWidth(const PaperSize& paper) {
  return paper.width600 - 2 * kImagingMargin600;
}
inline int colourRasterHeight(const PaperSize& paper) {
  return paper.height600 - 2 * kImagingMargin600;
}

}  // namespace qv::host
