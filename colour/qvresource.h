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

#include "src_header/qvfiletool.h"

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

// Reads the settings file at `pszPath` into `pRcInfo`. Returns 0; 1 when the
// file cannot be opened; 5 when its section structure is wrong (no header at
// all, a setting before the header, a second header, "[" or "[]" alone, a
// printer name of 32 characters or more, one containing "/", or "." or ".."). The message is
// written before returning. Settings read before a failure stay in the record.
unsigned int LoadRcFile(const char* pszPath, RcInfo* pRcInfo);

// Reads one line of at most nSize - 1 characters into pszBuf and replaces its
// first line feed by NUL. A longer line is returned in pieces. Returns pszBuf,
// or null at end of file or on a read error.
char* ReadLine(char* pszBuf, int nSize, std::FILE* fp);

// Removes every blank and tab from the line, in place. Returns pszLine.
char* EraseSpace(char* pszLine);

// Splits a setting line at its first "=": the text after it is copied into
// pszValue (at most nValueSize - 1 characters, always terminated). Returns the
// index of the parameter of `pRcInfo` whose key equals the text before "=",
// -1 when no key matches, -2 when the line holds no "=".
int ParamSearch(const char* pszLine, char* pszValue, std::size_t nValueSize, const RcInfo* pRcInfo);

// Chooses the item whose word equals pszWord (exact, case-sensitive). Returns
// 0, or -1 when the parameter is numerical or no item matches (nothing
// changes then).
int SetSelectionParam(int nIndex, const char* pszWord, RcInfo* pRcInfo);

// Stores the decimal number in pszText (leading blanks and a sign allowed,
// conversion stops at the first non-digit, no digits give 0) in the numerical
// parameter: its low 16 bits, without a range check. Returns 0, or -1 when
// the parameter is not numerical.
int SetNumericalParam(int nIndex, const char* pszText, RcInfo* pRcInfo);
