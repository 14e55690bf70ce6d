// compmain_band.cc - the raster band pipeline: one page of 1-bit raster
// becomes a method-1030 raster transfer of row records in blocks.
//
// Every printable row becomes one record: 0xFF (blank), 0x00 (repeat the
// seed row) or a method-9 delta against the seed row. Records are packed
// into blocks of at most 128 records and 16384 bytes, each sent as
// "<n>w", 0x00, <records in block>, records.
#include <cstring>

#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/compsub.h"

namespace qv::mono {

namespace {

constexpr int kMaxRowsPerBlock = 128;
constexpr std::uint64_t kMaxBlockBytes = 16384;

constexpr std::uint8_t kBlankRecord = 0xFF;
constexpr std::uint8_t kRepeatRecord = 0x00;

constexpr int kResXR1200A = 4;
constexpr int kRes600x300 = 6;

// A key row is encoded against its own complement, so that every byte is
// sent and the printer needs no earlier row. The complement lives in the
// compressor's output buffer at a fixed place that no encoded row reaches,
// whatever the row length. An encoded row of at most 1248 bytes stays below
// 2100 bytes: the count byte, the shift command (at most 8 bytes), the row's
// bytes, and at most 254 commands of at most 3 bytes of command and
// extensions each, plus one extension byte per 255 bytes of offset or count.
// (Eight literal bytes then a run of three, over and over, already takes
// about 1360.) The buffer holds at least 32768 bytes.
constexpr std::size_t kKeySeedOffset = 4096;
static_assert(kKeySeedOffset >= 2100 && kKeySeedOffset + 1248 <= 32768);

// One printable row, `i` counted from the first printable row. The seed
// buffer keeps the row the printer holds: the caller's row may not outlive
// the call.
void sendPrintableRow(MonoJobState& job, std::FILE* copy, int i, const std::uint8_t* row) {
  const RowRecords records =
      rowRecords({job.sParam.resMode, job.rowCount, job.sParam.leftShift}, i, row,
                 job.seedBuffer.get(), job.destBufPtr + kKeySeedOffset, job.destBufPtr);
  const std::uint8_t* record = job.destBufPtr;
  for (int r = 0; r < records.count; ++r) {
    saveDumb_1030(job, copy, records.lengths[r], record);
    record += records.lengths[r];
  }
  if (!records.lookedAt) return;
  // A blank row after a blank row copies nothing: most rows of a text page
  // are blank, and the copy was a tenth of such a job's instructions.
  if (!(records.blank && job.seedBufferBlank))
    std::memcpy(job.seedBuffer.get(), row, static_cast<std::size_t>(job.rowCount));
  job.seedBufferBlank = records.blank;
}

}  // namespace

RowRecords rowRecords(const RowCoding& coding, int i, const std::uint8_t* row,
                      const std::uint8_t* seed, std::uint8_t* keySeed, std::uint8_t* out) {
  RowRecords records;
  std::uint16_t length = 1;
  if (coding.resMode == kResXR1200A && (i & 1) != 0) {
    // XR1200A prints every even row twice: the odd row is not looked at
    // and the seed stays the even row.
    out[0] = kRepeatRecord;
  } else {
    records.lookedAt = true;
    records.blank = coding.rowCount <= 0 || checkZero(row, coding.rowCount) != 0;
    if (records.blank) {
      out[0] = kBlankRecord;
    } else {
      // Every 128th record of a page is a key row; records come one a row,
      // two in 600x300.
      const int recordsBefore = coding.resMode == kRes600x300 ? 2 * i : i;
      if (i == 0 || recordsBefore % kMaxRowsPerBlock == 0) {
        invertData(row, keySeed, coding.rowCount);
        seed = keySeed;
      }
      const int encoded = compressRow(row, seed, coding.rowCount, coding.leftShift, out);
      if (encoded != 0) {
        length = static_cast<std::uint16_t>(encoded);
        records.commands = out[0];
      } else {
        out[0] = kRepeatRecord;
      }
    }
  }
  records.lengths[records.count++] = length;
  // 600x300: every row is printed twice, which doubles the 300-dpi
  // vertical resolution to 600.
  if (coding.resMode == kRes600x300) {
    out[length] = kRepeatRecord;
    records.lengths[records.count++] = 1;
  }
  return records;
}

void saveDumb_1030(MonoJobState& job, std::FILE* copy, int length, const std::uint8_t* record) {
  const auto bytes = static_cast<std::uint64_t>(length);
  if (job.SnedBufCnt + bytes > kMaxBlockBytes || job.SendRasCnt % kMaxRowsPerBlock == 0) {
    serialSend_1030(job, copy);
  }
  std::memcpy(job.SnedBufPtr + job.SnedBufCnt, record, bytes);
  job.SnedBufCnt += bytes;
  // Counted modulo 128 only; the wrap of a 16-bit counter keeps that.
  job.SendRasCnt = static_cast<std::int16_t>(job.SendRasCnt + 1);
  job.BlockRasCnt = static_cast<std::uint8_t>(job.BlockRasCnt + 1);
}

void serialSend_1030(MonoJobState& job, std::FILE* copy) {
  if (job.SnedBufCnt == 0) return;
  // "<record bytes + 2>w", then the record count as a 16-bit big-endian
  // value (at most 128, so the high byte is 0).
  char head[32];
  int length =
      std::snprintf(head, sizeof head, "%llu", static_cast<unsigned long long>(job.SnedBufCnt + 2));
  head[length++] = 'w';
  head[length++] = 0x00;
  head[length++] = static_cast<char>(job.BlockRasCnt);
  PCLSendData(job, copy, head, static_cast<std::size_t>(length));
  PCLSendData(job, copy, job.SnedBufPtr, job.SnedBufCnt);
  job.SnedBufCnt = 0;
  job.BlockRasCnt = 0;
}

void setPageGeometry(MonoJobState& job) {
  const int width = job.settings.width, height = job.settings.height;
  job.area = printableAreaFor(job.sParam.resMode);
  const std::int64_t rowBytes = width > 0 ? (static_cast<std::int64_t>(width) + 7) / 8 : 0;
  const int leftShift = job.sParam.leftShift > 0 ? job.sParam.leftShift : 0;
  // Cut the right end so that shift and row fit the printer's row. A raster
  // too narrow for the strips, or a shift that fills the whole row, leaves
  // no printable bytes: every row is then sent as blank.
  std::int64_t rowLen = rowBytes - 2 * job.area.leftSkip;
  if (job.area.maxRowBytes < rowLen + leftShift) rowLen = job.area.maxRowBytes - leftShift;
  job.rowBytes = static_cast<int>(rowBytes);
  job.rowCount = static_cast<std::int16_t>(rowLen > 0 ? rowLen : 0);
  // A page no taller than the two strips has no printable rows.
  job.printableRows = height > 2 * job.area.topSkip ? height - 2 * job.area.topSkip : 0;
}

void beginBand(MonoJobState& job, std::FILE* copy) {
  CompData& data = job.compData;
  data.rowLen = static_cast<std::uint16_t>(job.rowCount);
  data.seedLen = data.rowLen;
  data.dest = job.destBufPtr;
  data.work = job.CompBufPtr;
  PCLSendCommand(job, copy, PCLStart1030);
  job.SnedBufCnt = 0;
  job.SendRasCnt = 0;
  job.BlockRasCnt = 0;
  job.nextRow = 0;
}

void sendRow(MonoJobState& job, std::FILE* copy, const std::uint8_t* row) {
  const int i = job.nextRow++ - job.area.topSkip;
  if (i >= 0 && i < job.printableRows) sendPrintableRow(job, copy, i, row + job.area.leftSkip);
}

void SendData_1030(MonoJobState& job, std::FILE* copy, const std::uint8_t* page) {
  beginBand(job, copy);
  for (int y = 0; y < job.settings.height; ++y)
    sendRow(job, copy, page + static_cast<std::size_t>(y) * static_cast<std::size_t>(job.rowBytes));
}

}  // namespace qv::mono
