// pwg_stream.cc - PWG Raster pages and the PJL job around them.
#include "decode/pwg_stream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "decode/byte_cursor.h"
#include "decode/pjl_text.h"

namespace qvdecode {
namespace {

constexpr std::string_view kSyncWord = "RaS2";
constexpr std::string_view kEnterPwg = "@PJL ENTER LANGUAGE=PWGRASTER";
// The header's first field is the 64-byte string "PwgRaster".
constexpr std::string_view kHeaderName{"PwgRaster\0", 10};

// A page with pixels kept is one allocation of BytesPerLine x Height bytes.
constexpr std::uint64_t kMaxPagePixelBytes = std::uint64_t{1} << 30;

// Colours per pixel of each colour space this decoder knows; 0 = unknown.
std::uint32_t colorsOf(std::uint32_t colorSpace) {
  switch (colorSpace) {
    case 1:   // RGB
    case 19:  // sRGB
    case 20:  // Adobe RGB
      return 3;
    case 3:   // black
    case 18:  // sGray
      return 1;
    case 6:  // CMYK
      return 4;
    default:
      if (colorSpace >= 48 && colorSpace <= 62) return colorSpace - 47;  // Device1..15
      return 0;
  }
}

std::string fieldText(std::span<const std::uint8_t> bytes, std::size_t at) {
  const char* start = reinterpret_cast<const char*>(bytes.data() + at);
  return std::string(start, strnlen(start, 64));
}

// The fewest bytes H lines of W units can take: a line repeat byte per 256
// lines, and per line one run (a code byte and a unit) per 128 units.
std::uint64_t minimumEncodedBytes(const PwgHeader& header, std::uint32_t unitBytes) {
  const std::uint64_t units = header.bytesPerLine / unitBytes;
  const std::uint64_t lineBytes = 1 + (units + 127) / 128 * (1 + unitBytes);
  return (header.height + 255u) / 256u * lineBytes;
}

bool atCancelFill(const ByteCursor& cursor) {
  if (cursor.remaining() < kCancelFillBytes) return false;
  const auto fill = cursor.rest().first(kCancelFillBytes);
  return std::all_of(fill.begin(), fill.end(), [](std::uint8_t b) { return b == 0; });
}

bool looksLikeNextSection(const ByteCursor& cursor, bool inJob) {
  return cursor.startsWith(kHeaderName) || cursor.startsWith(kUniversalExit) ||
         (inJob && atCancelFill(cursor));
}

// Skips the one cancel fill a job may hold, when it stands at the cursor.
void skipCancelFill(ByteCursor& cursor, std::optional<std::size_t>& fill) {
  std::span<const std::uint8_t> zeros;
  if (!fill && atCancelFill(cursor)) {
    fill = cursor.offset();
    (void)cursor.take(kCancelFillBytes, zeros);
  }
}

// Decodes one line at the cursor (after its repeat byte) into `line`.
// Returns 0, or -1 with `message` and `failAt` (absolute offset) set.
int decodeLine(ByteCursor& cursor, std::uint32_t unitBytes, std::vector<std::uint8_t>& line,
               PwgPage& page, std::string& message, std::size_t& failAt) {
  const std::size_t units = line.size() / unitBytes;
  std::size_t unit = 0;
  while (unit < units) {
    failAt = cursor.offset();
    std::uint8_t code = 0;
    if (!cursor.readByte(code)) {
      message = "the input ends inside a line";
      return -1;
    }
    if (code == 128) {
      // Neither a repeat (0..127) nor a literal (129..255): encoders never
      // write it, and readers do not agree on what it would mean.
      message = "run code 128 is not a valid PWG run";
      return -1;
    }
    const bool repeat = code < 128;
    const std::size_t count = repeat ? code + 1u : 257u - code;
    if (count > units - unit) {
      message = std::string(repeat ? "repeat" : "literal") + " run of " + std::to_string(count) +
                " pixels at pixel " + std::to_string(unit) + " passes the end of the " +
                std::to_string(units) + "-pixel line";
      return -1;
    }
    std::span<const std::uint8_t> data;
    if (!cursor.take(repeat ? unitBytes : count * unitBytes, data)) {
      message = "the input ends inside a run's pixels";
      return -1;
    }
    std::uint8_t* to = line.data() + unit * unitBytes;
    if (repeat) {
      ++page.repeatRuns;
      for (std::size_t i = 0; i < count; ++i)
        std::memcpy(to + i * unitBytes, data.data(), unitBytes);
    } else {
      ++page.literalRuns;
      std::memcpy(to, data.data(), data.size());
    }
    unit += count;
  }
  return 0;
}

int decodePage(ByteCursor& cursor, const PwgDecodeOptions& options, bool inJob, PwgPage& page,
               DecodeError& error) {
  namespace f = pwgfield;
  page.offset = cursor.offset();
  std::span<const std::uint8_t> headerBytes;
  if (!cursor.take(kPwgHeaderBytes, headerBytes)) {
    return fail(error, cursor.offset() + cursor.remaining(),
                "the input ends inside the page header (" + std::to_string(cursor.remaining()) +
                    " of 1796 bytes)");
  }
  std::string message;
  std::size_t fieldOffset = 0;
  if (parsePwgHeader(headerBytes, page.header, message, fieldOffset) != 0) {
    return fail(error, page.offset + fieldOffset, message);
  }
  const PwgHeader& header = page.header;
  if (header.width > options.maxWidth || header.height > options.maxHeight) {
    return fail(error, page.offset + (header.width > options.maxWidth ? f::kWidth : f::kHeight),
                "page of " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                    " pixels is larger than the " + std::to_string(options.maxWidth) + " x " +
                    std::to_string(options.maxHeight) + " a printer takes");
  }
  const std::uint32_t unitBytes = header.bitsPerPixel >= 8 ? header.bitsPerPixel / 8 : 1;
  if (minimumEncodedBytes(header, unitBytes) > cursor.remaining()) {
    return fail(error, cursor.offset(),
                "the input ends before the " + std::to_string(header.height) +
                    " lines of the page could be complete (" + std::to_string(cursor.remaining()) +
                    " bytes left)");
  }
  const bool keep = options.keepPixels || (options.onPage && options.pagePixels);
  const std::uint64_t pageBytes = std::uint64_t{header.bytesPerLine} * header.height;
  if (keep && pageBytes > kMaxPagePixelBytes) {
    return fail(error, page.offset + pwgfield::kHeight,
                "page of " + std::to_string(pageBytes) + " pixel bytes is over the 1 GiB cap");
  }
  if (keep) page.pixels.resize(static_cast<std::size_t>(pageBytes));
  std::vector<std::uint8_t> line(header.bytesPerLine);
  std::uint32_t y = 0;
  while (y < header.height) {
    error.row = static_cast<long>(y);
    const std::size_t lineStart = cursor.offset();
    std::uint8_t repeatByte = 0;
    if (!cursor.readByte(repeatByte)) {
      return fail(error, lineStart,
                  "the input ends after " + std::to_string(y) + " of the page's " +
                      std::to_string(header.height) + " lines");
    }
    const std::uint32_t lines = repeatByte + 1u;
    std::size_t failAt = 0;
    if (decodeLine(cursor, unitBytes, line, page, message, failAt) != 0) {
      ByteCursor at(cursor.all().subspan(lineStart));
      if (looksLikeNextSection(at, inJob)) {
        return fail(error, lineStart,
                    "page ends after " + std::to_string(y) + " lines; its Height is " +
                        std::to_string(header.height));
      }
      return fail(error, failAt, message);
    }
    if (lines > header.height - y) {
      return fail(error, lineStart,
                  "line repeat of " + std::to_string(lines) + " lines at line " +
                      std::to_string(y) + " runs past the page's Height " +
                      std::to_string(header.height));
    }
    ++page.lineRecords;
    page.repeatedLines += repeatByte;
    if (options.onLine && options.onLine(page, y, lines, line) != 0) {
      return fail(error, lineStart, "stopped");
    }
    if (keep) {
      for (std::uint32_t i = 0; i < lines; ++i) {
        std::memcpy(page.pixels.data() + std::size_t{y + i} * header.bytesPerLine, line.data(),
                    line.size());
      }
    }
    y += lines;
  }
  error.row = -1;
  page.wireBytes = cursor.offset() - page.offset;
  // What follows a page is the next page header, the trailer, or (for a
  // bare stream) nothing; anything else means lines beyond Height.
  if (!cursor.atEnd() && !looksLikeNextSection(cursor, inJob)) {
    return fail(error, cursor.offset(),
                "bytes after the page's " + std::to_string(header.height) +
                    " lines; expected the next page header or the trailer");
  }
  if (!inJob && cursor.startsWith(kUniversalExit)) {
    return fail(error, cursor.offset(), "a universal exit inside a bare PWG Raster stream");
  }
  return 0;
}

// Pages from the cursor up to the trailer (in a job) or the end (bare).
int decodePages(ByteCursor& cursor, std::optional<std::size_t>* fill, std::vector<PwgPage>& pages,
                const PwgDecodeOptions& options, DecodeError& error) {
  const bool inJob = fill != nullptr;
  for (;;) {
    if (inJob) skipCancelFill(cursor, *fill);
    if (inJob ? cursor.startsWith(kUniversalExit) : cursor.atEnd()) return 0;
    if (cursor.atEnd()) {
      return fail(error, cursor.offset(),
                  "the input ends after page " + std::to_string(pages.size()) +
                      "; expected a page header or the trailer's universal exit");
    }
    PwgPage page;
    error.page = static_cast<int>(pages.size()) + 1;
    if (decodePage(cursor, options, inJob, page, error) != 0) return -1;
    if (options.onPage && options.onPage(page) != 0) return fail(error, page.offset, "stopped");
    if (!options.keepPixels) {
      page.pixels.clear();
      page.pixels.shrink_to_fit();
    }
    pages.push_back(std::move(page));
    error.page = 0;
  }
}

}  // namespace

int parsePwgHeader(std::span<const std::uint8_t> bytes, PwgHeader& header, std::string& message,
                   std::size_t& fieldOffset) {
  namespace f = pwgfield;
  auto bad = [&](std::size_t at, std::string text) {
    fieldOffset = at;
    message = std::move(text);
    return -1;
  };
  if (bytes.size() < kPwgHeaderBytes)
    return bad(bytes.size(), "page header shorter than 1796 bytes");
  if (std::memcmp(bytes.data(), kHeaderName.data(), kHeaderName.size()) != 0) {
    return bad(0, "expected \"PwgRaster\" at the start of the page header");
  }
  header = PwgHeader{};
  header.raw.assign(bytes.begin(), bytes.begin() + kPwgHeaderBytes);
  header.mediaType = fieldText(bytes, f::kMediaType);
  header.duplex = loadU32BE(bytes, f::kDuplex);
  header.hwResolution[0] = loadU32BE(bytes, f::kHwResolution);
  header.hwResolution[1] = loadU32BE(bytes, f::kHwResolution + 4);
  header.numCopies = loadU32BE(bytes, f::kNumCopies);
  header.pageSize[0] = loadU32BE(bytes, f::kPageSize);
  header.pageSize[1] = loadU32BE(bytes, f::kPageSize + 4);
  header.tumble = loadU32BE(bytes, f::kTumble);
  header.width = loadU32BE(bytes, f::kWidth);
  header.height = loadU32BE(bytes, f::kHeight);
  header.bitsPerColor = loadU32BE(bytes, f::kBitsPerColor);
  header.bitsPerPixel = loadU32BE(bytes, f::kBitsPerPixel);
  header.bytesPerLine = loadU32BE(bytes, f::kBytesPerLine);
  header.colorOrder = loadU32BE(bytes, f::kColorOrder);
  header.colorSpace = loadU32BE(bytes, f::kColorSpace);
  header.numColors = loadU32BE(bytes, f::kNumColors);
  header.totalPageCount = loadU32BE(bytes, f::kTotalPageCount);
  header.crossFeedTransform = loadU32BE(bytes, f::kCrossFeedTransform);
  header.feedTransform = loadU32BE(bytes, f::kFeedTransform);

  const std::uint32_t colors = colorsOf(header.colorSpace);
  if (colors == 0) {
    return bad(f::kColorSpace, "unknown ColorSpace " + std::to_string(header.colorSpace));
  }
  if (header.numColors != colors) {
    return bad(f::kNumColors,
               "NumColors " + std::to_string(header.numColors) + " disagrees with ColorSpace " +
                   std::to_string(header.colorSpace) + ", which has " + std::to_string(colors));
  }
  if (header.colorOrder != 0) {
    return bad(f::kColorOrder, "ColorOrder " + std::to_string(header.colorOrder) +
                                   "; PWG Raster pixels are chunky (0)");
  }
  const std::uint32_t bpc = header.bitsPerColor;
  if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) {
    return bad(f::kBitsPerColor,
               "BitsPerColor " + std::to_string(bpc) + " is not 1, 2, 4, 8 or 16");
  }
  if (header.bitsPerPixel != bpc * colors) {
    return bad(f::kBitsPerPixel, "BitsPerPixel " + std::to_string(header.bitsPerPixel) +
                                     " disagrees with BitsPerColor " + std::to_string(bpc) +
                                     " x NumColors " + std::to_string(colors));
  }
  if (header.bitsPerPixel < 8 && colors != 1) {
    return bad(f::kBitsPerPixel, "BitsPerPixel " + std::to_string(header.bitsPerPixel) +
                                     " packs parts of pixels of several colours into a byte");
  }
  if (header.width == 0 || header.width > kMaxPwgWidth) {
    return bad(f::kWidth, "Width " + std::to_string(header.width) + " is outside 1 to " +
                              std::to_string(kMaxPwgWidth));
  }
  if (header.height == 0 || header.height > kMaxPwgHeight) {
    return bad(f::kHeight, "Height " + std::to_string(header.height) + " is outside 1 to " +
                               std::to_string(kMaxPwgHeight));
  }
  const std::uint64_t expected = (std::uint64_t{header.width} * header.bitsPerPixel + 7) / 8;
  if (header.bytesPerLine != expected) {
    return bad(f::kBytesPerLine, "BytesPerLine " + std::to_string(header.bytesPerLine) +
                                     " disagrees with Width " + std::to_string(header.width) +
                                     " x BitsPerPixel " + std::to_string(header.bitsPerPixel) +
                                     " / 8 = " + std::to_string(expected));
  }
  if (header.bytesPerLine > kMaxPwgBytesPerLine) {
    return bad(f::kBytesPerLine,
               "BytesPerLine " + std::to_string(header.bytesPerLine) + " is over the 16 MiB cap");
  }
  return 0;
}

