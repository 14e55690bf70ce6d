// compmain.cc - the mono job driver: the streaming job (buffers, job
// header, pages, sorted-copy replays and the PJL trailer) and the program's
// page loop over it.
#include <cstring>
#include <optional>

#include "common/page_input.h"
#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/copy_file.h"
#include "mono/mono_job.h"

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

bool isSorted(const SParam& param) {
  return param.binCode >= kFirstSorterBin && param.binCode <= kLastSorterBin;
}

}  // namespace

namespace qv {

bool monoPageFits(const PrintSettings& settings) {
  return settings.width > 0 && settings.height > 0 && settings.height <= kMaxPageRows;
}

MonoJob::MonoJob(const PrintSettings& settings, ByteSink sink) {
  state_.settings = settings;
  state_.sink = sink;
}

MonoJob::~MonoJob() = default;

int MonoJob::beginJob() {
  if (phase_ != Phase::kNew) return kMonoBadOrder;
  MonoJobState& job = state_;
  setSParam(job.param, job.settings);
  setPageGeometry(job);
  const std::size_t width =
      job.settings.width > 0 ? static_cast<std::size_t>(job.settings.width) : 0;
  job.destBuffer = allocateBytes(width * 5 / 8 + kBufferSlack);
  job.compBuffer = allocateBytes(kCompBufBytes + kBufferSlack);
  job.sendBuffer = allocateBytes(kSendBufBytes + kBufferSlack);
  job.seedBuffer = allocateBytes(static_cast<std::size_t>(job.rowCount));
  job.blankRow = allocateBytes(static_cast<std::size_t>(job.rowBytes), true);
  if (!job.destBuffer || !job.compBuffer || !job.sendBuffer || !job.seedBuffer || !job.blankRow) {
    phase_ = Phase::kDone;
    return kMonoNoMemory;
  }
  job.destBufPtr = job.destBuffer.get();
  job.CompBufPtr = job.compBuffer.get();
  job.SnedBufPtr = job.sendBuffer.get();
  // The sorted-copy file. Without it the printer would get one set where
  // several were asked for: the job fails before anything is sent.
  if (isSorted(job.param)) {
    UniqueFd fd(openCopyFile(job.settings.tmpDir[0] != '\0' ? job.settings.tmpDir : "/tmp"));
    if (fd) job.copyFile.reset(::fdopen(fd.get(), "w+"));
    if (job.copyFile) fd.release();
    job.copy = job.copyFile.get();
    if (job.copy == nullptr) {
      phase_ = Phase::kDone;
      return kMonoNoCopyFile;
    }
  }
  phase_ = Phase::kJob;
  BeginSendData(job, job.copy);
  return status();
}

int MonoJob::beginPage() {
  if (phase_ != Phase::kJob) return kMonoBadOrder;
  if (!monoPageFits(state_.settings)) return kMonoBadPage;
  if (state_.outputFailed) return kMonoWriteFailed;
  phase_ = Phase::kPage;
  SendSettings();
  beginBand_1030(state_, state_.copy);
  return status();
}

int MonoJob::writeRow(std::span<const std::uint8_t> row) {
  if (phase_ != Phase::kPage) return kMonoBadOrder;
  if (row.size() != static_cast<std::size_t>(state_.rowBytes) ||
      state_.nextRow >= state_.settings.height)
    return kMonoBadRow;
  if (state_.outputFailed) return kMonoWriteFailed;
  sendRow_1030(state_, state_.copy, row.data());
  return status();
}

int MonoJob::writePage(std::span<const std::uint8_t> page) {
  if (phase_ != Phase::kPage) return kMonoBadOrder;
  MonoJobState& job = state_;
  const auto rowBytes = static_cast<std::size_t>(job.rowBytes);
  if (job.nextRow != 0 || page.size() != rowBytes * static_cast<std::size_t>(job.settings.height))
    return kMonoBadRow;
  if (job.outputFailed) return kMonoWriteFailed;
  if (!encoder_ && !noEncoder_) {
    encoder_ = std::make_unique<PageEncoder>(job);
    if (!encoder_->start()) {
      encoder_.reset();
      noEncoder_ = true;
    }
  }
  if (!encoder_) {
    for (std::size_t y = 0; y < static_cast<std::size_t>(job.settings.height); ++y)
      sendRow_1030(job, job.copy, page.data() + y * rowBytes);
    return status();
  }
  encoder_->sendPage(job, job.copy, page.data());
  job.nextRow = job.settings.height;
  // The seed buffer was not kept up to date; the next page starts with a
  // key row, which needs none.
  job.seedBufferBlank = false;
  return status();
}

int MonoJob::endPage() {
  if (phase_ != Phase::kPage) return kMonoBadOrder;
  phase_ = Phase::kJob;
  MonoJobState& job = state_;
  while (!job.outputFailed && job.nextRow < job.settings.height)
    sendRow_1030(job, job.copy, job.blankRow.get());
  serialSend_1030(job, job.copy);
  PCLSendCommand(job, job.copy, PCLEnd1030);
  PCLSendCommand(job, job.copy, PCLFormFeed);
  return status();
}

int MonoJob::endJob() {
  if (phase_ == Phase::kPage) endPage();
  if (phase_ != Phase::kJob) return kMonoBadOrder;
  phase_ = Phase::kDone;
  MonoJobState& job = state_;
  // A copy file that could not take the whole stream (a full disk) would
  // replay a cut raster sequence: the job then ends after its first set, and
  // fails, so that nobody takes one set for the several asked for.
  const bool sorted = isSorted(job.param);
  std::FILE* copy = job.copy;
  const bool copyComplete = copy != nullptr && std::fflush(copy) == 0 && std::ferror(copy) == 0;
  job.copy = nullptr;
  const int replays = sorted && copyComplete ? job.param.binCode - kFirstSorterBin + 1 : 0;
  sendReplays(job, copy, replays, job.SnedBufPtr, kSendBufBytes + kBufferSlack);
  job.copyFile.reset();
  sendTrailer(job);
  if (status() != kMonoOk) return status();
  return sorted && !copyComplete ? kMonoCopiesLost : kMonoOk;
}

}  // namespace qv

