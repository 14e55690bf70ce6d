// qvfiletool.h - the colour filter's settings record, the item words and inner
// values of every selection parameter, and the two lookups that read them.
//
// The settings file names an item by its word ("A4", "DuplexNoTumble"); the
// job record and the PJL header work with the item's inner value, a small
// code that the printer firmware knows. The two lists of a parameter are
// parallel: item i of the words has inner value i of the values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace qv::colour {

// One parameter of the settings file. Only nValue and nIndex change while a
// settings file is read; the rest is static data.
struct RcParam {
  const char* pszKey;              // key as written in the settings file (case-sensitive)
  std::int16_t nItemCount;         // items of a selection parameter; 0 for a numerical one
  const char* const* ppszCmdItem;  // item words; null for a numerical parameter
  const std::int16_t* pInnerVal;   // inner value of each item; null for a numerical one
  std::int16_t nValue;             // current value of a numerical parameter
  std::int16_t nIndex;             // chosen item of a selection parameter; -1 if numerical
};

// Number of parameters in the colour settings table.
inline constexpr int kQvParamCount = 22;

// The settings record: printer name from the section header and the table.
struct RcInfo {
  char szPrinterName[32];  // at most 31 characters; empty until a header is read
  std::int32_t nParamCount;
  RcParam* pParams;  // kQvParamCount entries (a job's own table, see RcSettings)
};

// Index of each parameter in the table: the code everything else uses to
// address a setting. Selection parameters are 0-3, 5-12 and 19-21.
enum QvParamIndex : int {
  kParamMediaType = 0,
  kParamPageSize = 1,
  kParamInputSlot = 2,
  kParamQVResolution = 3,
  kParamCopies = 4,
  kParamCollate = 5,
  kParamQVReverse = 6,
  kParamQVMonoColor = 7,
  kParamQVColorMatching = 8,
  kParamQVGray = 9,
  kParamQVEnhanceBlkPrt = 10,
  kParamTonerSaveMode = 11,
  kParamQVImproveOutput = 12,
  kParamBrightness = 13,
  kParamContrast = 14,
  kParamRedKey = 15,
  kParamGreenKey = 16,
  kParamBlueKey = 17,
  kParamSaturation = 18,
  kParamQVDuplex = 19,
  kParamQVSkipBlank = 20,
  kParamLanguage = 21,
};

// Whether a parameter index is numerical (Copies, Brightness ... Saturation).
// Fixed by index, not by the entry's item count.
constexpr bool isNumericalParam(int index) {
  return index == kParamCopies || (index >= kParamBrightness && index <= kParamSaturation);
}

// --- Item words and inner values, in item order ----------------------------

inline constexpr const char* tblCmdItem_Media[] = {
    "Plain", "Thin",    "Thick",    "Thicker",  "BOND",  "Recycled",
    "Env",   "EnvThin", "EnvThick", "PostCard", "Label", "Glossy",
};
// BOND is 6 and Recycled 5: the firmware's media codes, not the item order.
// No item carries 4.
inline constexpr std::int16_t tblInnerVal_Media[] = {0, 1, 2, 3, 6, 5, 7, 8, 9, 10, 11, 12};

inline constexpr const char* tblCmdItem_PaperType[] = {
    "A4",          "Letter",      "Legal",     "Executive",
    "A5",          "PRA5Rotated", "A6",        "ISOB5",
    "JISB5",       "JISB6",       "EnvDL",     "EnvC5",
    "Env10",       "EnvMonarch",  "Qv3x5",     "FanFoldGermanLegal",
    "Postcard",    "EnvYou4",     "EnvChou3",  "210x270mm",
    "195x270mm",   "184x260mm",   "197x273mm", "MexicanLegal",
    "IndianLegal",
};
// The printer's paper codes (9 is A4, 1 Letter); the PJL header turns them
// into paper words.
inline constexpr std::int16_t tblInnerVal_PaperType[] = {
    9, 1, 5, 7, 11, 61, 70, 13, 34, 69, 27, 28, 20, 37, 261, 14, 43, 91, 73, 74, 77, 76, 75, 78, 79,
};

inline constexpr const char* tblCmdItem_PaperSource[] = {
    "AutoSelect", "Tray1", "Tray2", "Tray3", "Tray4", "Tray5", "MPTray", "Manual",
};
inline constexpr std::int16_t tblInnerVal_PaperSource[] = {0, 1, 2, 3, 4, 5, 6, 7};

inline constexpr const char* tblCmdItem_Resolution[] = {"Normal", "Fine"};
inline constexpr std::int16_t tblInnerVal_Resolution[] = {1, 2};

