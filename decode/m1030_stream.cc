// m1030_stream.cc - the mono job as the printer reads it: PJL header, PCL
// set-up, method-1030 pages of method-9 rows, sorted-copy replays, trailer.
#include "decode/m1030_stream.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "decode/byte_cursor.h"
#include "decode/pjl_text.h"

namespace qvdecode {
namespace {

constexpr std::string_view kEscape = "\x1b";
constexpr std::string_view kStart1030 = "\x1b*b1030m";
constexpr std::string_view kEnd1030 = "1030M";
constexpr std::string_view kEnterPcl = "@PJL ENTER LANGUAGE = PCL";
constexpr std::string_view kReplayStart = "\x1b%-12345X@PJL\n@PJL SET COPY=";

// A block carries at most 128 rows and 16384 record bytes; its length
// counts the two row-count bytes as well.
constexpr std::size_t kMaxBlockRows = 128;
constexpr std::size_t kMaxBlockRecordBytes = 16384;
constexpr std::size_t kMaxBlockLength = kMaxBlockRecordBytes + 2;

// 32767 input rows, each sent twice in the 600 x 300 mode.
constexpr std::size_t kMaxPageRows = 65536;

// More parameters than any PCL command of this printer carries.
constexpr std::size_t kMaxPclParameters = 64;
constexpr int kMaxPclDigits = 9;

enum class Method9Status { kOk, kTruncated, kPastRow, kNotCount };

struct Method9Outcome {
  Method9Status status = Method9Status::kOk;
  std::size_t used = 0;    // bytes of the record read
  std::size_t failAt = 0;  // offset in the record of the failing command
  bool coversRow = false;  // every byte of the new row came from this record
  std::string message;
};

// Reads one extension: bytes are added up to and including the first one
// that is not 0xFF.
bool readExtension(std::span<const std::uint8_t> record, std::size_t& at, std::size_t& value) {
  for (;;) {
    if (at >= record.size()) return false;
    const std::uint8_t byte = record[at++];
    value += byte;
    if (byte != 0xFF) return true;
  }
}

// What the printer does with a method-9 record: start from the seed row and
// the position 0; each command skips `offset` bytes that keep the seed's
// value, then replaces `count` bytes with its literal data or its one run
// byte. Bytes after the last command keep the seed's value.
Method9Outcome applyMethod9(std::span<const std::uint8_t> record, std::vector<std::uint8_t>& row,
                            std::size_t maxRowBytes) {
  Method9Outcome out;
  if (record.empty()) {
    out.status = Method9Status::kTruncated;
    out.message = "the record ends before its command count";
    return out;
  }
  const unsigned commands = record[0];
  if (commands == 0xFF) {
    out.status = Method9Status::kNotCount;
    out.message = "0xFF is the blank-row marker, not a command count";
    return out;
  }
  std::size_t at = 1;
  std::size_t position = 0;
  bool gap = false;
  for (unsigned k = 0; k < commands; ++k) {
    const std::size_t commandAt = at;
    auto truncated = [&](const char* what) {
      out.status = Method9Status::kTruncated;
      out.failAt = commandAt;
      out.message = "the record ends inside " + std::string(what) + " of command " +
                    std::to_string(k + 1) + " of " + std::to_string(commands);
      return out;
    };
    if (at >= record.size()) return truncated("the command byte");
    const std::uint8_t command = record[at++];
    const bool literal = (command & 0x80) == 0;
    std::size_t offset = 0;
    std::size_t count = 0;
    if (literal) {
      offset = (command >> 3) & 0x0F;
      count = (command & 0x07) + 1u;
      if (offset == 15 && !readExtension(record, at, offset)) return truncated("the offset");
      if ((command & 0x07) == 7 && !readExtension(record, at, count)) return truncated("the count");
    } else {
      offset = (command >> 5) & 0x03;
      count = (command & 0x1F) + 2u;
      if (offset == 3 && !readExtension(record, at, offset)) return truncated("the offset");
      if ((command & 0x1F) == 31 && !readExtension(record, at, count))
        return truncated("the count");
    }
    // `position` never passes maxRowBytes, so the sum cannot wrap.
    if (offset > maxRowBytes || count > maxRowBytes || position + offset > maxRowBytes - count) {
      out.status = Method9Status::kPastRow;
      out.failAt = commandAt;
      out.message = std::string(literal ? "literal" : "run") + " of " + std::to_string(count) +
                    " bytes at position " + std::to_string(position + offset) +
                    " runs past the end of the " + std::to_string(maxRowBytes) + "-byte row";
      return out;
    }
    if (offset > 0) gap = true;
    position += offset;
    const std::size_t dataBytes = literal ? count : 1;
    if (record.size() - at < dataBytes) return truncated("the data");
    if (row.size() < position + count) row.resize(position + count, 0);
    if (literal) {
      std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(at), count,
                  row.begin() + static_cast<std::ptrdiff_t>(position));
    } else {
      std::fill_n(row.begin() + static_cast<std::ptrdiff_t>(position), count, record[at]);
    }
    at += dataBytes;
    position += count;
  }
  out.used = at;
  out.coversRow = !gap && position >= row.size();
  return out;
}

bool isDigit(std::uint8_t byte) { return byte >= '0' && byte <= '9'; }

// One escape sequence at the cursor: a two-byte command ("\eE") or a
// parameterised one ("\e&l4096a26a6d1E": values with lower-case letters go
// on, an upper-case letter ends it).
int parseEscape(ByteCursor& cursor, std::vector<PclCommand>& commands, DecodeError& error) {
  const std::size_t start = cursor.offset();
  std::uint8_t byte = 0;
  (void)cursor.readByte(byte);  // the escape byte, checked by the caller
  if (!cursor.readByte(byte)) return fail(error, start, "the input ends inside a PCL command");
  if (byte >= 48 && byte <= 126) {
    commands.push_back({start, "", 0, static_cast<char>(byte)});
    return 0;
  }
  if (byte < 33 || byte > 47) {
    return fail(error, start + 1, "byte " + std::to_string(byte) + " cannot follow an escape");
  }
  std::string group(1, static_cast<char>(byte));
  if (cursor.peek(byte) && byte >= 96 && byte <= 126) {
    group.push_back(static_cast<char>(byte));
    (void)cursor.readByte(byte);
  }
  for (std::size_t n = 0; n < kMaxPclParameters; ++n) {
    bool negative = false;
    if (cursor.peek(byte) && (byte == '+' || byte == '-')) {
      negative = byte == '-';
      (void)cursor.readByte(byte);
    }
    long value = 0;
    int digits = 0;
    while (cursor.peek(byte) && isDigit(byte)) {
      if (++digits > kMaxPclDigits) {
        return fail(error, cursor.offset(), "PCL value with more than 9 digits");
      }
      value = value * 10 + (byte - '0');
      (void)cursor.readByte(byte);
    }
    if (cursor.peek(byte) && byte == '.') {
      (void)cursor.readByte(byte);
      while (cursor.peek(byte) && isDigit(byte)) (void)cursor.readByte(byte);
    }
    if (!cursor.readByte(byte)) {
      return fail(error, cursor.offset(), "the input ends inside a PCL command");
    }
    const bool goesOn = byte >= 96 && byte <= 126;
    const bool ends = byte >= 64 && byte <= 94;
    if (!goesOn && !ends) {
      return fail(error, cursor.offset() - 1, "expected a PCL parameter letter");
    }
    commands.push_back({start, group, negative ? -value : value,
                        static_cast<char>(std::toupper(static_cast<unsigned char>(byte)))});
    if (ends) return 0;
  }
  return fail(error, start, "PCL command with more than 64 parameters");
}

// The PCL set-up runs up to the first page or to a universal exit (a job
// without pages goes straight on to its replays or its trailer).
int readSetup(ByteCursor& cursor, std::string& pcl, std::vector<PclCommand>* commands,
              DecodeError& error) {
  const std::size_t start = cursor.offset();
  std::vector<PclCommand> scratch;
  std::vector<PclCommand>& into = commands != nullptr ? *commands : scratch;
  while (!cursor.startsWith(kStart1030) && !cursor.startsWith(kUniversalExit)) {
    if (cursor.atEnd()) {
      return fail(error, cursor.offset(),
                  "the input ends in the PCL set-up; expected \"\\e*b1030m\" or the trailer");
    }
    if (!cursor.startsWith(kEscape)) {
      return fail(error, cursor.offset(), "expected a PCL escape sequence in the set-up");
    }
    if (parseEscape(cursor, into, error) != 0) return -1;
  }
  const auto bytes = cursor.all().subspan(start, cursor.offset() - start);
  pcl.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return 0;
}

struct PageContext {
  const MonoGeometry& geometry;
  bool keepRows;
};

// One page from "\e*b1030m" through the form feed. The seed row starts
// empty: the printer's first row of a page comes as a key row, which covers
// every byte, so nothing of the previous page may show through.
int decodePage(ByteCursor& cursor, const PageContext& context, MonoPage& page, DecodeError& error) {
  page.offset = cursor.offset();
  (void)cursor.skip(kStart1030);
  std::vector<std::uint8_t> seed;
  std::size_t extent = 0;
  for (;;) {
    if (cursor.skip(kEnd1030)) {
      if (!cursor.skip("\f")) {
        return fail(error, cursor.offset(), "expected a form feed after \"1030M\"");
      }
      break;
    }
    if (cursor.atEnd()) {
      return fail(error, cursor.offset(),
                  "the input ends inside the page; expected a block or \"1030M\"");
    }
    const std::size_t blockStart = cursor.offset();
    std::size_t length = 0;
    int digits = 0;
    std::uint8_t byte = 0;
    while (cursor.peek(byte) && isDigit(byte) && digits < 6) {
      length = length * 10 + (byte - '0');
      ++digits;
      (void)cursor.readByte(byte);
    }
    if (digits == 0) {
      return fail(error, blockStart, "expected a block length in decimal or \"1030M\"");
    }
    error.block = ++page.blocks;
    error.row = -1;
    if (!cursor.skip("w")) {
      if (cursor.atEnd()) return fail(error, cursor.offset(), "the input ends in a block length");
      return fail(error, cursor.offset(), "expected \"w\" after the block length");
    }
    if (length < 3 || length > kMaxBlockLength) {
      return fail(error, blockStart,
                  "block length " + std::to_string(length) +
                      " is outside 3 to 16386 (two row-count bytes and 1 to 16384 record bytes)");
    }
    const std::size_t countAt = cursor.offset();
    std::uint16_t records = 0;
    if (!cursor.readU16BE(records)) {
      return fail(error, countAt, "the input ends in the block's row count");
    }
    if (records == 0 || records > kMaxBlockRows) {
      return fail(error, countAt,
                  "block row count " + std::to_string(records) + " is outside 1 to 128");
    }
    const std::size_t recordBytes = length - 2;
    const std::size_t base = cursor.offset();
    const bool cutShort = cursor.remaining() < recordBytes;
    std::span<const std::uint8_t> region;
    if (cutShort) {
      // Decode what there is, so that the message names the record the
      // input ends in; it fails below in any case.
      region = cursor.rest();
    } else {
      (void)cursor.take(recordBytes, region);
    }
    std::size_t at = 0;
    for (std::size_t r = 0; r < records; ++r) {
      error.row = static_cast<long>(page.rowCount);
      if (at >= region.size()) {
        if (cutShort) return fail(error, base + at, "the input ends inside the block");
        return fail(error, base + at,
                    "block length " + std::to_string(length) + " ends after " + std::to_string(r) +
                        " of its " + std::to_string(records) + " records");
      }
      if (page.rowCount >= kMaxPageRows) {
        return fail(error, base + at, "page of more than 65536 rows");
      }
      const std::uint8_t marker = region[at];
      if (marker == 0xFF) {
        std::fill(seed.begin(), seed.end(), std::uint8_t{0});
        ++page.blankRecords;
        ++at;
      } else if (marker == 0x00) {
        ++page.repeatRecords;
        ++at;
      } else {
        const Method9Outcome outcome =
            applyMethod9(region.subspan(at), seed, context.geometry.maxRowBytes);
        if (outcome.status == Method9Status::kTruncated) {
          if (cutShort) return fail(error, base + at + outcome.failAt, outcome.message);
          return fail(
              error, base + at + outcome.failAt,
              outcome.message + ": the block (length " + std::to_string(length) + ") ends first");
        }
        if (outcome.status != Method9Status::kOk) {
          return fail(error, base + at + outcome.failAt, outcome.message);
        }
        ++page.deltaRecords;
        if (outcome.coversRow) ++page.keyRows;
        at += outcome.used;
      }
      extent = std::max(extent, seed.size());
      ++page.rowCount;
      if (context.keepRows) page.rows.push_back(seed);
    }
    if (cutShort) {
      return fail(error, base + region.size(),
                  "the input ends inside a block of length " + std::to_string(length));
    }
    if (at != region.size()) {
      return fail(error, base + at,
                  "block length " + std::to_string(length) + " disagrees with its " +
                      std::to_string(records) + " records: " + std::to_string(region.size() - at) +
                      " bytes left over");
    }
  }
  error.block = 0;
  error.row = -1;
  page.rowBytes = extent;
  for (auto& row : page.rows) row.resize(extent, 0);
  page.wireBytes = cursor.offset() - page.offset;
  return 0;
}

long lastValue(const std::vector<PclCommand>& commands, std::string_view group, char parameter) {
  long value = 0;
  for (const PclCommand& command : commands) {
    if (command.group == group && command.parameter == parameter) value = command.value;
  }
  return value;
}

// "\e%-12345X@PJL\n@PJL SET COPY=n\n@PJL ENTER LANGUAGE = PCL\n".
int readReplayHeader(ByteCursor& cursor, int expectedCopy, MonoReplay& replay, DecodeError& error) {
  replay.offset = cursor.offset();
  (void)cursor.skip(kUniversalExit);
  std::string line;
  if (readPjlLine(cursor, line, error) != 0) return -1;
  const std::size_t copyAt = cursor.offset();
  if (readPjlLine(cursor, line, error) != 0) return -1;
  const std::string_view digits = std::string_view(line).substr(14);  // after "@PJL SET COPY="
  if (digits.empty() || digits.size() > 3 ||
      !std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    return fail(error, copyAt, "expected \"@PJL SET COPY=<number>\" in a sorted-copy replay");
  }
  replay.copy = 0;
  for (const char ch : digits) replay.copy = replay.copy * 10 + (ch - '0');
  if (replay.copy != expectedCopy) {
    return fail(error, copyAt,
                "sorted-copy replay numbered " + std::to_string(replay.copy) + "; expected " +
                    std::to_string(expectedCopy));
  }
  const std::size_t enterAt = cursor.offset();
  if (readPjlLine(cursor, line, error) != 0) return -1;
  if (line != kEnterPcl) {
    return fail(error, enterAt, "expected \"@PJL ENTER LANGUAGE = PCL\" in a sorted-copy replay");
  }
  return 0;
}

}  // namespace

