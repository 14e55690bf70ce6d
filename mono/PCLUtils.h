// PCLUtils.h - the mono filter's output primitives, its fixed PJL/PCL
// command records, the job parameter record and the paper matching.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "mono/qvcommon.h"

namespace qv::mono {

// A fixed command: byte 0 is the length L (signed 8-bit), bytes 1 to L the
// command bytes, the rest zero. L of 0 or less sends nothing.
using FixedCommand = std::array<std::uint8_t, 65>;

// Not constexpr: calling it makes a too-long fixed command a compile error.
void fixedCommandTooLong();

consteval FixedCommand fixedCommand(std::string_view bytes) {
  FixedCommand command{};
  if (bytes.size() > 63) fixedCommandTooLong();
  command[0] = static_cast<std::uint8_t>(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i)
    command[i + 1] = static_cast<std::uint8_t>(bytes[i]);
  return command;
}

// Universal exit and PJL framing.
inline constexpr FixedCommand PJLEnter = fixedCommand("\x1b%-12345X@PJL\n");
inline constexpr FixedCommand PJLTerminate = fixedCommand("\x1b%-12345X");
inline constexpr FixedCommand PJLEndOfJob = fixedCommand("@PJL EOJ NAME=\"Linux print job\"\n");
inline constexpr FixedCommand PJLLF = fixedCommand("\n");
inline constexpr FixedCommand DQUOT = fixedCommand("\"");
inline constexpr FixedCommand PJLEnterPCL3 = fixedCommand("@PJL ENTER LANGUAGE = PCL\n");

// Resolution.
inline constexpr FixedCommand PJLReso300 = fixedCommand("@PJL SET RESOLUTION = 300\n");
inline constexpr FixedCommand PJLReso600 = fixedCommand("@PJL SET RESOLUTION = 600\n");
inline constexpr FixedCommand PJLReso1200B =
    fixedCommand("@PJL SET RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=HALF\n");
inline constexpr FixedCommand PJLResoXR1200B =
    fixedCommand("@PJL SET RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=FULL\n");
inline constexpr FixedCommand PJLReso1200_Off = fixedCommand("@PJL SET RAS1200MODE = OFF\n");
inline constexpr FixedCommand PJLReso1200_True = fixedCommand("@PJL SET RAS1200MODE = TRUE\n");
inline constexpr FixedCommand PJLXrmMode_ON = fixedCommand("@PJL SET XRMMODE = ON\n");

// Toner save.
inline constexpr FixedCommand PJLEconomy_On = fixedCommand("@PJL SET ECONOMODE = ON\n");
inline constexpr FixedCommand PJLEconomy_Off = fixedCommand("@PJL SET ECONOMODE = OFF\n");

// Paper source.
inline constexpr FixedCommand PJLSourceTray_1 = fixedCommand("@PJL SET SOURCETRAY = TRAY1\n");
inline constexpr FixedCommand PJLSourceTray_2 = fixedCommand("@PJL SET SOURCETRAY = TRAY2\n");
inline constexpr FixedCommand PJLSourceTray_3 = fixedCommand("@PJL SET SOURCETRAY = TRAY3\n");
inline constexpr FixedCommand PJLSourceTray_4 = fixedCommand("@PJL SET SOURCETRAY = TRAY4\n");
inline constexpr FixedCommand PJLSourceTray_5 = fixedCommand("@PJL SET SOURCETRAY = TRAY5\n");
inline constexpr FixedCommand PJLSourceTray_MP = fixedCommand("@PJL SET SOURCETRAY = MPTRAY\n");
inline constexpr FixedCommand PJLSourceTray_Auto = fixedCommand("@PJL SET SOURCETRAY = AUTO\n");

// Media.
inline constexpr FixedCommand PJLMedia_Auto = fixedCommand("@PJL SET MEDIATYPE = REGULAR\n");
inline constexpr FixedCommand PJLMedia_Thin = fixedCommand("@PJL SET MEDIATYPE = THIN\n");
inline constexpr FixedCommand PJLMedia_Thick = fixedCommand("@PJL SET MEDIATYPE = THICK\n");
inline constexpr FixedCommand PJLMedia_Thick2 = fixedCommand("@PJL SET MEDIATYPE = THICK2\n");
inline constexpr FixedCommand PJLMedia_Transp = fixedCommand("@PJL SET MEDIATYPE = TRANSPARENCY\n");
inline constexpr FixedCommand PJLMedia_Envelopes = fixedCommand("@PJL SET MEDIATYPE = ENVELOPES\n");
inline constexpr FixedCommand PJLMedia_EnvThick = fixedCommand("@PJL SET MEDIATYPE = ENVTHICK\n");
inline constexpr FixedCommand PJLMedia_Recycled = fixedCommand("@PJL SET MEDIATYPE = RECYCLED\n");

// Sleep.
inline constexpr FixedCommand PJL_DEFAULT_AUTOSLEEP = fixedCommand("@PJL DEFAULT AUTOSLEEP=");
inline constexpr FixedCommand PJL_DEFAULT_TIMEOUTSLEEP = fixedCommand("@PJL DEFAULT TIMEOUTSLEEP=");
inline constexpr FixedCommand PJL_SET_AUTOSLEEP = fixedCommand("@PJL SET AUTOSLEEP=");
inline constexpr FixedCommand PJL_SET_TIMEOUTSLEEP = fixedCommand("@PJL SET TIMEOUTSLEEP=");
inline constexpr FixedCommand PJL_SET_ON = fixedCommand("ON\n");

// Secure print and identification.
inline constexpr FixedCommand PJL_REPRINTOFF = fixedCommand("@PJL SET REPRINT=OFF");
inline constexpr FixedCommand PJL_HOLD = fixedCommand("@PJL SET HOLD=STORE");
inline constexpr FixedCommand PJL_HOLDTYPE = fixedCommand("@PJL SET HOLDTYPE=PRIVATE");
inline constexpr FixedCommand PJL_HOLDKEY = fixedCommand("@PJL SET HOLDKEY=");
inline constexpr FixedCommand PJL_USERNAME = fixedCommand("@PJL SET USERNAME=");
inline constexpr FixedCommand PJL_LOGINUSER = fixedCommand("@PJL SET LOGINUSER=");
inline constexpr FixedCommand PJL_JOBNAME = fixedCommand("@PJL SET JOBNAME=");

// Page.
inline constexpr FixedCommand PJLOrinPortrait = fixedCommand("@PJL SET ORIENTATION = PORTRAIT\n");
inline constexpr FixedCommand PJLSetPaper = fixedCommand("@PJL SET PAPER = ");
inline constexpr FixedCommand PJLSetPProtect_Auto = fixedCommand("@PJL SET PAGEPROTECT = AUTO\n");

// Output bin and sorted copies.
inline constexpr FixedCommand PJLOutputBin_AUTO = fixedCommand("@PJL SET OUTBIN = AUTO\n");
inline constexpr FixedCommand PJLOutputBin_UPPER = fixedCommand("@PJL SET OUTBIN = UPPER\n");
inline constexpr FixedCommand PJLOutputBin_1 =
    fixedCommand("@PJL SET OUTBIN = OPTIONALOUTPUTBIN1\n");
inline constexpr FixedCommand PJLOutputBin_2 =
    fixedCommand("@PJL SET OUTBIN = OPTIONALOUTPUTBIN2\n");
inline constexpr FixedCommand PJLOutputBin_3 =
    fixedCommand("@PJL SET OUTBIN = OPTIONALOUTPUTBIN3\n");
inline constexpr FixedCommand PJLOutputBin_4 =
    fixedCommand("@PJL SET OUTBIN = OPTIONALOUTPUTBIN4\n");
inline constexpr FixedCommand PJLOutputBin_ALLSTACKER =
    fixedCommand("@PJL SET OUTBIN = ALLSTACKER\n");
inline constexpr FixedCommand PJLOutputBin_ALLSORTER =
    fixedCommand("@PJL SET OUTBIN = ALLSORTER\n");
inline constexpr FixedCommand PJLOutputBin_Op = fixedCommand("@PJL SET OUTBIN = OPTIONAL\n");
inline constexpr FixedCommand PJLSortCopy1 = fixedCommand("@PJL SET COPY=1\n");
inline constexpr FixedCommand PJLSortCopy2 = fixedCommand("@PJL SET COPY=2\n");
inline constexpr FixedCommand PJLSortCopy3 = fixedCommand("@PJL SET COPY=3\n");
inline constexpr FixedCommand PJLSortCopy4 = fixedCommand("@PJL SET COPY=4\n");
inline constexpr FixedCommand PJLSortCopy5 = fixedCommand("@PJL SET COPY=5\n");

// PCL job set-up.
inline constexpr FixedCommand PCLReset = fixedCommand(
    "\x1b"
    "E");
inline constexpr FixedCommand PCLnotAutoContinue = fixedCommand("\x1b&l1001H");
inline constexpr FixedCommand PCLManualInput = fixedCommand("\x1b&l2H");
inline constexpr FixedCommand PCLSetUnitOfMeasure300 = fixedCommand("\x1b&u300D");
inline constexpr FixedCommand PCLSetUnitOfMeasure600 = fixedCommand("\x1b&u600D");
inline constexpr FixedCommand PCLSetUnitOfMeasure1200 = fixedCommand("\x1b&u1200D");
inline constexpr FixedCommand PCLSetResolution300 = fixedCommand("\x1b*t300R");
inline constexpr FixedCommand PCLSetResolution600 = fixedCommand("\x1b*t600R");
inline constexpr FixedCommand PCLSetResolution1200 = fixedCommand("\x1b*t1200R");
inline constexpr FixedCommand PCLCopy = fixedCommand("\x1b&l");
inline constexpr FixedCommand PCLDuplex_None = fixedCommand("\x1b&l0S");
inline constexpr FixedCommand PCLDuplex_Long = fixedCommand("\x1b&l1S");
inline constexpr FixedCommand PCLDuplex_Short = fixedCommand("\x1b&l2S");

// Raster transfer and page end.
inline constexpr FixedCommand PCLStart1030 = fixedCommand("\x1b*b1030m");
inline constexpr FixedCommand PCLTransRasterCombine = fixedCommand("w");
inline constexpr FixedCommand PCLEnd1030 = fixedCommand("1030M");
inline constexpr FixedCommand PCLFormFeed = fixedCommand("\f");

struct MonoJobState;

// Writes the command bytes to `copy` (when not null), then to the job's
// printer sink. Returns Status::kWriteFailed when the bytes did not reach the
// printer (this or an earlier write failed: job.outputFailed), else kOk.
Status PCLSendCommand(MonoJobState& job, std::FILE* copy, const FixedCommand& command);

// Writes `count` bytes to `copy` (when not null), then to the job's printer
// sink. Returns Status::kWriteFailed when they did not reach the printer, else
// kOk. The first failure is reported through the job's environment.
Status PCLSendData(MonoJobState& job, std::FILE* copy, const void* bytes, std::size_t count);

// The job parameter record: the settings as small codes, the paper size in
// 1/120 inch and the left shift of the image in bytes.
struct SParam {
  std::int16_t sourceCode;      // 0 auto, 1-5 tray 1-5, 6 manual feed, 7 multi-purpose tray
  std::int16_t resMode;         // 1 300, 2 600, 3 1200, 4 XR1200A, 5 XR1200B, 6 600x300
  std::int16_t economy;         // 1 toner save on
  std::int16_t mediaCode;       // 0-9
  std::int16_t duplexOn;        // 1 both sides
  std::int16_t duplexLong;      // 1 long edge, 0 short edge
  std::int16_t paperLength120;  // page length in 1/120 inch
  std::int16_t paperWidth120;   // page width in 1/120 inch
  std::int16_t leftShift;       // image shift in bytes: 0 or at least 2
  std::int16_t sleepTime;       // minutes; 0 printer default
  std::int16_t copies;
  std::int16_t binCode;  // outputBin - 1: -1 no bin, 7-10 sorters
};

// Fills every field of `param` from `settings`.
void setSParam(SParam& param, const PrintSettings& settings);

// One paper the printer knows, sides in 1/120 inch.
struct PaperCheckEntry {
  char name[18];
  std::int16_t length120;  // longer side
  std::int16_t width120;   // shorter side
  const char* pclCommand;  // page-size command
};

inline constexpr std::size_t kPaperCheckCount = 18;
extern const PaperCheckEntry paperCheckTable[kPaperCheckCount];

// The paper chosen for a page and the margin that centres the page on it.
struct PaperMatch {
  const char* name = nullptr;
  int margin = 0;  // 1/720 inch: 3 x (paper width - page width), widths in 1/120 inch
  const char* pclCommand = nullptr;
};

// The narrowest admissible paper of paperCheckTable that holds the page;
// "LEGAL" when none does. FOLIO, 3x5 and EnvYou4 are admissible only with
// their flags bits (digit 2: 1, 2, 4).
void checkSendPaper(const PrintSettings& settings, std::int16_t length120, std::int16_t width120,
                    PaperMatch& match);

// A custom paper: "CUSTOM", centred on the width of LEGAL.
void checkSendPaper_custompaper(std::int16_t length120, std::int16_t width120, PaperMatch& match);

// True unless the paper type word begins with "CUSTOM" (a standard size,
// matched against the table).
bool check_custom_paper(const PrintSettings& settings);

}  // namespace qv::mono
