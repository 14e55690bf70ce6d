// check_fuzz.cc - qvinspect's kind detection, --check, both reports and captures of jobs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "inspect/check.h"
#include "inspect/report.h"
#include "inspect/summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> job(data, size);
  std::string why;
  const qvinspect::JobKind kind = qvinspect::detectJobKind(job, why);
  qvdecode::DecodeError violation;
  (void)qvinspect::checkJob(job, kind, violation);
  qvinspect::JobSummary summary;
  (void)qvinspect::summariseJob(job, kind, summary);
  (void)qvinspect::textReport("job", summary);
  (void)qvinspect::jsonReport("job", summary);
  // As the first job of a capture of several, and the job after it.
  qvinspect::DecodedJob decoded;
  if (qvinspect::summariseJob(job, kind, summary, decoded, {}, {}, true) == 0) {
    (void)qvinspect::checkDecoded(summary, decoded, violation);
    const std::span<const std::uint8_t> next = job.subspan(summary.bytes);
    (void)qvinspect::summariseJob(next, qvinspect::detectJobKind(next, why), summary, decoded, {},
                                  {}, true);
  }
  return 0;
}