int decodeMethod9Row(std::span<const std::uint8_t> record, std::vector<std::uint8_t>& row,
                     std::size_t& used, std::string& error, std::size_t maxRowBytes) {
  const Method9Outcome outcome = applyMethod9(record, row, maxRowBytes);
  used = outcome.used;
  if (outcome.status != Method9Status::kOk) {
    error = "byte " + std::to_string(outcome.failAt) + ": " + outcome.message;
    return -1;
  }
  return 0;
}

int decodeMethod9Row(std::span<const std::uint8_t> record, std::vector<std::uint8_t>& row,
                     std::size_t& used, std::string& error) {
  return decodeMethod9Row(record, row, used, error, kMaxMethod9RowBytes);
}

MonoGeometry monoGeometryForUnit(long unitDpi) {
  switch (unitDpi) {
    case 300:
      return {300, 50, 6, 312};
    case 600:
      return {600, 100, 12, 624};
    case 1200:
      return {1200, 200, 25, 1248};
    default:
      // Unknown to this printer: no strips to restore, and rows as wide as
      // the widest any resolution takes.
      return {0, 0, 0, 1248};
  }
}

std::vector<std::uint8_t> MonoPage::rowAt(std::size_t i, std::size_t width) const {
  std::vector<std::uint8_t> row(width, 0);
  if (i < rows.size()) {
    const std::size_t n = std::min(width, rows[i].size());
    std::copy_n(rows[i].begin(), n, row.begin());
  }
  return row;
}

