// compmain.h - the mono job writer: job driver, PJL/PCL job header, raster
// band pipeline (method 1030) and the method-9 row compressor.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

#include "common/byte_sink.h"
#include "common/malloc_buffer.h"
#include "common/unique_file.h"
#include "mono/PCLUtils.h"
#include "mono/qvcommon.h"
#include "mono/status.h"

namespace qv::mono {

// The strips the printer cannot image, per resolution mode: the same 1/6
// inch at every resolution (the 600x300 mode counts rows at 300 per inch),
// and the widest row the printer takes, 8.32 inch.
struct PrintableArea {
  int topSkip;      // rows dropped at the top and at the bottom
  int leftSkip;     // bytes dropped at the left and counted off at the right
  int maxRowBytes;  // widest printed row, left shift included
};

inline constexpr PrintableArea printableAreaFor(int resMode) {
  switch (resMode) {
    case 1:
      return {50, 6, 312};
    case 3:
    case 4:
    case 5:
      return {200, 25, 1248};
    case 6:
      return {50, 12, 624};
    default:
      return {100, 12, 624};
  }
}

// The row compressor's work record: the row to encode, its seed row (what
// the printer holds as the previous row) and the output.
struct CompData {
  const std::uint8_t* row;   // input: rowLen bytes
  std::uint16_t rowLen;      // bytes to encode (used as signed)
  std::uint8_t* dest;        // output: command count, then the commands
  std::uint16_t destLen;     // bytes written to dest; 0 when the row equals its seed
  const std::uint8_t* seed;  // the seed row
  std::uint16_t seedLen;     // always rowLen
  std::uint8_t* work;        // scratch for one command
};

// Every job buffer carries 32768 bytes of slack beyond its working size.
inline constexpr std::size_t kBufferSlack = 32768;
inline constexpr std::size_t kCompBufBytes = 1300;
inline constexpr std::size_t kSendBufBytes = 16448;

// Everything one job changes while it is written: the parameter record,
// the compressor's work record, the buffers, the block counters of the page
// being sent, where the bytes go, and the page in progress. Two jobs share
// nothing, so that they may run at once in one process.
struct MonoJobState {
  PrintSettings settings{};
  SParam sParam{};      // through a program-wide pointer in a one-job filter
  CompData compData{};  // program-wide in a one-job filter; a job's own here

  // Job buffers, allocated for the whole job (see the sizes above).
  qv::ByteBuffer destBuffer, compBuffer, sendBuffer, seedBuffer;
  std::uint8_t* destBufPtr = nullptr;  // compressor output: (width x 5) / 8 + slack
  std::uint8_t* CompBufPtr = nullptr;  // one compressor command
  std::uint8_t* SnedBufPtr = nullptr;  // block of row records
  bool seedBufferBlank = false;        // seedBuffer holds a blank row (all zero)

  // Block state of the page being sent, reset at the start of every page.
  std::uint64_t SnedBufCnt = 0;  // record bytes in the block buffer
  std::int16_t SendRasCnt = 0;   // row records of this page so far (used modulo 128)
  std::uint8_t BlockRasCnt = 0;  // row records in the current block

  // Where the bytes go: the printer, and the sorted-copy file (or none).
  qv::ByteSink sink;
  JobEnv env;  // where the job's failures are reported
  qv::UniqueFile copyFile;
  std::FILE* copy = nullptr;  // copyFile's stream while the PCL stream is recorded
  bool outputFailed = false;  // set by the first failed write; nothing more is sent

