// core_job.cc - a qvprinter job on the mono or colour filter core.
#include "printer/core_job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "colour/colour_job.h"
#include "mono/mono_job.h"
#include "mono/qvcommon.h"

namespace qvprinter {
namespace {

template <std::size_t N>
void copyText(char (&dest)[N], const std::string& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
}

// The mono core's settings, read by the filter's own settings parser from
// the plan's settings text, so that every word means what it means in a
// settings file.
bool fillMonoSettings(const JobPlan& plan, PrintSettings& settings, std::string& error) {
  std::memset(&settings, 0, sizeof settings);
  std::string text = plan.settingsText("QV-M600");
  std::FILE* fp = ::fmemopen(text.data(), text.size(), "r");
  if (fp == nullptr) {
    error = "Out of memory.";
    return false;
  }
  const int rc = getRcFile(fp, &settings);
  std::fclose(fp);
  if (rc != 0) {
    error = "The job's settings were refused.";
    return false;
  }
  settings.width = plan.rasterWidth();
  settings.height = plan.rasterHeight();
  settings.paperWidth = settings.width;
  settings.paperHeight = settings.height;
  copyText(settings.owner, plan.owner);
  copyText(settings.password, plan.pin);
  copyText(settings.jobName, plan.title);
  copyText(settings.charset, "utf-8");
  // The paper's matching flags, as -flags digits (digit 0 first).
  std::memset(settings.flags, '0', sizeof settings.flags);
  for (std::size_t digit = 0; digit < 8; ++digit) {
    const unsigned value = (plan.monoFlags >> (4 * digit)) & 0xF;
    settings.flags[digit] = "0123456789abcdef"[value];
  }
  settings.offset = 0;
  return true;
}

}  // namespace

CoreJob::CoreJob(const JobPlan& plan) : plan_(plan) {}
CoreJob::~CoreJob() = default;

std::unique_ptr<CoreJob> CoreJob::create(const JobPlan& plan, qv::ByteSink sink,
                                         std::string& error) {
  std::unique_ptr<CoreJob> job(new CoreJob(plan));
  if (plan.model == Model::kMono) {
    PrintSettings settings;
    if (!fillMonoSettings(plan, settings, error)) return nullptr;
    job->mono_ = std::make_unique<qv::MonoJob>(settings, sink);
    job->row_.assign(static_cast<std::size_t>(plan.rasterWidth() + 7) / 8, 0);
  } else {
    if (!fillColourJob(plan, sink, *job, error)) return nullptr;
    job->row_.assign(static_cast<std::size_t>(plan.rasterWidth()) * 3, 255);
  }
  return job;
}

int CoreJob::beginJob() {
  const int rc = mono_ ? mono_->beginJob() : colour_->beginJob();
  jobOpen_ = rc == 0;
  return rc;
}

int CoreJob::beginPage() {
  const int rc = mono_ ? mono_->beginPage() : colour_->beginPage();
  pageOpen_ = rc == 0;
  if (pageOpen_) ++pages_;
  return rc;
}

void CoreJob::toMonoRow(unsigned y, std::span<const std::uint8_t> line, LineFormat format,
                        unsigned width) {
  const unsigned outWidth = static_cast<unsigned>(plan_.rasterWidth());
  const unsigned pixels = std::min(width, outWidth);
  if (format == LineFormat::kBlack1) {
    const std::size_t bytes = std::min<std::size_t>((pixels + 7) / 8, line.size());
    std::memcpy(row_.data(), line.data(), bytes);
    std::fill(row_.begin() + static_cast<std::ptrdiff_t>(bytes), row_.end(), 0);
    if (pixels % 8 != 0 && bytes == (pixels + 7) / 8)
      row_[bytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - pixels % 8));
    return;
  }
  std::fill(row_.begin(), row_.end(), 0);
  const unsigned step = format == LineFormat::kRgb8 ? 3 : 1;
  for (unsigned x = 0; x < pixels && (x + 1) * step <= line.size(); ++x) {
    unsigned level = line[x * step];
    if (step == 3) level = (level * 30 + line[x * 3 + 1] * 59u + line[x * 3 + 2] * 11u) / 100;
    const unsigned threshold = dither_ != nullptr ? dither_[y & 15][x & 15] : 127;
    if (level <= threshold) row_[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  }
}

void CoreJob::toRgbLine(std::span<const std::uint8_t> line, LineFormat format, unsigned width) {
  const unsigned left = static_cast<unsigned>(plan_.cropLeft());
  const unsigned outWidth = static_cast<unsigned>(plan_.rasterWidth());
  const unsigned pixels = width > left ? std::min(width - left, outWidth) : 0;
  std::uint8_t* out = row_.data();
  if (format == LineFormat::kRgb8) {
    const std::size_t bytes = std::min<std::size_t>(
        std::size_t{pixels} * 3, line.size() > left * 3 ? line.size() - left * 3 : 0);
    std::memcpy(out, line.data() + left * 3, bytes);
    std::fill(row_.begin() + static_cast<std::ptrdiff_t>(bytes), row_.end(), 255);
    return;
  }
  std::fill(row_.begin(), row_.end(), 255);
  for (unsigned x = 0; x < pixels; ++x) {
    const unsigned source = left + x;
    std::uint8_t level;
    if (format == LineFormat::kGray8) {
      if (source >= line.size()) break;
      level = line[source];
    } else {
      if (source / 8 >= line.size()) break;
      level = (line[source / 8] & (0x80 >> (source % 8))) ? 0 : 255;
    }
    out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = level;
  }
}

int CoreJob::writeSheetLine(unsigned y, std::span<const std::uint8_t> line, LineFormat format,
                            unsigned width) {
  const unsigned top = static_cast<unsigned>(plan_.cropTop());
  if (!pageOpen_ || y < top || y - top >= static_cast<unsigned>(plan_.rasterHeight())) return 0;
  if (mono_) {
    toMonoRow(y, line, format, width);
    return mono_->writeRow(row_);
  }
  toRgbLine(line, format, width);
  return colour_->writeLine(row_);
}

int CoreJob::endPage() {
  if (!pageOpen_) return 0;
  pageOpen_ = false;
  return mono_ ? mono_->endPage() : colour_->endPage();
}

int CoreJob::endJob(bool cancelled) {
  if (!jobOpen_) return 0;
  jobOpen_ = false;
  if (colour_ && cancelled && pageOpen_) {
    pageOpen_ = false;
    return colour_->cancel();
  }
  // The mono core completes a short page with blank rows: finishing the
  // open page keeps the stream well formed.
  const int pageRc = endPage();
  const int rc = mono_ ? mono_->endJob() : colour_->endJob();
  return pageRc != 0 ? pageRc : rc;
}

}  // namespace qvprinter