namespace {

// Whether the reader thread may take `in`'s bytes from its descriptor: only
// where the stream itself holds none. glibc keeps read-ahead and ungetc()
// bytes in the FILE, and they come before the descriptor's; a stream that
// has seen its end or an error would give no more to fread() either.
bool readableByDescriptor(std::FILE* in) {
  return ::fileno(in) >= 0 && !std::feof(in) && !std::ferror(in) &&
         in->_IO_read_ptr == in->_IO_read_end && in->_IO_save_base == nullptr;
}

}  // namespace

int qvcomp1030(std::FILE* in, qv::ByteSink sink, const PrintSettings& settings) {
  // A size that cannot describe a page gives a job without pages: reading
  // pages of 0 bytes would never end, and a negative size has no buffer.
  const bool pagesPossible = qv::monoPageFits(settings);
  const std::size_t rowBytes =
      pagesPossible ? (static_cast<std::size_t>(settings.width) + 7) / 8 : 0;
  const std::size_t height = pagesPossible ? static_cast<std::size_t>(settings.height) : 0;
  const std::size_t pageBytes = rowBytes * height;
  // The next page is read on a thread of its own while this one is encoded,
  // into two page buffers. Without a descriptor, or without memory or a
  // thread for that, one buffer takes one page per read call (a short read
  // anywhere ends the page; at 1200 dpi a page has 14000 rows).
  std::optional<qv::PageInput> reader;
  if (pagesPossible && readableByDescriptor(in)) {
    reader.emplace(::fileno(in), pageBytes);
    if (reader->status() != qv::PageInput::kOk) reader.reset();
  }
  qv::ByteBuffer page;
  if (!reader) {
    page = qv::allocateBytes(pageBytes);
    if (!page) return qv::kMonoNoMemory;
  }
  // The next whole page, or null at the end of the input. A short last page
  // or a read error ends the job after the pages before, as the end does.
  const auto nextPage = [&]() -> const std::uint8_t* {
    if (!reader)
      return std::fread(page.get(), 1, pageBytes, in) == pageBytes ? page.get() : nullptr;
    qv::InputPage next = reader->next();
    // A signal caught by a handler of the caller's cut the wait short: rawtoqv
    // installs none, so the wait goes on.
    while (next.interrupted) next = reader->next();
    return !next.end && next.bytes.size() == pageBytes ? next.bytes.data() : nullptr;
  };
  qv::MonoJob job(settings, sink);
  int status = job.beginJob();
  for (const std::uint8_t* bytes; pagesPossible && status == qv::kMonoOk && (bytes = nextPage());) {
    status = job.beginPage();
    if (status == qv::kMonoOk) status = job.writePage({bytes, pageBytes});
    if (status == qv::kMonoOk) status = job.endPage();
  }
  const int ended = job.endJob();
  return status != qv::kMonoOk ? status : ended;
}
