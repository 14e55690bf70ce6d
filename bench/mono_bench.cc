// mono_bench.cc - speed of the mono writer's hot paths: the method-9 row
// compressor on text-like and noise rows, and the band pipeline on a whole
// A4 page at 600 and 1200 dpi. Prints figures; never passes or fails.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "common/malloc_buffer.h"
#include "mono/PCLUtils.h"
#include "mono/compmain.h"

namespace {

using namespace qv::mono;

using Bytes = std::vector<std::uint8_t>;

// Lines of letter-like strokes between margins: mostly short runs, rows
// that repeat within a stroke, blank rows between lines.
Bytes textPage(int width, int height, std::uint32_t seed) {
  const int rowBytes = (width + 7) / 8;
  Bytes page(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height), 0);
  std::mt19937 rng(seed);
  auto setRun = [&](int y, int x0, int x1) {
    std::uint8_t* row =
        page.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowBytes);
    for (int x = x0; x < x1; ++x)
      row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80u >> (x % 8)));
  };
  const int lineRows = height / 120 > 3 ? height / 120 : 3;
  const int letter = lineRows * 6 / 10;
  const int stroke = lineRows / 8 > 1 ? lineRows / 8 : 1;
  for (int top = height / 14; top + lineRows < height - height / 14; top += lineRows * 8 / 5) {
    for (int x = width / 12; x + letter < width - width / 12; x += letter + letter / 6 + 1) {
      if (rng() % 7 == 0) {
        x += letter;  // word gap
        continue;
      }
      const unsigned glyph = 1u + static_cast<unsigned>(rng() % 31u);
      for (int y = 0; y < lineRows; ++y) {
        if (glyph & 1u) setRun(top + y, x, x + stroke);
        if (glyph & 2u) setRun(top + y, x + letter - stroke, x + letter);
        const bool bar = ((glyph & 4u) && y < stroke) ||
                         ((glyph & 8u) && y >= lineRows / 2 && y < lineRows / 2 + stroke) ||
                         ((glyph & 16u) && y >= lineRows - stroke);
        if (bar) setRun(top + y, x, x + letter);
      }
    }
  }
  return page;
}

Bytes noisePage(int width, int height, std::uint32_t seed) {
  Bytes page(static_cast<std::size_t>((width + 7) / 8) * static_cast<std::size_t>(height));
  std::mt19937 rng(seed);
  for (auto& b : page) b = static_cast<std::uint8_t>(rng());
  return page;
}

// A job's state as the writer sets it up, for calling the pipeline
// directly; its bytes are counted and dropped.
class Job {
 public:
  Job(int resMode, int width, int height) {
    state_.settings.width = width;
    state_.settings.height = height;
    state_.sParam.resMode = static_cast<std::int16_t>(resMode);
    state_.destBuffer = qv::allocateBytes(static_cast<std::size_t>(width) * 5 / 8 + kBufferSlack);
    state_.compBuffer = qv::allocateBytes(kCompBufBytes + kBufferSlack);
    state_.sendBuffer = qv::allocateBytes(kSendBufBytes + kBufferSlack);
    state_.destBufPtr = state_.destBuffer.get();
    state_.CompBufPtr = state_.compBuffer.get();
    state_.SnedBufPtr = state_.sendBuffer.get();
    setPageGeometry(state_);
    state_.seedBuffer = qv::allocateBytes(static_cast<std::size_t>(state_.rowCount) + 1);
    state_.sink = {[](void* sent, std::span<const std::uint8_t> bytes) {
                     *static_cast<std::size_t*>(sent) += bytes.size();
                     return true;
                   },
                   &sent_};
  }
  MonoJobState& state() { return state_; }

 private:
  MonoJobState state_;
  std::size_t sent_ = 0;
};

// Compressor alone: every non-blank row of a page against the row above.
void compressRows(benchmark::State& state, const Bytes& page, int rowBytes) {
  const int height = static_cast<int>(page.size()) / rowBytes;
  Job job(2, rowBytes * 8, height);
  CompData& compData = job.state().compData;
  std::vector<int> rows;
  for (int y = 1; y < height; ++y) {
    const std::uint8_t* row = page.data() + static_cast<std::size_t>(y * rowBytes);
    bool blank = true;
    for (int i = 0; i < rowBytes && blank; ++i) blank = row[i] == 0;
    if (!blank) rows.push_back(y);
  }
  compData.rowLen = static_cast<std::uint16_t>(rowBytes);
  compData.seedLen = compData.rowLen;
  compData.dest = job.state().destBufPtr;
  compData.work = job.state().CompBufPtr;
  std::size_t encoded = 0;
  for (auto _ : state) {
    for (int y : rows) {
      compData.row = page.data() + static_cast<std::size_t>(y * rowBytes);
      compData.seed = compData.row - rowBytes;
      compressM9_1030(job.state());
      encoded += compData.destLen;
    }
  }
  benchmark::DoNotOptimize(encoded);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(rows.size()) * rowBytes);
  state.counters["rows"] = static_cast<double>(rows.size());
}

enum class PageKind { kText, kNoise, kBlank };

Bytes makePage(PageKind kind, int width, int height) {
  if (kind == PageKind::kText) return textPage(width, height, 1);
  if (kind == PageKind::kNoise) return noisePage(width, height, 1);
  return Bytes(static_cast<std::size_t>((width + 7) / 8) * static_cast<std::size_t>(height), 0);
}

// Compressor alone on the widest rows the printer takes (4992 dots at 600
// dpi, 9984 at 1200).
void compressPage(benchmark::State& state, PageKind kind, int scale, int height) {
  compressRows(state, makePage(kind, 4992 * scale, height), 624 * scale);
}
BENCHMARK_CAPTURE(compressPage, TextRows600, PageKind::kText, 1, 7016);
BENCHMARK_CAPTURE(compressPage, NoiseRows600, PageKind::kNoise, 1, 2000);
BENCHMARK_CAPTURE(compressPage, NoiseRows1200, PageKind::kNoise, 2, 2000);

// The whole band pipeline on one A4 page, as the driver runs it.
void bandPage(benchmark::State& state, PageKind kind, int scale) {
  const int width = 4960 * scale, height = 7016 * scale;
  const Bytes page = makePage(kind, width, height);
  Job job(scale == 2 ? 3 : 2, width, height);
  for (auto _ : state) {
    SendData_1030(job.state(), nullptr, page.data());
    serialSend_1030(job.state(), nullptr);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(page.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));  // pages
}
BENCHMARK_CAPTURE(bandPage, A4Text600, PageKind::kText, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bandPage, A4Text1200, PageKind::kText, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bandPage, A4Blank600, PageKind::kBlank, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bandPage, A4Noise600, PageKind::kNoise, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bandPage, A4Noise1200, PageKind::kNoise, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
