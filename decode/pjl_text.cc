// pjl_text.cc - PJL header lines and job trailers of both job streams.
#include "decode/pjl_text.h"

#include <string>
#include <utility>

#include "decode/decode_error.h"

namespace qvdecode {
namespace {

constexpr std::string_view kNextJob = "\x1b%-12345X@PJL";

}  // namespace

std::string describeError(const DecodeError& error) {
  std::string text = "offset " + std::to_string(error.offset);
  if (error.page > 0) {
    text += " (page " + std::to_string(error.page);
    if (error.block > 0) text += ", block " + std::to_string(error.block);
    if (error.row >= 0) text += ", row " + std::to_string(error.row);
    text += ")";
  }
  return text + ": " + error.message;
}

int fail(DecodeError& error, std::size_t offset, std::string message) {
  error.offset = offset;
  error.message = std::move(message);
  return -1;
}

int readPjlLine(ByteCursor& cursor, std::string& line, DecodeError& error) {
  const std::size_t start = cursor.offset();
  if (!cursor.startsWith("@PJL")) {
    return fail(error, start, "expected a PJL line starting with \"@PJL\"");
  }
  const std::size_t end = cursor.findByte('\n', kMaxPjlLineBytes + 1);
  if (end == ByteCursor::npos) {
    if (cursor.remaining() > kMaxPjlLineBytes) {
      return fail(error, start,
                  "PJL line longer than " + std::to_string(kMaxPjlLineBytes) + " bytes");
    }
    return fail(error, start + cursor.remaining(),
                "unterminated PJL line: the input ends before its line feed");
  }
  std::span<const std::uint8_t> body;
  (void)cursor.take(end, body);
  for (std::size_t i = 0; i < body.size(); ++i) {
    // An escape inside a line is a universal exit or a PCL command that
    // arrived while the printer still waits for the line's end.
    if (body[i] == 0x1B) {
      return fail(error, start + i, "unterminated PJL line: escape byte before its line feed");
    }
  }
  line.assign(reinterpret_cast<const char*>(body.data()), body.size());
  std::uint8_t feed = 0;
  (void)cursor.readByte(feed);
  return 0;
}

int readPjlHeader(ByteCursor& cursor, std::string_view enterLine, std::vector<std::string>& lines,
                  DecodeError& error) {
  if (!cursor.skip(kUniversalExit)) {
    return fail(error, cursor.offset(), "expected the universal exit \"\\e%-12345X\" first");
  }
  std::string line;
  while (lines.size() < kMaxPjlLines) {
    if (readPjlLine(cursor, line, error) != 0) return -1;
    lines.push_back(line);
    if (line == enterLine) return 0;
  }
  return fail(error, cursor.offset(),
              "more than " + std::to_string(kMaxPjlLines) + " PJL lines without \"" +
                  std::string(enterLine) + "\"");
}

int readPjlTrailer(ByteCursor& cursor, TrailerForm form, std::vector<std::string>& lines,
                   DecodeError& error, bool moreJobs) {
  if (!cursor.skip(kUniversalExit)) {
    return fail(error, cursor.offset(), "expected the trailer's universal exit \"\\e%-12345X\"");
  }
  // The mono filter may end its job with this one exit; in a capture, the
  // next job then opens with its own exit and PJL lines (a second exit with
  // anything else after it closes a trailer without lines).
  if (form == TrailerForm::kMono && cursor.atEnd()) return 0;
  if (form == TrailerForm::kMono && moreJobs && cursor.startsWith(kNextJob)) return 0;
  std::string line;
  while (cursor.startsWith("@PJL")) {
    if (lines.size() >= kMaxPjlLines) return fail(error, cursor.offset(), "too many trailer lines");
    if (readPjlLine(cursor, line, error) != 0) return -1;
    lines.push_back(line);
  }
  if (!cursor.skip(kUniversalExit)) {
    return fail(error, cursor.offset(),
                "expected the closing universal exit \"\\e%-12345X\" of the trailer");
  }
  if (form == TrailerForm::kColour && !cursor.skip("\n")) {
    return fail(error, cursor.offset(), "expected a line feed after the closing universal exit");
  }
  if (!cursor.atEnd() && !(moreJobs && cursor.startsWith(kUniversalExit))) {
    return fail(error, cursor.offset(),
                std::to_string(cursor.remaining()) + " bytes after the end of the job");
  }
  return 0;
}

}  // namespace qvdecode
