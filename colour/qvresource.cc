// qvresource.cc - the colour settings file: parameter table and parser.
#include "colour/qvresource.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "colour/qverror.h"
#include "common/settings_line.h"
#include "common/unique_file.h"

namespace qv::colour {
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
bool takePrinterName(const char* line, RcInfo* rc) {
  const std::string_view rest(line + 1);
  const std::string_view name = rest.substr(0, rest.find(']'));
  if (name.empty() || name.size() >= sizeof rc->szPrinterName) return false;
  if (name.find('/') != std::string_view::npos || name == "." || name == "..") return false;
  std::memcpy(rc->szPrinterName, name.data(), name.size());
  rc->szPrinterName[name.size()] = '\0';
  return true;
}

}  // namespace

const std::array<RcParam, kQvParamCount> tblQvParams = kDefaultParams;

RcSettings::RcSettings(const RcInfo& rc) {
  std::memcpy(info.szPrinterName, rc.szPrinterName, sizeof info.szPrinterName);
  std::copy_n(rc.pParams, kQvParamCount, params.begin());
}

Status LoadRcFile(const char* path, RcInfo* rc, const JobEnv& env) {
  qv::UniqueFile file(std::fopen(path, "r"));
  if (!file) return QvError(env, Status::kCannotOpen, path);

  bool sectionSeen = false;
  char line[kRcLineMax + 1];
  char value[kRcLineMax + 1];
  // A line longer than the buffer arrives in pieces, and each piece is read
  // as a line of its own: the settings files written for these printers
  // rely on that, odd as it is for the tail of a long comment.
  while (qv::readSettingsLine(line, sizeof line, file.get()) != nullptr) {
    qv::eraseBlanks(line);
    if (line[0] == '#' || line[0] == '\0') continue;
    if (line[0] == '[') {
      if (sectionSeen || !takePrinterName(line, rc))
        return QvError(env, Status::kBadSettingsFile, nullptr);
      sectionSeen = true;
      continue;
    }
    if (!sectionSeen) return QvError(env, Status::kBadSettingsFile, nullptr);
    const int index = ParamSearch(line, value, sizeof value, rc);
    if (index < 0 || index >= kQvParamCount) continue;  // no "=" or unknown key
    // An unknown item word leaves the earlier choice: the results are not errors.
    if (isNumericalParam(index))
      (void)SetNumericalParam(index, value, rc);
    else
      (void)SetSelectionParam(index, value, rc);
  }
  // A path that opens but cannot be read (a directory, an I/O error) must not
  // pass as a file of defaults.
  if (std::ferror(file.get())) return QvError(env, Status::kCannotOpen, path);
  // A file that names no printer at all is as wrong as "[]".
  if (!sectionSeen) return QvError(env, Status::kBadSettingsFile, nullptr);
  return Status::kOk;
}

int ParamSearch(const char* line, char* value, std::size_t valueSize, const RcInfo* rc) {
  // A line without "=" is told apart first: the value is then left as it is.
  const std::string_view text(line);
  if (text.find('=') == std::string_view::npos) return kParamNoEquals;
  std::string_view key;
  qv::splitSetting(text, key, value, valueSize);
  const int count = rc->nParamCount < kQvParamCount ? rc->nParamCount : kQvParamCount;
  for (int i = 0; i < count; ++i)
    if (key == rc->pParams[i].pszKey) return i;
  return kParamNoSuchKey;
}

Status SetSelectionParam(int index, const char* word, RcInfo* rc) {
  if (index < 0 || index >= kQvParamCount || isNumericalParam(index)) return Status::kNoSuchSetting;
  RcParam& param = rc->pParams[index];
  if (param.ppszCmdItem == nullptr) return Status::kNoSuchSetting;
  for (std::int16_t item = 0; item < param.nItemCount; ++item) {
    if (std::strcmp(param.ppszCmdItem[item], word) == 0) {
      param.nIndex = item;
      return Status::kOk;
    }
  }
  return Status::kNoSuchSetting;
}

Status SetNumericalParam(int index, const char* text, RcInfo* rc) {
  if (index < 0 || index >= kQvParamCount || !isNumericalParam(index))
    return Status::kNoSuchSetting;
  // The number is kept as the printer driver always kept it: its low 16 bits
  // (Copies=65537 is one copy, Brightness=40000 is -25536), no range check.
  const long number = std::strtol(text, nullptr, 10);
  rc->pParams[index].nValue =
      static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long>(number)));
  return Status::kOk;
}

}  // namespace qv::colour
