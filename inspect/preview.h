// preview.h - pages of a job as image files: PNG through libpng, or
// PBM/PGM/PPM. Mono pages are placed on the paper as the printer places
// them; colour and gray pages are written as their pixels are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include <png.h>

#include "common/unique_file.h"
#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"
#include "inspect/summary.h"

namespace qvinspect {

enum class PreviewFormat { kPng, kPnm };

// A 1-bit page as the paper sees it: rows of `rowBytes` bytes, most
// significant bit leftmost, 1 = black (the mono stream's own convention).
struct MonoCanvas {
  std::size_t width = 0, height = 0, rowBytes = 0;
  long dpi = 0;
  std::vector<std::uint8_t> bits;
};

// Places a decoded mono page on its paper. The filter cut `topSkip` rows
// off the top and `leftSkip` bytes off the left of the page before sending
// it, and the printer starts its rows there, so the decoded rows go at
// (leftSkip x 8, topSkip); the left shift is already inside the rows as
// leading zero bytes. The canvas is the paper of the job's PCL page size at
// the job's resolution, grown when the rows reach beyond it; without a known
// paper, the strips are added on all four sides.
MonoCanvas placeMonoPage(const qvdecode::MonoPage& page, const qvdecode::MonoJob& job);

// Writes each page to "<dir>/<stem>-page-001.png" (or .pbm/.pgm/.ppm): a
// new file of mode 0600 next to the target, renamed over it when complete,
// so that neither a file planted under the name nor a reader sees a part of
// a page. Colour pages are written line by line as they are decoded.
class PreviewWriter {
 public:
  PreviewWriter(std::string dir, std::string stem, PreviewFormat format)
      : dir_(std::move(dir)), stem_(std::move(stem)), format_(format) {}
  ~PreviewWriter();  // removes the file of a page left unfinished
  PreviewWriter(const PreviewWriter&) = delete;
  PreviewWriter& operator=(const PreviewWriter&) = delete;

  // A page visitor: writes a mono page whole, or finishes the colour page
  // that line() began. Returns 0, or -1 with error() set.
  int write(const PageSummary& summary, const qvdecode::MonoPage* mono,
            const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg);
  // A line visitor: `copies` equal lines of a colour page from line `y`.
  int line(const qvdecode::PwgPage& page, std::uint32_t y, std::uint32_t copies,
           std::span<const std::uint8_t> pixels);

  const std::string& error() const { return error_; }
  const std::vector<std::string>& written() const { return written_; }

 private:
  struct Image {
    std::size_t width, height;
    int bitDepth;
    bool rgb;
    bool invert;  // 1 = black in the page, 0 = black in the file (PNG, PGM)
    long xDpi, yDpi;
  };
  int begin(int number, const Image& image);
  int rows(const std::uint8_t* data, std::size_t rowBytes, std::size_t count);
  int finish();
  void abandon();
  int failed(std::string message);

  std::string dir_, stem_;
  PreviewFormat format_;
  std::string error_;
  std::vector<std::string> written_;
  // The page being written.
  qv::UniqueFile file_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  std::string temp_, path_;
  std::vector<std::uint8_t> row_;
  bool invert_ = false;
};

}  // namespace qvinspect
