// qvresource.cc - the colour settings file: parameter table and parser.
#include "colour/qvresource.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "colour/qverror.h"
#include "common/unique_file.h"

namespace {

template <std::size_t N>
constexpr RcParam selection(const char* key, const char* const (&words)[N],
                            const std::int16_t (&values)[N], std::int16_t defaultItem) {
  return RcParam{key, static_cast<std::int16_t>(N), words, values, 0, defaultItem};
}

constexpr RcParam numerical(const char* key, std::int16_t defaultValue) {
  return RcParam{key, 0, nullptr, nullptr, defaultValue, -1};
}

// The defaults a job gets for every setting its file does not mention.
constexpr std::array<RcParam, kQvParamCount> kDefaultParams = {
    selection("MediaType", tblCmdItem_Media, tblInnerVal_Media, 0),               // Plain
    selection("PageSize", tblCmdItem_PaperType, tblInnerVal_PaperType, 0),        // A4
    selection("InputSlot", tblCmdItem_PaperSource, tblInnerVal_PaperSource, 0),   // AutoSelect
    selection("QVResolution", tblCmdItem_Resolution, tblInnerVal_Resolution, 1),  // Fine
    numerical("Copies", 1),
    selection("Collate", tblCmdItem_Collate, tblInnerVal_Collate, 0),  // OFF
    selection("QVReverse", tblPrmItem_ReversePrinting, tblInnerVal_ReversePrinting, 0),
    selection("QVMonoColor", tblCmdItem_ColorOrMono, tblInnerVal_ColorOrMono, 0),    // Auto
    selection("QVColorMatching", tblCmdItem_ColorMatch, tblInnerVal_ColorMatch, 0),  // Auto
    selection("QVGray", tblPrmItem_Gray, tblInnerVal_Gray, 0),
    selection("QVEnhanceBlkPrt", tblPrmItem_ColorEnhance, tblInnerVal_ColorEnhance, 0),
    selection("TonerSaveMode", tblPrmItem_TonerSaveMode, tblInnerVal_TonerSaveMode, 0),
    selection("QVImproveOutput", tblCmdItem_ImproveOutput, tblInnerVal_ImproveOutput, 0),
    numerical("Brightness", 0),
    numerical("Contrast", 0),
    numerical("RedKey", 0),
    numerical("GreenKey", 0),
    numerical("BlueKey", 0),
    numerical("Saturation", 0),
    selection("QVDuplex", tblCmdItem_Duplex, tblInnerVal_Duplex, 0),  // None
    selection("QVSkipBlank", tblPrmItem_SKIP_BLANK, tblInnerVal_SKIP_BLANK, 0),
    selection("Language", tblCmdItem_Language, tblInnerVal_Language, 0),  // us
};

// The indexes other modules use must name the keys they mean.
constexpr bool keyAt(int index, std::string_view key) {
  return std::string_view(kDefaultParams[static_cast<std::size_t>(index)].pszKey) == key;
}
static_assert(keyAt(kParamMediaType, "MediaType") && keyAt(kParamPageSize, "PageSize") &&
              keyAt(kParamQVResolution, "QVResolution") && keyAt(kParamCopies, "Copies") &&
              keyAt(kParamQVMonoColor, "QVMonoColor") && keyAt(kParamBrightness, "Brightness") &&
              keyAt(kParamSaturation, "Saturation") && keyAt(kParamQVDuplex, "QVDuplex") &&
              keyAt(kParamQVSkipBlank, "QVSkipBlank") && keyAt(kParamLanguage, "Language"));

// Takes the printer name from a section header "[name]..." (blanks already
// removed): the text after "[" up to the first "]" or the end of the line.
// The name becomes a directory below /opt/quarno, so an empty name, one of 32
// characters or more, and one that could leave it (a "/", or "." or "..") are
// refused.
bool takePrinterName(const char* line, RcInfo* pRcInfo) {
  const std::string_view rest(line + 1);
  const std::string_view name = rest.substr(0, rest.find(']'));
  if (name.empty() || name.size() >= sizeof pRcInfo->szPrinterName) return false;
  if (name.find('/') != std::string_view::npos || name == "." || name == "..") return false;
  std::memcpy(pRcInfo->szPrinterName, name.data(), name.size());
  pRcInfo->szPrinterName[name.size()] = '\0';
  return true;
}

}  // namespace

const std::array<RcParam, kQvParamCount> tblQvParams = kDefaultParams;

