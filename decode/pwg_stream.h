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
};

struct PwgPage {
  PwgHeader header;
  std::vector<std::uint8_t> pixels;  // height x bytesPerLine, decoded
  std::size_t offset = 0;            // offset of the page header in the input
  std::size_t wireBytes = 0;         // header and encoded lines
};

// Decodes a PWG Raster stream that starts with "RaS2". Returns 0, or -1 with
// `error` set. Headers are checked (BitsPerPixel against BitsPerColor and
// NumColors, BytesPerLine against Width, caps on Width and Height) before any
// pixel buffer is allocated.
int decodePwgRaster(std::span<const std::uint8_t> stream, std::vector<PwgPage>& pages,
                    DecodeError& error);

struct ColourJob {
  std::vector<std::string> pjlLines;  // header "@PJL ..." lines, without "\n"
  std::vector<PwgPage> pages;
  std::vector<std::string> trailerLines;
};

// Decodes a whole colour job. Returns 0, or -1 with `error` set.
int decodeColourJob(std::span<const std::uint8_t> job, ColourJob& out, DecodeError& error);

}  // namespace qvdecode
