// qvcommon.h - the mono filter's settings file and its vocabulary, and the
// paper information lookup (the job settings record is in print_settings.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "mono/print_settings.h"
#include "mono/status.h"

namespace qv::mono {

// ---------------------------------------------------------------------------
// Vocabulary. Every table is indexed by the code the settings file selects;
// index 0 is the "not set" word where the field has one.

// Settings keys; the position is the key number that paramSearch returns.
inline constexpr const char* const QV_PARAMS[] = {
    "Resolution", "PaperSource", "Duplex", "DuplexType",    "PaperType",
    "Media",      "Copies",      "Sleep",  "TonerSaveMode", "OutputBin",
};
enum : int {
  kParamResolution = 0,
  kParamPaperSource,
  kParamDuplex,
  kParamDuplexType,
  kParamPaperType,
  kParamMedia,
  kParamCopies,
  kParamSleep,
  kParamTonerSave,
  kParamOutputBin,
  kParamCount,
};
static_assert(std::size(QV_PARAMS) == kParamCount);

inline constexpr const char* const QV_COMMAND_VALUE_RES[] = {
    "NULL", "300", "600", "1200", "XR1200A", "XR1200B", "600x300",
};
static_assert(std::size(QV_COMMAND_VALUE_RES) == 7);

inline constexpr const char* const QV_COMMAND_VALUE_PS[] = {
    "NULL", "Manual", "MpTray", "Tray1", "Tray2", "Tray3", "Tray4", "Tray5", "AutoSelect",
};
static_assert(std::size(QV_COMMAND_VALUE_PS) == 9);

inline constexpr const char* const QV_COMMAND_VALUE_DX[] = {"OFF", "ON"};

inline constexpr const char* const QV_COMMAND_VALUE_DXT[] = {"NULL", "Long", "Short"};

inline constexpr const char* const QV_COMMAND_VALUE_MD[] = {
    "NULL",           "PlainPaper", "ThinPaper", "ThickPaper", "ThickerPaper", "BondPaper",
    "Transparencies", "Envelopes",  "Env.Thick", "Env.Thin",   "Recycled",
};
static_assert(std::size(QV_COMMAND_VALUE_MD) == 11);

inline constexpr const char* const QV_COMMAND_VALUE_SP[] = {"PrinterDefault"};

inline constexpr const char* const QV_COMMAND_VALUE_TS[] = {"ON", "OFF"};

inline constexpr const char* const QV_COMMAND_VALUE_OB[] = {
    "NULL",    "Auto",    "StandardBin", "Outbin1", "Outbin2", "Outbin3",  "Outbin4",
    "Stacker", "Sorter2", "Sorter3",     "Sorter4", "Sorter5", "Optional",
};
static_assert(std::size(QV_COMMAND_VALUE_OB) == 13);

// Paper type names: the PaperType values of the settings file and the names
// looked up in the paper information file. Every name that begins with
// "CUSTOM" is a custom size.
inline constexpr int QV_COMMAND_VALUE_PT_COUNT = 37;
inline constexpr const char* const QV_COMMAND_VALUE_PT[] = {
    "NULL",     "A4",       "Letter",  "Legal",     "Exective",  "A5",        "A6",
    "B5",       "B6",       "C5",      "DL",        "Com-10",    "Monarch",   "JISB5",
    "JISB6",    "Postcard", "DHagaki", "EnvYou4",   "PC4x6",     "FOLIO",     "A4L",
    "EnvChou3", "EnvChou4", "3x5",     "195x270mm", "184x260mm", "197x273mm", "CUSTOM0",
    "CUSTOM1",  "CUSTOM2",  "CUSTOM3", "CUSTOM4",   "CUSTOM5",   "CUSTOM6",   "CUSTOM7",
    "CUSTOM8",  "CUSTOM9",
};
static_assert(std::size(QV_COMMAND_VALUE_PT) == QV_COMMAND_VALUE_PT_COUNT);

// ---------------------------------------------------------------------------
// Settings file.

// Size of a settings or paper file line buffer: 1023 characters, the
// terminator, and one spare byte.
inline constexpr int kLineBufferSize = 1025;
// Characters read per line: a longer line is read as several lines.
inline constexpr int kLineReadSize = 1024;

// Parses the whole settings file (from its beginning) into `settings`.
// Returns Status::kOk, or Status::kInvalid for a missing stream or record, a
// second section line, a lone "[", a key line before the section line, or a
// read error. On failure the record may hold the values of the lines before
// the failing one. The stream is not closed.
[[nodiscard]] Status getRcFile(std::FILE* fp, PrintSettings* settings);

// Reads one line of at most size - 1 characters into `buffer` and cuts it at
// its first line feed (a carriage return stays). Returns `buffer`, or
// nullptr at end of file or on a read error.
char* readLine(char* buffer, int size, std::FILE* fp);

// Removes every space and tab from `line` in place; returns `line`.
char* eraseSpace(char* line);

// Splits "key=value" at the first "=": copies the value into `value`
// (bounded by `valueSize`, always terminated) and returns the key's number
// in QV_PARAMS, or -1 when the line has no "=" (value then empty) or the
// key is unknown.
int paramSearch(const char* line, char* value, std::size_t valueSize);

// One per settings key: apply `value` to the field and return the field's
// resulting value. A word outside the key's list leaves the field as it
// was, except PaperType, which then becomes 0.
std::int32_t getParamResolution(const char* value, std::int32_t& resolution);
std::int32_t getParamPaperSource(const char* value, std::int32_t& paperSource);
std::int32_t getParamDuplex(const char* value, std::int32_t& duplex);
std::int32_t getParamDuplexType(const char* value, std::int32_t& duplexType);
std::int32_t getParamPaperType(const char* value, std::int32_t& paperType);
std::int32_t getParamMedia(const char* value, std::int32_t& media);
std::int32_t getParamCopies(const char* value, std::int32_t& copies);
std::int32_t getParamSleep(const char* value, std::int32_t& sleep);
std::int32_t getParamTonerSave(const char* value, std::int32_t& tonerSave);
std::int32_t getParamOutputBin(const char* value, std::int32_t& outputBin);

// ---------------------------------------------------------------------------
// Paper information file: lines "name<TAB>width<TAB>height", sizes in dots
// at 600 dpi.

enum : int { kPaperFound = 0, kPaperNotFound = 1, kPaperNoStream = -1 };

// Looks up the paper QV_COMMAND_VALUE_PT[paperType] from the stream's
// current position: the first line that begins with the name sets `width`
// and `height` from its tab-separated fields and gives kPaperFound. When
// that line lacks a field, at end of file, or for a code outside the table,
// the sizes stay unchanged and the result is kPaperNotFound. The stream is
// not closed.
[[nodiscard]] int getPaperInf(std::FILE* fp, std::int32_t paperType, std::int32_t& width,
                              std::int32_t& height);

// ---------------------------------------------------------------------------
// Decimal numbers as the settings, paper file and command line write them:
// leading white space, an optional sign, then digits up to the first other
// character. Never overflows: values beyond 32 bits saturate at the nearest
// limit, which every caller then rejects as out of range.

// Reads a number at the start of `text`. Returns the count of characters
// used (0 when there are no digits; `value` is then untouched).
std::size_t readDecimal(std::string_view text, std::int32_t& value);

// The number at the start of `text`; no digits read as 0.
std::int32_t leadingDecimal(std::string_view text);

}  // namespace qv::mono
