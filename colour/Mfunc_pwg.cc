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

#include <unistd.h>

#include <cerrno>

#include "colour/debugtool.h"
#include "colour/qvRasterConv.h"
#include "colour/rastertoqv_loop.h"
#include "colour/send.h"
#include "colour/tempfile.h"

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
    std::size_t count = 1;
    std::size_t j = i + 1;
    while (count < kMaxRunPixels) {
      if (j + 1 == pixels) {
        ++count;
        break;
      }
      if (samePixel<P>(line + j * P, line + (j + 1) * P)) break;
      ++count;
      ++j;
    }
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
    if (grown == nullptr) return -1;
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

std::uint8_t tempbuf[kMaxPageWidth * 3];  // one line, pixels reversed
std::uint8_t graybuf[kMaxPageWidth];      // one gray line

void reversePixels(std::uint8_t* out, const std::uint8_t* line, int width) {
  const std::uint8_t* source = line + static_cast<std::size_t>(width) * 3;
  for (int i = 0; i < width; ++i) {
    source -= 3;
    std::memcpy(out, source, 3);
    out += 3;
  }
}

// The previous encoded line, waiting for identical successors. Its first
// byte counts the repeats (count - 1); 256 lines close it.
class PendingLine {
 public:
  void start(std::FILE* out) {
    out_ = out;
    length_ = 0;
    present_ = false;
  }

  // The line just encoded equals the pending one.
  bool repeat() {
    if (bytes_[0] == 254) {
      bytes_[0] = 255;
      present_ = false;
      return write();
    }
    ++bytes_[0];
    return true;
  }
  // A line that differs (or the first line): the pending line is written and
  // `encoded` takes its place.
  bool replace(const std::uint8_t* encoded, std::size_t length) {
    const bool ok = !present_ || write();
    std::memcpy(bytes_, encoded, length);
    length_ = length;
    present_ = true;
    return ok;
  }
  // The same bytes again without encoding (the input line was equal to the
  // previous one) after a run of 256 closed the pending line.
  void reopen() {
    bytes_[0] = 0;
    present_ = true;
  }
  bool equals(const std::uint8_t* encoded, std::size_t length) const {
    return length == length_ && std::memcmp(bytes_ + 1, encoded + 1, length - 1) == 0;
  }
  bool present() const { return present_; }
  bool finish() { return !present_ || write(); }

 private:
  bool write() { return std::fwrite(bytes_, 1, length_, out_) == length_; }

  std::FILE* out_ = nullptr;
  std::uint8_t bytes_[kPendingLineSize] = {};
  std::size_t length_ = 0;
  bool present_ = false;
};

// 32 KiB: static rather than on the stack.
PendingLine pendingLine;

}  // namespace

PageWriteStatus writePwgLines(std::FILE* out, const std::uint8_t* page, int width, int height,
                              bool gray, bool rotate, const volatile std::sig_atomic_t* cancel) {
  if (width <= 0 || width > kMaxPageWidth) return PageWriteStatus::kTooWide;
  RasterState st;
  st.repeatCount = 1;
  st.lineBytes = gray ? width : width * 3;
  st.pixelBytes = gray ? 1 : 3;
  const std::size_t rgbBytes = static_cast<std::size_t>(width) * 3;

  PendingLine* pending = &pendingLine;
  pending->start(out);

  const std::uint8_t* previous = nullptr;
  for (int n = 0; n < height; ++n) {
    if (cancel != nullptr && *cancel != 0) return PageWriteStatus::kCancelled;
    const int lineIndex = rotate ? height - 1 - n : n;
    const std::uint8_t* source = page + static_cast<std::size_t>(lineIndex) * rgbBytes;

    // An input line equal to the previous one encodes to the same bytes:
    // chart pages are mostly such lines, and memcmp is far cheaper than the
    // run scan.
    if (previous != nullptr && std::memcmp(source, previous, rgbBytes) == 0) {
      if (pending->present()) {
        if (!pending->repeat()) return PageWriteStatus::kWriteFailed;
      } else {
        pending->reopen();
      }
      continue;
    }
    previous = source;

    const std::uint8_t* line = source;
    if (rotate) {
      reversePixels(tempbuf, source, width);
      line = tempbuf;
    }
    if (gray) {
      makegray(graybuf, line, width);
      line = graybuf;
    }
    const long length = raster_write(&st, line);
    if (length < 0) return PageWriteStatus::kNoMemory;
    const std::uint8_t* encoded = st.output.get();
    const auto size = static_cast<std::size_t>(length);
    if (pending->present() && pending->equals(encoded, size)) {
      if (!pending->repeat()) return PageWriteStatus::kWriteFailed;
    } else if (!pending->replace(encoded, size)) {
      return PageWriteStatus::kWriteFailed;
    }
  }
  return pending->finish() ? PageWriteStatus::kDone : PageWriteStatus::kWriteFailed;
}

// ---- Page files -------------------------------------------------------------