int decodePwgRaster(std::span<const std::uint8_t> stream, std::vector<PwgPage>& pages,
                    DecodeError& error) {
  return decodePwgRaster(stream, pages, error, PwgDecodeOptions{});
}

int decodePwgRaster(std::span<const std::uint8_t> stream, std::vector<PwgPage>& pages,
                    DecodeError& error, const PwgDecodeOptions& options) {
  pages.clear();
  error = DecodeError{};
  ByteCursor cursor(stream);
  if (!cursor.skip(kSyncWord)) {
    return fail(error, 0, "expected the synchronisation word \"RaS2\"");
  }
  return decodePages(cursor, nullptr, pages, options, error);
}

int decodeColourJob(std::span<const std::uint8_t> job, ColourJob& out, DecodeError& error) {
  return decodeColourJob(job, out, error, PwgDecodeOptions{});
}

int decodeColourJob(std::span<const std::uint8_t> job, ColourJob& out, DecodeError& error,
                    const PwgDecodeOptions& options) {
  out = ColourJob{};
  error = DecodeError{};
  ByteCursor cursor(job);
  if (readPjlHeader(cursor, kEnterPwg, out.pjlLines, error) != 0) return -1;
  skipCancelFill(cursor, out.cancelFill);
  out.rasterOffset = cursor.offset();
  // A job whose page files were never begun goes straight to its trailer.
  if (!cursor.startsWith(kUniversalExit)) {
    if (!cursor.skip(kSyncWord)) {
      return fail(
          error, cursor.offset(),
          "expected the synchronisation word \"RaS2\" after \"" + std::string(kEnterPwg) + "\"");
    }
    out.hasSyncWord = true;
    if (decodePages(cursor, &out.cancelFill, out.pages, options, error) != 0) return -1;
  }
  out.trailerOffset = cursor.offset();
  if (readPjlTrailer(cursor, TrailerForm::kColour, out.trailerLines, error, options.moreJobs) !=
      0) {
    return -1;
  }
  out.end = cursor.offset();
  return 0;
}

}  // namespace qvdecode
