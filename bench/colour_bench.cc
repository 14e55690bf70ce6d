// colour_bench.cc - the colour writer's hot steps on A4 lines at 600 dpi
// (4960 pixels): the PWG line encoder on chart, noise and gray lines, the
// gray conversion, and a whole page through writePwgLines. Prints figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "colour/Mfunc.h"

namespace {

using namespace qv::colour;

constexpr int kWidth = 4960;
constexpr int kHeight = 7016;

using Bytes = std::vector<std::uint8_t>;

// A chart-like line: white margins, a few patches and thin dark strokes.
Bytes chartLine(int seed) {
  Bytes line(kWidth * 3, 255);
  std::mt19937 rng(static_cast<unsigned>(seed));
  for (int x = 250; x < kWidth - 250; ++x) {
    const int patch = x / 600;
    line[x * 3] = static_cast<std::uint8_t>(patch * 37);
    line[x * 3 + 1] = static_cast<std::uint8_t>(255 - patch * 29);
    line[x * 3 + 2] = static_cast<std::uint8_t>(patch * 13);
  }
  for (int stroke = 0; stroke < 60; ++stroke) {
    const int at = 300 + static_cast<int>(rng() % (kWidth - 700));
    for (int w = 0; w < 4; ++w)
      line[(at + w) * 3] = line[(at + w) * 3 + 1] = line[(at + w) * 3 + 2] = 0;
  }
  return line;
}

Bytes noiseLine(int bytesPerPixel) {
  Bytes line(static_cast<std::size_t>(kWidth) * bytesPerPixel);
  std::mt19937 rng(1);
  for (auto& b : line) b = static_cast<std::uint8_t>(rng());
  return line;
}

void encode(benchmark::State& state, const Bytes& line, int pixelBytes) {
  RasterState st;
  st.lineBytes = static_cast<int>(line.size());
  st.pixelBytes = pixelBytes;
  st.repeatCount = 1;
  for (auto _ : state) benchmark::DoNotOptimize(raster_write(&st, line.data()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
}

void BM_RasterWriteChartLine(benchmark::State& state) { encode(state, chartLine(1), 3); }
void BM_RasterWriteNoiseLine(benchmark::State& state) { encode(state, noiseLine(3), 3); }
void BM_RasterWriteGrayNoiseLine(benchmark::State& state) { encode(state, noiseLine(1), 1); }
void BM_RasterWriteWhiteLine(benchmark::State& state) { encode(state, Bytes(kWidth * 3, 255), 3); }

void BM_MakeGray(benchmark::State& state) {
  const Bytes rgb = noiseLine(3);
  Bytes gray(kWidth);
  for (auto _ : state) {
    makegray(gray.data(), rgb.data(), kWidth);
    benchmark::DoNotOptimize(gray.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * 3);
}

// A whole A4 page (104 MB of RGB) encoded into /dev/null: chart lines in
// blocks of equal lines, as a chart page has them, or noise.
void page(benchmark::State& state, bool noise, bool gray, bool rotate) {
  const std::size_t lineBytes = kWidth * 3;
  Bytes pixels(lineBytes * kHeight);
  std::mt19937 rng(3);
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* line = pixels.data() + lineBytes * static_cast<std::size_t>(y);
    if (noise) {
      for (std::size_t i = 0; i < lineBytes; ++i) line[i] = static_cast<std::uint8_t>(rng());
    } else {
      const Bytes chart = chartLine(y / 40);
      std::copy(chart.begin(), chart.end(), line);
    }
  }
  std::FILE* sink = std::fopen("/dev/null", "wb");
  static PwgLineScratch scratch;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        writePwgLines(sink, pixels.data(), kWidth, kHeight, gray, rotate, {}, scratch));
  }
  std::fclose(sink);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(pixels.size()));
}

void BM_PageChart(benchmark::State& state) { page(state, false, false, false); }
void BM_PageChartRotated(benchmark::State& state) { page(state, false, false, true); }
void BM_PageChartGray(benchmark::State& state) { page(state, false, true, false); }
void BM_PageNoise(benchmark::State& state) { page(state, true, false, false); }
void BM_PageNoiseGray(benchmark::State& state) { page(state, true, true, false); }

}  // namespace

BENCHMARK(BM_RasterWriteChartLine);
BENCHMARK(BM_RasterWriteNoiseLine);
BENCHMARK(BM_RasterWriteGrayNoiseLine);
BENCHMARK(BM_RasterWriteWhiteLine);
BENCHMARK(BM_MakeGray);
BENCHMARK(BM_PageChart)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageChartRotated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageChartGray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageNoiseGray)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
