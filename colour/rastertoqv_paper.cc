// rastertoqv_paper.cc - page geometry: the paper information file and the
// printer's ImagingArea and PaperDimension files.
//
// All three are keyed by the paper size word of the settings file followed by
// a colon ("A4:"). The paper information file gives the page in pixels at
// 600 dpi, which sizes the page buffer and every line; PaperDimension gives
// the paper size that goes into the PWG page header.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "colour/option.h"
#include "colour/qverror.h"
#include "colour/rastertoqv.h"
#include "common/unique_file.h"

namespace qv::colour {
namespace {

// Largest page the writer's line buffers take, and the most lines a 16-bit
// page height can say.
constexpr long kMaxPageWidth = 7200;
constexpr long kMaxPageHeight = 32767;

// Longest word of the paper information file: 63 characters in its first line,
// 1024 in the name words after it.
constexpr std::size_t kHeadWordMax = 63;
constexpr std::size_t kNameWordMax = 1024;

// Character sources for the scanf-like readers below: a stream (the paper
// information file, read across line ends as its "%s %d %d\n" format does) or
// one line of text (the geometry files, read line by line).
struct StreamSource {
  std::FILE* fp;
  int get() { return std::getc(fp); }
  void unget(int c) {
    if (c != EOF) std::ungetc(c, fp);
  }
};

struct TextSource {
  const char* text;
  std::size_t pos = 0;
  int get() { return text[pos] != '\0' ? static_cast<unsigned char>(text[pos++]) : EOF; }
  void unget(int c) {
    if (c != EOF) --pos;
  }
};

template <class Source>
void skipSpace(Source& in) {
  int c;
  while ((c = in.get()) != EOF && std::isspace(c)) {
  }
  in.unget(c);
}

// Reads a word of non-blank characters after any white space, as "%s" does,
// into `word` (capacity + 1 bytes). A longer word is consumed whole and
// flagged. Returns false when the input ends before the word.
template <class Source>
bool scanWord(Source& in, char* word, std::size_t capacity, bool& tooLong) {
  skipSpace(in);
  std::size_t length = 0;
  int c;
  while ((c = in.get()) != EOF && !std::isspace(c)) {
    if (length < capacity)
      word[length++] = static_cast<char>(c);
    else
      tooLong = true;
  }
  in.unget(c);
  word[length] = '\0';
  return length > 0;
}

// Reads a decimal integer after any white space, as "%d" does: an optional
// sign and at least one digit. The value saturates instead of overflowing;
// the callers check ranges far below the cap.
template <class Source>
bool scanInt(Source& in, long& value) {
  skipSpace(in);
  int c = in.get();
  const bool negative = c == '-';
  if (c == '-' || c == '+') c = in.get();
  if (c == EOF || !std::isdigit(c)) {
    in.unget(c);
    return false;
  }
  long magnitude = 0;
  for (; c != EOF && std::isdigit(c); c = in.get())
    if (magnitude < 1'000'000'000) magnitude = magnitude * 10 + (c - '0');
  in.unget(c);
  value = negative ? -magnitude : magnitude;
  return true;
}

// Parses a name word and up to `count` integers, returning the number of
// fields converted, as sscanf/fscanf would (-1 when nothing is there).
template <class Source>
int scanNameAndNumbers(Source& in, char* name, std::size_t capacity, long* numbers, int count,
                       bool& tooLong) {
  if (!scanWord(in, name, capacity, tooLong)) return -1;
  int converted = 1;
  for (int i = 0; i < count && scanInt(in, numbers[i]); ++i) ++converted;
  return converted;
}

// A line or name word belongs to the paper size when it starts with the size
// word immediately followed by ":" ("A4:" matches A4, "A4Long:" does not).
bool namesPaperSize(const char* text, const char* sizeWord, std::size_t sizeLength) {
  return std::strncmp(text, sizeWord, sizeLength) == 0 && text[sizeLength] == ':';
}

// Reads one line of a geometry file into `line` without its line feed. The
// tail of a line longer than the buffer is skipped: it is not a line of its
// own and must not be matched as one. Returns false at end of file.
bool readGeometryLine(std::FILE* fp, char (&line)[1024]) {
  if (std::fgets(line, sizeof line, fp) == nullptr) return false;
  if (char* newline = std::strchr(line, '\n'); newline != nullptr) {
    *newline = '\0';
    return true;
  }
  int c;
  while ((c = std::getc(fp)) != EOF && c != '\n') {
  }
  return true;
}

// Finds the first line of `fp` that names the paper size; false if none.
bool findPaperLine(std::FILE* fp, const char* sizeWord, char (&line)[1024]) {
  const std::size_t sizeLength = std::strlen(sizeWord);
  while (readGeometryLine(fp, line))
    if (namesPaperSize(line, sizeWord, sizeLength)) return true;
  return false;
}

}  // namespace

Status GetPaperInf(const char* paperInfPath, PjpInfo* job, const RcInfo* rc, const JobEnv& env) {
  const char* sizeWord = GetOption("PageSize", rc);
  if (sizeWord == nullptr) sizeWord = "";
  const std::size_t sizeLength = std::strlen(sizeWord);

  qv::UniqueFile file(paperInfPath != nullptr ? std::fopen(paperInfPath, "r") : nullptr);
  if (!file) return QvError(env, Status::kCannotOpen, paperInfPath);
  StreamSource in{file.get()};
  // A path that opens but cannot be read (a directory, an I/O error) is
  // reported as such, not as a malformed line.
  const auto formatError = [&file, paperInfPath, sizeWord, &env] {
    if (std::ferror(file.get())) return QvError(env, Status::kCannotOpen, paperInfPath);
    return QvError(env, Status::kBadPaperInf, sizeWord);
  };

  // First line: four words whose content the filter does not use.
  char headWord[kHeadWordMax + 1];
  bool tooLong = false;
  int words = 0;
  while (words < 4 && scanWord(in, headWord, kHeadWordMax, tooLong)) ++words;
  if (words < 4 || tooLong) return formatError();
  skipSpace(in);

  char name[kNameWordMax + 1];
  long size[2] = {0, 0};
  while (!std::feof(file.get())) {
    if (scanNameAndNumbers(in, name, kNameWordMax, size, 2, tooLong) < 3 || tooLong)
      return formatError();
    skipSpace(in);
    if (!namesPaperSize(name, sizeWord, sizeLength)) continue;
    // The whole page sits in memory and every line goes through fixed line
    // buffers: a size the writer cannot hold is refused before the job
    // starts, rather than truncated into a 16-bit field.
    if (size[0] < 1 || size[0] > kMaxPageWidth || size[1] < 1 || size[1] > kMaxPageHeight)
      return QvError(env, Status::kBadPaperInf, sizeWord);
    job->nWidth = static_cast<std::int16_t>(size[0]);
    job->nHeight = static_cast<std::int16_t>(size[1]);
    return Status::kOk;
  }
  return QvError(env, Status::kPaperNotFound, sizeWord);
}

// Only checks the imaging area; what it gets is the paper size (PaperDimension).
Status GetImagingArea(PjpInfo* job, const RcInfo* rc, const JobEnv& env) {
  const char* sizeWord = GetKeyValue("PageSize", rc);
  if (sizeWord == nullptr) sizeWord = "";
  // The printer name is at most 31 characters, so both paths fit.
  char imagingAreaPath[256];
  char paperDimensionPath[256];
  std::snprintf(imagingAreaPath, sizeof imagingAreaPath, "/opt/quarno/%s/bin/inf/ImagingArea",
                rc->szPrinterName);
  std::snprintf(paperDimensionPath, sizeof paperDimensionPath,
                "/opt/quarno/%s/bin/inf/PaperDimension", rc->szPrinterName);

  char line[1024];
  char name[sizeof line];
  bool tooLong = false;
  Status status = Status::kPaperNotFound;
  {
    qv::UniqueFile file(std::fopen(imagingAreaPath, "r"));
    if (!file) return QvError(env, Status::kCannotOpen, imagingAreaPath);
    const bool found = findPaperLine(file.get(), sizeWord, line);
    if (std::ferror(file.get())) return QvError(env, Status::kCannotOpen, imagingAreaPath);
    if (found) {
      // The imaging area itself is not used; its line must still be whole.
      TextSource in{line};
      long area[4];
      if (scanNameAndNumbers(in, name, sizeof name - 1, area, 4, tooLong) < 5)
        return QvError(env, Status::kBadImagingArea, sizeWord);
      status = Status::kOk;
    }
  }

  qv::UniqueFile file(std::fopen(paperDimensionPath, "r"));
  if (!file) return QvError(env, Status::kCannotOpen, paperDimensionPath);
  const bool found = findPaperLine(file.get(), sizeWord, line);
  if (std::ferror(file.get())) return QvError(env, Status::kCannotOpen, paperDimensionPath);
  if (!found) {
    // Accepted when ImagingArea knew the paper; the paper size stays 0.
    return status == Status::kPaperNotFound ? QvError(env, status, sizeWord) : Status::kOk;
  }
  TextSource in{line};
  long paper[2];
  if (scanNameAndNumbers(in, name, sizeof name - 1, paper, 2, tooLong) < 3)
    return QvError(env, Status::kBadPaperDimension, sizeWord);
  // The PWG page header carries the paper size from a 16-bit field; a size
  // that does not fit it is as unreadable as a missing number.
  if (paper[0] < 0 || paper[0] > INT16_MAX || paper[1] < 0 || paper[1] > INT16_MAX)
    return QvError(env, Status::kBadPaperDimension, sizeWord);
  job->nPaperWidth = static_cast<std::int16_t>(paper[0]);
  job->nPaperLength = static_cast<std::int16_t>(paper[1]);
  return Status::kOk;
}

}  // namespace qv::colour
