// Mfunc_pwg.cc - PWG Raster page writer: page files, page headers, the line
// encoder with identical-line folding, the gray conversion.
//
// Each page goes to a page file of its own; a page file reaches standard
// output when the next page begins or at job end, and only when it was
// written completely. "RaS2" opens the first page file, so the PWG stream
// starts with it exactly once.
#include "colour/Mfunc.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "colour/debugtool.h"
#include "colour/job_state.h"
#include "colour/qvRasterConv.h"
#include "colour/send.h"
#include "colour/tempfile.h"

namespace qv::colour {

// ---- Line encoder -------------------------------------------------------

namespace {

// Number of leading bytes in which a and b agree, eight at a time. The two
// ranges may overlap (a run compares a line with itself one pixel on).
std::size_t countEqualBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t wordA;
    std::uint64_t wordB;
    std::memcpy(&wordA, a + i, sizeof wordA);
    std::memcpy(&wordB, b + i, sizeof wordB);
    if (wordA != wordB) return i + static_cast<std::size_t>(__builtin_ctzll(wordA ^ wordB) / 8);
  }
  while (i < length && a[i] == b[i]) ++i;
  return i;
}

template <int P>
bool samePixel(const std::uint8_t* a, const std::uint8_t* b) {
  if constexpr (P == 1) {
    return *a == *b;
  } else {
    std::uint16_t headA;
    std::uint16_t headB;
    std::memcpy(&headA, a, 2);
    std::memcpy(&headB, b, 2);
    return headA == headB && a[2] == b[2];
  }
}

// Bit k of the result is set when a[k] == b[k], for k below 48. SSE2 is part
// of every x86-64, so this needs no check at run time; elsewhere a plain loop
// gives the same mask.
std::uint64_t equalByteMask48(const std::uint8_t* a, const std::uint8_t* b) {
  std::uint64_t mask = 0;
#if defined(__SSE2__)
  for (int k = 0; k < 3; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * k));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
    const auto bits = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    mask |= std::uint64_t{bits} << (16 * k);
  }
#else
  for (int k = 0; k < 48; ++k) mask |= std::uint64_t{a[k] == b[k]} << k;
#endif
  return mask;
}

// The first pixel j in [from, end) that equals pixel j + 1, or `end` when
// there is none; pixel `end` must exist. This is the literal run's scan, the
// encoder's hot loop on photos and noise: it compares 48 bytes with the 48
// one pixel on at once (16 RGB or 48 gray pixels), then pixel by pixel for
// the rest. callgrind, one A4 photo page at 600 dpi: the encoder took 441M
// instructions comparing pixel by pixel, 135M with this scan.
template <int P>
std::size_t findEqualNeighbour(const std::uint8_t* line, std::size_t from, std::size_t end) {
  constexpr std::size_t kBlockPixels = 48 / P;
  // Bits 0, 3, ..., 45: the first byte of each RGB pixel in the mask.
  constexpr std::uint64_t kPixelStarts = 0x249249249249;
  std::size_t j = from;
  for (; j + kBlockPixels <= end; j += kBlockPixels) {
    const std::uint8_t* at = line + j * P;
    std::uint64_t equal = equalByteMask48(at, at + P);
    // An RGB pixel equals its successor when all three of its bytes do.
    if constexpr (P == 3) equal &= (equal >> 1) & (equal >> 2) & kPixelStarts;
    if (equal != 0) return j + static_cast<std::size_t>(__builtin_ctzll(equal)) / P;
  }
  for (; j < end; ++j)
    if (samePixel<P>(line + j * P, line + (j + 1) * P)) return j;
  return end;
}

constexpr std::size_t kMaxRunPixels = 128;

