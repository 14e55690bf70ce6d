// pwg_stream.h - decoder of the colour job stream: PJL header ending in
// "@PJL ENTER LANGUAGE=PWGRASTER", a PWG Raster stream ("RaS2", then per page
// a 1796-byte header and PackBits-style encoded lines with line repeat
// bytes), the PJL trailer.
//
// Written from the PWG Raster format's description, independently of the
// encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/m1030_stream.h"  // DecodeError

namespace qvdecode {

// The page header fields the QV printers use (all big-endian 32-bit on the
// wire), plus the raw 1796 bytes for checks of every other field.
struct PwgHeader {
  std::string mediaType;  // offset 128
  std::uint32_t hwResolution[2] = {0, 0};
  std::uint32_t pageSize[2] = {0, 0};
  std::uint32_t width = 0, height = 0;
  std::uint32_t bitsPerColor = 0, bitsPerPixel = 0, bytesPerLine = 0;
  std::uint32_t colorOrder = 0, colorSpace = 0, numColors = 0;
  std::uint32_t duplex = 0, tumble = 0;
  std::vector<std::uint8_t> raw;  // all 1796 bytes

  std::uint32_t numCopies = 0, totalPageCount = 0;
  std::uint32_t crossFeedTransform = 0, feedTransform = 0;
};

inline constexpr std::size_t kPwgHeaderBytes = 1796;
// Caps on what a page header may ask for before anything is allocated: far
// beyond any paper at 1200 dpi, far below what would exhaust memory.
inline constexpr std::uint32_t kMaxPwgWidth = 1u << 18;
inline constexpr std::uint32_t kMaxPwgHeight = 1u << 20;
inline constexpr std::uint32_t kMaxPwgBytesPerLine = 16u << 20;

// Byte offsets of the fields in the 1796-byte page header.
namespace pwgfield {
inline constexpr std::size_t kMediaType = 128, kDuplex = 272, kHwResolution = 276;
inline constexpr std::size_t kNumCopies = 340, kPageSize = 352, kTumble = 368, kWidth = 372;
inline constexpr std::size_t kHeight = 376, kBitsPerColor = 384, kBitsPerPixel = 388;
inline constexpr std::size_t kBytesPerLine = 392, kColorOrder = 396, kColorSpace = 400;
inline constexpr std::size_t kNumColors = 420, kTotalPageCount = 452;
inline constexpr std::size_t kCrossFeedTransform = 456, kFeedTransform = 460;
}  // namespace pwgfield

// PWG colour spaces this decoder knows, with the colours each one carries.
inline constexpr std::uint32_t kPwgSrgb = 19, kPwgSgray = 18;

// Reads the fields of a 1796-byte page header and checks that they agree:
// the "PwgRaster" name, a known ColorSpace and its NumColors, BitsPerColor
// (1, 2, 4, 8 or 16) times NumColors = BitsPerPixel, BytesPerLine = Width x
// BitsPerPixel / 8 rounded up, Width, Height and BytesPerLine within the
// caps above. Returns 0, or -1 with `message` set and `fieldOffset` at the
// field that disagrees.
int parsePwgHeader(std::span<const std::uint8_t> bytes, PwgHeader& header, std::string& message,
                   std::size_t& fieldOffset);

struct PwgPage {
  PwgHeader header;
  std::vector<std::uint8_t> pixels;  // height x bytesPerLine, decoded
  std::size_t offset = 0;            // offset of the page header in the input
  std::size_t wireBytes = 0;         // header and encoded lines

  std::size_t lineRecords = 0;    // encoded lines, each with its line repeat byte
  std::size_t repeatedLines = 0;  // lines that came from a repeat byte above 0
  std::size_t repeatRuns = 0;     // runs of one pixel repeated
  std::size_t literalRuns = 0;    // runs of literal pixels
};

// What the colour filter writes when it is cancelled in the middle of a
// page: this many zero bytes, then the trailer. The page files it keeps mean
// the fill stands between whole pages.
inline constexpr std::size_t kCancelFillBytes = 5768;

struct PwgDecodeOptions {
  // False: pages keep header and counts, not pixels.
  bool keepPixels = true;
  // Called with each page as soon as it is decoded, with its pixels when
  // `pagePixels` is set, whatever `keepPixels` says. Non-zero stops the
  // decoding ("stopped").
  std::function<int(const PwgPage&)> onPage;
  bool pagePixels = true;
  // Called with each encoded line as soon as it is decoded: `copies` equal
  // lines from line `y` of `page` (whose header is read). Non-zero stops the
  // decoding ("stopped"). With it and without pixels, a page of any size
  // needs one line of memory.
  std::function<int(const PwgPage& page, std::uint32_t y, std::uint32_t copies,
                    std::span<const std::uint8_t> line)>
      onLine;
  // A page wider or taller than this is damage, reported before any of its
  // lines is read.
  std::uint32_t maxWidth = kMaxPwgWidth, maxHeight = kMaxPwgHeight;
  // decodeColourJob only. True: the input may go on after the trailer with
  // another job (a capture of a device); ColourJob::end says where this one
  // ends.
  bool moreJobs = false;
};

// Decodes a PWG Raster stream that starts with "RaS2". Returns 0, or -1 with
// `error` set. Headers are checked (BitsPerPixel against BitsPerColor and
// NumColors, BytesPerLine against Width, caps on Width and Height) before any
// pixel buffer is allocated.
int decodePwgRaster(std::span<const std::uint8_t> stream, std::vector<PwgPage>& pages,
                    DecodeError& error);
int decodePwgRaster(std::span<const std::uint8_t> stream, std::vector<PwgPage>& pages,
                    DecodeError& error, const PwgDecodeOptions& options);

struct ColourJob {
  std::vector<std::string> pjlLines;  // header "@PJL ..." lines, without "\n"
  std::vector<PwgPage> pages;
  std::vector<std::string> trailerLines;

  bool hasSyncWord = false;  // "RaS2" present (absent only in a job without page files)
  std::optional<std::size_t> cancelFill;  // offset of the cancel fill, in a cancelled job
  std::size_t rasterOffset = 0;           // of "RaS2", or of the trailer when there is none
  std::size_t trailerOffset = 0;
  std::size_t end = 0;  // where the trailer ends: the input's size, unless `moreJobs`
};

// Decodes a whole colour job. Returns 0, or -1 with `error` set. One cancel
// fill (kCancelFillBytes zero bytes) may stand after the PJL header, before
// a page header or before the trailer; any other bytes there are damage.
int decodeColourJob(std::span<const std::uint8_t> job, ColourJob& out, DecodeError& error);
int decodeColourJob(std::span<const std::uint8_t> job, ColourJob& out, DecodeError& error,
                    const PwgDecodeOptions& options);

}  // namespace qvdecode
