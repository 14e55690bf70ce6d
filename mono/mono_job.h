// mono_job.h - the mono job writer as a streaming API: settings in, 1-bit
// rows in, the printer's bytes out to a ByteSink. rawtoqv runs its jobs
// through it; a printer application runs several at once, one object each.
//
//   qv::mono::MonoJob(const PrintSettings& settings, qv::ByteSink sink, const JobEnv& env);
//   Status beginJob();
//   Status beginPage();
//   Status writeRow(std::span<const std::uint8_t> row);
//   Status writePage(std::span<const std::uint8_t> page);
//   Status endPage();
//   Status endJob();
//   ~MonoJob();
//   bool qv::mono::monoPageFits(const PrintSettings& settings);
//
// Every call returns Status::kOk or the status that ends the job. Once a write
// to the sink failed, every later call returns Status::kWriteFailed and sends
// nothing. A cancel is: stop writing rows, endPage(), endJob(); the stream
// stays well formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/byte_sink.h"
#include "mono/print_settings.h"
#include "mono/status.h"

namespace qv::mono {

// Whether settings.width x settings.height describe a page the writer can
// send: 1 to 32767 rows and a width of 1 or more. A job of other settings
// can still be written, without pages.
bool monoPageFits(const PrintSettings& settings);

class MonoJob {
 public:
  // `settings` as prepareRawtoqvJob fills them: codes, texts, the raster
  // size at the job resolution (width x height dots), the flags and offset,
  // and the directory of the sorted-copy file (empty: /tmp). The failures
  // that end the job are reported through `env` where they are found.
  MonoJob(const PrintSettings& settings, ByteSink sink, const JobEnv& env = {});
  ~MonoJob();  // frees every buffer; the copy file has no name to remove
  MonoJob(const MonoJob&) = delete;
  MonoJob& operator=(const MonoJob&) = delete;

  [[nodiscard]] Status beginJob();   // allocates the buffers, then the PJL header and PCL set-up
  [[nodiscard]] Status beginPage();  // a page of settings.width x settings.height
  // One row of (width + 7) / 8 bytes, the most significant bit the leftmost
  // dot, 1 = black. The bytes are not kept after the call.
  [[nodiscard]] Status writeRow(std::span<const std::uint8_t> row);
  // A whole page at once, settings.height rows one after the other, right
  // after beginPage(): the same bytes as writeRow() row by row, encoded on
  // two threads.
  [[nodiscard]] Status writePage(std::span<const std::uint8_t> page);
  [[nodiscard]] Status endPage();  // a short page is completed with blank rows
  // Ends an open page, then the sorted-copy replays and the PJL trailer.
  [[nodiscard]] Status endJob();

 private:
  struct Impl;  // the job's state (compmain.h), made once per job
  std::unique_ptr<Impl> impl_;
};

// Where a job's pages come from. A descriptor is read on a thread of its
// own, with reads as large as the pipe allows, while the page before is
// encoded; without one, `read` is called for each page.
struct PageSource {
  int fd = -1;  // read straight from here when 0 or more
  // Fills as much of `bytes` as the input has and returns the count; a
  // count short of the span is the end of the input (or a read error).
  std::size_t (*read)(void* context, std::span<std::uint8_t> bytes) = nullptr;
  void* context = nullptr;
};

// Runs one whole job: reads raw 1-bit pages of settings.width x
// settings.height from `input` and sends the PJL/PCL job to `sink`, through
// MonoJob. A short last page is dropped and a read error ends the input; a
// cancel seen between pages (env.isCancelled) ends the job after the pages
// before, with its trailer. Returns Status::kOk after a job, also an empty
// one; Status::kNoMemory when a buffer cannot be allocated (nothing sent
// then); Status::kWriteFailed when a write failed (the reading stops,
// nothing more is sent); the sorted-copy statuses of MonoJob.
// A size that cannot describe a page (monoPageFits) gives a job without
// pages, and the input is not read.
[[nodiscard]] Status qvcomp1030(const PageSource& input, ByteSink sink,
                                const PrintSettings& settings, const JobEnv& env = {});

}  // namespace qv::mono
