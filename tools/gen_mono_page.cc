// gen_mono_page - writes raw 1-bit raster pages, as rawtoqv reads them, to
// standard output: rows of (width + 7) / 8 bytes, most significant bit the
// leftmost pixel, 1 = black, no header.
//
//   gen_mono_page WIDTH HEIGHT PAGES KIND [SEED]
//
// KIND is "text" (lines of letter-like strokes between margins: mostly blank
// rows, short runs, the common case of an office job), "halftone" (a photo
// screened with an 8 x 8 ordered dither, as a rasteriser sends pictures),
// "noise" (random bits: the compressor's worst case) or "blank". The same
// arguments always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

namespace {

enum class Kind { kText, kHalftone, kNoise, kBlank };

bool parseCount(const char* text, long max, long& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 0 || parsed > max) return false;
  value = parsed;
  return true;
}

// Sets pixels [x0, x1) of a packed row.
void setRun(std::uint8_t* row, long x0, long x1) {
  for (long x = x0; x < x1; ++x) row[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
}

// One text line: `lineRows` rows high, letters drawn from five strokes (left
// and right stem, top, middle and bottom bar) picked at random, grouped in
// words. The line's rows are drawn into `rows` (lineRows x rowBytes).
void drawTextLine(std::vector<std::uint8_t>& rows, long rowBytes, long lineRows, long left,
                  long right, std::mt19937& rng) {
  std::fill(rows.begin(), rows.end(), std::uint8_t{0});
  const long letterWidth = lineRows * 6 / 10 > 2 ? lineRows * 6 / 10 : 2;
  const long stroke = lineRows / 8 > 1 ? lineRows / 8 : 1;
  // A short last line of a paragraph now and then.
  const long end =
      rng() % 5 == 0 ? left + (right - left) * static_cast<long>(rng() % 70) / 100 : right;
  long x = left;
  while (x + letterWidth < end) {
    const long letters = 2 + static_cast<long>(rng() % 9);
    for (long i = 0; i < letters && x + letterWidth < end; ++i) {
      const auto glyph = static_cast<unsigned>(1u + rng() % 31u);
      for (long y = 0; y < lineRows; ++y) {
        std::uint8_t* row = rows.data() + y * rowBytes;
        if (glyph & 1u) setRun(row, x, x + stroke);
        if (glyph & 2u) setRun(row, x + letterWidth - stroke, x + letterWidth);
        const bool top = y < stroke, middle = y >= lineRows / 2 && y < lineRows / 2 + stroke,
                   bottom = y >= lineRows - stroke;
        if (((glyph & 4u) && top) || ((glyph & 8u) && middle) || ((glyph & 16u) && bottom))
          setRun(row, x, x + letterWidth);
      }
      x += letterWidth + letterWidth / 6 + 1;
    }
    x += letterWidth * 2 / 3;
  }
}

void drawTextPage(std::vector<std::uint8_t>& page, long width, long height, long rowBytes,
                  std::mt19937& rng) {
  const long margin = width / 12;
  const long lineRows = height / 120 > 3 ? height / 120 : 3;
  const long pitch = lineRows * 8 / 5;
  std::vector<std::uint8_t> line(static_cast<std::size_t>(lineRows * rowBytes));
  for (long top = height / 14; top + lineRows < height - height / 14; top += pitch) {
    if (rng() % 9 == 0) continue;  // paragraph gap
    drawTextLine(line, rowBytes, lineRows, margin, width - margin, rng);
    std::memcpy(page.data() + top * rowBytes, line.data(), line.size());
  }
}

// A smooth picture (rings and ramps that move from page to page) screened
// with the 8 x 8 Bayer matrix: rows repeat only every 8 rows and runs are
// short, as in a dithered photo.
void drawHalftonePage(std::vector<std::uint8_t>& page, long width, long height, long rowBytes,
                      long pageNumber) {
  static constexpr std::uint8_t kBayer[8][8] = {
      {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
      {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
      {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
      {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
  const long cx = width / 3 + pageNumber * width / 17, cy = height / 2;
  // level = distance² * 64 / (width² / 16) + ramps, without a division per pixel.
  const long ringStep = (64L << 32) / (width * width / 16 + 1);
  std::vector<long> ramp(static_cast<std::size_t>(width));
  for (long x = 0; x < width; ++x) ramp[static_cast<std::size_t>(x)] = x * 32 / width;
  for (long y = 0; y < height; ++y) {
    std::uint8_t* row = page.data() + y * rowBytes;
    const long dy = y - cy, rowRamp = y * 16 / height;
    const std::uint8_t* threshold = kBayer[y % 8];
    for (long x = 0; x < width; ++x) {
      const long dx = x - cx;
      const long rings = ((dx * dx + dy * dy) * ringStep) >> 32;
      const long level = (rings + ramp[static_cast<std::size_t>(x)] + rowRamp) & 63;
      if (level > threshold[x % 8]) row[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    }
  }
}

void fillNoise(std::vector<std::uint8_t>& page, std::mt19937& rng) {
  std::size_t i = 0;
  for (; i + 4 <= page.size(); i += 4) {
    const auto word = static_cast<std::uint32_t>(rng());
    std::memcpy(page.data() + i, &word, 4);
  }
  for (; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(rng());
}

// Pixels past the width in the last byte of each row stay white.
void clearPadding(std::vector<std::uint8_t>& page, long width, long height, long rowBytes) {
  if (width % 8 == 0) return;
  const auto keep = static_cast<std::uint8_t>(0xFFu << (8 - width % 8));
  for (long y = 0; y < height; ++y)
    page[static_cast<std::size_t>(y * rowBytes + rowBytes - 1)] &= keep;
}

}  // namespace

int main(int argc, char** argv) {
  long width = 0, height = 0, pages = 0, seed = 1;
  Kind kind = Kind::kText;
  const std::string_view kindWord = argc > 4 ? argv[4] : "";
  if (kindWord == "noise") kind = Kind::kNoise;
  if (kindWord == "blank") kind = Kind::kBlank;
  if (kindWord == "halftone") kind = Kind::kHalftone;
  if ((argc != 5 && argc != 6) || !parseCount(argv[1], 1L << 20, width) || width == 0 ||
      !parseCount(argv[2], 1L << 20, height) || height == 0 ||
      !parseCount(argv[3], 100000, pages) ||
      (kindWord != "text" && kindWord != "halftone" && kindWord != "noise" &&
       kindWord != "blank") ||
      (argc == 6 && !parseCount(argv[5], 0xFFFFFFFFL, seed))) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT PAGES text|halftone|noise|blank [SEED]\n",
                 argv[0]);
    return 2;
  }
  static char outBuffer[1 << 20];
  std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);

  const long rowBytes = (width + 7) / 8;
  std::vector<std::uint8_t> page(static_cast<std::size_t>(rowBytes * height));
  std::mt19937 rng(static_cast<std::uint32_t>(seed));
  for (long p = 0; p < pages; ++p) {
    if (kind == Kind::kText) {
      std::fill(page.begin(), page.end(), std::uint8_t{0});
      drawTextPage(page, width, height, rowBytes, rng);
    } else if (kind == Kind::kHalftone) {
      std::fill(page.begin(), page.end(), std::uint8_t{0});
      drawHalftonePage(page, width, height, rowBytes, p);
    } else if (kind == Kind::kNoise) {
      fillNoise(page, rng);
    }
    clearPadding(page, width, height, rowBytes);
    if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size()) return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
