// cores.h - the two filter cores behind one small interface (cores.cc). Each
// core reports its messages to the PAPPL job and asks it whether it is
// cancelled.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/byte_sink.h"
#include "printer/job_plan.h"

namespace qvprinter {

// One job on a core: a row (mono, 1-bit) or an RGB line (colour) at a time.
// Every call returns 0 or the core's status that ends the job.
class CoreStream {
 public:
  virtual ~CoreStream() = default;
  virtual int beginJob() = 0;
  virtual int beginPage() = 0;
  virtual int write(std::span<const std::uint8_t> row) = 0;
  virtual int endPage() = 0;
  // The open page's own buffer, for a caller that reads lines straight into
  // it (colour: the imaging area's RGB lines); empty when the core has none.
  virtual std::span<std::uint8_t> pageBuffer() { return {}; }
  // Begins a page held in the caller's buffer (colour: the imaging area's
  // RGB lines, as pageBuffer() gives them), which must stay as it is until
  // the page has ended; non-zero where the core cannot.
  virtual int beginPage(std::span<std::uint8_t> /*page*/) { return -1; }
  // Ends a page filled through pageBuffer(): its first `filled` bytes.
  virtual int endPage(std::size_t /*filled*/) { return endPage(); }
  virtual int endJob() = 0;
  // The core's cancel: the open page ended as the core defines, then the
  // trailer.
  virtual int cancel() = 0;
};

// The plan's job on its model's core; nullptr with `error` set when the
// core refuses a setting. `plan` must outlive the stream (its texts are used
// as they are). The core's messages go to `job`'s log, an error also to its
// state message.
std::unique_ptr<CoreStream> makeMonoStream(const JobPlan& plan, qv::ByteSink sink, pappl_job_t* job,
                                           std::string& error);
std::unique_ptr<CoreStream> makeColourStream(const JobPlan& plan, qv::ByteSink sink,
                                             pappl_job_t* job, std::string& error);

}  // namespace qvprinter
