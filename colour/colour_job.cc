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
    if (job.env.cancelled()) return false;
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
                               const JobVariables& variables, qv::ByteSink byteSink,
                               const JobEnv& environment, bool pageFiles)
    : rc(settings),
      pjp(job),
      password(text(variables.password)),
      owner(text(variables.owner)),
      title(text(variables.title)),
      redValue(text(variables.redValue)),
      outputTray(text(variables.outputTray)),
      tmpDir(text(variables.tmpDir)),
      env(environment),
      usePageFiles(pageFiles),
      sink(byteSink),
      log(kDebugLogPath, environment) {}

ColourJobState::~ColourJobState() {
  discardPageFiles(*this);
  closeCopiesFile(*this);
}

ColourJob::ColourJob(const RcInfo& rc, const PjpInfo& job, const JobVariables& variables,
                     ByteSink sink, const JobEnv& env, bool usePageFiles)
    : state_(std::make_unique<ColourJobState>(rc, job, variables, sink, env, usePageFiles)) {}

ColourJob::~ColourJob() = default;

Status ColourJob::beginJob() {
  if (phase_ != Phase::kNew) return Status::kBadState;
  ColourJobState& state = *state_;
  const PjpInfo& pjp = state.pjp;
  // The line buffers of the writer hold 7200 pixels.
  if (pjp.nWidth <= 0 || pjp.nWidth > kMaxPageWidth || pjp.nHeight <= 0 ||
      pjp.nBytesPerLine != static_cast<std::uint64_t>(pjp.nWidth) * 3) {
    state.env.say(ReportLevel::kError, "Invalid Parameter(s).");
    return status_ = Status::kBadSize;
  }
  if (CreateSendBuf(state) != Status::kOk || createPageFileBuffers(state) != Status::kOk) {
    state.env.say(ReportLevel::kError, "molloc fasle");
    return status_ = Status::kNoMemory;
  }
  SetFunctionTable(state.funcs);
  state.send.nCollate = pjp.nCollate;
  state.nCopies = (pjp.nCollate == 1 || pjp.nCopyCount < 2) ? 1 : pjp.nCopyCount;
  state.send.wBandIndex = 0;
  state.funcs.beginJob(state);
  phase_ = Phase::kJob;
  return Status::kOk;
}

Status ColourJob::beginPage() {
  if (phase_ != Phase::kJob) return Status::kBadState;
  if (CreateBandBuf(*state_, state_->pjp.nBytesPerLine, state_->send.nBandLines) != Status::kOk)
    return status_ = Status::kNoMemory;
  state_->pageData = state_->page.get();
  filled_ = 0;
  phase_ = Phase::kPage;
  return Status::kOk;
}

Status ColourJob::writeLine(std::span<const std::uint8_t> rgb) {
  if (phase_ != Phase::kPage) return Status::kBadState;
  if (rgb.size() != state_->pjp.nBytesPerLine || filled_ + rgb.size() > state_->onePageByte)
    return Status::kBadSize;
  std::memcpy(state_->pageData + filled_, rgb.data(), rgb.size());
  filled_ += rgb.size();
  return Status::kOk;
}

Status ColourJob::beginPage(std::span<std::uint8_t> callerPage) {
  if (phase_ != Phase::kJob) return Status::kBadState;
  const std::uint64_t size =
      state_->pjp.nBytesPerLine * static_cast<std::uint64_t>(state_->send.nBandLines);
  if (size == 0 || callerPage.size() < size) return Status::kBadSize;
  state_->onePageByte = size;
  state_->pageData = callerPage.data();
  filled_ = 0;
  phase_ = Phase::kPage;
  return Status::kOk;
}

std::span<std::uint8_t> ColourJob::pageBuffer() {
  if (phase_ != Phase::kPage) return {};
  return {state_->pageData, static_cast<std::size_t>(state_->onePageByte)};
}

Status ColourJob::endPage(std::size_t filledBytes) {
  filled_ = std::min<std::size_t>(filledBytes, state_->onePageByte);
  return endPage();
}

Status ColourJob::endPage() {
  if (phase_ != Phase::kPage) return Status::kBadState;
  // A page that ends early is sent with its missing lines as zero bytes.
  std::memset(state_->pageData + filled_, 0, state_->onePageByte - filled_);
  phase_ = Phase::kJob;
  const Status status = sendCopies();
  closeCopiesFile(*state_);
  if (status != Status::kOk && status != Status::kPageFailed) status_ = status;
  return status;
}

Status ColourJob::sendCopies() {
  ColourJobState& s = *state_;
  const std::size_t size = s.onePageByte;
  const bool uncollated = s.pjp.nCollate == 0 && s.nCopies >= 2;
  for (s.iCopy = 0; s.iCopy < s.nCopies; ++s.iCopy) {
    if (uncollated && s.usePageFiles && s.iCopy == 0) {
      s.fdPageData = myTempFd(scratchDirectory(s.tmpDir.c_str()));
      if (s.fdPageData < 0) {
        s.env.say(ReportLevel::kError, "ERROR: Unable to create a temporay file");
      } else if (!writeCopiesFile(s, s.pageData, size)) {
        s.env.say(ReportLevel::kError,
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
        if (s.env.cancelled()) return Status::kCancelled;
        s.env.say(ReportLevel::kError, "ERROR: Reading raster data from temporary file failed!");
        return Status::kPageFailed;
      }
    }
    s.send.wBandIndex = 0;
    const bool pageFailed =
        s.funcs.beginPage(s) != Status::kOk || s.funcs.sendBand(s) != Status::kOk;
    s.funcs.endPage(s);
    flushOutput(s);
    // The reader is gone: converting more would be for no one.
    if (s.outFailed) return Status::kWriteFailed;
    if (s.env.cancelled()) return Status::kCancelled;
    if (pageFailed) return Status::kPageFailed;
  }
  return Status::kOk;
}

Status ColourJob::endJob() {
  if (phase_ == Phase::kNew || phase_ == Phase::kEnded) return Status::kBadState;
  phase_ = Phase::kEnded;
  ColourJobState& state = *state_;
  if (state.outFailed) return Status::kWriteFailed;
  state.funcs.endJob(state);
  flushOutput(state);
  releaseBandBuf(state);
  return state.outFailed ? Status::kWriteFailed : Status::kOk;
}

Status ColourJob::cancel() {
  if (phase_ == Phase::kNew || phase_ == Phase::kEnded) return Status::kBadState;
  phase_ = Phase::kEnded;
  ColourJobState& state = *state_;
  closeCopiesFile(state);
  // A page cut short is deleted, never sent.
  pswrite(state, kCancelFill, sizeof kCancelFill);
  state.funcs.endJob(state);
  flushOutput(state);
  releaseBandBuf(state);
  return state.outFailed ? Status::kWriteFailed : Status::kOk;
}

}  // namespace qv::colour
