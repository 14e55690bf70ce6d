// summary.h - what qvinspect knows about a job: its kind, the decoded
// stream, and per page the figures a person or a script wants to see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"

namespace qvinspect {

enum class JobKind { kUnknown, kMono, kColour };

// Tells the kind from the first bytes: both kinds open with the universal
// exit and PJL lines; the "@PJL ENTER LANGUAGE" line names PCL (mono) or
// PWGRASTER (colour). kUnknown when the bytes are neither; `why` then says
// what was found instead.
JobKind detectJobKind(std::span<const std::uint8_t> job, std::string& why);

const char* kindName(JobKind kind);  // "mono", "colour", "unknown"

struct PageSummary {
  int number = 0;  // 1-based, in stream order (sorted-copy replays included)
  int copy = 1;    // sorted-copy set the page belongs to (mono)
  std::size_t offset = 0;
  std::size_t widthPixels = 0, heightPixels = 0;
  long xDpi = 0, yDpi = 0;
  std::string colorSpace;  // "black 1-bit", "sRGB 24-bit", "sGray 8-bit", ...
  std::size_t wireBytes = 0;
  std::size_t rawBytes = 0;  // decoded raster bytes
  std::size_t blankRows = 0;
  std::size_t repeatRows = 0;
  std::size_t deltaRows = 0;  // mono: method-9 rows; colour: encoded lines
  std::size_t keyRows = 0;    // mono only
  std::size_t blocks = 0;     // mono only
  double compressionRatio() const {
    return wireBytes == 0 ? 0.0 : static_cast<double>(rawBytes) / static_cast<double>(wireBytes);
  }
};

struct JobSummary {
  JobKind kind = JobKind::kUnknown;
  std::size_t bytes = 0;              // of the job: up to the end of its trailer when complete
  std::vector<std::string> settings;  // PJL lines without "@PJL ", PIN masked
  std::vector<std::string> pcl;       // mono: the PCL set-up, one command per line
  std::vector<PageSummary> pages;
  std::vector<std::string> trailer;       // trailer PJL lines, as settings
  bool complete = false;                  // the whole stream decoded
  std::optional<std::size_t> cancelFill;  // colour: offset of the fill of a cancelled job
  qvdecode::DecodeError error;            // when not complete
};

// Called with each decoded page (exactly one of the two pointers set) and
// its summary, e.g. to write a preview. Mono pages come with their rows,
// colour pages without pixels (see LineVisitor). Non-zero stops the decoding.
using PageVisitor = std::function<int(const PageSummary&, const qvdecode::MonoPage*,
                                      const qvdecode::MonoJob*, const qvdecode::PwgPage*)>;

// Called with each line of a colour page as it is decoded: `copies` equal
// lines from line `y`. Non-zero stops the decoding.
using LineVisitor = std::function<int(const qvdecode::PwgPage&, std::uint32_t y,
                                      std::uint32_t copies, std::span<const std::uint8_t> line)>;

// The largest page either model prints; a larger one is damage, not drawn.
inline constexpr std::uint32_t kMaxColourWidth = 7200, kMaxColourHeight = 32767;

// Decodes `job` of the given kind one row or line at a time (without a page
// visitor, a mono page never sits in memory decoded, nor ever a colour
// page) and fills `summary`. Returns 0 when the whole stream
// decoded, -1 otherwise (summary.error says where; the pages before the
// fault are summarised).
int summariseJob(std::span<const std::uint8_t> job, JobKind kind, JobSummary& summary,
                 const PageVisitor& visitor = {}, const LineVisitor& lines = {});

// The decoded mono or colour job, with pages' counts but no rows or pixels,
// for the strict checks that need the stream's own fields.
struct DecodedJob {
  qvdecode::MonoJob mono;
  qvdecode::ColourJob colour;
};
// With `moreJobs`, `job` may go on after the job's trailer with the next job
// of a capture (the kind of each job is its own); `summary.bytes` then says
// where the job ends, when it decoded.
int summariseJob(std::span<const std::uint8_t> job, JobKind kind, JobSummary& summary,
                 DecodedJob& decoded, const PageVisitor& visitor, const LineVisitor& lines = {},
                 bool moreJobs = false);

// A PJL line as the report shows it: without "@PJL ", the hold key's value
// replaced by "****" (a PIN must not land in a log or a ticket).
std::string maskedSetting(std::string_view line);

// The PCL command of the mono set-up, in words ("unit of measure 600 dpi").
std::string describePcl(const qvdecode::PclCommand& command);

// Paper of a PCL page-size code (the number of "\e&l<n>A") in 1/120 inch:
// the shorter side and the longer side. False for an unknown code.
bool paperForPclSize(long code, long& width120, long& length120, const char*& name);

}  // namespace qvinspect