// Runs of one line of `pixels` pixels of P bytes; returns the end of output.
// The caller has made room for the worst case (a literal header per 128
// pixels on top of the pixels themselves).
template <int P>
std::uint8_t* encodeRuns(const std::uint8_t* line, std::size_t pixels, std::uint8_t* out) {
  std::size_t i = 0;
  while (i < pixels) {
    const std::uint8_t* current = line + i * P;
    if (i + 1 == pixels) {  // the last pixel alone
      *out++ = 0;
      std::memcpy(out, current, P);
      out += P;
      break;
    }
    if (samePixel<P>(current, current + P)) {
      // Repeat run: pixel i+k equals pixel i for all k below the count exactly
      // when the bytes from pixel i+1 on agree with those one pixel earlier.
      const std::size_t limit = std::min(pixels, i + kMaxRunPixels);
      const std::size_t equal =
          countEqualBytes(current + P, current, (limit - i - 1) * static_cast<std::size_t>(P));
      const std::size_t count = 1 + equal / P;
      *out++ = static_cast<std::uint8_t>(count - 1);
      std::memcpy(out, current, P);
      out += P;
      i += count;
      continue;
    }
    // Literal run: take pixels while each differs from its successor; the
    // last pixel of the line joins the run; a pixel equal to its successor
    // starts the next (repeat) run.
    const std::size_t scanEnd = std::min(pixels - 1, i + kMaxRunPixels);
    const std::size_t equalAt = findEqualNeighbour<P>(line, i + 1, scanEnd);
    const std::size_t count = equalAt < scanEnd ? equalAt - i : std::min(pixels - i, kMaxRunPixels);
    *out++ = static_cast<std::uint8_t>(257 - count);
    std::memcpy(out, current, count * P);
    out += count * P;
    i += count;
  }
  return out;
}

}  // namespace

long raster_write(RasterState* st, const std::uint8_t* line) {
  const auto lineBytes = static_cast<std::uint64_t>(st->lineBytes);
  const std::uint64_t needed = std::max<std::uint64_t>(65536, 2 * lineBytes);
  if (st->capacity < needed) {
    void* grown = std::realloc(st->output.get(), needed);
    if (grown == nullptr) return kRasterWriteNoMemory;
    (void)st->output.release();
    st->output.reset(static_cast<std::uint8_t*>(grown));
    st->capacity = needed;
  }
  std::uint8_t* out = st->output.get();
  out[0] = static_cast<std::uint8_t>(st->repeatCount - 1);
  const std::size_t pixels =
      st->pixelBytes > 0 ? static_cast<std::size_t>(st->lineBytes / st->pixelBytes) : 0;
  std::uint8_t* end = st->pixelBytes == 3 ? encodeRuns<3>(line, pixels, out + 1)
                                          : encodeRuns<1>(line, pixels, out + 1);
  return static_cast<long>(end - out);
}

// ---- Gray conversion ----------------------------------------------------

namespace {

// The products are rounded to double once, whether computed here or per
// pixel, so the tables give the same sums as the per-pixel formula.
template <typename F>
constexpr std::array<double, 256> productTable(F weight) {
  std::array<double, 256> table{};
  for (int v = 0; v < 256; ++v) table[static_cast<std::size_t>(v)] = weight(v);
  return table;
}
constexpr auto kRedWeight = productTable([](int v) { return v * 0.3; });
constexpr auto kGreenWeight = productTable([](int v) { return v * 0.59; });
constexpr auto kBlueWeight = productTable([](int v) { return v * 0.11; });

}  // namespace

void makegray(std::uint8_t* gray, const std::uint8_t* rgb, long pixels) {
  for (long i = 0; i < pixels; ++i, rgb += 3) {
    double t = kGreenWeight[rgb[1]];
    t = kBlueWeight[rgb[2]] + t;
    t = kRedWeight[rgb[0]] + t;
    gray[i] = static_cast<std::uint8_t>(t);
  }
}

// ---- Page header --------------------------------------------------------

