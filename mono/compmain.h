// compmain.h - the mono job writer: job driver, PJL/PCL job header, raster
// band pipeline (method 1030) and the method-9 row compressor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>

#include "mono/qvcommon.h"

// Results of qvcomp1030.
enum : int {
  kQvcompDone = 0,         // the job was written (also an empty one)
  kQvcompNoMemory = 1,     // a job buffer could not be allocated; nothing was written
  kQvcompWriteFailed = 2,  // a write to the printer failed; the job stopped there
};

// Runs one whole job: reads raw 1-bit pages from `in` and writes the PJL/PCL
// job to `out`. Returns kQvcompDone after a job, also an empty one, and
// kQvcompNoMemory when a buffer cannot be allocated (nothing written then),
// kQvcompWriteFailed when a write failed (nothing more is read or written).
// A width or height of 0 or less, or a height above 32767 rows, cannot
// describe a page: the job is then written without pages and the input is
// not read.
[[nodiscard]] int qvcomp1030(std::FILE* in, std::FILE* out, const PrintSettings& settings);

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

extern CompData compData;

// Job buffers, allocated by the driver for the whole job.
extern std::uint8_t* destBufPtr;  // compressor output: (width x 5) / 8 + 32768 bytes
extern std::uint8_t* CompBufPtr;  // one compressor command: 1300 + 32768 bytes
extern std::uint8_t* SnedBufPtr;  // block of row records: 16448 + 32768 bytes

// Block state of the page being sent, reset at the start of every page.
extern std::uint64_t SnedBufCnt;  // record bytes in the block buffer
extern std::int16_t SendRasCnt;   // row records of this page so far (used modulo 128)
extern std::uint8_t BlockRasCnt;  // row records in the current block

// PJL job header and PCL set-up. The first form reads the clock; the second
// takes the time of the print log (std::nullopt: clock unavailable), so that
// tests are free of the clock. Returns the result of the last write.
int BeginSendData(std::FILE* out, std::FILE* copy, const PrintSettings& settings);
int BeginSendData(std::FILE* out, std::FILE* copy, const PrintSettings& settings,
                  std::optional<std::time_t> now);

// Per-page hook before each page; sends nothing.
void SendSettings();

// Sends "\e*b1030m" and the page's printable rows as row records; the last
// block stays in the block buffer for serialSend_1030.
void SendData_1030(std::FILE* out, std::FILE* copy, const std::uint8_t* page, int width,
                   int height);

// Sends the records in the block buffer as one block ("<n>w", 00, count,
// records) and empties it; sends nothing when the buffer is empty.
void serialSend_1030(std::FILE* out, std::FILE* copy);

// Adds one row record to the block buffer, sending the current block first
// when the record would not fit or a new group of 128 records starts.
void saveDumb_1030(std::FILE* out, std::FILE* copy, int length, const std::uint8_t* record);

// Encodes compData.row against compData.seed into compData.dest (command
// count, then method-9 commands), placing the row leftShift bytes to the right.
void compressM9_1030();

// Completes the command byte already stored in command[0] (0x00 literal,
// 0x80 run) with the offset and count fields and appends their extension
// bytes; `length` becomes 1 plus the number of extension bytes.
void checkOptByte(std::uint8_t* command, int offset, int count, int& length);

// Copies a finished command of `length` bytes to `destination`.
void setCommand(const std::uint8_t* command, std::uint8_t* destination, int length);
