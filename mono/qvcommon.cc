// qvcommon.cc - the mono filter's settings file and paper information file.
//
// Both files are written by administrators and printer set-up tools, so the
// readers accept what those write (blanks anywhere in a settings line, any
// trailing text after a paper height) and refuse only what leaves the job's
// settings undefined: key lines before the section line, or a second
// section line.
#include "mono/qvcommon.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>

#include "common/settings_line.h"

namespace qv::mono {

namespace {

// Index of `value` among entries [first, end) of `table`, or -1.
int findWord(std::span<const char* const> table, std::size_t first, std::string_view value) {
  for (std::size_t i = first; i < table.size(); ++i)
    if (value == table[i]) return static_cast<int>(i);
  return -1;
}

// Applies a "one word of the table" key: entries from 1 on select their
// index, anything else leaves the field.
std::int32_t selectFromTable(std::span<const char* const> table, const char* value,
                             std::int32_t& field) {
  if (const int code = findWord(table, 1, value); code > 0) field = code;
  return field;
}

bool isNumberSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A section name is cut to what sectionName holds (23 characters): longer
// names are only labels, and no reader uses them.
void copySectionName(std::string_view name, char (&target)[24]) {
  const std::size_t length = std::min(name.size(), sizeof target - 1);
  std::memcpy(target, name.data(), length);
  target[length] = '\0';
}

}  // namespace

std::size_t readDecimal(std::string_view text, std::int32_t& value) {
  std::size_t pos = 0;
  while (pos < text.size() && isNumberSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const std::size_t digitsStart = pos;
  // Accumulated as a negative number, whose range includes INT32_MIN.
  constexpr std::int64_t kLimit =
      -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) - 1;
  std::int64_t accumulated = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    accumulated = accumulated * 10 - (text[pos] - '0');
    if (accumulated < kLimit) accumulated = kLimit;  // saturate; the digits are still consumed
  }
  if (pos == digitsStart) return 0;
  if (!negative)
    accumulated = std::min<std::int64_t>(-accumulated, std::numeric_limits<std::int32_t>::max());
  value = static_cast<std::int32_t>(accumulated);
  return pos;
}

std::int32_t leadingDecimal(std::string_view text) {
  std::int32_t value = 0;
  readDecimal(text, value);
  return value;
}

char* readLine(char* buffer, int size, std::FILE* fp) {
  return qv::readSettingsLine(buffer, size, fp);
}

char* eraseSpace(char* line) { return qv::eraseBlanks(line); }

int paramSearch(const char* line, char* value, std::size_t valueSize) {
  std::string_view key;
  if (valueSize == 0 || !qv::splitSetting(line, key, value, valueSize)) return -1;
  return findWord(QV_PARAMS, 0, key);
}

std::int32_t getParamResolution(const char* value, std::int32_t& resolution) {
  return selectFromTable(QV_COMMAND_VALUE_RES, value, resolution);
}

std::int32_t getParamPaperSource(const char* value, std::int32_t& paperSource) {
  return selectFromTable(QV_COMMAND_VALUE_PS, value, paperSource);
}

// "None" is what set-up tools write for a printer without a duplex unit.
std::int32_t getParamDuplex(const char* value, std::int32_t& duplex) {
  const std::string_view word(value);
  if (word == "OFF" || word == "None") duplex = 0;
  if (word == "ON") duplex = 1;
  return duplex;
}

std::int32_t getParamDuplexType(const char* value, std::int32_t& duplexType) {
  const std::string_view word(value);
  if (word == "Long" || word == "None") duplexType = 1;
  if (word == "Short") duplexType = 2;
  return duplexType;
}

// An unknown paper word resets the code: the paper lookup then asks for
// "NULL" and the job fails instead of printing on the previous line's paper.
std::int32_t getParamPaperType(const char* value, std::int32_t& paperType) {
  const int code = findWord(QV_COMMAND_VALUE_PT, 1, value);
  paperType = code > 0 ? code : 0;
  return paperType;
}

std::int32_t getParamMedia(const char* value, std::int32_t& media) {
  return selectFromTable(QV_COMMAND_VALUE_MD, value, media);
}

std::int32_t getParamCopies(const char* value, std::int32_t& copies) {
  const std::int32_t number = leadingDecimal(value);
  if (number >= 1 && number <= 999) copies = number;
  return copies;
}