namespace {

void putBigEndian32(std::span<std::uint8_t, kPwgHeaderSize> header, std::size_t offset,
                    std::uint32_t value) {
  header[offset] = static_cast<std::uint8_t>(value >> 24);
  header[offset + 1] = static_cast<std::uint8_t>(value >> 16);
  header[offset + 2] = static_cast<std::uint8_t>(value >> 8);
  header[offset + 3] = static_cast<std::uint8_t>(value);
}

// 16-bit record fields are sign-extended into the 32-bit header fields.
std::uint32_t widen(std::int16_t value) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace

void buildPwgPageHeader(const PwgPageGeometry& page, bool gray,
                        std::span<std::uint8_t, kPwgHeaderSize> header) {
  std::fill(header.begin(), header.end(), std::uint8_t{0});
  std::memcpy(header.data(), "PwgRaster", 9);
  std::memcpy(header.data() + 128, "auto", 4);
  putBigEndian32(header, 276, 600);  // HWResolution: always 600 x 600
  putBigEndian32(header, 280, 600);
  putBigEndian32(header, 352, widen(page.paperWidth));
  putBigEndian32(header, 356, widen(page.paperLength));
  putBigEndian32(header, 372, widen(page.width));
  putBigEndian32(header, 376, widen(page.height));
  putBigEndian32(header, 384, 8);  // BitsPerColor
  putBigEndian32(header, 388, gray ? 8 : 24);
  putBigEndian32(header, 392,
                 gray ? widen(page.width) : static_cast<std::uint32_t>(page.bytesPerLine));
  putBigEndian32(header, 400, gray ? 18 : 19);  // sGray or sRGB
  putBigEndian32(header, 420, gray ? 1 : 3);    // NumColors
}

// ---- Page lines -----------------------------------------------------------

namespace {

void reversePixels(std::uint8_t* out, const std::uint8_t* line, int width) {
  const std::uint8_t* source = line + static_cast<std::size_t>(width) * 3;
  for (int i = 0; i < width; ++i) {
    source -= 3;
    std::memcpy(out, source, 3);
    out += 3;
  }
}

// The previous encoded line, waiting for identical successors; 256 lines
// close it. The next line is encoded into the other buffer of the scratch
// pair, and a line that differs takes the pending line's place by a swap.
class PendingLine {
 public:
  explicit PendingLine(PwgLineScratch& s) : s_(s) {}
  void start(std::FILE* out) {
    s_.out = out;
    s_.pendingLength = 0;
    s_.pendingPresent = false;
  }
  // Where the next line is encoded: the buffer the pending line is not in.
  std::uint8_t* spare() { return s_.encoded[1 - s_.pendingIndex]; }
  // The line just encoded equals the pending one.
  bool repeat() {
    std::uint8_t& count = pending()[0];
    if (count == 254) {
      count = 255;
      s_.pendingPresent = false;
      return write();
    }
    ++count;
    return true;
  }
  // A line that differs (or the first line), `length` bytes in spare(): the
  // pending line is written and the new line takes its place.
  bool replace(std::size_t length) {
    const bool ok = !s_.pendingPresent || write();
    s_.pendingIndex = 1 - s_.pendingIndex;
    s_.pendingLength = length;
    s_.pendingPresent = true;
    return ok;
  }
  // The same bytes again without encoding (the input line was equal to the
  // previous one) after a run of 256 closed the pending line.
  void reopen() {
    pending()[0] = 0;
    s_.pendingPresent = true;
  }
  // The line in spare() encodes like the pending one.
  bool equalsSpare(std::size_t length) {
    return length == s_.pendingLength && std::memcmp(pending() + 1, spare() + 1, length - 1) == 0;
  }
  bool present() const { return s_.pendingPresent; }
  bool finish() { return !s_.pendingPresent || write(); }