int parsePclCommands(std::span<const std::uint8_t> pcl, std::size_t base,
                     std::vector<PclCommand>& out, DecodeError& error) {
  ByteCursor cursor(pcl);
  while (!cursor.atEnd()) {
    if (!cursor.startsWith(kEscape)) {
      return fail(error, base + cursor.offset(), "expected a PCL escape sequence");
    }
    const std::size_t first = out.size();
    if (parseEscape(cursor, out, error) != 0) {
      error.offset += base;
      return -1;
    }
    for (std::size_t i = first; i < out.size(); ++i) out[i].offset += base;
  }
  return 0;
}

int decodeMonoJob(std::span<const std::uint8_t> job, MonoJob& out, DecodeError& error) {
  return decodeMonoJob(job, out, error, MonoDecodeOptions{});
}

int decodeMonoJob(std::span<const std::uint8_t> job, MonoJob& out, DecodeError& error,
                  const MonoDecodeOptions& options) {
  out = MonoJob{};
  error = DecodeError{};
  ByteCursor cursor(job);
  if (readPjlHeader(cursor, kEnterPcl, out.pjlLines, error) != 0) return -1;
  out.pclOffset = cursor.offset();
  if (readSetup(cursor, out.pcl, &out.pclCommands, error) != 0) return -1;
  out.setupComplete = true;
  out.unitDpi = lastValue(out.pclCommands, "&u", 'D');
  out.rasterDpi = lastValue(out.pclCommands, "*t", 'R');
  out.geometry = monoGeometryForUnit(out.unitDpi);

  const PageContext context{out.geometry, options.keepRows || (options.onPage && options.pageRows)};
  int copy = 1;
  for (;;) {
    if (cursor.startsWith(kStart1030)) {
      MonoPage page;
      page.copy = copy;
      error.page = static_cast<int>(out.pages.size()) + 1;
      if (decodePage(cursor, context, page, error) != 0) return -1;
      if (options.onPage && options.onPage(page) != 0) {
        return fail(error, page.offset, "stopped");
      }
      if (!options.keepRows) {
        page.rows.clear();
        page.rows.shrink_to_fit();
      }
      out.pages.push_back(std::move(page));
      error.page = 0;
      continue;
    }
    if (cursor.startsWith(kReplayStart)) {
      MonoReplay replay;
      if (readReplayHeader(cursor, copy + 1, replay, error) != 0) return -1;
      if (readSetup(cursor, replay.pcl, nullptr, error) != 0) return -1;
      copy = replay.copy;
      out.replays.push_back(std::move(replay));
      continue;
    }
    if (cursor.startsWith(kUniversalExit)) {
      out.trailerOffset = cursor.offset();
      if (readPjlTrailer(cursor, TrailerForm::kMono, out.trailerLines, error, options.moreJobs) !=
          0) {
        return -1;
      }
      out.end = cursor.offset();
      return 0;
    }
    if (cursor.atEnd()) {
      return fail(error, cursor.offset(),
                  "the input ends without the trailer's universal exit \"\\e%-12345X\"");
    }
    return fail(error, cursor.offset(),
                out.pages.empty()
                    ? "expected \"\\e*b1030m\", a sorted-copy replay or the trailer"
                    : "unexpected bytes after page " + std::to_string(out.pages.size()) +
                          "; expected \"\\e*b1030m\", a sorted-copy replay or the trailer");
  }
}

}  // namespace qvdecode
