// hand_jobs.h - small job streams written out byte by byte from the worked
// examples of the two stream formats, for the decoder and qvinspect tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

namespace qvtest {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& to, std::string_view text) {
  to.insert(to.end(), text.begin(), text.end());
}
inline void append(Bytes& to, std::initializer_list<int> values) {
  for (const int v : values) to.push_back(static_cast<std::uint8_t>(v));
}
inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

inline std::span<const std::uint8_t> view(const Bytes& bytes) { return bytes; }

// A 300-dpi job header of the mono filter, ending in the PCL set-up.
inline Bytes monoHeader300() {
  Bytes job;
  append(job,
         "\x1b%-12345X@PJL\n@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 300\n"
         "@PJL SET ECONOMODE = OFF\n@PJL SET SOURCETRAY = TRAY1\n@PJL SET MEDIATYPE = REGULAR\n"
         "@PJL SET ORIENTATION = PORTRAIT\n@PJL SET PAGEPROTECT = AUTO\n"
         "@PJL ENTER LANGUAGE = PCL\n");
  append(job,
         "\x1b"
         "E\x1b&l4096a26a6d1E\x1b&l1001H\x1b&u300D\x1b*t300R\x1b&l1X\x1b&l0S");
  return job;
}

// The worked 300-dpi page: printable rows 50 and 51 hold 00 00 FF FF FF FF
// 12 34, row 52 is blank. Row 50 is a key row, row 51 repeats it.
inline Bytes workedMonoPage() {
  Bytes page;
  append(page, "\x1b*b1030m13w");
  append(page, {0x00, 0x03, 0x03, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34, 0x00, 0xFF});
  append(page, "1030M\f");
  return page;
}

inline constexpr std::string_view kMonoTrailer =
    "\x1b%-12345X@PJL EOJ NAME=\"Linux print job\"\n\x1b%-12345X";

inline Bytes workedMonoJob() {
  Bytes job = monoHeader300();
  append(job, workedMonoPage());
  append(job, kMonoTrailer);
  return job;
}

// The colour header of a default job (A4, colour Auto, no environment).
inline Bytes colourHeader() {
  Bytes job;
  append(job,
         "\x1b%-12345X@PJL \n@PJL SET HOLD=OFF\n@PJL SET STRINGCODESET=UTF8\n"
         "@PJL SET PAPER=A4\n@PJL SET RENDERMODE=COLOR\n@PJL SET COLORADAPT=ON\n"
         "@PJL SET ECONOPRINT=OFF\n@PJL SET APTMODE=ON\n@PJL SET DUPLEX=OFF\n"
         "@PJL SET MEDIATYPE=REGULAR\n@PJL SET MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n"
         "@PJL SET LESSPAPERCURL=OFF\n@PJL SET FIXINTENSITYUP=OFF\n@PJL SET COLORMODE=AUTO\n"
         "@PJL SET FIDELITY=TRUE\n@PJL ENTER LANGUAGE=PWGRASTER\n");
  return job;
}

inline constexpr std::string_view kColourTrailer = "\x1b%-12345X\x1b%-12345X\n";

inline void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 24);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 16);
  bytes[at + 2] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 3] = static_cast<std::uint8_t>(value);
}

// A 1796-byte page header as the colour filter writes it: 600 x 600 dpi,
// sRGB 8-bit (colour) or sGray 8-bit (gray), every other field zero.
inline Bytes pwgHeader(std::uint32_t width, std::uint32_t height, bool colour) {
  Bytes header(1796, 0);
  const std::string_view name = "PwgRaster", media = "auto";
  std::copy(name.begin(), name.end(), header.begin());
  std::copy(media.begin(), media.end(), header.begin() + 128);
  putU32(header, 276, 600);
  putU32(header, 280, 600);
  putU32(header, 352, 595);
  putU32(header, 356, 842);
  putU32(header, 372, width);
  putU32(header, 376, height);
  putU32(header, 384, 8);
  putU32(header, 388, colour ? 24 : 8);
  putU32(header, 392, colour ? width * 3 : width);
  putU32(header, 400, colour ? 19 : 18);
  putU32(header, 420, colour ? 3 : 1);
  return header;
}

// A gray page of three lines of pixels 1 2 3 3 3 4, written as one line
// (repeat byte 2) of the runs 255 1 2, 2 3, 0 4.
inline Bytes grayPage() {
  Bytes page = pwgHeader(6, 3, false);
  append(page, {0x02, 0xFF, 0x01, 0x02, 0x02, 0x03, 0x00, 0x04});
  return page;
}

// An all-white colour page of 600 x 300 pixels: one line is 127 FF FF FF
// four times and 87 FF FF FF; its 300 copies come as repeat bytes 255 and 43.
inline Bytes foldedWhiteColourPage() {
  Bytes line;
  for (int i = 0; i < 4; ++i) append(line, {127, 0xFF, 0xFF, 0xFF});
  append(line, {87, 0xFF, 0xFF, 0xFF});
  Bytes page = pwgHeader(600, 300, true);
  page.push_back(255);
  append(page, line);
  page.push_back(43);
  append(page, line);
  return page;
}

inline Bytes colourJob(const Bytes& pages) {
  Bytes job = colourHeader();
  append(job, "RaS2");
  append(job, pages);
  append(job, kColourTrailer);
  return job;
}

}  // namespace qvtest