 private:
  std::uint8_t* pending() { return s_.encoded[s_.pendingIndex]; }
  bool write() { return std::fwrite(pending(), 1, s_.pendingLength, s_.out) == s_.pendingLength; }
  PwgLineScratch& s_;
};

// The worst case of a line: the repeat byte, every pixel, a literal header
// per 128 pixels.
static_assert(1 + kMaxPageWidth * 3 + (kMaxPageWidth + 127) / 128 <= kPendingLineSize);

}  // namespace

Status writePwgLines(std::FILE* out, const std::uint8_t* page, int width, int height, bool gray,
                     bool rotate, const JobEnv& env, PwgLineScratch& scratch) {
  if (width <= 0 || width > kMaxPageWidth) return Status::kBadSize;
  const auto pixels = static_cast<std::size_t>(width);
  const std::size_t rgbBytes = pixels * 3;

  PendingLine pendingLine(scratch);
  PendingLine* pending = &pendingLine;
  pending->start(out);

  const std::uint8_t* previous = nullptr;
  for (int n = 0; n < height; ++n) {
    if (env.cancelled()) return Status::kCancelled;
    const int lineIndex = rotate ? height - 1 - n : n;
    const std::uint8_t* source = page + static_cast<std::size_t>(lineIndex) * rgbBytes;

    // An input line equal to the previous one encodes to the same bytes:
    // chart pages are mostly such lines, and memcmp is far cheaper than the
    // run scan.
    if (previous != nullptr && std::memcmp(source, previous, rgbBytes) == 0) {
      if (pending->present()) {
        if (!pending->repeat()) return Status::kWriteFailed;
      } else {
        pending->reopen();
      }
      continue;
    }
    previous = source;

    const std::uint8_t* line = source;
    if (rotate) {
      reversePixels(scratch.reversed, source, width);
      line = scratch.reversed;
    }
    if (gray) {
      makegray(scratch.gray, line, width);
      line = scratch.gray;
    }
    // The line repeat byte (count - 1), then the runs.
    std::uint8_t* encoded = pending->spare();
    encoded[0] = 0;
    const std::uint8_t* end =
        gray ? encodeRuns<1>(line, pixels, encoded + 1) : encodeRuns<3>(line, pixels, encoded + 1);
    const auto size = static_cast<std::size_t>(end - encoded);
    if (pending->present() && pending->equalsSpare(size)) {
      if (!pending->repeat()) return Status::kWriteFailed;
    } else if (!pending->replace(size)) {
      return Status::kWriteFailed;
    }
  }
  return pending->finish() ? Status::kOk : Status::kWriteFailed;
}

// ---- Page files -------------------------------------------------------------

namespace {

// One page file is open at a time: created at page begin, written by band
// send, kept open and sent to the output from its start when the next page
// begins or at job end. It has no name (or loses it at once): the open
// stream is all the writer needs, and a customer's page then leaves nothing
// behind however the process ends (SIGKILL, a crash, a spooler that stops
// reading). A job without page files keeps the page in memory instead.
constexpr std::size_t kPageFileBuffer = std::size_t{1} << 20;  // big blocks, not 4 KiB
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

void closePageFile(ColourJobState& job) {
  if (job.fin != nullptr) std::fclose(job.fin);
  job.fin = nullptr;
  job.finState = PageFileState::kNone;
  job.finCarriesSync = false;
}

// A page file that was not written whole never reaches the printer: a half
// page would corrupt the stream. Its "RaS2" has to come with the next file.
void discardPageFile(ColourJobState& job) {
  if (job.fin == nullptr) return;
  if (job.finCarriesSync) job.syncWritten = false;
  closePageFile(job);
}

void reportPageFileError(const ColourJobState& job, const char* what) {
  reportf(job.env, ReportLevel::kError, "ERROR: %s %s: %s", what, job.pageFileName,
          std::strerror(errno));
}

bool isGrayJob(const PjpInfo& job) { return job.nColorMode == 0; }

// The in-memory page file's write: appends to job.memoryPage, which grows
// (by doubling) but never shrinks. A page of 104 MB written into fresh memory
// costs more in page faults than its encoding; reused, only the first page
// does. Returns the count written, or -1 without memory (the page then fails).
ssize_t writeMemoryPage(void* cookie, const char* bytes, std::size_t size) {
  auto& job = *static_cast<ColourJobState*>(cookie);
  const std::size_t needed = job.memoryPageUsed + size;
  if (needed > job.memoryPageCapacity) {
    const std::size_t capacity = std::max({needed, 2 * job.memoryPageCapacity, kPageFileBuffer});
    void* grown = std::realloc(job.memoryPage.get(), capacity);
    if (grown == nullptr) {
      errno = ENOMEM;
      return -1;
    }
    (void)job.memoryPage.release();
    job.memoryPage.reset(static_cast<std::uint8_t*>(grown));
    job.memoryPageCapacity = capacity;
  }
  std::memcpy(job.memoryPage.get() + job.memoryPageUsed, bytes, size);
  job.memoryPageUsed = needed;
  return static_cast<ssize_t>(size);
}

std::FILE* openPageFile(ColourJobState& job) {
  if (!job.usePageFiles) {
    std::snprintf(job.pageFileName, sizeof job.pageFileName, "in memory");
    job.memoryPageUsed = 0;
    const cookie_io_functions_t functions = {nullptr, writeMemoryPage, nullptr, nullptr};
    std::FILE* file = ::fopencookie(&job, "w", functions);
    // Unbuffered: every line goes straight into the page, copied once.
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
  }
  const char* dir = scratchDirectory(job.tmpDir.c_str());
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "ec_tmppage_%d_%d_", static_cast<int>(::getpid()),
                static_cast<int>(job.dev.nTempPageNo));
  std::snprintf(job.pageFileName, sizeof job.pageFileName, "%s/%s", dir, prefix);
  const int fd = openScratchFile(dir, prefix);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w+b");
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  std::setvbuf(file, reinterpret_cast<char*>(job.finBuffer.get()), _IOFBF, kPageFileBuffer);
  return file;
}

}  // namespace

