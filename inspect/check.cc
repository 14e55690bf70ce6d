// check.cc - strict validation of a job for qvinspect --check.
#include "inspect/check.h"

#include <string>
#include <vector>

namespace qvinspect {
namespace {

bool knownDpi(long dpi) { return dpi == 300 || dpi == 600 || dpi == 1200; }

// Keeps the violation with the smallest offset: the one the printer meets
// first.
void note(std::vector<qvdecode::DecodeError>& found, std::size_t offset, int page,
          std::string message) {
  qvdecode::DecodeError error;
  error.offset = offset;
  error.page = page;
  error.message = std::move(message);
  found.push_back(std::move(error));
}

void checkMono(const qvdecode::MonoJob& job, bool complete,
               std::vector<qvdecode::DecodeError>& found) {
  if (!job.setupComplete) return;  // the decoder's fault is the first
  if (!knownDpi(job.unitDpi)) {
    note(found, job.pclOffset, 0,
         job.unitDpi == 0 ? "the PCL set-up names no unit of measure (\"\\e&u600D\")"
                          : "unit of measure " + std::to_string(job.unitDpi) +
                                " dpi; expected 300, 600 or 1200");
  }
  if (!knownDpi(job.rasterDpi)) {
    note(found, job.pclOffset, 0,
         job.rasterDpi == 0 ? "the PCL set-up names no raster resolution (\"\\e*t600R\")"
                            : "raster resolution " + std::to_string(job.rasterDpi) +
                                  " dpi; expected 300, 600 or 1200");
  }
  std::vector<std::size_t> pagesPerCopy;
  for (const qvdecode::MonoPage& page : job.pages) {
    const auto copy = static_cast<std::size_t>(page.copy);
    if (pagesPerCopy.size() < copy) pagesPerCopy.resize(copy, 0);
    ++pagesPerCopy[copy - 1];
  }
  for (std::size_t i = 0; i < job.replays.size(); ++i) {
    const qvdecode::MonoReplay& replay = job.replays[i];
    if (replay.pcl != job.pcl) {
      note(found, replay.offset, 0,
           "sorted-copy replay " + std::to_string(replay.copy) +
               " sends another PCL set-up than the job");
    }
    const auto copy = static_cast<std::size_t>(replay.copy);
    const std::size_t first = pagesPerCopy.empty() ? 0 : pagesPerCopy[0];
    const std::size_t these = copy <= pagesPerCopy.size() ? pagesPerCopy[copy - 1] : 0;
    // The last replay is complete only when the whole stream decoded.
    const bool finished = complete || i + 1 < job.replays.size();
    if (finished && these != first) {
      const std::size_t end =
          i + 1 < job.replays.size() ? job.replays[i + 1].offset : job.trailerOffset;
      note(found, end, 0,
           "sorted-copy replay " + std::to_string(replay.copy) + " has " + std::to_string(these) +
               " pages; the job has " + std::to_string(first));
    }
  }
}

void checkColour(const qvdecode::ColourJob& job, std::vector<qvdecode::DecodeError>& found) {
  int number = 0;
  for (const qvdecode::PwgPage& page : job.pages) {
    ++number;
    const qvdecode::PwgHeader& header = page.header;
    if (header.colorSpace != qvdecode::kPwgSrgb && header.colorSpace != qvdecode::kPwgSgray) {
      note(found, page.offset + qvdecode::pwgfield::kColorSpace, number,
           "ColorSpace " + std::to_string(header.colorSpace) +
               "; the printer takes sRGB (19) or sGray (18)");
    }
    if (header.bitsPerColor != 8) {
      note(found, page.offset + qvdecode::pwgfield::kBitsPerColor, number,
           "BitsPerColor " + std::to_string(header.bitsPerColor) + "; the printer takes 8");
    }
    if (header.hwResolution[0] == 0 || header.hwResolution[1] == 0) {
      note(found, page.offset + qvdecode::pwgfield::kHwResolution, number,
           "HWResolution " + std::to_string(header.hwResolution[0]) + " x " +
               std::to_string(header.hwResolution[1]) + "; both must be set");
    }
  }
}

}  // namespace

int checkJob(std::span<const std::uint8_t> job, JobKind kind, qvdecode::DecodeError& violation) {
  std::optional<std::size_t> cancelFill;
  return checkJob(job, kind, violation, cancelFill);
}

int checkJob(std::span<const std::uint8_t> job, JobKind kind, qvdecode::DecodeError& violation,
             std::optional<std::size_t>& cancelFill) {
  violation = qvdecode::DecodeError{};
  cancelFill.reset();
  if (kind == JobKind::kUnknown) {
    violation.message = "neither a mono nor a colour job";
    return -1;
  }
  JobSummary summary;
  DecodedJob decoded;
  (void)summariseJob(job, kind, summary, decoded, {});
  cancelFill = summary.cancelFill;
  return checkDecoded(summary, decoded, violation);
}

int checkDecoded(const JobSummary& summary, const DecodedJob& decoded,
                 qvdecode::DecodeError& violation) {
  violation = qvdecode::DecodeError{};
  std::vector<qvdecode::DecodeError> found;
  if (!summary.complete) found.push_back(summary.error);
  if (summary.kind == JobKind::kMono) checkMono(decoded.mono, summary.complete, found);
  if (summary.kind == JobKind::kColour) checkColour(decoded.colour, found);
  if (found.empty()) return 0;
  violation = found.front();
  for (const qvdecode::DecodeError& error : found) {
    if (error.offset < violation.offset) violation = error;
  }
  return -1;
}

}  // namespace qvinspect