std::int32_t getParamSleep(const char* value, std::int32_t& sleep) {
  if (std::string_view(value) == QV_COMMAND_VALUE_SP[0]) {
    sleep = 0;
    return sleep;
  }
  const std::int32_t number = leadingDecimal(value);
  if (number >= 1 && number <= 99) sleep = number;
  return sleep;
}

std::int32_t getParamTonerSave(const char* value, std::int32_t& tonerSave) {
  if (const int code = findWord(QV_COMMAND_VALUE_TS, 0, value); code >= 0) tonerSave = code;
  return tonerSave;
}

std::int32_t getParamOutputBin(const char* value, std::int32_t& outputBin) {
  return selectFromTable(QV_COMMAND_VALUE_OB, value, outputBin);
}

namespace {

// Each settings key's reader and the field it sets, in key-number order.
struct KeyReader {
  std::int32_t (*read)(const char* value, std::int32_t& field);
  std::int32_t PrintSettings::*field;
};
constexpr KeyReader kKeyReaders[] = {
    {getParamResolution, &PrintSettings::resolution},
    {getParamPaperSource, &PrintSettings::paperSource},
    {getParamDuplex, &PrintSettings::duplex},
    {getParamDuplexType, &PrintSettings::duplexType},
    {getParamPaperType, &PrintSettings::paperType},
    {getParamMedia, &PrintSettings::media},
    {getParamCopies, &PrintSettings::copies},
    {getParamSleep, &PrintSettings::sleep},
    {getParamTonerSave, &PrintSettings::tonerSave},
    {getParamOutputBin, &PrintSettings::outputBin},
};
static_assert(std::size(kKeyReaders) == kParamCount);

void applySetting(int key, const char* value, PrintSettings& settings) {
  const KeyReader& reader = kKeyReaders[key];
  reader.read(value, settings.*reader.field);
}

}  // namespace

// The settings format's 0 and -1 are Status::kOk and Status::kInvalid here.
Status getRcFile(std::FILE* fp, PrintSettings* settings) {
  if (fp == nullptr || settings == nullptr) return Status::kInvalid;
  std::rewind(fp);
  char line[kLineBufferSize];
  char value[kLineBufferSize];
  bool sectionRead = false;
  while (readLine(line, kLineReadSize, fp) != nullptr) {
    eraseSpace(line);
    if (line[0] == '#' || line[0] == '\0') continue;
    if (line[0] == '[') {
      if (sectionRead) return Status::kInvalid;
      const std::string_view rest(line + 1);
      if (rest.empty()) return Status::kInvalid;  // a lone "[" names no section
      copySectionName(rest.substr(0, rest.find(']')), settings->sectionName);
      sectionRead = true;
      continue;
    }
    if (!sectionRead) return Status::kInvalid;
    // Unknown keys and lines without "=" are not errors.
    const int key = paramSearch(line, value, sizeof value);
    if (key >= 0 && key < kParamCount) applySetting(key, value, *settings);
  }
  // A file that cannot be read (an I/O error, a directory) must not pass
  // for an empty one: the job would print with every setting at its default.
  return std::ferror(fp) ? Status::kInvalid : Status::kOk;
}

int getPaperInf(std::FILE* fp, std::int32_t paperType, std::int32_t& width, std::int32_t& height) {
  if (fp == nullptr) return kPaperNoStream;
  if (paperType < 0 || paperType >= QV_COMMAND_VALUE_PT_COUNT) return kPaperNotFound;
  const std::string_view name = QV_COMMAND_VALUE_PT[paperType];
  char line[kLineBufferSize];
  while (readLine(line, kLineReadSize, fp) != nullptr) {
    const std::string_view text(line);
    if (!text.starts_with(name)) continue;
    // The first line that begins with the name decides. Without both
    // fields it gives no size, and a later line that merely begins with the
    // same name (A4L for A4) must not stand in for it: not found.
    const std::size_t firstTab = text.find('\t');
    if (firstTab == std::string_view::npos) return kPaperNotFound;
    const std::size_t secondTab = text.find('\t', firstTab + 1);
    if (secondTab == std::string_view::npos) return kPaperNotFound;
    width = leadingDecimal(text.substr(firstTab + 1, secondTab - firstTab - 1));
    height = leadingDecimal(text.substr(secondTab + 1));
    return kPaperFound;
  }
  return kPaperNotFound;
}

}  // namespace qv::mono
