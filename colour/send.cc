// send.cc - buffered writer to the job's byte sink.
#include "colour/send.h"

#include <cstdint>
#include <cstring>

#include "colour/job_state.h"

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

int pswrite(ColourJobState& job, const void* bytes, std::size_t length) {
  if (length == 0) return 1;
  if (!job.outBuffer || job.outFailed) return 0;
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  // A block as big as the buffer (a page file's copy) goes out as it is,
  // with no copy into the buffer first.
  if (length < kOutputBufferSize && job.outUsed + length <= kOutputBufferSize) {
    std::memcpy(job.outBuffer.get() + job.outUsed, data, length);
    job.outUsed += length;
    return 1;
  }
  if (!flushOutput(job)) return 0;
  if (length >= kOutputBufferSize) return handOver(job, data, length) ? 1 : 0;
  std::memcpy(job.outBuffer.get(), data, length);
  job.outUsed = length;
  return 1;
}

int flushOutput(ColourJobState& job) {
  const bool ok = handOver(job, job.outBuffer.get(), job.outUsed);
  job.outUsed = 0;
  return ok ? 1 : 0;
}

int CreateSendBuf(ColourJobState& job) {
  job.send.pdev = &job.dev;
  if (!job.outBuffer) job.outBuffer = qv::allocateBytes(kOutputBufferSize);
  return job.outBuffer ? 0 : 1;
}

void DestroySendBuf(ColourJobState& job) { job.outBuffer.reset(); }
