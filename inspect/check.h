// check.h - qvinspect --check: the rules a job must keep for the printer to
// read every page, beyond what decoding the stream already enforces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decode/decode_error.h"
#include "inspect/summary.h"

namespace qvinspect {

// Decodes `job` of the given kind and checks it strictly. Returns 0 when the
// printer will read every page; -1 with `violation` at the first broken rule
// in stream order. Decoding faults (framing, block lengths, record counts,
// rows, PWG headers and line counts, trailing bytes) come from the
// decoders; on top of them:
// - mono: the set-up names a unit of measure and a raster resolution of
//   300, 600 or 1200 dpi; every sorted-copy replay repeats the job's set-up
//   and its number of pages;
// - colour: every page is sRGB or sGray at 8 bits per colour with a
//   resolution in both directions, and at most kMaxColourWidth x
//   kMaxColourHeight pixels (what the QV colour printers take); a cancelled
//   job passes when its one cancel fill stands between whole pages, and
//   `cancelFill` is then set to its offset.
int checkJob(std::span<const std::uint8_t> job, JobKind kind, qvdecode::DecodeError& violation);
int checkJob(std::span<const std::uint8_t> job, JobKind kind, qvdecode::DecodeError& violation,
             std::optional<std::size_t>& cancelFill);

// The same rules on a job summariseJob already decoded (e.g. one job of a
// capture of several): the decoding fault, if any, or the first broken rule.
int checkDecoded(const JobSummary& summary, const DecodedJob& decoded,
                 qvdecode::DecodeError& violation);

}  // namespace qvinspect
