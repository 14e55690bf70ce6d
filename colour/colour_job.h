// colour_job.h - the colour job as a stream: begin job, pages of RGB lines,
// end job; the printer's bytes go to a ByteSink. Jobs share nothing, so
// several may run at once on several threads.
//
//   ColourJob(const RcInfo& rc, const PjpInfo& job, const ColourJobEnv& env,
//             ByteSink sink, bool usePageFiles);
//   ColourStatus beginJob();
//   ColourStatus beginPage();                                   // job.nWidth x job.nHeight
//   ColourStatus writeLine(std::span<const std::uint8_t> rgb);  // job.nBytesPerLine bytes
//   ColourStatus endPage();
//   ColourStatus endJob();
//   ColourStatus cancel();
//   std::span<std::uint8_t> pageBuffer();                       // for a caller that reads
//   ColourStatus endPage(std::size_t filledBytes);              //   pixels straight into it
//   ColourStatus beginPage(std::span<std::uint8_t> callerPage); // or has them in its own buffer
//
// Every call returns kColourOk or one of the statuses of report.h; after a
// status other than kColourOk and kColourPageFailed the job cannot go on
// (call nothing more but the destructor). Messages for the spooler
// ("ERROR: ...") go to env.reporter, in the words the command-line filter has
// always written them.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "colour/colour_records.h"
#include "colour/report.h"
#include "common/byte_sink.h"

namespace qv::colour {

struct RcInfo;          // the settings record (src_header/qvfiletool.h)
struct ColourJobState;  // everything the job holds while it runs (colour/job_state.h)

// What a job used to take from its environment, filled by the caller (the
// command line from getenv). A null or empty text counts as not given.
struct ColourJobEnv {
  const char* password = nullptr;    // PASSWORD: secure print with this PIN
  const char* owner = nullptr;       // OWNER
  const char* title = nullptr;       // TITLE
  const char* redValue = nullptr;    // QVREDVAL
  const char* outputTray = nullptr;  // OUTPUTTRAY
  const char* tmpDir = nullptr;      // TMPDIR: where page files and the copies file go
  // Looked at after every encoded line: non-zero asks the job to stop (the
  // caller then calls cancel()). May be null.
  const volatile std::sig_atomic_t* cancelFlag = nullptr;
  // The same question for a host that keeps its cancel elsewhere: called
  // after every encoded line, from the thread that drives the job. May be null.
  bool (*isCancelled)(void* context) = nullptr;
  void* isCancelledContext = nullptr;
  // Where the job's messages go; none are written anywhere else.
  Reporter reporter{};
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
  ~ColourJob();  // frees everything; scratch files have no name
  ColourJob(const ColourJob&) = delete;
  ColourJob& operator=(const ColourJob&) = delete;

  ColourStatus beginJob();  // PJL job header
  ColourStatus beginPage();
  // One line of nBytesPerLine RGB bytes; lines past the page height are refused.
  ColourStatus writeLine(std::span<const std::uint8_t> rgb);
  // Completes a short page with zero lines, drops a blank one when
  // "QVSkipBlank" is on, and sends the page (its copies too, when not collated).
  ColourStatus endPage();
  ColourStatus endJob();  // the last page and the PJL trailer
  // The documented cancel: 5768 zero bytes, the last complete page, the trailer.
  ColourStatus cancel();

  std::span<std::uint8_t> pageBuffer();
  ColourStatus endPage(std::size_t filledBytes);

  // As beginPage(), the page held in the caller's buffer of at least
  // nBytesPerLine x nHeight bytes (a reader thread's page buffer), which stays
  // valid until endPage() returns and may be written to (a short page is
  // completed with zero bytes in place). The job then holds no page of its own.
  ColourStatus beginPage(std::span<std::uint8_t> callerPage);

 private:
  ColourStatus sendCopies();
  // Allocated once per job: it holds the writer's line buffers (about 90 KiB).
  std::unique_ptr<ColourJobState> state_;
  enum class Phase { kNew, kJob, kPage, kEnded } phase_ = Phase::kNew;
  std::size_t filled_ = 0;           // bytes of the page so far
  ColourStatus status_ = kColourOk;  // first status that ended the job
};

}  // namespace qv::colour