namespace {

// One page file is open at a time: created at page begin, written by band
// send, kept open and sent to standard output from its start when the next
// page begins or at job end. Its name is removed as soon as it is created:
// the open stream is all the writer needs, and a customer's page then leaves
// nothing in /tmp however the process ends (SIGKILL, a crash, a spooler that
// stops reading).
enum class PageFileState { kNone, kWriting, kComplete };

char zzliblpbuf[300];  // name of the current page file
std::FILE* fin = nullptr;
PageFileState finState = PageFileState::kNone;
bool finCarriesSync = false;  // "RaS2" is at the start of this file
bool syncWritten = false;     // "RaS2" is on its way to standard output

// 1 MiB: a page file is written in a few big blocks, not in stdio's 4 KiB.
char finBuffer[std::size_t{1} << 20];
// Copy buffer of do_compress; 1 MiB reads, passed straight to the output.
std::uint8_t inbuf[std::size_t{1} << 20];

void closePageFile() {
  if (fin != nullptr) std::fclose(fin);
  fin = nullptr;
  finState = PageFileState::kNone;
  finCarriesSync = false;
}

// A page file that was not written whole never reaches the printer: a half
// page would corrupt the stream. Its "RaS2" has to come with the next file.
void discardPageFile() {
  if (fin == nullptr) return;
  if (finCarriesSync) syncWritten = false;
  closePageFile();
}

void reportPageFileError(const char* what) {
  std::fprintf(stderr, "ERROR: %s %s: %s\n", what, zzliblpbuf, std::strerror(errno));
}

bool isGrayJob(const PjpInfo& job) { return job.nColorMode == 0; }

}  // namespace

void do_compress(std::FILE* ffsrc) {
  std::rewind(ffsrc);
  for (;;) {
    const std::size_t got = std::fread(inbuf, 1, sizeof inbuf, ffsrc);
    if (got > 0 && pswrite(inbuf, got) == 0) {
      Debug_printf("Write error\n");
      return;
    }
    if (got < sizeof inbuf) return;
  }
}

void finishPageFiles() {
  if (finState == PageFileState::kComplete) {
    do_compress(fin);
    closePageFile();
  } else {
    discardPageFile();
  }
}

short MBeginPage(PjpInfo* job, SendInfo* send) {
  finishPageFiles();  // the previous page, now complete, goes to the printer

  DevModeBlock* dev = send->pdev;
  ++dev->nTempPageNo;
  const char* dir = scratchDirectory(std::getenv("TMPDIR"));
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "ec_tmppage_%d_%d_", static_cast<int>(::getpid()),
                static_cast<int>(dev->nTempPageNo));
  std::snprintf(zzliblpbuf, sizeof zzliblpbuf, "%s/%s", dir, prefix);
  const int fd = openScratchFile(dir, prefix);
  if (fd < 0) {
    reportPageFileError("Unable to create page file");
    return 1;
  }
  fin = ::fdopen(fd, "w+b");
  if (fin == nullptr) {
    reportPageFileError("Unable to open page file");
    ::close(fd);
    return 1;
  }
  std::setvbuf(fin, finBuffer, _IOFBF, sizeof finBuffer);
  finState = PageFileState::kWriting;

  if (!syncWritten) {
    if (std::fwrite("RaS2", 1, 4, fin) != 4) {
      reportPageFileError("Writing page file failed");
      discardPageFile();
      return 1;
    }
    syncWritten = true;
    finCarriesSync = true;
  }

  if (skipBlankPagePrint(job, send) == 1) return 0;  // no header, no lines

  ++dev->nPrintedPages;
  std::uint8_t header[kPwgHeaderSize];
  const PwgPageGeometry geometry{job->nWidth, job->nHeight, job->nPaperWidth, job->nPaperLength,
                                 job->nBytesPerLine};
  buildPwgPageHeader(geometry, isGrayJob(*job), header);
  if (std::fwrite(header, 1, sizeof header, fin) != sizeof header) {
    reportPageFileError("Writing page file failed");
    discardPageFile();
    return 1;
  }
  return 0;
}

short MSendBandData(PjpInfo* job, SendInfo* send) {
  if (finState != PageFileState::kWriting) return 0;  // page begin could not set it up
  if ((send->wFlags & 1u) != 0 && skipBlankPagePrint(job, send) == 1) {
    // A blank page leaves its file empty (or holding "RaS2" alone).
    if (std::fflush(fin) == 0) {
      finState = PageFileState::kComplete;
    } else {
      reportPageFileError("Writing page file failed");
      discardPageFile();
      return 1;
    }
    return 0;
  }
  const bool gray = isGrayJob(*job);
  send->wLineBytes = static_cast<std::uint16_t>(job->nWidth * 3);
  send->pLine = Planes[0];
  const bool rotate = job->nDuplex == 2 && send->pdev->nPrintedPages % 2 == 0;
  const PageWriteStatus status =
      writePwgLines(fin, Planes[0], job->nWidth, job->nHeight, gray, rotate, &gCancelRequested);
  if (status == PageWriteStatus::kDone && std::fflush(fin) == 0) {
    finState = PageFileState::kComplete;
    return 0;
  }
  switch (status) {
    case PageWriteStatus::kCancelled:
      return 0;  // the job end deletes the unfinished file
    case PageWriteStatus::kNoMemory:
      std::fputs("ERROR: Insufficient memory!\n", stderr);
      discardPageFile();
      break;
    case PageWriteStatus::kTooWide:
      std::fputs("Invalid Parameter(s).\n", stderr);
      discardPageFile();
      break;
    default:
      reportPageFileError("Writing page file failed");
      discardPageFile();
      break;
  }
  return 1;  // a page that cannot be sent whole fails the job
}

short MEndPage(PjpInfo* /*job*/, SendInfo* /*send*/) { return 0; }

short MSendData(PjpInfo* /*job*/, SendInfo* /*send*/) { return 0; }
