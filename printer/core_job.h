// core_job.h - one qvprinter job on the model's filter core: the sheet lines
// PAPPL or Ghostscript rasterise are cut to the page the core takes, turned
// into its row or line format, and streamed to the printer in process.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "common/byte_sink.h"
#include "printer/job_plan.h"

namespace qvprinter {

// The pixel format of a sheet line.
enum class LineFormat {
  kBlack1,  // 1 bit per pixel, MSB leftmost, 1 = black (PWG black_1, PBM)
  kGray8,   // 8 bits, 255 = white (PWG sgray_8, PGM)
  kRgb8,    // 3 x 8 bits (PWG srgb_8, PPM)
};

class CoreJob {
 public:
  // Makes the job, whose core reports to `job` and asks it whether it is
  // cancelled. Returns nullptr with `error` set when the core refuses the
  // settings or cannot allocate its buffers.
  static std::unique_ptr<CoreJob> create(const JobPlan& plan, qv::ByteSink sink, pappl_job_t* job,
                                         std::string& error);
  ~CoreJob();
  CoreJob(const CoreJob&) = delete;
  CoreJob& operator=(const CoreJob&) = delete;

  // Each returns 0, or the core's non-zero status: the job cannot go on.
  int beginJob();
  int beginPage();
  // Line `y` of the sheet, `width` pixels wide, in `format`. Lines outside
  // the core's page are dropped; a short line is completed with white.
  int writeSheetLine(unsigned y, std::span<const std::uint8_t> line, LineFormat format,
                     unsigned width);
  int endPage();
  // The open page's buffer in the core's own form (colour: the imaging area
  // as RGB lines), for a caller that fills it whole instead of writing sheet
  // lines; empty when the core has none. endFilledPage() then ends the page.
  std::span<std::uint8_t> pageBuffer();
  int endFilledPage();
  // As beginPage(), the page already in the caller's buffer in the core's own
  // form (see CoreStream::beginPage); endFilledPage() ends it.
  int beginFilledPage(std::span<std::uint8_t> page);
  // The 16 x 16 threshold matrix for gray lines on the mono printer (PAPPL's
  // dither for the job's content); without one, gray is cut at half.
  void setDither(const unsigned char (*matrix)[16]) { dither_ = matrix; }
  // Ends the job normally, or, after a cancel, ends it as the core defines
  // (the open page finished, the trailer written).
  int endJob(bool cancelled);

  // A white page (a blank back, so that the next copy starts on a new sheet).
  int blankPage();
  // The further collated copies of the plan (plan().passes), from the pages
  // kept since the first: each copy after a blank back when two-sided pages
  // are odd in number. Stops, returning 0, when `cancelled(context)` says so
  // between pages (endJob then ends the job as cancelled); calls
  // `pageSent(context)` after each page. Returns 0 or the core's status.
  int sendCopies(bool (*cancelled)(void*), void (*pageSent)(void*), void* context);
  // The document did not come out whole: no copies are made of it.
  void dropCopies();

  const JobPlan& plan() const { return plan_; }
  int pagesBegun() const { return pages_; }

 private:
  explicit CoreJob(const JobPlan& plan);
  void toMonoRow(unsigned y, std::span<const std::uint8_t> line, LineFormat format, unsigned width);
  void toRgbLine(std::span<const std::uint8_t> line, LineFormat format, unsigned width);
  int put(std::span<const std::uint8_t> row);  // to the core, and to the spool
  int keepRows(std::span<const std::uint8_t> page);

  JobPlan plan_;
  std::unique_ptr<class CoreStream> core_;
  std::unique_ptr<class PageSpool> spool_;  // the pages, for collated copies
  std::span<std::uint8_t> filled_;          // the caller's page (beginFilledPage)
  std::vector<std::uint8_t> row_;           // one converted row, reused for every line
  const unsigned char (*dither_)[16] = nullptr;
  bool pageOpen_ = false;
  bool jobOpen_ = false;
  int pages_ = 0;
  int linesWritten_ = 0;  // lines of the open page sent to the colour core
};

}  // namespace qvprinter