Status createPageFileBuffers(ColourJobState& job) {
  if (!job.usePageFiles) return Status::kOk;
  if (!job.finBuffer) job.finBuffer = qv::allocateBytes(kPageFileBuffer);
  if (!job.copyBuffer) job.copyBuffer = qv::allocateBytes(kCopyBuffer);
  return job.finBuffer && job.copyBuffer ? Status::kOk : Status::kNoMemory;
}

namespace {

// Sends the whole page file from read-only mappings, 8 MiB at a time, so
// that the kernel copies it once, into the output, instead of into the copy
// buffer first; a window at a time keeps the mapped part out of the peak
// memory. False when the file cannot be mapped (empty, say) before any byte
// went out; the caller then copies it.
bool sendMappedPageFile(ColourJobState& job, std::FILE* pageFile) {
  constexpr std::size_t kWindow = std::size_t{8} << 20;
  struct stat info {};
  const int fd = ::fileno(pageFile);
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size <= 0) return false;
  const auto size = static_cast<std::size_t>(info.st_size);
  for (std::size_t offset = 0; offset < size; offset += kWindow) {
    const std::size_t length = std::min(kWindow, size - offset);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd,
                          static_cast<off_t>(offset));
    if (mapped == MAP_FAILED) {
      if (offset == 0) return false;
      Debug_printf(&job.log, "Write error\n");  // the copy cannot go on
      return true;
    }
    const Status written = pswrite(job, mapped, length);
    ::munmap(mapped, length);
    if (written != Status::kOk) {
      Debug_printf(&job.log, "Write error\n");
      return true;
    }
  }
  return true;
}

}  // namespace

// Not a compressor: the printer driver's name for the page file copy.
void do_compress(ColourJobState& job, std::FILE* ffsrc) {
  std::rewind(ffsrc);  // flushes the stream: every byte is in the file
  if (sendMappedPageFile(job, ffsrc)) return;
  for (;;) {
    const std::size_t got = std::fread(job.copyBuffer.get(), 1, kCopyBuffer, ffsrc);
    if (got > 0 && pswrite(job, job.copyBuffer.get(), got) != Status::kOk) {
      Debug_printf(&job.log, "Write error\n");
      return;
    }
    if (got < kCopyBuffer) return;
  }
}

