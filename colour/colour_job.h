// colour_job.h - the colour job as a stream: begin job, pages of RGB lines,
// end job; the printer's bytes go to a ByteSink. Jobs share nothing, so
// several may run at once on several threads.
//
//   ColourJob(const RcInfo& rc, const PjpInfo& job, const ColourJobEnv& env,
//             ByteSink sink, bool usePageFiles);
//   int beginJob();
//   int beginPage();                                   // job.nWidth x job.nHeight
//   int writeLine(std::span<const std::uint8_t> rgb);  // job.nBytesPerLine bytes
//   int endPage();
//   int endJob();
//   int cancel();
//   std::span<std::uint8_t> pageBuffer();              // for a caller that reads
//   int endPage(std::size_t filledBytes);              //   pixels straight into it
//   int beginPage(std::span<std::uint8_t> callerPage); // or has them in its own buffer
//
// Every call returns kColourOk or one of the statuses below; after a status
// other than kColourOk and kColourPageFailed the job cannot go on (call
// nothing more but the destructor). Messages for the spooler ("ERROR: ...")
// go to standard error as the command-line filter has always written them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "colour/colour_records.h"
#include "colour/job_state.h"
#include "common/byte_sink.h"
#include "src_header/qvfiletool.h"

namespace qv {

enum ColourStatus : int {
  kColourOk = 0,
  kColourNoMemory = 1,     // a job or page buffer cannot be had
  kColourWriteFailed = 2,  // the sink refused bytes: the device or pipe is gone
  kColourBadSize = 3,      // a page size or line length the job cannot take
  kColourPageFailed = 4,   // a page could not be sent whole; the job may still end
  kColourCancelled = 5,    // env.cancelFlag was raised: call cancel()
  kColourBadState = 6,     // a call out of order
};

// Zero bytes that cancel() sends before the job end.
inline constexpr std::size_t kColourCancelFillBytes = 5768;

class ColourJob {
 public:
  // `rc` and `job` are copied. `job` as ConvertRc2Pjp fills it (nWidth 1..7200,
  // nHeight >= 1, nBytesPerLine = nWidth x 3, the inner values); a printer
  // application may fill it from its own tables. usePageFiles: true for the
  // command-line filter (page files and the copies file in env.tmpDir);
  // false keeps every page in memory, nothing of the job touches disk.
  ColourJob(const RcInfo& rc, const PjpInfo& job, const ColourJobEnv& env, ByteSink sink,
            bool usePageFiles);
  ~ColourJob() = default;  // frees everything; scratch files have no name
  ColourJob(const ColourJob&) = delete;
  ColourJob& operator=(const ColourJob&) = delete;

  int beginJob();  // PJL job header
  int beginPage();
  // One line of nBytesPerLine RGB bytes; lines past the page height are refused.
  int writeLine(std::span<const std::uint8_t> rgb);
  // Completes a short page with zero lines, drops a blank one when
  // "QVSkipBlank" is on, and sends the page (its copies too, when not collated).
  int endPage();
  int endJob();  // the last page and the PJL trailer
  // The documented cancel: 5768 zero bytes, the last complete page, the trailer.
  int cancel();

  std::span<std::uint8_t> pageBuffer();
  int endPage(std::size_t filledBytes);

  // As beginPage(), the page held in the caller's buffer of at least
  // nBytesPerLine x nHeight bytes (a reader thread's page buffer), which stays
  // valid until endPage() returns and may be written to (a short page is
  // completed with zero bytes in place). The job then holds no page of its own.
  int beginPage(std::span<std::uint8_t> callerPage);

 private:
  int sendCopies();
  ColourJobState state_;
  enum class Phase { kNew, kJob, kPage, kEnded } phase_ = Phase::kNew;
  std::size_t filled_ = 0;  // bytes of the page so far
  int status_ = kColourOk;  // first status that ended the job
};

}  // namespace qv
