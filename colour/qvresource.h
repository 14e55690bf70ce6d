// qvresource.h - the colour filter's settings file: the parameter table with
// its defaults, a job's settings record, and the parser.
//
// A settings file is a section header naming the printer ("[QV-C600]") and
// key=value lines; blanks and tabs anywhere on a line are removed before the
// line is read, and "#" starts a comment line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>

#include "colour/status.h"
#include "src_header/qvfiletool.h"

namespace qv::colour {

// The 22 parameters with their defaults. Reading a settings file changes only
// nValue and nIndex of its entries.
extern const std::array<RcParam, kQvParamCount> tblQvParams;

// A settings record with its own parameter table, which `info` points at:
// one per job. Starts with the defaults and no printer name; a copy gets a
// table of its own.
struct RcSettings {
  std::array<RcParam, kQvParamCount> params = tblQvParams;
  RcInfo info{{}, kQvParamCount, params.data()};

  RcSettings() = default;
  // Takes the name and the kQvParamCount entries of `rc`.
  explicit RcSettings(const RcInfo& rc);
  RcSettings(const RcSettings& other) : RcSettings(other.info) {}
  RcSettings& operator=(const RcSettings&) = delete;
};

// Longest settings line; a longer one is read in pieces of this length,
// each a line of its own.
inline constexpr int kRcLineMax = 1023;

// Reads the settings file at `path` into `rc`. Returns Status::kOk;
// Status::kCannotOpen when the file cannot be opened; Status::kBadSettingsFile
// when its section structure is wrong (no header at
// all, a setting before the header, a second header, "[" or "[]" alone, a
// printer name of 32 characters or more, one containing "/", or "." or ".."). The message is
// reported before returning. Settings read before a failure stay in the record.
Status LoadRcFile(const char* path, RcInfo* rc, const JobEnv& env);

// ParamSearch's answers that are not a parameter index.
inline constexpr int kParamNoSuchKey = -1;  // no key of the table matches
inline constexpr int kParamNoEquals = -2;   // the line holds no "="

// Splits a setting line at its first "=" (qv::splitSetting): the text after
// it is copied into
// value (at most valueSize - 1 characters, always terminated). Returns the
// index of the parameter of `rc` whose key equals the text before "=",
// kParamNoSuchKey when no key matches, kParamNoEquals when the line holds no "=".
int ParamSearch(const char* line, char* value, std::size_t valueSize, const RcInfo* rc);

// Chooses the item whose word equals `word` (exact, case-sensitive). Returns
// Status::kOk, or Status::kNoSuchSetting when the parameter is numerical or no
// item matches (nothing changes then).
Status SetSelectionParam(int index, const char* word, RcInfo* rc);

// Stores the decimal number in `text` (leading blanks and a sign allowed,
// conversion stops at the first non-digit, no digits give 0) in the numerical
// parameter: its low 16 bits, without a range check. Returns Status::kOk, or
// Status::kNoSuchSetting when the parameter is not numerical.
Status SetNumericalParam(int index, const char* text, RcInfo* rc);

}  // namespace qv::colour
