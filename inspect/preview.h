// preview.h - pages of a job as image files: PNG through libpng, or
// PBM/PGM/PPM. Mono pages are placed on the paper as the printer places
// them; colour and gray pages are written as their pixels are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

class PreviewWriter {
 public:
  // Files go to `dir` as "<stem>-page-001.png" (or .pbm/.pgm/.ppm).
  PreviewWriter(std::string dir, std::string stem, PreviewFormat format)
      : dir_(std::move(dir)), stem_(std::move(stem)), format_(format) {}

  // Writes one page; returns 0, or -1 with error() set.
  int write(const PageSummary& summary, const qvdecode::MonoPage* mono,
            const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg);

  const std::string& error() const { return error_; }
  const std::vector<std::string>& written() const { return written_; }

 private:
  std::string pathFor(int page, const char* extension) const;
  int writeMono(int number, const MonoCanvas& canvas);
  int writePwg(int number, const qvdecode::PwgPage& page);

  std::string dir_, stem_;
  PreviewFormat format_;
  std::string error_;
  std::vector<std::string> written_;
};

}  // namespace qvinspect
