// qvpapergen.cc - writes the files derived from the paper table at build
// time: the ppdc media definitions of the PPD source and the colour printer's
// geometry files, so that PPDs, geometry and per-job paper files agree.
//
//   qvpapergen ppdc <dir>       qv_media.defs, qv_mono_sizes.defs, qv_colour_sizes.defs
//   qvpapergen geometry <dir>   ImagingArea, PaperDimension, paperinf
#include <cstdio>
#include <cstring>
#include <string>

#include "cups/paper_files.h"

namespace {

bool writeText(const std::string& dir, const char* name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "qvpapergen: cannot create %s\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "ppdc") == 0) {
    return writeText(argv[2], "qv_media.defs", qvcups::ppdcMediaDefinitions()) &&
                   writeText(argv[2], "qv_mono_sizes.defs", qvcups::ppdcMediaSizes(true)) &&
                   writeText(argv[2], "qv_colour_sizes.defs", qvcups::ppdcMediaSizes(false))
               ? 0
               : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "geometry") == 0) {
    return writeText(argv[2], "ImagingArea", qvcups::imagingAreaFile()) &&
                   writeText(argv[2], "PaperDimension", qvcups::paperDimensionFile()) &&
                   writeText(argv[2], "paperinf", qvcups::colourPaperInfFile())
               ? 0
               : 1;
  }
  std::fprintf(stderr, "usage: qvpapergen ppdc|geometry <directory>\n");
  return 2;
}
