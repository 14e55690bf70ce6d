// compmain.cc - the mono job driver: the streaming job (buffers, job
// header, pages, sorted-copy replays and the PJL trailer) and the program's
// page loop over it.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "common/page_input.h"
#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/copy_file.h"
#include "mono/mono_job.h"
#include "mono/qverror.h"

namespace qv::mono {

namespace {

// The row counter of a page is a signed 16-bit value.
constexpr int kMaxPageRows = 32767;

// Output bins "Sorter2" to "Sorter5" ask for 1 to 4 replays of the job.
constexpr int kFirstSorterBin = 7;
constexpr int kLastSorterBin = 10;

// Replays the recorded PCL stream for sorted sets 2 and up, each labelled
// with its copy number. `chunk` is scratch space for the copy.
void sendReplays(MonoJobState& job, std::FILE* copy, int replays, std::uint8_t* chunk,
                 std::size_t chunkBytes) {
  static constexpr const FixedCommand* kSortCopy[] = {&PJLSortCopy2, &PJLSortCopy3, &PJLSortCopy4,
                                                      &PJLSortCopy5};
  for (int n = 0; n < replays; ++n) {
    PCLSendCommand(job, nullptr, PJLEnter);
    PCLSendCommand(job, nullptr, *kSortCopy[n]);
    PCLSendCommand(job, nullptr, PJLEnterPCL3);
    if (copy == nullptr || std::fseek(copy, 0, SEEK_SET) != 0) continue;
    for (;;) {
      const std::size_t got = std::fread(chunk, 1, chunkBytes, copy);
      if (got == 0) break;
      PCLSendData(job, nullptr, chunk, got);
      if (got < chunkBytes) break;
    }
  }
}

void sendTrailer(MonoJobState& job) {
  const PrintSettings& settings = job.settings;
  if (!cflagSet(settings, 0, 1)) {
    PCLSendCommand(job, nullptr, PJLTerminate);
    const std::size_t nameLength = strnlen(settings.jobName, sizeof settings.jobName);
    if (nameLength != 0) {
      char line[128];  // formatted into at most 127 characters
      const int printed = std::snprintf(line, sizeof line, "@PJL EOJ NAME=\"%.*s\"\n",
                                        static_cast<int>(nameLength), settings.jobName);
      if (printed > 0) {
        const auto length = static_cast<std::size_t>(printed);
        PCLSendData(job, nullptr, line, length < sizeof line ? length : sizeof line - 1);
      }
    } else {
      PCLSendCommand(job, nullptr, PJLEndOfJob);
    }
  }
  PCLSendCommand(job, nullptr, PJLTerminate);
}

// The directory of the sorted-copy file.
const char* scratchDirectory(const PrintSettings& settings) {
  return settings.tmpDir[0] != '\0' ? settings.tmpDir : "/tmp";
}

bool isSorted(const SParam& param) {
  return param.binCode >= kFirstSorterBin && param.binCode <= kLastSorterBin;
}

}  // namespace

struct MonoJob::Impl {
  enum class Phase { kNew, kJob, kPage, kDone };
  Status status() const { return state.outputFailed ? Status::kWriteFailed : Status::kOk; }

