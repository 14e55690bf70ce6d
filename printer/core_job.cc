// core_job.cc - a qvprinter job on the mono or colour filter core.
#include "printer/core_job.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "printer/cores.h"
#include "printer/page_spool.h"

namespace qvprinter {

CoreJob::CoreJob(const JobPlan& plan) : plan_(plan) {}
CoreJob::~CoreJob() = default;

std::unique_ptr<CoreJob> CoreJob::create(const JobPlan& plan, qv::ByteSink sink,
                                         pappl_job_t* papplJob, std::string& error) {
  std::unique_ptr<CoreJob> job(new CoreJob(plan));
  // The stream reads the texts of the job's own copy of the plan.
  const bool mono = plan.model == Model::kMono;
  job->core_ = mono ? makeMonoStream(job->plan_, sink, papplJob, error)
                    : makeColourStream(job->plan_, sink, papplJob, error);
  if (!job->core_) return nullptr;
  if (mono)
    job->row_.assign(static_cast<std::size_t>(plan.rasterWidth() + 7) / 8, 0);
  else
    job->row_.assign(static_cast<std::size_t>(plan.rasterWidth()) * 3, 255);
  if (plan.passes > 1) {
    // Kept on disk, not in memory: a 1200 dpi mono page is 17 MB, a colour
    // page 97 MB before the spool's blank rows shrink it.
    const char* tmpdir = std::getenv("TMPDIR");
    job->spool_ = std::make_unique<PageSpool>();
    if (const int rc =
            job->spool_->open(tmpdir != nullptr && *tmpdir ? tmpdir : "/tmp", job->row_.size());
        rc != 0) {
      error = std::string("Cannot keep the pages for collated copies: ") + std::strerror(rc);
      return nullptr;
    }
  }
  return job;
}

int CoreJob::beginJob() {
  const int rc = core_->beginJob();
  jobOpen_ = rc == 0;
  return rc;
}

int CoreJob::beginPage() {
  const int rc = core_->beginPage();
  pageOpen_ = rc == 0;
  linesWritten_ = 0;
  filled_ = {};
  if (pageOpen_) ++pages_;
  return rc != 0 || !spool_ ? rc : spool_->beginPage();
}

int CoreJob::beginFilledPage(std::span<std::uint8_t> page) {
  const int rc = core_->beginPage(page);
  pageOpen_ = rc == 0;
  linesWritten_ = 0;
  filled_ = page;
  if (pageOpen_) ++pages_;
  return rc != 0 || !spool_ ? rc : spool_->beginPage();
}

int CoreJob::put(std::span<const std::uint8_t> row) {
  if (spool_)
    if (const int rc = spool_->addRow(row); rc != 0) return rc;
  return core_->write(row);
}

int CoreJob::keepRows(std::span<const std::uint8_t> page) {
  if (!spool_) return 0;
  for (std::size_t at = 0; at + row_.size() <= page.size(); at += row_.size())
    if (const int rc = spool_->addRow(page.subspan(at, row_.size())); rc != 0) return rc;
  return spool_->endPage();
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
    // Solid black and white stay as they are (a black_1 page PAPPL widened
    // to gray comes back bit for bit); the levels between are dithered.
    const unsigned threshold = dither_ != nullptr ? dither_[y & 15][x & 15] : 128;
    if (level == 0 || (level < 255 && level < threshold))
      row_[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
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
  if (plan_.model == Model::kMono) {
    toMonoRow(y, line, format, width);
  } else {
    toRgbLine(line, format, width);
    ++linesWritten_;
  }
  return put(row_);
}

int CoreJob::endPage() {
  if (!pageOpen_) return 0;
  pageOpen_ = false;
  if (spool_ && plan_.model == Model::kMono)
    if (const int rc = spool_->endPage(); rc != 0) return rc;
  if (plan_.model == Model::kMono) return core_->endPage();  // completed with blank rows
  // The colour core completes a short page with zero (black) lines: a page
  // shorter than the paper is completed with white here.
  std::fill(row_.begin(), row_.end(), 255);
  for (; linesWritten_ < plan_.rasterHeight(); ++linesWritten_)
    if (const int rc = put(row_); rc != 0) return rc;
  if (spool_)
    if (const int rc = spool_->endPage(); rc != 0) return rc;
  return core_->endPage();
}

std::span<std::uint8_t> CoreJob::pageBuffer() {
  return pageOpen_ && linesWritten_ == 0 ? core_->pageBuffer() : std::span<std::uint8_t>{};
}

int CoreJob::endFilledPage() {
  if (!pageOpen_) return 0;
  pageOpen_ = false;
  if (const int rc = keepRows(filled_.empty() ? core_->pageBuffer() : filled_); rc != 0) return rc;
  return core_->endPage(core_->pageBuffer().size());
}

void CoreJob::dropCopies() { spool_.reset(); }

int CoreJob::blankPage() {
  std::unique_ptr<PageSpool> spool = std::move(spool_);  // a blank back is never a page to copy
  int rc = beginPage();
  if (rc == 0) rc = endPage();
  spool_ = std::move(spool);
  return rc;
}

int CoreJob::sendCopies(bool (*cancelled)(void*), void (*pageSent)(void*), void* context) {
  if (!spool_ || !jobOpen_ || pageOpen_) return 0;
  std::unique_ptr<PageSpool> spool = std::move(spool_);  // the copies are not kept again
  const std::size_t pages = spool->pages();
  const auto write = [](void* stream, std::span<const std::uint8_t> row) {
    return static_cast<CoreStream*>(stream)->write(row);
  };
  for (int pass = 1; pass < plan_.passes && pages > 0; ++pass) {
    // Two-sided: an odd page count would put this copy's first page on the
    // back of the last copy's last sheet.
    if (plan_.duplex && pages % 2 == 1 && !cancelled(context)) {
      if (const int rc = blankPage(); rc != 0) return rc;
      pageSent(context);
    }
    for (std::size_t page = 0; page < pages; ++page) {
      if (cancelled(context)) return 0;
      int rc = core_->beginPage();
      pageOpen_ = rc == 0;
      if (rc == 0) rc = spool->readPage(page, write, core_.get());
      if (rc != 0) return rc;
      pageOpen_ = false;
      if ((rc = core_->endPage()) != 0) return rc;
      ++pages_;
      pageSent(context);
    }
  }
  return 0;
}

int CoreJob::endJob(bool cancelled) {
  if (!jobOpen_) return 0;
  jobOpen_ = false;
  if (cancelled && pageOpen_) {
    pageOpen_ = false;
    return core_->cancel();
  }
  const int pageRc = endPage();
  const int rc = core_->endJob();
  return pageRc != 0 ? pageRc : rc;
}

}  // namespace qvprinter