void finishPageFiles(ColourJobState& job) {
  if (job.finState != PageFileState::kComplete) {
    discardPageFile(job);
    return;
  }
  if (job.usePageFiles) {
    do_compress(job, job.fin);
  } else if (std::fflush(job.fin) != 0 ||
             pswrite(job, job.memoryPage.get(), job.memoryPageUsed) != Status::kOk) {
    job.outFailed = true;
  }
  closePageFile(job);
}

void discardPageFiles(ColourJobState& job) { closePageFile(job); }

Status MBeginPage(ColourJobState& job) {
  finishPageFiles(job);  // the previous page, now complete, goes to the printer

  DevModeBlock* dev = job.send.pdev;
  ++dev->nTempPageNo;
  job.fin = openPageFile(job);
  if (job.fin == nullptr) {
    reportPageFileError(job, "Unable to create page file");
    return Status::kPageFailed;
  }
  job.finState = PageFileState::kWriting;

  if (!job.syncWritten) {
    if (std::fwrite("RaS2", 1, 4, job.fin) != 4) {
      reportPageFileError(job, "Writing page file failed");
      discardPageFile(job);
      return Status::kPageFailed;
    }
    job.syncWritten = true;
    job.finCarriesSync = true;
  }

  if (skipBlankPagePrint(job)) return Status::kOk;  // no header, no lines

  ++dev->nPrintedPages;
  std::uint8_t header[kPwgHeaderSize];
  const PjpInfo& pjp = job.pjp;
  const PwgPageGeometry geometry{pjp.nWidth, pjp.nHeight, pjp.nPaperWidth, pjp.nPaperLength,
                                 pjp.nBytesPerLine};
  buildPwgPageHeader(geometry, isGrayJob(pjp), header);
  if (std::fwrite(header, 1, sizeof header, job.fin) != sizeof header) {
    reportPageFileError(job, "Writing page file failed");
    discardPageFile(job);
    return Status::kPageFailed;
  }
  return Status::kOk;
}

// Its one band is the whole page.
Status MSendBandData(ColourJobState& job) {
  if (job.finState != PageFileState::kWriting)
    return Status::kOk;  // page begin could not set it up
  SendInfo* send = &job.send;
  const PjpInfo& pjp = job.pjp;
  if ((send->wFlags & 1u) != 0 && skipBlankPagePrint(job)) {
    // A blank page leaves its file empty (or holding "RaS2" alone).
    if (std::fflush(job.fin) == 0) {
      job.finState = PageFileState::kComplete;
    } else {
      reportPageFileError(job, "Writing page file failed");
      discardPageFile(job);
      return Status::kPageFailed;
    }
    return Status::kOk;
  }
  const bool gray = isGrayJob(pjp);
  send->wLineBytes = static_cast<std::uint16_t>(pjp.nWidth * 3);
  send->pLine = job.pageData;
  const bool rotate = pjp.nDuplex == 2 && send->pdev->nPrintedPages % 2 == 0;
  const Status status = writePwgLines(job.fin, job.pageData, pjp.nWidth, pjp.nHeight, gray, rotate,
                                      job.env, job.lines);
  if (status == Status::kOk && std::fflush(job.fin) == 0) {
    job.finState = PageFileState::kComplete;
    return Status::kOk;
  }
  switch (status) {
    case Status::kCancelled:
      return Status::kOk;  // the job end deletes the unfinished file
    case Status::kBadSize:
      job.env.say(ReportLevel::kError, "Invalid Parameter(s).");
      discardPageFile(job);
      break;
    default:
      reportPageFileError(job, "Writing page file failed");
      discardPageFile(job);
      break;
  }
  return Status::kPageFailed;  // a page that cannot be sent whole fails the job
}

Status MEndPage(ColourJobState& /*job*/) { return Status::kOk; }

Status MSendData(ColourJobState& /*job*/) { return Status::kOk; }

}  // namespace qv::colour
