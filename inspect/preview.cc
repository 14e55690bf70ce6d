// preview.cc - PNG and PNM files of decoded pages.
#include "inspect/preview.h"

#include <fcntl.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>

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

png_uint_32 pixelsPerMetre(long dpi) {
  return dpi <= 0 ? 0 : static_cast<png_uint_32>(std::lround(static_cast<double>(dpi) / 0.0254));
}

// libpng reports errors by longjmp: these frames hold nothing with a
// destructor, so the jump cannot skip one.
template <typename Image>
int pngBegin(png_structp png, png_infop info, std::FILE* file, const Image& image) {
  if (setjmp(png_jmpbuf(png))) return -1;
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), image.bitDepth,
               image.rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (image.xDpi > 0 && image.yDpi > 0) {
    png_set_pHYs(png, info, pixelsPerMetre(image.xDpi), pixelsPerMetre(image.yDpi),
                 PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  return 0;
}

int pngRows(png_structp png, const std::uint8_t* row, std::size_t count) {
  if (setjmp(png_jmpbuf(png))) return -1;
  for (std::size_t i = 0; i < count; ++i) png_write_row(png, row);
  return 0;
}

int pngEnd(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return -1;
  png_write_end(png, info);
  return 0;
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

PreviewWriter::~PreviewWriter() { abandon(); }

int PreviewWriter::failed(std::string message) {
  error_ = std::move(message);
  abandon();
  return -1;
}

void PreviewWriter::abandon() {
  if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
  file_.reset();
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

// A new file of mode 0600 next to the target: mkstemp creates it
// exclusively, so a name planted in the directory is never opened.
int PreviewWriter::begin(int number, const Image& image) {
  abandon();
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  const bool png = format_ == PreviewFormat::kPng;
  const char* extension = png ? "png" : image.bitDepth == 1 ? "pbm" : image.rgb ? "ppm" : "pgm";
  path_ = dir_ + "/" + stem_ + "-page-" + digits + "." + extension;
  std::string temp = dir_ + "/." + stem_ + "-page-" + digits + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return failed("cannot create " + path_ + ": " + std::strerror(errno));
  temp_ = temp;
  file_.reset(::fdopen(fd, "wb"));
  if (!file_) {
    ::close(fd);
    return failed("cannot create " + path_ + ": " + std::strerror(errno));
  }
  invert_ = image.invert;
  row_.resize((image.width * image.bitDepth * (image.rgb ? 3 : 1) + 7) / 8);
  if (!png) {
    std::string header = std::string(image.bitDepth == 1 ? "P4"
                                     : image.rgb         ? "P6"
                                                         : "P5") +
                         "\n" + std::to_string(image.width) + " " + std::to_string(image.height) +
                         "\n";
    if (image.bitDepth != 1) header += image.bitDepth == 16 ? "65535\n" : "255\n";
    if (std::fwrite(header.data(), 1, header.size(), file_.get()) != header.size()) {
      return failed("cannot write " + path_);
    }
    return 0;
  }
  png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png_ != nullptr) info_ = png_create_info_struct(png_);
  if (info_ == nullptr || pngBegin(png_, info_, file_.get(), image) != 0) {
    return failed("cannot write " + path_);
  }
  return 0;
}

int PreviewWriter::rows(const std::uint8_t* data, std::size_t rowBytes, std::size_t count) {
  const std::uint8_t* row = data;
  if (invert_) {
    std::transform(data, data + rowBytes, row_.begin(),
                   [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
    row = row_.data();
  }
  if (png_ == nullptr) {
    for (std::size_t i = 0; i < count; ++i) {
      if (std::fwrite(row, 1, rowBytes, file_.get()) != rowBytes) {
        return failed("cannot write " + path_);
      }
    }
    return 0;
  }
  return pngRows(png_, row, count) == 0 ? 0 : failed("cannot write " + path_);
}

// The one way a page file ends: complete, flushed, closed, then renamed over
// the target.
int PreviewWriter::finish() {
  if (png_ != nullptr) {
    if (pngEnd(png_, info_) != 0) return failed("cannot write " + path_);
    png_destroy_write_struct(&png_, &info_);
  }
  if (std::fclose(file_.release()) != 0) return failed("cannot write " + path_);
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    return failed("cannot write " + path_ + ": " + std::strerror(errno));
  }
  temp_.clear();
  written_.push_back(path_);
  return 0;
}

int PreviewWriter::write(const PageSummary& summary, const qvdecode::MonoPage* mono,
                         const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg) {
  if (pwg != nullptr)
    return file_ ? finish() : failed("page " + std::to_string(summary.number) + " has no lines");
  if (mono == nullptr || monoJob == nullptr) return failed("nothing to write");
  const MonoCanvas canvas = placeMonoPage(*mono, *monoJob);
  // PNG gray is 0 = black: the stream's 1 = black bits are inverted.
  const Image image{canvas.width, canvas.height, 1, false, format_ == PreviewFormat::kPng,
                    canvas.dpi,   canvas.dpi};
  if (begin(summary.number, image) != 0) return -1;
  for (std::size_t y = 0; y < canvas.height; ++y) {
    if (rows(canvas.bits.data() + y * canvas.rowBytes, canvas.rowBytes, 1) != 0) return -1;
  }
  return finish();
}

int PreviewWriter::line(const qvdecode::PwgPage& page, std::uint32_t y, std::uint32_t copies,
                        std::span<const std::uint8_t> pixels) {
  const qvdecode::PwgHeader& header = page.header;
  if (y == 0) {
    const int number = static_cast<int>(written_.size()) + 1;
    const bool gray = header.numColors == 1;
    const bool rgb = header.numColors == 3 && header.colorSpace != 6;
    const std::uint32_t bits = header.bitsPerColor;
    if (!((gray || rgb) && (bits == 8 || bits == 16 || (gray && bits == 1)))) {
      return failed("page " + std::to_string(number) + ": no preview for ColorSpace " +
                    std::to_string(header.colorSpace) + " at " + std::to_string(bits) + " bits");
    }
    // Black (3) is 1 = ink; sGray 1-bit is 1 = white, as PNG gray. PBM is
    // 1 = black, PNG and PGM gray are 0 = black.
    const bool inkIsOne = header.colorSpace == 3;
    const bool png = format_ == PreviewFormat::kPng;
    const Image image{header.width,
                      header.height,
                      static_cast<int>(bits),
                      rgb,
                      bits == 1 ? png == inkIsOne : inkIsOne,
                      static_cast<long>(header.hwResolution[0]),
                      static_cast<long>(header.hwResolution[1])};
    if (begin(number, image) != 0) return -1;
  }
  return rows(pixels.data(), pixels.size(), copies);
}

}  // namespace qvinspect
