// preview.cc - PNG and PNM files of decoded pages.
#include "inspect/preview.h"

#include <fcntl.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/unique_file.h"

namespace qvinspect {
namespace {

// A preview is the customer's page: readable by its owner alone, and a link
// planted under its name must not redirect it.
qv::UniqueFile createPreviewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return qv::UniqueFile(file);
}

png_uint_32 pixelsPerMetre(long dpi) {
  return dpi <= 0 ? 0 : static_cast<png_uint_32>(std::lround(static_cast<double>(dpi) / 0.0254));
}

struct PngImage {
  const std::uint8_t* data;
  std::size_t stride;
  png_uint_32 width, height;
  int bitDepth, colorType;
  long xDpi, yDpi;
};

// libpng reports errors by longjmp; nothing with a destructor lives in this
// frame, so the jump cannot skip one.
int writePngStream(std::FILE* file, const PngImage& image) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return -1;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return -1;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (image.xDpi > 0 && image.yDpi > 0) {
    png_set_pHYs(png, info, pixelsPerMetre(image.xDpi), pixelsPerMetre(image.yDpi),
                 PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  for (png_uint_32 y = 0; y < image.height; ++y) {
    png_write_row(png, image.data + std::size_t{y} * image.stride);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int writeAll(std::FILE* file, const void* bytes, std::size_t count) {
  return std::fwrite(bytes, 1, count, file) == count ? 0 : -1;
}

long lastPageSizeCode(const qvdecode::MonoJob& job) {
  long code = 0;
  for (const qvdecode::PclCommand& command : job.pclCommands) {
    // "\e&l4096a26a...": the paper is the last code, 4096 names none.
    if (command.group == "&l" && command.parameter == 'A' && command.value != 4096) {
      code = command.value;
    }
  }
  return code;
}

}  // namespace

MonoCanvas placeMonoPage(const qvdecode::MonoPage& page, const qvdecode::MonoJob& job) {
  const qvdecode::MonoGeometry& geometry = job.geometry;
  MonoCanvas canvas;
  canvas.dpi = geometry.dpi;
  const std::size_t top = geometry.topSkipRows;
  const std::size_t leftBytes = geometry.leftSkipBytes;
  const std::size_t contentWidth = (leftBytes + page.rowBytes) * 8;
  const std::size_t contentHeight = top + page.rows.size();
  long width120 = 0, length120 = 0;
  const char* name = nullptr;
  const long code = lastPageSizeCode(job);
  const bool custom = code == 101;
  if (custom) width120 = 1020;  // the custom paper takes the width of LEGAL
  const bool known = custom || paperForPclSize(code, width120, length120, name);
  if (known && geometry.dpi > 0) {
    const auto dots = [&](long inch120) {
      return static_cast<std::size_t>(inch120 * geometry.dpi / 120);
    };
    canvas.width = std::max(dots(width120), contentWidth);
    canvas.height = length120 > 0 ? std::max(dots(length120), contentHeight) : contentHeight + top;
  } else {
    canvas.width = contentWidth + leftBytes * 8;
    canvas.height = contentHeight + top;
  }
  canvas.width = std::max<std::size_t>(canvas.width, 1);
  canvas.height = std::max<std::size_t>(canvas.height, 1);
  canvas.rowBytes = (canvas.width + 7) / 8;
  canvas.bits.assign(canvas.rowBytes * canvas.height, 0);
  for (std::size_t y = 0; y < page.rows.size(); ++y) {
    const std::vector<std::uint8_t>& row = page.rows[y];
    std::uint8_t* to = canvas.bits.data() + (top + y) * canvas.rowBytes + leftBytes;
    std::copy_n(row.begin(), std::min(row.size(), canvas.rowBytes - leftBytes), to);
  }
  return canvas;
}

std::string PreviewWriter::pathFor(int page, const char* extension) const {
  char number[16];
  std::snprintf(number, sizeof number, "%03d", page);
  return dir_ + "/" + stem_ + "-page-" + number + "." + extension;
}

int PreviewWriter::write(const PageSummary& summary, const qvdecode::MonoPage* mono,
                         const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg) {
  if (mono != nullptr && monoJob != nullptr) {
    return writeMono(summary.number, placeMonoPage(*mono, *monoJob));
  }
  if (pwg != nullptr) return writePwg(summary.number, *pwg);
  error_ = "nothing to write";
  return -1;
}

int PreviewWriter::writeMono(int number, const MonoCanvas& canvas) {
  const bool png = format_ == PreviewFormat::kPng;
  const std::string path = pathFor(number, png ? "png" : "pbm");
  qv::UniqueFile file = createPreviewFile(path);
  if (!file) {
    error_ = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  int result = 0;
  if (png) {
    // PNG gray is 0 = black: the stream's 1 = black bits are inverted.
    std::vector<std::uint8_t> inverted(canvas.bits.size());
    std::transform(canvas.bits.begin(), canvas.bits.end(), inverted.begin(),
                   [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
    const PngImage image{inverted.data(),
                         canvas.rowBytes,
                         static_cast<png_uint_32>(canvas.width),
                         static_cast<png_uint_32>(canvas.height),
                         1,
                         PNG_COLOR_TYPE_GRAY,
                         canvas.dpi,
                         canvas.dpi};
    result = writePngStream(file.get(), image);
  } else {
    const std::string header =
        "P4\n" + std::to_string(canvas.width) + " " + std::to_string(canvas.height) + "\n";
    result = writeAll(file.get(), header.data(), header.size());
    if (result == 0) result = writeAll(file.get(), canvas.bits.data(), canvas.bits.size());
  }
  if (std::fclose(file.release()) != 0) result = -1;
  if (result != 0) {
    error_ = "cannot write " + path;
    return -1;
  }
  written_.push_back(path);
  return 0;
}

int PreviewWriter::writePwg(int number, const qvdecode::PwgPage& page) {
  const qvdecode::PwgHeader& header = page.header;
  const bool png = format_ == PreviewFormat::kPng;
  const bool gray = header.numColors == 1;
  const bool rgb = header.numColors == 3 && header.colorSpace != 6;
  const std::uint32_t bits = header.bitsPerColor;
  if (!((gray || rgb) && (bits == 8 || bits == 16 || (gray && bits == 1)))) {
    error_ = "page " + std::to_string(number) + ": no preview for ColorSpace " +
             std::to_string(header.colorSpace) + " at " + std::to_string(bits) + " bits";
    return -1;
  }
  // Black (3) is 1 = ink; sGray 1-bit is 1 = white, as PNG gray.
  const bool inkIsOne = header.colorSpace == 3;
  const char* extension = png ? "png" : (bits == 1 ? "pbm" : (gray ? "pgm" : "ppm"));
  const std::string path = pathFor(number, extension);
  qv::UniqueFile file = createPreviewFile(path);
  if (!file) {
    error_ = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  std::vector<std::uint8_t> flipped;
  const std::uint8_t* data = page.pixels.data();
  // PBM is 1 = black, PNG and PGM gray are 0 = black.
  const bool needsFlip = bits == 1 ? (png == inkIsOne) : inkIsOne;
  if (needsFlip) {
    flipped.resize(page.pixels.size());
    std::transform(page.pixels.begin(), page.pixels.end(), flipped.begin(),
                   [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
    data = flipped.data();
  }
  int result = 0;
  if (png) {
    const PngImage image{data,
                         header.bytesPerLine,
                         header.width,
                         header.height,
                         static_cast<int>(bits),
                         gray ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                         static_cast<long>(header.hwResolution[0]),
                         static_cast<long>(header.hwResolution[1])};
    result = writePngStream(file.get(), image);
  } else {
    std::string text = std::string(bits == 1 ? "P4" : (gray ? "P5" : "P6")) + "\n" +
                       std::to_string(header.width) + " " + std::to_string(header.height) + "\n";
    if (bits != 1) text += bits == 16 ? "65535\n" : "255\n";
    result = writeAll(file.get(), text.data(), text.size());
    if (result == 0) result = writeAll(file.get(), data, page.pixels.size());
  }
  if (std::fclose(file.release()) != 0) result = -1;
  if (result != 0) {
    error_ = "cannot write " + path;
    return -1;
  }
  written_.push_back(path);
  return 0;
}

}  // namespace qvinspect