  MonoJobState state;
  Phase phase = Phase::kNew;
  std::unique_ptr<PageEncoder> encoder;  // writePage's worker, made at its first call
  bool noEncoder = false;                // the worker could not be had
};

bool monoPageFits(const PrintSettings& settings) {
  return settings.width > 0 && settings.height > 0 && settings.height <= kMaxPageRows;
}

MonoJob::MonoJob(const PrintSettings& settings, ByteSink sink, const JobEnv& env)
    : impl_(std::make_unique<Impl>()) {
  impl_->state.settings = settings;
  impl_->state.sink = sink;
  impl_->state.env = env;
}

MonoJob::~MonoJob() = default;

Status MonoJob::beginJob() {
  Impl& self = *impl_;
  if (self.phase != Impl::Phase::kNew) return Status::kBadOrder;
  MonoJobState& job = self.state;
  setSParam(job.sParam, job.settings);
  setPageGeometry(job);
  const std::size_t width =
      job.settings.width > 0 ? static_cast<std::size_t>(job.settings.width) : 0;
  job.destBuffer = allocateBytes(width * 5 / 8 + kBufferSlack);
  job.compBuffer = allocateBytes(kCompBufBytes + kBufferSlack);
  job.sendBuffer = allocateBytes(kSendBufBytes + kBufferSlack);
  job.seedBuffer = allocateBytes(static_cast<std::size_t>(job.rowCount));
  job.blankRow = allocateBytes(static_cast<std::size_t>(job.rowBytes), true);
  if (!job.destBuffer || !job.compBuffer || !job.sendBuffer || !job.seedBuffer || !job.blankRow) {
    self.phase = Impl::Phase::kDone;
    return qvError(job.env, Status::kNoMemory, nullptr);
  }
  job.destBufPtr = job.destBuffer.get();
  job.CompBufPtr = job.compBuffer.get();
  job.SnedBufPtr = job.sendBuffer.get();
  // The sorted-copy file. Without it the printer would get one set where
  // several were asked for: the job fails before anything is sent.
  if (isSorted(job.sParam)) {
    UniqueFd fd(openCopyFile(scratchDirectory(job.settings)));
    if (fd) job.copyFile.reset(::fdopen(fd.get(), "w+"));
    if (job.copyFile) fd.release();
    job.copy = job.copyFile.get();
    if (job.copy == nullptr) {
      self.phase = Impl::Phase::kDone;
      return qvError(job.env, Status::kNoCopyFile, scratchDirectory(job.settings));
    }
  }
  self.phase = Impl::Phase::kJob;
  (void)BeginSendData(job, job.copy);
  return self.status();
}

Status MonoJob::beginPage() {
  Impl& self = *impl_;
  if (self.phase != Impl::Phase::kJob) return Status::kBadOrder;
  if (!monoPageFits(self.state.settings)) return Status::kBadPage;
  if (self.state.outputFailed) return Status::kWriteFailed;
  self.phase = Impl::Phase::kPage;
  SendSettings();
  beginBand(self.state, self.state.copy);
  return self.status();
}

Status MonoJob::writeRow(std::span<const std::uint8_t> row) {
  Impl& self = *impl_;
  if (self.phase != Impl::Phase::kPage) return Status::kBadOrder;
  if (row.size() != static_cast<std::size_t>(self.state.rowBytes) ||
      self.state.nextRow >= self.state.settings.height)
    return Status::kBadRow;
  if (self.state.outputFailed) return Status::kWriteFailed;
  sendRow(self.state, self.state.copy, row.data());
  return self.status();
}

Status MonoJob::writePage(std::span<const std::uint8_t> page) {
  Impl& self = *impl_;
  if (self.phase != Impl::Phase::kPage) return Status::kBadOrder;
  MonoJobState& job = self.state;
  const auto rowBytes = static_cast<std::size_t>(job.rowBytes);
  if (job.nextRow != 0 || page.size() != rowBytes * static_cast<std::size_t>(job.settings.height))
    return Status::kBadRow;
  if (job.outputFailed) return Status::kWriteFailed;
  if (!self.encoder && !self.noEncoder) {
    self.encoder = std::make_unique<PageEncoder>(job);
    if (!self.encoder->start()) {
      self.encoder.reset();
      self.noEncoder = true;
    }
  }
  if (!self.encoder) {
    for (std::size_t y = 0; y < static_cast<std::size_t>(job.settings.height); ++y)
      sendRow(job, job.copy, page.data() + y * rowBytes);
    return self.status();
  }
  self.encoder->sendPage(job, job.copy, page.data());
  job.nextRow = job.settings.height;
  // The seed buffer was not kept up to date; the next page starts with a
  // key row, which needs none.
  job.seedBufferBlank = false;
  return self.status();
}

Status MonoJob::endPage() {
  Impl& self = *impl_;
  if (self.phase != Impl::Phase::kPage) return Status::kBadOrder;
  self.phase = Impl::Phase::kJob;
  MonoJobState& job = self.state;
  while (!job.outputFailed && job.nextRow < job.settings.height)
    sendRow(job, job.copy, job.blankRow.get());
  serialSend_1030(job, job.copy);
  PCLSendCommand(job, job.copy, PCLEnd1030);
  PCLSendCommand(job, job.copy, PCLFormFeed);
  return self.status();
}

Status MonoJob::endJob() {
  Impl& self = *impl_;
  if (self.phase == Impl::Phase::kPage) (void)endPage();
  if (self.phase != Impl::Phase::kJob) return Status::kBadOrder;
  self.phase = Impl::Phase::kDone;
  MonoJobState& job = self.state;
  // A copy file that could not take the whole stream (a full disk) would
  // replay a cut raster sequence: the job then ends after its first set, and
  // fails, so that nobody takes one set for the several asked for.
  const bool sorted = isSorted(job.sParam);
  std::FILE* copy = job.copy;
  const bool copyComplete = copy != nullptr && std::fflush(copy) == 0 && std::ferror(copy) == 0;
  job.copy = nullptr;
  const int replays = sorted && copyComplete ? job.sParam.binCode - kFirstSorterBin + 1 : 0;
  sendReplays(job, copy, replays, job.SnedBufPtr, kSendBufBytes + kBufferSlack);
  job.copyFile.reset();
  sendTrailer(job);
  if (self.status() != Status::kOk) return self.status();
  if (sorted && !copyComplete)
    return qvError(job.env, Status::kCopiesLost, scratchDirectory(job.settings));
  return Status::kOk;
}

namespace {

// Fills `bytes` from descriptor `fd` up to its end; a short count is the
// end of the input or a read error.
std::size_t readWhole(int fd, std::span<std::uint8_t> bytes) {
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return got;
}

// A job's input, one whole page at a time. The next page is read on a
// thread of its own while this one is encoded, into two page buffers.
// Without a descriptor, or without memory or a thread for that, one buffer
// takes one page per read call (a short read anywhere ends the page; at
// 1200 dpi a page has 14000 rows).
class PageFeed {
 public:
  PageFeed(const PageSource& input, std::size_t pageBytes) : input_(input), pageBytes_(pageBytes) {
    if (input.fd >= 0) {
      reader_.emplace(input.fd, pageBytes);
      if (reader_->status() != PageInput::kOk) reader_.reset();
    }
    if (!reader_) page_ = allocateBytes(pageBytes);
  }

