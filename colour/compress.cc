// compress.cc - the page buffer.
#include "colour/compress.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>

#include "colour/job_state.h"

namespace qv::colour {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

// The name is the printer driver's: its one "band" is the whole page.
Status CreateBandBuf(ColourJobState& job, std::uint64_t bytesPerLine, long lines) {
  if (bytesPerLine == 0 || lines <= 0) {
    job.env.say(ReportLevel::kError, "Invalid Parameter(s).");
    return Status::kBadSize;
  }
  const std::uint64_t size = bytesPerLine * static_cast<std::uint64_t>(lines);
  if (!job.page || job.pageAllocated != size) {
    releaseBandBuf(job);
    // 2 MiB aligned and backed by huge pages where the kernel allows it: the
    // page is read into this buffer with a kernel copy of 104 MB per A4 page,
    // and huge pages cut that copy's page faults and TLB misses.
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    job.page.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
    if (!job.page) {
      job.env.say(ReportLevel::kError, "ERROR: Insufficient memory!");
      return Status::kNoMemory;
    }
    ::madvise(job.page.get(), rounded, MADV_HUGEPAGE);
    job.pageAllocated = size;
  }
  job.onePageByte = size;
  return Status::kOk;
}

// Destroys nothing: the buffer is kept for the next page.
void DestroyBandBuf(ColourJobState& job) { job.onePageByte = 0; }

void releaseBandBuf(ColourJobState& job) {
  job.page.reset();
  job.pageData = nullptr;
  job.pageAllocated = 0;
  job.onePageByte = 0;
}

}  // namespace qv::colour
