// colour_job.cc - the colour job's streaming API over the writer slots.
#include "colour/colour_job.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "colour/compress.h"
#include "colour/job_state.h"
#include "colour/send.h"
#include "colour/tempfile.h"

namespace qv::colour {
namespace {

std::string text(const char* value) { return value != nullptr ? value : ""; }

constexpr std::uint8_t kCancelFill[kColourCancelFillBytes] = {};

void closeCopiesFile(ColourJobState& job) {
  if (job.fdPageData < 0) return;
  ::close(job.fdPageData);
  job.fdPageData = -1;
}

// Reads exactly `size` bytes from the copies file. False on end of file, a
// failure, or a cancel.
bool readCopiesFile(ColourJobState& job, std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (job.cancelled()) return false;
    const ssize_t got = ::read(job.fdPageData, out + done, size - done);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool writeCopiesFile(ColourJobState& job, const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(job.fdPageData, bytes + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

ColourJobState::ColourJobState(const RcInfo& settings, const PjpInfo& job,
                               const ColourJobEnv& environment, qv::ByteSink byteSink,
                               bool pageFiles)
    : rc(settings),
      pjp(job),
      password(text(environment.password)),
      owner(text(environment.owner)),
      title(text(environment.title)),
      redValue(text(environment.redValue)),
      outputTray(text(environment.outputTray)),
      tmpDir(text(environment.tmpDir)),
      cancelled{environment.cancelFlag, environment.isCancelled, environment.isCancelledContext},
      reporter(environment.reporter),
      usePageFiles(pageFiles),
      sink(byteSink),
      log(kDebugLogPath, environment.reporter) {}

ColourJobState::~ColourJobState() {
  discardPageFiles(*this);
  closeCopiesFile(*this);
}

ColourJob::ColourJob(const RcInfo& rc, const PjpInfo& job, const ColourJobEnv& env, ByteSink sink,
                     bool usePageFiles)
    : state_(std::make_unique<ColourJobState>(rc, job, env, sink, usePageFiles)) {}

ColourJob::~ColourJob() = default;

ColourStatus ColourJob::beginJob() {
  if (phase_ != Phase::kNew) return kColourBadState;
  ColourJobState& state = *state_;
  const PjpInfo& pjp = state.pjp;
  // The line buffers of the writer hold 7200 pixels.
  if (pjp.nWidth <= 0 || pjp.nWidth > kMaxPageWidth || pjp.nHeight <= 0 ||
      pjp.nBytesPerLine != static_cast<std::uint64_t>(pjp.nWidth) * 3) {
    state.reporter(ReportLevel::kError, "Invalid Parameter(s).");
    return status_ = kColourBadSize;
  }
  if (CreateSendBuf(state) != kColourOk || createPageFileBuffers(state) != kColourOk) {
    state.reporter(ReportLevel::kError, "molloc fasle");
    return status_ = kColourNoMemory;
  }
  SetFunctionTable(state.funcs);
  state.send.nCollate = pjp.nCollate;
  state.nCopies = (pjp.nCollate == 1 || pjp.nCopyCount < 2) ? 1 : pjp.nCopyCount;
  state.send.wBandIndex = 0;
  state.funcs.beginJob(state);
  phase_ = Phase::kJob;
  return kColourOk;
}

ColourStatus ColourJob::beginPage() {
  if (phase_ != Phase::kJob) return kColourBadState;
  if (CreateBandBuf(*state_, state_->pjp.nBytesPerLine, state_->send.nBandLines) != kColourOk)
    return status_ = kColourNoMemory;
  state_->pageData = state_->page.get();
  filled_ = 0;
  phase_ = Phase::kPage;
  return kColourOk;
}

ColourStatus ColourJob::writeLine(std::span<const std::uint8_t> rgb) {
  if (phase_ != Phase::kPage) return kColourBadState;
  if (rgb.size() != state_->pjp.nBytesPerLine || filled_ + rgb.size() > state_->onePageByte)
    return kColourBadSize;
  std::memcpy(state_->pageData + filled_, rgb.data(), rgb.size());
  filled_ += rgb.size();
  return kColourOk;
}

ColourStatus ColourJob::beginPage(std::span<std::uint8_t> callerPage) {
  if (phase_ != Phase::kJob) return kColourBadState;
  const std::uint64_t size =
      state_->pjp.nBytesPerLine * static_cast<std::uint64_t>(state_->send.nBandLines);
  if (size == 0 || callerPage.size() < size) return kColourBadSize;
  state_->onePageByte = size;
  state_->pageData = callerPage.data();
  filled_ = 0;
  phase_ = Phase::kPage;
  return kColourOk;
}

std::span<std::uint8_t> ColourJob::pageBuffer() {
  if (phase_ != Phase::kPage) return {};
  return {state_->pageData, static_cast<std::size_t>(state_->onePageByte)};
}

ColourStatus ColourJob::endPage(std::size_t filledBytes) {
  filled_ = std::min<std::size_t>(filledBytes, state_->onePageByte);
  return endPage();
}

ColourStatus ColourJob::endPage() {
  if (phase_ != Phase::kPage) return kColourBadState;
  // A page that ends early is sent with its missing lines as zero bytes.
  std::memset(state_->pageData + filled_, 0, state_->onePageByte - filled_);
  phase_ = Phase::kJob;
  const ColourStatus status = sendCopies();
  closeCopiesFile(*state_);
  if (status != kColourOk && status != kColourPageFailed) status_ = status;
  return status;
}

ColourStatus ColourJob::sendCopies() {
  ColourJobState& s = *state_;
  const std::size_t size = s.onePageByte;
  const bool uncollated = s.pjp.nCollate == 0 && s.nCopies >= 2;
  for (s.iCopy = 0; s.iCopy < s.nCopies; ++s.iCopy) {
    if (uncollated && s.usePageFiles && s.iCopy == 0) {
      s.fdPageData = myTempFd(scratchDirectory(s.tmpDir.c_str()));
      if (s.fdPageData < 0) {
        s.reporter(ReportLevel::kError, "ERROR: Unable to create a temporay file");
      } else if (!writeCopiesFile(s, s.pageData, size)) {
        s.reporter(ReportLevel::kError,
                   "ERROR: Writing raster data to temporary file failed,just ONE copy will be "
                   "printed!");
        closeCopiesFile(s);
      }
    } else if (uncollated && s.usePageFiles) {
      // Without the copies file the page has gone out once, as the message
      // said; the job goes on with the next page.
      if (s.fdPageData < 0) break;
      ::lseek(s.fdPageData, 0, SEEK_SET);
      if (!readCopiesFile(s, s.pageData, size)) {
        if (s.cancelled()) return kColourCancelled;
        s.reporter(ReportLevel::kError, "ERROR: Reading raster data from temporary file failed!");
        return kColourPageFailed;
      }
    }
    s.send.wBandIndex = 0;
    const bool pageFailed = s.funcs.beginPage(s) != kColourOk || s.funcs.sendBand(s) != kColourOk;
    s.funcs.endPage(s);
    flushOutput(s);
    // The reader is gone: converting more would be for no one.
    if (s.outFailed) return kColourWriteFailed;
    if (s.cancelled()) return kColourCancelled;
    if (pageFailed) return kColourPageFailed;
  }
  return kColourOk;
}

ColourStatus ColourJob::endJob() {
  if (phase_ == Phase::kNew || phase_ == Phase::kEnded) return kColourBadState;
  phase_ = Phase::kEnded;
  ColourJobState& state = *state_;
  if (state.outFailed) return kColourWriteFailed;
  state.funcs.endJob(state);
  flushOutput(state);
  releaseBandBuf(state);
  return state.outFailed ? kColourWriteFailed : kColourOk;
}

ColourStatus ColourJob::cancel() {
  if (phase_ == Phase::kNew || phase_ == Phase::kEnded) return kColourBadState;
  phase_ = Phase::kEnded;
  ColourJobState& state = *state_;
  closeCopiesFile(state);
  // A page cut short is deleted, never sent.
  pswrite(state, kCancelFill, sizeof kCancelFill);
  state.funcs.endJob(state);
  flushOutput(state);
  releaseBandBuf(state);
  return state.outFailed ? kColourWriteFailed : kColourOk;
}

}  // namespace qv::colour
