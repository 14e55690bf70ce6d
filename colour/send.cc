// send.cc - buffered writer to the job's byte sink.
#include "colour/send.h"

#include <cstdint>
#include <cstring>

#include "colour/job_state.h"

namespace qv::colour {
namespace {

// 1 MiB: a chart page encodes to a few hundred KiB, so a page leaves in a
// handful of hand-overs.
constexpr std::size_t kOutputBufferSize = std::size_t{1} << 20;

bool handOver(ColourJobState& job, const std::uint8_t* bytes, std::size_t length) {
  if (job.outFailed) return false;
  if (length > 0 && !job.sink({bytes, length})) job.outFailed = true;
  return !job.outFailed;
}

}  // namespace

// Not PostScript: the name is the printer driver's for its one output writer.
Status pswrite(ColourJobState& job, const void* bytes, std::size_t length) {
  if (length == 0) return Status::kOk;
  if (!job.outBuffer || job.outFailed) return Status::kWriteFailed;
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  // A block as big as the buffer (a page file's copy) goes out as it is,
  // with no copy into the buffer first.
  if (length < kOutputBufferSize && job.outUsed + length <= kOutputBufferSize) {
    std::memcpy(job.outBuffer.get() + job.outUsed, data, length);
    job.outUsed += length;
    return Status::kOk;
  }
  if (flushOutput(job) != Status::kOk) return Status::kWriteFailed;
  if (length >= kOutputBufferSize)
    return handOver(job, data, length) ? Status::kOk : Status::kWriteFailed;
  std::memcpy(job.outBuffer.get(), data, length);
  job.outUsed = length;
  return Status::kOk;
}

Status flushOutput(ColourJobState& job) {
  const bool ok = handOver(job, job.outBuffer.get(), job.outUsed);
  job.outUsed = 0;
  return ok ? Status::kOk : Status::kWriteFailed;
}

Status CreateSendBuf(ColourJobState& job) {
  job.send.pdev = &job.dev;
  if (!job.outBuffer) job.outBuffer = qv::allocateBytes(kOutputBufferSize);
  return job.outBuffer ? Status::kOk : Status::kNoMemory;
}

void DestroySendBuf(ColourJobState& job) { job.outBuffer.reset(); }

}  // namespace qv::colour
