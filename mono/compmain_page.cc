// compmain_page.cc - a whole page's row records, encoded on two threads.
//
// A row's record depends only on the row, the row above it that the
// printer holds as its seed, and the row's place among the page's records
// (every 128th record is a key row). With the whole page in memory, rows
// can therefore be encoded out of order: the page's printable rows are cut
// into batches, a worker thread encodes every second batch while the
// calling thread encodes the others, and the caller frames all records in
// row order. The records are those sendRow makes for the same rows,
// byte for byte.
#include <signal.h>

#include <cstring>

#include "mono/compmain.h"
#include "mono/compsub.h"

namespace qv::mono {

namespace {

constexpr int kResXR1200A = 4;

// The longest records of one row: an encoded row of at most 1248 bytes stays
// below 2100 bytes (see compmain_band.cc), and 600x300 adds a repeat record.
constexpr std::size_t kMaxRowRecordBytes = 2112;

}  // namespace

PageEncoder::PageEncoder(const MonoJobState& job)
    : coding_{job.sParam.resMode, job.rowCount, job.sParam.leftShift},
      rowBytes_(job.rowBytes),
      area_(job.area),
      printableRows_(job.printableRows) {}

PageEncoder::~PageEncoder() {
  if (!started_) return;
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  toWorker_.notify_one();
  pthread_join(thread_, nullptr);
}

bool PageEncoder::start() {
  for (Batch& batch : batches_) {
    batch.bytes = qv::allocateBytes(kBatchRows * kMaxRowRecordBytes);
    batch.keySeed =
        qv::allocateBytes(static_cast<std::size_t>(coding_.rowCount > 0 ? coding_.rowCount : 1));
    if (!batch.bytes || !batch.keySeed) return false;
  }
  // The worker takes no signal: they stay with the threads the program has.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  started_ = pthread_create(&thread_, nullptr, &PageEncoder::workerMain, this) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started_;
}

void* PageEncoder::workerMain(void* self) {
  static_cast<PageEncoder*>(self)->work();
  return nullptr;
}

// The worker: batches of each page, taken in turn with the caller, until
// none is left.
void PageEncoder::work() {
  long seenPage = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      toWorker_.wait(lock, [&] { return stop_ || pageSerial_ != seenPage; });
      if (stop_) return;
      seenPage = pageSerial_;
    }
    while (encodeNextBatch()) {
    }
    {
      const std::lock_guard lock(mutex_);
      workerIdle_ = true;
    }
    toMain_.notify_one();
  }
}

// Takes the page's next batch that nobody has taken, waiting for its slot to
// be framed first, and encodes it. False when no batch is left (or the page
// was dropped).
bool PageEncoder::encodeNextBatch() {
  int b;
  {
    std::unique_lock lock(mutex_);
    if (abort_ || nextBatch_ >= pageBatches_) return false;
    b = nextBatch_++;
    toMain_.wait(lock, [&] { return abort_ || framed_ > b - kSlots; });
    if (abort_) {
      ready_[b % kSlots] = b;  // nobody waits for it
      return false;
    }
  }
  encodeBatch(page_, b, batches_[b % kSlots]);
  {
    const std::lock_guard lock(mutex_);
    ready_[b % kSlots] = b;
  }
  toMain_.notify_all();
  return true;
}

// The records of printable rows [b * kBatchRows, ...) of `page`, as
// sendPrintableRow makes them.
void PageEncoder::encodeBatch(const std::uint8_t* page, int b, Batch& batch) const {
  const int first = b * kBatchRows;
  const int last = first + kBatchRows < printableRows_ ? first + kBatchRows : printableRows_;
  const auto rowAt = [&](int i) {
    return page +
           static_cast<std::size_t>(area_.topSkip + i) * static_cast<std::size_t>(rowBytes_) +
           area_.leftSkip;
  };
  std::uint8_t* out = batch.bytes.get();
  int records = 0;
  long commands = 0;
  for (int i = first; i < last; ++i) {
    // The seed is the row above, or two above in XR1200A, whose odd rows
    // are not looked at.
    const std::uint8_t* seed =
        i > 0 ? rowAt(coding_.resMode == kResXR1200A ? i - 2 : i - 1) : nullptr;
    const RowRecords row = rowRecords(coding_, i, rowAt(i), seed, batch.keySeed.get(), out);
    for (int r = 0; r < row.count; ++r) {
      batch.lengths[records++] = row.lengths[r];
      out += row.lengths[r];
    }
    commands += row.commands;
  }
  batch.records = records;
  batch.commands = commands;
}

void PageEncoder::sendPage(MonoJobState& job, std::FILE* copy, const std::uint8_t* page) {
  const int batches = (printableRows_ + kBatchRows - 1) / kBatchRows;
  {
    const std::lock_guard lock(mutex_);
    page_ = page;
    pageBatches_ = batches;
    nextBatch_ = 0;
    framed_ = 0;
    for (int& batch : ready_) batch = -1;
    abort_ = false;
  }
  // The worker joins only where its help outweighs handing it the rows and
  // taking back its records: on pages whose first batch needs many commands
  // a row (halftones). On text and noise the caller alone is faster.
  bool shared = false;
  if (batches > 1 && encodeNextBatch() &&
      batches_[0].commands >= long{kSharedCommandsPerRow} * kBatchRows) {
    shared = true;
    {
      const std::lock_guard lock(mutex_);
      workerIdle_ = false;
      ++pageSerial_;
    }
    toWorker_.notify_one();
  }
  for (int b = 0; b < batches && !job.outputFailed; ++b) {
    // While batch b is not there, the caller encodes a batch too.
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        if (ready_[b % kSlots] == b) break;
        if (nextBatch_ >= batches || nextBatch_ - b >= kSlots) {
          toMain_.wait(lock, [&] { return ready_[b % kSlots] == b; });
          break;
        }
      }
      encodeNextBatch();
    }
    const Batch& batch = batches_[b % kSlots];
    const std::uint8_t* record = batch.bytes.get();
    for (int r = 0; r < batch.records; ++r) {
      saveDumb_1030(job, copy, batch.lengths[r], record);
      record += batch.lengths[r];
    }
    {
      const std::lock_guard lock(mutex_);
      framed_ = b + 1;
      // A write failed: nothing more is sent, so the rest need no encoding.
      if (job.outputFailed) abort_ = true;
    }
    toMain_.notify_all();
  }
  // The page is the caller's again only once the worker is done with it.
  std::unique_lock lock(mutex_);
  abort_ = true;
  if (!shared) return;
  toMain_.notify_all();
  toMain_.wait(lock, [&] { return workerIdle_; });
}

}  // namespace qv::mono