  // The page in progress: its geometry (fixed for the job) and the next row.
  PrintableArea area{};
  int rowBytes = 0;           // bytes of an input row
  int printableRows = 0;      // rows sent per page
  std::int16_t rowCount = 0;  // printable bytes of a row (0: rows are sent blank)
  int nextRow = 0;            // input rows of this page so far
  qv::ByteBuffer blankRow;    // rowBytes zero bytes, to complete a short page
};

// PJL job header and PCL set-up, from job.settings and job.sParam. The first
// form reads the clock; the second takes the time of the print log
// (std::nullopt: clock unavailable), so that tests are free of the clock.
// Returns the result of the last write.
Status BeginSendData(MonoJobState& job, std::FILE* copy);
Status BeginSendData(MonoJobState& job, std::FILE* copy, std::optional<std::time_t> now);

// Per-page hook before each page; sends nothing.
void SendSettings();

// Works out the page geometry of the job (job.area, rowBytes, rowCount,
// printableRows) from its settings and parameter record.
void setPageGeometry(MonoJobState& job);

// Sends "\e*b1030m" and resets the block state: the start of a page.
void beginBand(MonoJobState& job, std::FILE* copy);

// Takes the page's next input row of job.rowBytes bytes: rows in the top and
// bottom strips are dropped, the others become row records.
void sendRow(MonoJobState& job, std::FILE* copy, const std::uint8_t* row);

// What rowRecords needs of a job: its resolution mode, the printable bytes
// of a row and the left shift.
struct RowCoding {
  int resMode;
  std::int16_t rowCount;
  int leftShift;
};

// The records of one printable row, written one after the other.
struct RowRecords {
  int count = 0;  // 1, or 2 in 600x300 (the row, then a repeat)
  std::uint16_t lengths[2] = {};
  int commands = 0;       // method-9 commands in them
  bool lookedAt = false;  // the row becomes the next row's seed (XR1200A skips odd rows)
  bool blank = false;
};

// Writes the records of printable row `i` (counted from the page's first
// printable row) to `out`: blank, repeat, or the row encoded against `seed`,
// the row the printer holds, or, for a key row, against its own complement
// made in `keySeed` (rowCount bytes of scratch). Touches nothing else, so
// rows may be encoded on several threads at once.
RowRecords rowRecords(const RowCoding& coding, int i, const std::uint8_t* row,
                      const std::uint8_t* seed, std::uint8_t* keySeed, std::uint8_t* out);

// Sends "\e*b1030m" and the page's printable rows as row records; the last
// block stays in the block buffer for serialSend_1030.
void SendData_1030(MonoJobState& job, std::FILE* copy, const std::uint8_t* page);

// Sends the records in the block buffer as one block ("<n>w", 00, count,
// records) and empties it; sends nothing when the buffer is empty.
void serialSend_1030(MonoJobState& job, std::FILE* copy);

// Adds one row record to the block buffer, sending the current block first
// when the record would not fit or a new group of 128 records starts.
void saveDumb_1030(MonoJobState& job, std::FILE* copy, int length, const std::uint8_t* record);

// Encodes compData.row against compData.seed into compData.dest (command
// count, then method-9 commands), placing the row leftShift bytes to the right.
void compressM9_1030(MonoJobState& job);

// The same for any row: encodes `rowLen` bytes of `row` (at most 1248)
// against `seed` into `dest` and returns the encoded length, 0 when the row
// equals its seed. Touches nothing else, so rows may be encoded on several
// threads at once.
int compressRow(const std::uint8_t* row, const std::uint8_t* seed, int rowLen, int leftShift,
                std::uint8_t* dest);

// Completes the command byte already stored in command[0] (0x00 literal,
// 0x80 run) with the offset and count fields and appends their extension
// bytes; `length` becomes 1 plus the number of extension bytes.
void checkOptByte(std::uint8_t* command, int offset, int count, int& length);

// Copies a finished command of `length` bytes to `destination`.
void setCommand(const std::uint8_t* command, std::uint8_t* destination, int length);

// Encodes whole pages on two threads: the caller's and a worker's. The
// records and the bytes sent are those of sendRow row by row; only
// the time changes. One per job, made after the job's geometry is set.
class PageEncoder {
 public:
  explicit PageEncoder(const MonoJobState& job);
  ~PageEncoder();  // stops the worker and waits for it
  PageEncoder(const PageEncoder&) = delete;
  PageEncoder& operator=(const PageEncoder&) = delete;

  // Allocates the batch buffers and starts the worker; false when either
  // cannot be had (the job then goes on row by row).
  bool start();

  // Sends the printable rows of `page` (settings.height rows of rowBytes)
  // as row records, as sendRow would for each of its rows. Returns once
  // the worker no longer reads `page`.
  void sendPage(MonoJobState& job, std::FILE* copy, const std::uint8_t* page);

 private:
  static constexpr int kBatchRows = 256;
  static constexpr int kSlots = 4;  // batch b lives in batches_[b % kSlots]
  // Commands a row, on average over a page's first batch, from which the
  // worker takes part in the page (text and noise pages: about 4; halftones: 60
  // and more).
  static constexpr int kSharedCommandsPerRow = 16;
  struct Batch {
    qv::ByteBuffer bytes;    // the records, one after the other
    qv::ByteBuffer keySeed;  // scratch: the complement of a key row
    std::uint16_t lengths[2 * kBatchRows];
    int records = 0;
    long commands = 0;  // method-9 commands in the batch's records
  };

  static void* workerMain(void* self);
  void work();
  bool encodeNextBatch();
  void encodeBatch(const std::uint8_t* page, int b, Batch& batch) const;

  // The job's geometry.
  const RowCoding coding_;
  const int rowBytes_;
  const PrintableArea area_;
  const int printableRows_;

  Batch batches_[kSlots];
  pthread_t thread_{};
  bool started_ = false;

  std::mutex mutex_;
  std::condition_variable toWorker_, toMain_;
  // Guarded by mutex_.
  bool stop_ = false;                   // the worker ends
  long pageSerial_ = 0;                 // counts pages handed to the worker
  const std::uint8_t* page_ = nullptr;  // the page being encoded
  int pageBatches_ = 0;
  int nextBatch_ = 0;       // the next batch nobody has taken
  int framed_ = 0;          // batches of the page the caller has framed
  int ready_[kSlots] = {};  // the batch whose records are in each slot (-1: none)
  bool workerIdle_ = true;  // the worker is done with the page
  bool abort_ = false;      // no more batches are taken: a write failed, or the page is framed
};

}  // namespace qv::mono
