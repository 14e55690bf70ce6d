// paper_files.h - the texts of the paper files derived from the paper table:
// the per-job paper information files of both filters, the colour printer's
// ImagingArea and PaperDimension files, and the ppdc media definitions.
#pragma once

#include <string>

#include "host/paper_table.h"

namespace qvcups {

// rawtoqv's paper information line: name, tab, width, tab, height (dots at
// 600 dpi), line feed. Requires paper.monoWord.
std::string monoPaperInfLine(const qv::host::PaperSize& paper);

// rastertoqv's paper information file: a first line of four words, then one
// "<word>: <width> <height>" line per colour paper: the raster of its
// imaging area, in pixels at 600 dpi.
std::string colourPaperInfFile();

// The colour printer's geometry files under /opt/quarno/<printer>/bin/inf/:
// "<word>:\t<left>\t<top>\t<right>\t<bottom>" (imaging area in 1/600 inch
// from the sheet's top left corner; right - left and bottom - top are the
// raster size of the paper information file) and "<word>:\t<width>\t<length>"
// (the sheet in points, as the PWG page header carries it).
std::string imagingAreaFile();
std::string paperDimensionFile();

// Points rounded to the nearest whole point, as the geometry files hold them.
int roundedPoints(int dots600);

// ppdc source: "#media" definitions of every size, and the "MediaSize" lines
// of one model ("mono" or "colour"), the first being the default.
std::string ppdcMediaDefinitions();
std::string ppdcMediaSizes(bool mono);

}  // namespace qvcups
