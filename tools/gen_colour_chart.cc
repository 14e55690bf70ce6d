// gen_colour_chart.cc - writes raw PPM pages ("P6") for the colour filter's
// sample job and benchmarks.
//
//   gen_colour_chart WIDTH HEIGHT PAGES KIND [SEED] > pages.ppm
//
// KIND:
//   chart  a test chart: white margin, colour patches, gradients and
//          text-like strokes (what office colour pages look like)
//   text   a text page: white, with lines of dark letter-like strokes and
//          now and then a coloured word
//   photo  a photo-like picture: smooth colour ramps with a little sensor
//          noise, so neighbouring pixels are close but rarely equal
//   noise  every pixel differs from its neighbours (worst case for the run
//          encoder)
//   gray   the chart in neutral grays (R = G = B), as a mono job sends
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

enum class Kind { kChart, kText, kPhoto, kNoise, kGray };

struct Random {  // xorshift64: fast, reproducible from the seed
  std::uint64_t state;
  std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

void setPixel(std::uint8_t* line, int x, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  line[x * 3] = r;
  line[x * 3 + 1] = g;
  line[x * 3 + 2] = b;
}

// One line of the chart. The page is cut in bands from the top: patches,
// horizontal gradient, vertical gradient, text-like strokes.
void chartLine(std::uint8_t* line, int width, int height, int y, int page, Random& rng) {
  std::memset(line, 255, static_cast<std::size_t>(width) * 3);
  const int margin = width / 20;
  const int top = height / 20;
  if (y < top || y >= height - top) return;
  const int innerWidth = width - 2 * margin;
  const int innerHeight = height - 2 * top;
  const int band = (y - top) * 4 / innerHeight;  // 0..3
  const int yIn = (y - top) % (innerHeight / 4 + 1);

  static constexpr std::uint8_t kPatches[8][3] = {
      {0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {0, 0, 0},
      {255, 0, 0},   {0, 255, 0},   {0, 0, 255},   {128, 128, 128},
  };
  for (int x = margin; x < margin + innerWidth; ++x) {
    const int xIn = x - margin;
    switch (band) {
      case 0: {  // 8 x 3 patches with white gutters
        const int column = xIn * 8 / innerWidth;
        const int row = yIn * 3 / (innerHeight / 4 + 1);
        if (xIn % (innerWidth / 8) < innerWidth / 80) break;
        const std::uint8_t* c = kPatches[(column + row + page) % 8];
        const int shade = 255 - row * 60;
        setPixel(line, x, static_cast<std::uint8_t>(c[0] * shade / 255),
                 static_cast<std::uint8_t>(c[1] * shade / 255),
                 static_cast<std::uint8_t>(c[2] * shade / 255));
        break;
      }
      case 1: {  // hue ramp across the page: equal lines, no runs in a line
        const int v = xIn * 255 / innerWidth;
        setPixel(line, x, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v),
                 static_cast<std::uint8_t>((v * 2) & 255));
        break;
      }
      case 2: {  // ramp down the page: each line differs, each line one colour band
        const int v = yIn * 255 / (innerHeight / 4 + 1);
        const int column = xIn * 4 / innerWidth;
        setPixel(line, x, static_cast<std::uint8_t>(column == 0 ? v : 255),
                 static_cast<std::uint8_t>(column == 1 ? v : 255),
                 static_cast<std::uint8_t>(column == 2 ? v : (column == 3 ? 255 - v : 255)));
        break;
      }
      default:
        break;
    }
  }
  if (band == 3) {
    // Text-like strokes: lines of "glyphs" 40 lines high with 20-line
    // leading; each glyph a few dark vertical and horizontal strokes.
    const int lineOfText = yIn / 60;
    const int inGlyphRow = yIn % 60;
    if (inGlyphRow >= 40) return;
    Random glyphs{static_cast<std::uint64_t>(lineOfText * 7919 + page * 104729 + 1)};
    for (int x = margin; x + 30 < margin + innerWidth; x += 30) {
      const std::uint64_t shape = glyphs.next();
      if ((shape & 7) == 0) continue;  // a space between words
      const std::uint8_t ink = (shape & 0x100) ? 0 : 20;
      for (int stroke = 0; stroke < 3; ++stroke) {
        const int at = static_cast<int>((shape >> (8 + stroke * 5)) % 24);
        const bool vertical = ((shape >> (30 + stroke)) & 1) != 0;
        if (vertical) {
          for (int w = 0; w < 4; ++w) setPixel(line, x + at + w, ink, ink, ink);
        } else if (inGlyphRow / 4 == at % 10) {
          for (int w = 0; w < 22; ++w) setPixel(line, x + w, ink, ink, ink);
        }
      }
    }
    (void)rng;
  }
}

// Letters 48 lines high in lines 80 lines apart between margins; each
// letter a few strokes picked by a hash of its place, so the page is the
// same for the same arguments.
void textLine(std::uint8_t* line, int width, int height, int y, int page) {
  std::memset(line, 255, static_cast<std::size_t>(width) * 3);
  const int margin = width / 12;
  if (y < height / 14 || y >= height - height / 14) return;
  const int lineOfText = y / 80, inLetter = y % 80;
  if (inLetter >= 48) return;
  Random letters{static_cast<std::uint64_t>(lineOfText * 7919 + page * 104729 + 1)};
  for (int x = margin; x + 36 < width - margin; x += 36) {
    const std::uint64_t shape = letters.next();
    if ((shape & 7) == 0) continue;  // a space between words
    const bool red = (shape & 0x3F0) == 0x3F0;
    const auto r = static_cast<std::uint8_t>(red ? 200 : 10);
    const std::uint8_t g = 10, b = 10;
    if (shape & 0x400)
      for (int w = 0; w < 5; ++w) setPixel(line, x + w, r, g, b);
    if (shape & 0x800)
      for (int w = 24; w < 29; ++w) setPixel(line, x + w, r, g, b);
    const bool bar = ((shape & 0x1000) && inLetter < 5) ||
                     ((shape & 0x2000) && inLetter >= 22 && inLetter < 27) ||
                     ((shape & 0x4000) && inLetter >= 43);
    if (bar)
      for (int w = 0; w < 29; ++w) setPixel(line, x + w, r, g, b);
  }
}

// Ramps across and down the page with a faint noise of +-3 levels.
void photoLine(std::uint8_t* line, int width, int height, int y, int page, Random& rng) {
  const int down = y * 255 / height;
  for (int x = 0; x < width; x += 2) {
    const std::uint64_t noise = rng.next();
    const int across = x * 255 / width;
    const int base[3] = {across, down, (across + down + page * 40) / 2 % 256};
    for (int pixel = 0; pixel < 2 && x + pixel < width; ++pixel) {
      std::uint8_t* p = line + (x + pixel) * 3;
      for (int c = 0; c < 3; ++c) {
        const int v = base[c] + static_cast<int>((noise >> ((pixel * 3 + c) * 3)) & 7) - 3;
        p[c] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
}

void noiseLine(std::uint8_t* line, int width, Random& rng) {
  const std::size_t bytes = static_cast<std::size_t>(width) * 3;
  std::size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    const std::uint64_t word = rng.next();
    std::memcpy(line + i, &word, 8);
  }
  for (; i < bytes; ++i) line[i] = static_cast<std::uint8_t>(rng.next());
}

// The chart in neutral gray: each pixel's luminance-like mean on all three.
void grayLine(std::uint8_t* line, int width, int height, int y, int page, Random& rng) {
  chartLine(line, width, height, y, page, rng);
  for (int x = 0; x < width; ++x) {
    const auto v = static_cast<std::uint8_t>((line[x * 3] + line[x * 3 + 1] + line[x * 3 + 2]) / 3);
    setPixel(line, x, v, v, v);
  }
}

long parsePositive(const char* text, long max) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > max) return -1;
  return value;
}

int usage() {
  std::fputs("usage: gen_colour_chart WIDTH HEIGHT PAGES chart|text|photo|noise|gray [SEED]\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6) return usage();
  const long width = parsePositive(argv[1], 32767);
  const long height = parsePositive(argv[2], 32767);
  const long pages = parsePositive(argv[3], 100000);
  const std::string_view kindName = argv[4];
  const long seed = argc == 6 ? parsePositive(argv[5], 1L << 30) : 1;
  if (width < 0 || height < 0 || pages < 0 || seed < 0) return usage();
  Kind kind;
  if (kindName == "chart") {
    kind = Kind::kChart;
  } else if (kindName == "text") {
    kind = Kind::kText;
  } else if (kindName == "photo") {
    kind = Kind::kPhoto;
  } else if (kindName == "noise") {
    kind = Kind::kNoise;
  } else if (kindName == "gray") {
    kind = Kind::kGray;
  } else {
    return usage();
  }

  static char outputBuffer[1 << 20];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 3);
  Random rng{static_cast<std::uint64_t>(seed) * 0x9E3779B97F4A7C15ull + 1};
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  for (int page = 0; page < pages; ++page) {
    std::printf("P6\n%ld %ld\n255\n", width, height);
    for (int y = 0; y < h; ++y) {
      switch (kind) {
        case Kind::kChart:
          chartLine(line.data(), w, h, y, page, rng);
          break;
        case Kind::kText:
          textLine(line.data(), w, h, y, page);
          break;
        case Kind::kPhoto:
          photoLine(line.data(), w, h, y, page, rng);
          break;
        case Kind::kNoise:
          noiseLine(line.data(), w, rng);
          break;
        case Kind::kGray:
          grayLine(line.data(), w, h, y, page, rng);
          break;
      }
      if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
