// colour_job.h - the colour job as a stream: begin job, pages of RGB lines,
// end job; the printer's bytes go to a ByteSink. Jobs share nothing, so
// several may run at once on several threads.
//
//   ColourJob(const RcInfo& rc, const PjpInfo& job, const JobVariables& variables,
//             ByteSink sink, const JobEnv& env, bool usePageFiles);
//   Status beginJob();
//   Status beginPage();                                   // job.nWidth x job.nHeight
//   Status writeLine(std::span<const std::uint8_t> rgb);  // job.nBytesPerLine bytes
//   Status endPage();
//   Status endJob();
//   Status cancel();
//   std::span<std::uint8_t> pageBuffer();                       // for a caller that reads
//   Status endPage(std::size_t filledBytes);              //   pixels straight into it
//   Status beginPage(std::span<std::uint8_t> callerPage); // or has them in its own buffer
//
// Every call returns Status::kOk or one of the statuses of status.h; after a
// status other than kOk and kPageFailed the job cannot go on (call nothing
// more but the destructor; after kCancelled, cancel()). Messages for the
// spooler ("ERROR: ...") go to env.report, in the words the command-line
// filter has always written them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "colour/colour_records.h"
#include "colour/status.h"
#include "common/byte_sink.h"

namespace qv::colour {

struct RcInfo;          // the settings record (src_header/qvfiletool.h)
struct ColourJobState;  // everything the job holds while it runs (colour/job_state.h)

// What a job used to take from its environment variables, filled by the
// caller (the command line from getenv). A null or empty text counts as not
// given.
struct JobVariables {
  const char* password = nullptr;    // PASSWORD: secure print with this PIN
  const char* owner = nullptr;       // OWNER
  const char* title = nullptr;       // TITLE
  const char* redValue = nullptr;    // QVREDVAL
  const char* outputTray = nullptr;  // OUTPUTTRAY
  const char* tmpDir = nullptr;      // TMPDIR: where page files and the copies file go
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
  // `env` gets every message of the job (none is written anywhere else), and
  // is asked after every encoded line whether to stop (Status::kCancelled:
  // the caller then calls cancel()).
  ColourJob(const RcInfo& rc, const PjpInfo& job, const JobVariables& variables, ByteSink sink,
            const JobEnv& env, bool usePageFiles);
  ~ColourJob();  // frees everything; scratch files have no name
  ColourJob(const ColourJob&) = delete;
  ColourJob& operator=(const ColourJob&) = delete;

  Status beginJob();  // PJL job header
  Status beginPage();
  // One line of nBytesPerLine RGB bytes; lines past the page height are refused.
  Status writeLine(std::span<const std::uint8_t> rgb);
  // Completes a short page with zero lines, drops a blank one when
  // "QVSkipBlank" is on, and sends the page (its copies too, when not collated).
  Status endPage();
  Status endJob();  // the last page and the PJL trailer
  // The documented cancel: 5768 zero bytes, the last complete page, the trailer.
  Status cancel();

  std::span<std::uint8_t> pageBuffer();
  Status endPage(std::size_t filledBytes);

  // As beginPage(), the page held in the caller's buffer of at least
  // nBytesPerLine x nHeight bytes (a reader thread's page buffer), which stays
  // valid until endPage() returns and may be written to (a short page is
  // completed with zero bytes in place). The job then holds no page of its own.
  Status beginPage(std::span<std::uint8_t> callerPage);

 private:
  Status sendCopies();
  // Allocated once per job: it holds the writer's line buffers (about 90 KiB).
  std::unique_ptr<ColourJobState> state_;
  enum class Phase { kNew, kJob, kPage, kEnded } phase_ = Phase::kNew;
  std::size_t filled_ = 0;       // bytes of the page so far
  Status status_ = Status::kOk;  // first status that ended the job
};

}  // namespace qv::colour
