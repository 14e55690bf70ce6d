// Mfunc.h - the colour job writer: the writer slots of the job's table (PJL job
// header and trailer, PWG Raster pages) and the routines behind them.
//
// Mfunc.cc holds the PJL job framing; Mfunc_pwg.cc the PWG Raster page
// writer, its line encoder, the gray conversion and the page files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "colour/colour_records.h"
#include "colour/status.h"
#include "common/malloc_buffer.h"

namespace qv::colour {

struct ColourJobState;

// ---- Writer slots -----------------------------------------------------
// Each returns Status::kOk, or Status::kPageFailed when the page or the job
// cannot be sent whole.

// Job begin: writes the PJL job header and sets up the send state.
Status MBeginJob(ColourJobState& job);
// Job end: copies the last complete page file to the output and writes the
// PJL trailer. A page file whose writing was interrupted is deleted.
Status MEndJob(ColourJobState& job);
// Page begin: passes the previous page file on, creates this page's file
// and writes its PWG page header (nothing for a blank page).
Status MBeginPage(ColourJobState& job);
// Band send: encodes the page buffer into the page file and closes it.
Status MSendBandData(ColourJobState& job);
Status MEndPage(ColourJobState& job);
Status MSendData(ColourJobState& job);

// The two halves of job end: the last complete page file goes to the output
// (an unfinished one is deleted), then the trailer is written.
void finishPageFiles(ColourJobState& job);
void writeJobTrailer(ColourJobState& job);
// Drops the waiting page file without sending it (the output is gone).
void discardPageFiles(ColourJobState& job);
// The page files' stdio buffer and the copy buffer, had once per job (none
// for a job without page files). Returns Status::kOk or Status::kNoMemory.
Status createPageFileBuffers(ColourJobState& job);

// ---- PJL job header ---------------------------------------------------

// Special red values by QVREDVAL (0..168): 00RRBB-style words where the
// two lower bytes step down by 8 with the index mod 13 and div 13.
extern const std::array<std::uint32_t, 169> RedToCMYTable;

// Length of the part of `text` that may go into a PJL line: up to the first
// LF, CR or ESC, so that a job title cannot end the line or start a
// universal exit, and at most kPjlTextMax bytes, cut at a UTF-8 character
// boundary: printers refuse longer values.
inline constexpr std::size_t kPjlTextMax = 255;
std::size_t pjlTextLength(const char* text);

// ---- PWG Raster page writer -------------------------------------------

inline constexpr int kMaxPageWidth = 7200;  // pixels; bounds the line buffers
inline constexpr std::size_t kPwgHeaderSize = 1796;
inline constexpr std::size_t kPendingLineSize = 32400;

// Line encoder state (PWG PackBits-style runs of whole pixels).
struct RasterState {
  int lineBytes = 0;             // bytes of one line handed to raster_write
  unsigned int repeatCount = 0;  // line repeat count; byte 0 holds count - 1
  int pixelBytes = 0;            // 3 (colour) or 1 (gray)
  qv::ByteBuffer output;         // encoded line, grown on demand, reused
  std::uint64_t capacity = 0;
};

// Encodes one line into st->output: the line repeat byte, then runs of at
// most 128 pixels. A repeat run is (count - 1) and one pixel; a literal run
// is 257 - count and its pixels. Returns the encoded length, or
// kRasterWriteNoMemory when the output buffer cannot be allocated.
inline constexpr long kRasterWriteNoMemory = -1;
long raster_write(RasterState* st, const std::uint8_t* line);

// RGB to gray, rounding like the printer driver always has: t = G*0.59,
// t = B*0.11 + t, t = R*0.3 + t in double precision, then truncated.
void makegray(std::uint8_t* gray, const std::uint8_t* rgb, long pixels);

struct PwgPageGeometry {
  std::int16_t width = 0;          // pixels
  std::int16_t height = 0;         // lines
  std::int16_t paperWidth = 0;     // PageSize[0]
  std::int16_t paperLength = 0;    // PageSize[1]
  std::uint64_t bytesPerLine = 0;  // RGB bytes of an input line
};

// Fills the 1796-byte PWG page header of a colour (sRGB 24-bit) or gray
// (sGray 8-bit) page at 600 x 600 dpi.
void buildPwgPageHeader(const PwgPageGeometry& page, bool gray,
                        std::span<std::uint8_t, kPwgHeaderSize> header);

// The page writer's line buffers: one line with its pixels reversed, one
// gray line, and two encoded lines: the previous one, waiting for identical
// successors (its first byte counts the repeats, count - 1), and the one
// just encoded. They swap roles instead of copying a line.
struct PwgLineScratch {
  std::uint8_t reversed[kMaxPageWidth * 3];
  std::uint8_t gray[kMaxPageWidth];
  std::uint8_t encoded[2][kPendingLineSize];
  int pendingIndex = 0;  // which of `encoded` holds the pending line
  std::size_t pendingLength = 0;
  bool pendingPresent = false;
  std::FILE* out = nullptr;
};

// Encodes a whole RGB page (height lines of width pixels) into `out`: gray
// or colour, rotated by 180 degrees or not, identical consecutive lines
// folded into one line with a repeat byte (at most 256 lines). `env` is asked
// after every line whether the job is cancelled. Returns Status::kOk, Status::kWriteFailed,
// Status::kCancelled, or Status::kBadSize for a width the buffers cannot take.
Status writePwgLines(std::FILE* out, const std::uint8_t* page, int width, int height, bool gray,
                     bool rotate, const JobEnv& env, PwgLineScratch& scratch);

// Copies the stream `ffsrc` from its start to the job's output; a short
// write is logged to the debug log and ends the copy (and the job).
void do_compress(ColourJobState& job, std::FILE* ffsrc);

}  // namespace qv::colour
