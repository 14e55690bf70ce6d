// job_bytes.h - job streams written byte by byte, for the decoder and
// qvinspect tests. Framing and field offsets are the decoders' own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/pjl_text.h"
#include "decode/pwg_stream.h"

namespace qvtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes& append(Bytes& to, std::string_view text) {
  to.insert(to.end(), text.begin(), text.end());
  return to;
}
inline Bytes& append(Bytes& to, std::initializer_list<int> values) {
  for (const int v : values) to.push_back(static_cast<std::uint8_t>(v));
  return to;
}
inline Bytes& append(Bytes& to, const Bytes& more) {
  to.insert(to.end(), more.begin(), more.end());
  return to;
}
// The same on a temporary, e.g. append(pwgHeader(...), {lines}).
template <typename T>
Bytes append(Bytes&& to, const T& more) {
  append(to, more);
  return std::move(to);
}
inline Bytes append(Bytes&& to, std::initializer_list<int> values) {
  append(to, values);
  return std::move(to);
}
inline Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// ---- mono ----

inline constexpr std::string_view kSetup300 =
    "\x1b"
    "E\x1b&l4096a26a6d1E\x1b&u300D\x1b*t300R\x1b&l2X\x1b&l1S";

// The worked 300-dpi page: rows 00 00 FF FF FF FF 12 34 (a key row), the
// same again (0x00), and a blank row (0xFF).
inline Bytes workedMonoPage() {
  Bytes page = text("\x1b*b1030m13w");
  append(page, {0x00, 0x03, 0x03, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34, 0x00, 0xFF});
  return append(page, "1030M\f");
}

// The universal exit, "@PJL SET COPY=n" and the set-up again.
inline Bytes monoReplay(char copy) {
  Bytes replay = text(qvdecode::kUniversalExit);
  append(replay, "@PJL\n@PJL SET COPY=");
  replay.push_back(static_cast<std::uint8_t>(copy));
  return append(append(replay, "\n@PJL ENTER LANGUAGE = PCL\n"), kSetup300);
}

inline Bytes monoJob(const Bytes& body = workedMonoPage(),
                     std::string_view pjl = "@PJL SET RESOLUTION = 300\n") {
  Bytes job = text(qvdecode::kUniversalExit);
  append(append(append(job, "@PJL\n"), pjl), "@PJL ENTER LANGUAGE = PCL\n");
  append(append(job, kSetup300), body);
  append(job, qvdecode::kUniversalExit);
  append(job, "@PJL EOJ NAME=\"Linux print job\"\n");
  return append(job, qvdecode::kUniversalExit);
}

// ---- colour ----

inline void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

// A page header as the colour filter writes it: 600 x 600 dpi, sRGB or
// sGray at 8 bits, A4, every other field zero.
inline Bytes pwgHeader(std::uint32_t width, std::uint32_t height, bool colour) {
  namespace f = qvdecode::pwgfield;
  Bytes header(qvdecode::kPwgHeaderBytes, 0);
  std::copy_n("PwgRaster", 9, header.begin());
  std::copy_n("auto", 4, header.begin() + f::kMediaType);
  const std::size_t at[] = {
      f::kHwResolution, f::kHwResolution + 4, f::kPageSize,     f::kPageSize + 4,
      f::kWidth,        f::kHeight,           f::kBitsPerColor, f::kBitsPerPixel,
      f::kBytesPerLine, f::kColorSpace,       f::kNumColors};
  const std::uint32_t bits = colour ? 24 : 8, colours = bits / 8;
  const std::uint32_t space = colour ? qvdecode::kPwgSrgb : qvdecode::kPwgSgray;
  const std::uint32_t value[] = {600,   600,    595, 842, width, height, 8, bits, colours * width,
                                 space, colours};
  for (std::size_t i = 0; i < std::size(at); ++i) putU32(header, at[i], value[i]);
  return header;
}

// Three gray lines of pixels 1 2 3 3 3 4: one line (repeat byte 2) of the
// runs 255 1 2, 2 3, 0 4.
inline Bytes grayPage() {
  Bytes page = pwgHeader(6, 3, false);
  return append(page, {0x02, 0xFF, 0x01, 0x02, 0x02, 0x03, 0x00, 0x04});
}

// A white colour page: lines of 128-pixel repeats, each sent once for up to
// 256 lines.
inline Bytes whiteColourPage(std::uint32_t width, std::uint32_t height) {
  Bytes line;
  for (std::uint32_t x = 0; x < width; x += 128) {
    append(line, {static_cast<int>(std::min(128u, width - x) - 1), 0xFF, 0xFF, 0xFF});
  }
  Bytes page = pwgHeader(width, height, true);
  for (std::uint32_t y = 0; y < height; y += 256) {
    page.push_back(static_cast<std::uint8_t>(std::min(256u, height - y) - 1));
    append(page, line);
  }
  return page;
}

inline constexpr std::string_view kColourPjl =
    "@PJL \n@PJL SET PAPER=A4\n@PJL SET HOLDKEY=4711\n@PJL ENTER LANGUAGE=PWGRASTER\n";

// `raster` is "RaS2" and the pages, or empty for a job without pages.
inline Bytes colourJob(const Bytes& raster, std::string_view eoj = "") {
  Bytes job = text(qvdecode::kUniversalExit);
  append(append(append(job, kColourPjl), raster), qvdecode::kUniversalExit);
  return append(append(append(job, eoj), qvdecode::kUniversalExit), "\n");
}
inline Bytes colourJobOf(const Bytes& pages) {
  Bytes raster = text("RaS2");
  return colourJob(append(raster, pages));
}

}  // namespace qvtest