inline constexpr const char* tblCmdItem_Collate[] = {"OFF", "ON"};
inline constexpr std::int16_t tblInnerVal_Collate[] = {0, 1};

inline constexpr const char* tblPrmItem_ReversePrinting[] = {"OFF", "ON"};
inline constexpr std::int16_t tblInnerVal_ReversePrinting[] = {0, 1};

// Auto is 2 and Mono 0: the job record's nColorMode compares these codes.
inline constexpr const char* tblCmdItem_ColorOrMono[] = {"Auto", "FullColor", "Mono"};
inline constexpr std::int16_t tblInnerVal_ColorOrMono[] = {2, 1, 0};

inline constexpr const char* tblCmdItem_ColorMatch[] = {"Auto", "Normal", "Vivid", "None"};
inline constexpr std::int16_t tblInnerVal_ColorMatch[] = {3, 1, 2, 0};

inline constexpr const char* tblPrmItem_Gray[] = {"OFF", "ON"};
inline constexpr std::int16_t tblInnerVal_Gray[] = {0, 1};

inline constexpr const char* tblPrmItem_ColorEnhance[] = {"OFF", "ON"};
inline constexpr std::int16_t tblInnerVal_ColorEnhance[] = {0, 1};

inline constexpr const char* tblPrmItem_TonerSaveMode[] = {"OFF", "ON"};
inline constexpr std::int16_t tblInnerVal_TonerSaveMode[] = {0, 1};

inline constexpr const char* tblCmdItem_ImproveOutput[] = {"OFF", "QVLessPaperCurl",
                                                           "QVFixIntensity"};
inline constexpr std::int16_t tblInnerVal_ImproveOutput[] = {0, 1, 2};

inline constexpr const char* tblCmdItem_Duplex[] = {"None", "DuplexTumble", "DuplexNoTumble"};
inline constexpr std::int16_t tblInnerVal_Duplex[] = {0, 1, 2};

inline constexpr const char* tblPrmItem_SKIP_BLANK[] = {"OFF", "ON"};
inline constexpr std::int16_t tblInnerVal_SKIP_BLANK[] = {0, 1};

inline constexpr const char* tblCmdItem_Language[] = {"us", "canada", "other"};
inline constexpr std::int16_t tblInnerVal_Language[] = {1, 2, 0};

// Each word list and its value list are parallel.
static_assert(std::size(tblCmdItem_Media) == std::size(tblInnerVal_Media));
static_assert(std::size(tblCmdItem_PaperType) == std::size(tblInnerVal_PaperType));
static_assert(std::size(tblCmdItem_PaperSource) == std::size(tblInnerVal_PaperSource));
static_assert(std::size(tblCmdItem_Resolution) == std::size(tblInnerVal_Resolution));
static_assert(std::size(tblCmdItem_Collate) == std::size(tblInnerVal_Collate));
static_assert(std::size(tblPrmItem_ReversePrinting) == std::size(tblInnerVal_ReversePrinting));
static_assert(std::size(tblCmdItem_ColorOrMono) == std::size(tblInnerVal_ColorOrMono));
static_assert(std::size(tblCmdItem_ColorMatch) == std::size(tblInnerVal_ColorMatch));
static_assert(std::size(tblPrmItem_Gray) == std::size(tblInnerVal_Gray));
static_assert(std::size(tblPrmItem_ColorEnhance) == std::size(tblInnerVal_ColorEnhance));
static_assert(std::size(tblPrmItem_TonerSaveMode) == std::size(tblInnerVal_TonerSaveMode));
static_assert(std::size(tblCmdItem_ImproveOutput) == std::size(tblInnerVal_ImproveOutput));
static_assert(std::size(tblCmdItem_Duplex) == std::size(tblInnerVal_Duplex));
static_assert(std::size(tblPrmItem_SKIP_BLANK) == std::size(tblInnerVal_SKIP_BLANK));
static_assert(std::size(tblCmdItem_Language) == std::size(tblInnerVal_Language));

// --- Lookups -----------------------------------------------------------------

// Inner value of the chosen item of the selection parameter at `index`.
// Asking for a numerical parameter, an index outside the table or an entry
// whose chosen item is out of range is a programming error: the process stops
// with "pParam->nIndex >= 0" on standard error, as an assertion would, rather
// than reading past a table (the check stays in release builds).
std::int16_t GetPjpInnerValue(int index, const RcInfo* rc);

// Chosen item word of the selection parameter whose key equals `key`
// (exact, case-sensitive), walking the kQvParamCount entries in table order.
// Null when no key matches or the key names a numerical parameter.
const char* GetKeyValue(const char* key, const RcInfo* rc);

}  // namespace qv::colour
