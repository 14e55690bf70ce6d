// mono_job.h - the mono job writer as a streaming API: settings in, 1-bit
// rows in, the printer's bytes out to a ByteSink. rawtoqv runs its jobs
// through it; a printer application runs several at once, one object each.
//
//   qv::MonoJob(const PrintSettings& settings, qv::ByteSink sink);
//   int beginJob();
//   int beginPage();
//   int writeRow(std::span<const std::uint8_t> row);
//   int writePage(std::span<const std::uint8_t> page);
//   int endPage();
//   int endJob();
//   ~MonoJob();
//   bool qv::monoPageFits(const PrintSettings& settings);
//
// Every call returns kMonoOk or the status that ends the job. Once a write
// to the sink failed, every later call returns kMonoWriteFailed and sends
// nothing. A cancel is: stop writing rows, endPage(), endJob(); the stream
// stays well formed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "common/byte_sink.h"
#include "mono/compmain.h"
#include "mono/qvcommon.h"

namespace qv {

enum : int {
  kMonoOk = 0,
  kMonoNoMemory = 1,     // beginJob: a job buffer cannot be had; nothing was sent
  kMonoWriteFailed = 2,  // the sink refused bytes; the job stopped there
  kMonoBadPage = 3,      // beginPage: the settings' size cannot describe a page
  kMonoBadRow = 4,       // writeRow: a row of the wrong length, or past the page's end
  kMonoBadOrder = 5,     // a call out of order (a page outside a job, a row outside a page)
  // Sorted copies need a scratch file in settings.tmpDir (or /tmp):
  kMonoNoCopyFile = 6,  // beginJob: it cannot be created; nothing was sent
  kMonoCopiesLost = 7,  // endJob: it could not take the whole job (a full disk); the job
                        // went out once, with its trailer, and without its replays
};

// Whether settings.width x settings.height describe a page the writer can
// send: 1 to 32767 rows and a width of 1 or more. A job of other settings
// can still be written, without pages.
bool monoPageFits(const PrintSettings& settings);

class MonoJob {
 public:
  // `settings` as prepareRawtoqvJob fills them: codes, texts, the raster
  // size at the job resolution (width x height dots), the flags and offset,
  // and the directory of the sorted-copy file (empty: /tmp).
  MonoJob(const PrintSettings& settings, ByteSink sink);
  ~MonoJob();  // frees every buffer; the copy file has no name to remove
  MonoJob(const MonoJob&) = delete;
  MonoJob& operator=(const MonoJob&) = delete;

  int beginJob();   // allocates the buffers, then the PJL header and PCL set-up
  int beginPage();  // a page of settings.width x settings.height
  // One row of (width + 7) / 8 bytes, the most significant bit the leftmost
  // dot, 1 = black. The bytes are not kept after the call.
  int writeRow(std::span<const std::uint8_t> row);
  // A whole page at once, settings.height rows one after the other, right
  // after beginPage(): the same bytes as writeRow() row by row, encoded on
  // two threads.
  int writePage(std::span<const std::uint8_t> page);
  int endPage();  // a short page is completed with blank rows
  int endJob();   // ends an open page, then the sorted-copy replays and the PJL trailer

 private:
  enum class Phase { kNew, kJob, kPage, kDone };
  int status() const { return state_.outputFailed ? kMonoWriteFailed : kMonoOk; }

  MonoJobState state_;
  Phase phase_ = Phase::kNew;
  std::unique_ptr<PageEncoder> encoder_;  // writePage's worker, made at its first call
  bool noEncoder_ = false;                // the worker could not be had
};

}  // namespace qv
