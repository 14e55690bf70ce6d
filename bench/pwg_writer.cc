// pwg_writer.cc - the yardstick for rastertoqv: reads the same PPM pages from
// standard input and writes them to standard output as PWG Raster (sRGB,
// 8 bits, 600 dpi) with libcups's own writer, cupsRasterWritePixels. The
// benchmark scripts run it in the same pipe as the filter. Prints nothing.
//
//   pwg_writer < pages.ppm > pages.pwg
#include <cups/raster.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A header as gen_colour_chart writes it: "P6\n<width> <height>\n255\n".
bool readHeader(std::FILE* in, unsigned& width, unsigned& height) {
  unsigned maxValue = 0;
  if (std::fscanf(in, "P6 %u %u %u", &width, &height, &maxValue) != 3) return false;
  return std::fgetc(in) != EOF && width > 0 && height > 0 && maxValue == 255;
}

}  // namespace

int main() {
  static char inputBuffer[1 << 20];
  std::setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  cups_raster_t* raster = cupsRasterOpen(1, CUPS_RASTER_WRITE_PWG);
  if (raster == nullptr) return 1;
  std::vector<unsigned char> line;
  unsigned width = 0, height = 0;
  int status = 0;
  while (status == 0 && readHeader(stdin, width, height)) {
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);
    std::strcpy(header.MediaClass, "PwgRaster");
    std::strcpy(header.cupsPageSizeName, "iso_a4_210x297mm");
    header.HWResolution[0] = header.HWResolution[1] = 600;
    header.PageSize[0] = width * 72 / 600;
    header.PageSize[1] = height * 72 / 600;
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = 24;
    header.cupsBytesPerLine = width * 3;
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.cupsColorSpace = CUPS_CSPACE_SRGB;
    header.cupsNumColors = 3;
    header.NumCopies = 1;
    if (!cupsRasterWriteHeader2(raster, &header)) status = 1;
    line.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < height && status == 0; ++y) {
      if (std::fread(line.data(), 1, line.size(), stdin) != line.size() ||
          cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine) == 0)
        status = 1;
    }
  }
  cupsRasterClose(raster);
  return status;
}
