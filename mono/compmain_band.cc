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

CompData compData = {};
std::uint64_t SnedBufCnt = 0;
std::int16_t SendRasCnt = 0;
std::uint8_t BlockRasCnt = 0;

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

void saveByteRecord(std::FILE* out, std::FILE* copy, std::uint8_t record) {
  saveDumb_1030(out, copy, 1, &record);
}

}  // namespace

void saveDumb_1030(std::FILE* out, std::FILE* copy, int length, const std::uint8_t* record) {
  const auto bytes = static_cast<std::uint64_t>(length);
  if (SnedBufCnt + bytes > kMaxBlockBytes || SendRasCnt % kMaxRowsPerBlock == 0) {
    serialSend_1030(out, copy);
  }
  std::memcpy(SnedBufPtr + SnedBufCnt, record, bytes);
  SnedBufCnt += bytes;
  // Counted modulo 128 only; the wrap of a 16-bit counter keeps that.
  SendRasCnt = static_cast<std::int16_t>(SendRasCnt + 1);
  BlockRasCnt = static_cast<std::uint8_t>(BlockRasCnt + 1);
}

void serialSend_1030(std::FILE* out, std::FILE* copy) {
  if (SnedBufCnt == 0) return;
  // "<record bytes + 2>w", then the record count as a 16-bit big-endian
  // value (at most 128, so the high byte is 0).
  char head[32];
  int length =
      std::snprintf(head, sizeof head, "%llu", static_cast<unsigned long long>(SnedBufCnt + 2));
  head[length++] = 'w';
  head[length++] = 0x00;
  head[length++] = static_cast<char>(BlockRasCnt);
  PCLSendData(out, copy, head, static_cast<std::size_t>(length));
  PCLSendData(out, copy, SnedBufPtr, SnedBufCnt);
  SnedBufCnt = 0;
  BlockRasCnt = 0;
}

void SendData_1030(std::FILE* out, std::FILE* copy, const std::uint8_t* page, int width,
                   int height) {
  const int resMode = sParam->resMode;
  const PrintableArea area = printableAreaFor(resMode);
  const std::int64_t rowBytes = (static_cast<std::int64_t>(width) + 7) / 8;
  const int leftShift = sParam->leftShift > 0 ? sParam->leftShift : 0;

  // Cut the right end so that shift and row fit the printer's row.
  std::int64_t rowLen = rowBytes - 2 * area.leftSkip;
  if (area.maxRowBytes < rowLen + leftShift) rowLen = area.maxRowBytes - leftShift;
  // A raster too narrow for the strips, or a shift that fills the whole
  // row, leaves no printable bytes: every row is then sent as blank.
  const bool rowsHaveBytes = rowLen > 0;
  const auto rowCount = static_cast<std::int16_t>(rowsHaveBytes ? rowLen : 0);

  compData.rowLen = static_cast<std::uint16_t>(rowCount);
  compData.seedLen = compData.rowLen;
  compData.dest = destBufPtr;
  compData.work = CompBufPtr;
  std::uint8_t* const keySeed = destBufPtr + kKeySeedOffset;

  PCLSendCommand(out, copy, PCLStart1030);
  SnedBufCnt = 0;
  SendRasCnt = 0;
  BlockRasCnt = 0;

  // A page no taller than the two strips has no printable rows.
  const int rows = height > 2 * area.topSkip ? height - 2 * area.topSkip : 0;
  for (int i = 0; i < rows; ++i) {
    if (resMode == kResXR1200A && (i & 1) != 0) {
      // XR1200A prints every even row twice: the odd row is not looked at
      // and the seed stays the even row.
      saveByteRecord(out, copy, kRepeatRecord);
    } else if (!rowsHaveBytes) {
      saveByteRecord(out, copy, kBlankRecord);
    } else {
      const std::uint8_t* row =
          page + (area.topSkip + i) * rowBytes + static_cast<std::int64_t>(area.leftSkip);
      if (checkZero(row, rowCount) != 0) {
        saveByteRecord(out, copy, kBlankRecord);
      } else {
        if (SendRasCnt % kMaxRowsPerBlock == 0 || i == 0) {
          invertData(row, keySeed, rowCount);
          compData.seed = keySeed;
        }
        compData.row = row;
        compressM9_1030();
        if (compData.destLen != 0) {
          saveDumb_1030(out, copy, compData.destLen, compData.dest);
        } else {
          saveByteRecord(out, copy, kRepeatRecord);
        }
      }
      compData.seed = row;
    }
    // 600x300: every row is printed twice, which doubles the 300-dpi
    // vertical resolution to 600.
    if (resMode == kRes600x300) saveByteRecord(out, copy, kRepeatRecord);
  }
}