RcSettings::RcSettings(const RcInfo& rc) {
  std::memcpy(info.szPrinterName, rc.szPrinterName, sizeof info.szPrinterName);
  std::copy_n(rc.pParams, kQvParamCount, params.begin());
}

unsigned int LoadRcFile(const char* pszPath, RcInfo* pRcInfo) {
  qv::UniqueFile file(std::fopen(pszPath, "r"));
  if (!file) return QvError(kQvErrCannotOpen, pszPath);

  bool sectionSeen = false;
  char line[kRcLineMax + 1];
  char value[kRcLineMax + 1];
  // A line longer than the buffer arrives in pieces, and each piece is read
  // as a line of its own: the settings files written for these printers
  // rely on that, odd as it is for the tail of a long comment.
  while (ReadLine(line, sizeof line, file.get()) != nullptr) {
    EraseSpace(line);
    if (line[0] == '#' || line[0] == '\0') continue;
    if (line[0] == '[') {
      if (sectionSeen || !takePrinterName(line, pRcInfo)) return QvError(kQvErrRcFile, nullptr);
      sectionSeen = true;
      continue;
    }
    if (!sectionSeen) return QvError(kQvErrRcFile, nullptr);
    const int index = ParamSearch(line, value, sizeof value, pRcInfo);
    if (index < 0 || index >= kQvParamCount) continue;  // no "=" or unknown key
    // An unknown item word leaves the earlier choice: the results are not errors.
    if (IsNumericalParam(index))
      (void)SetNumericalParam(index, value, pRcInfo);
    else
      (void)SetSelectionParam(index, value, pRcInfo);
  }
  // A path that opens but cannot be read (a directory, an I/O error) must not
  // pass as a file of defaults.
  if (std::ferror(file.get())) return QvError(kQvErrCannotOpen, pszPath);
  // A file that names no printer at all is as wrong as "[]".
  if (!sectionSeen) return QvError(kQvErrRcFile, nullptr);
  return 0;
}

char* ReadLine(char* pszBuf, int nSize, std::FILE* fp) {
  if (std::fgets(pszBuf, nSize, fp) == nullptr) return nullptr;
  if (char* newline = std::strchr(pszBuf, '\n'); newline != nullptr) *newline = '\0';
  return pszBuf;
}

char* EraseSpace(char* pszLine) {
  char* out = pszLine;
  for (const char* in = pszLine; *in != '\0'; ++in)
    if (*in != ' ' && *in != '\t') *out++ = *in;
  *out = '\0';
  return pszLine;
}

int ParamSearch(const char* pszLine, char* pszValue, std::size_t nValueSize,
                const RcInfo* pRcInfo) {
  const std::string_view line(pszLine);
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return -2;
  const std::string_view key = line.substr(0, equals);
  const std::string_view value = line.substr(equals + 1);
  if (nValueSize > 0) {
    const std::size_t n = value.size() < nValueSize - 1 ? value.size() : nValueSize - 1;
    std::memcpy(pszValue, value.data(), n);
    pszValue[n] = '\0';
  }
  const int count = pRcInfo->nParamCount < kQvParamCount ? pRcInfo->nParamCount : kQvParamCount;
  for (int i = 0; i < count; ++i)
    if (key == pRcInfo->pParams[i].pszKey) return i;
  return -1;
}

int SetSelectionParam(int nIndex, const char* pszWord, RcInfo* pRcInfo) {
  if (nIndex < 0 || nIndex >= kQvParamCount || IsNumericalParam(nIndex)) return -1;
  RcParam& param = pRcInfo->pParams[nIndex];
  if (param.ppszCmdItem == nullptr) return -1;
  for (std::int16_t item = 0; item < param.nItemCount; ++item) {
    if (std::strcmp(param.ppszCmdItem[item], pszWord) == 0) {
      param.nIndex = item;
      return 0;
    }
  }
  return -1;
}

int SetNumericalParam(int nIndex, const char* pszText, RcInfo* pRcInfo) {
  if (nIndex < 0 || nIndex >= kQvParamCount || !IsNumericalParam(nIndex)) return -1;
  // The number is kept as the printer driver always kept it: its low 16 bits
  // (Copies=65537 is one copy, Brightness=40000 is -25536), no range check.
  const long number = std::strtol(pszText, nullptr, 10);
  pRcInfo->pParams[nIndex].nValue =
      static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long>(number)));
  return 0;
}