  // False when neither the reader nor the page buffer could be had.
  bool ready() const { return reader_ || page_; }

  // The next whole page, or null at the end of the input. A short last page
  // or a read error ends the job after the pages before, as the end does.
  const std::uint8_t* next() {
    if (!reader_) {
      const std::span<std::uint8_t> bytes{page_.get(), pageBytes_};
      const std::size_t got =
          input_.fd >= 0 ? readWhole(input_.fd, bytes)
                         : (input_.read != nullptr ? input_.read(input_.context, bytes) : 0);
      return got == pageBytes_ ? page_.get() : nullptr;
    }
    InputPage page = reader_->next();
    // A signal caught by a handler of the caller's cut the wait short: rawtoqv
    // installs none, so the wait goes on.
    while (page.interrupted) page = reader_->next();
    return !page.end && page.bytes.size() == pageBytes_ ? page.bytes.data() : nullptr;
  }

 private:
  const PageSource input_;
  const std::size_t pageBytes_;
  std::optional<PageInput> reader_;
  ByteBuffer page_;
};

}  // namespace

// A page source and a sink where a one-job filter took its input stream and standard output.
Status qvcomp1030(const PageSource& input, ByteSink sink, const PrintSettings& settings,
                  const JobEnv& env) {
  // A size that cannot describe a page gives a job without pages: reading
  // pages of 0 bytes would never end, and a negative size has no buffer.
  const bool pagesPossible = monoPageFits(settings);
  const std::size_t rowBytes =
      pagesPossible ? (static_cast<std::size_t>(settings.width) + 7) / 8 : 0;
  const std::size_t height = pagesPossible ? static_cast<std::size_t>(settings.height) : 0;
  const std::size_t pageBytes = rowBytes * height;
  std::optional<PageFeed> feed;
  if (pagesPossible && !feed.emplace(input, pageBytes).ready())
    return qvError(env, Status::kNoMemory, nullptr);
  MonoJob job(settings, sink, env);
  Status status = job.beginJob();
  for (const std::uint8_t* bytes;
       feed && status == Status::kOk && !env.cancelled() && (bytes = feed->next());) {
    status = job.beginPage();
    if (status == Status::kOk) status = job.writePage({bytes, pageBytes});
    if (status == Status::kOk) status = job.endPage();
  }
  const Status ended = job.endJob();
  return status != Status::kOk ? status : ended;
}

}  // namespace qv::mono
