// job_bytes.h - job streams byte by byte, with the decoders' own constants.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/pjl_text.h"
#include "decode/pwg_stream.h"

namespace qvtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline std::string str(std::span<const std::uint8_t> b) { return {b.begin(), b.end()}; }
inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline Bytes operator+(Bytes a, std::string_view b) { return std::move(a) + text(b); }

inline constexpr std::string_view kSetup300 =
    "\x1b"
    "E\x1b&l4096a26a6d1E\x1b&u300D\x1b*t300R\x1b&l2X\x1b&l1S";

// The worked 300-dpi page: a key row, the same again, a blank row.
inline Bytes workedMonoPage() {
  return text("\x1b*b1030m13w") +
         Bytes{0x00, 0x03, 0x03, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34, 0x00, 0xFF} +
         "1030M\f";
}

// The universal exit, "@PJL SET COPY=n" and the set-up again.
inline Bytes monoReplay(char copy) {
  return text(qvdecode::kUniversalExit) + "@PJL\n@PJL SET COPY=" + std::string_view(&copy, 1) +
         "\n@PJL ENTER LANGUAGE = PCL\n" + kSetup300;
}

inline Bytes monoJob(const Bytes& body = workedMonoPage(),
                     std::string_view pjl = "@PJL SET RESOLUTION = 300\n") {
  const std::string_view exit = qvdecode::kUniversalExit;
  return text(exit) + "@PJL\n" + pjl + "@PJL ENTER LANGUAGE = PCL\n" + kSetup300 + body + exit +
         "@PJL EOJ NAME=\"Linux print job\"\n" + exit;
}

inline void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// As the colour filter writes it: 600 dpi, sRGB or sGray, A4, the rest zero.
inline Bytes pwgHeader(std::uint32_t width, std::uint32_t height, bool colour) {
  namespace f = qvdecode::pwgfield;
  Bytes header(qvdecode::kPwgHeaderBytes, 0);
  std::copy_n("PwgRaster", 9, header.begin());
  std::copy_n("auto", 4, header.begin() + f::kMediaType);
  const std::uint32_t colours = colour ? 3 : 1;
  const std::size_t at[] = {
      f::kHwResolution, f::kHwResolution + 4, f::kPageSize,     f::kPageSize + 4,
      f::kWidth,        f::kHeight,           f::kBitsPerColor, f::kBitsPerPixel,
      f::kNumColors,    f::kBytesPerLine,     f::kColorSpace};
  const std::uint32_t space = colour ? qvdecode::kPwgSrgb : qvdecode::kPwgSgray;
  const std::uint32_t values[] = {
      600, 600, 595, 842, width, height, 8, 8 * colours, colours, colours * width, space};
  for (std::size_t i = 0; i < std::size(at); ++i) putU32(header, at[i], values[i]);
  return header;
}

// Three gray lines of pixels 1 2 3 3 3 4 (a line sent once, three runs).
inline Bytes grayPage() {
  return pwgHeader(6, 3, false) + Bytes{0x02, 0xFF, 0x01, 0x02, 0x02, 0x03, 0x00, 0x04};
}

// A white colour page of 128-pixel runs, each line sent once for 256 lines.
inline Bytes whiteColourPage(std::uint32_t width, std::uint32_t height) {
  Bytes line, page = pwgHeader(width, height, true);
  for (std::uint32_t x = 0; x < width; x += 128)
    line = line + Bytes{static_cast<std::uint8_t>(std::min(128u, width - x) - 1), 0xFF, 0xFF, 0xFF};
  for (std::uint32_t y = 0; y < height; y += 256)
    page = page + Bytes{static_cast<std::uint8_t>(std::min(256u, height - y) - 1)} + line;
  return page;
}

inline constexpr std::string_view kColourPjl =
    "@PJL \n@PJL SET PAPER=A4\n@PJL SET HOLDKEY=4711\n@PJL ENTER LANGUAGE=PWGRASTER\n";

// `raster` is "RaS2" and the pages, or empty for a job without pages.
inline Bytes colourJob(const Bytes& raster, std::string_view eoj = "") {
  const std::string_view exit = qvdecode::kUniversalExit;
  return text(exit) + kColourPjl + raster + exit + eoj + exit + "\n";
}
inline Bytes colourJobOf(const Bytes& pages) { return colourJob(text("RaS2") + pages); }

}  // namespace qvtest
