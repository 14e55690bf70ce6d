// compmain_header.cc - the PJL job header and the PCL job set-up of a mono
// job. The PJL part goes to the printer only; everything from the PCL reset
// on is also recorded in the sorted-copy file, because every replayed copy
// must start with the same set-up.
#include <cstring>
#include <string_view>

#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/rawtoqv.h"

namespace {

template <std::size_t N>
std::string_view fieldText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

int sendText(std::FILE* out, std::FILE* copy, std::string_view text) {
  return PCLSendData(out, copy, text.data(), text.size());
}

// Sends what snprintf put in `buffer`, which a long text may have cut.
template <std::size_t N>
int sendPrinted(std::FILE* out, std::FILE* copy, const char (&buffer)[N], int printed) {
  if (printed < 0) return 0;
  const std::size_t length = static_cast<std::size_t>(printed) < N ? printed : N - 1;
  return PCLSendData(out, copy, buffer, length);
}

// KEY="value" and a line feed.
void sendQuoted(std::FILE* out, const FixedCommand& key, std::string_view value) {
  PCLSendCommand(out, nullptr, key);
  PCLSendCommand(out, nullptr, DQUOT);
  sendText(out, nullptr, value);
  PCLSendCommand(out, nullptr, DQUOT);
  PCLSendCommand(out, nullptr, PJLLF);
}

// The print log: who printed what, when and from where, as the printer's
// job log shows it. Both times come from the one clock reading of the job.
void sendPrintLog(std::FILE* out, const std::tm& local, std::string_view owner,
                  std::string_view nodeName) {
  char when[256];
  char line[512];
  sendText(out, nullptr, "@PJL PRINTLOG ITEM = 1,PRINTER\n");
  if (std::strftime(when, sizeof when, "%a,%d %b %Y %H:%M:%S", &local) == 0) when[0] = '\0';
  sendPrinted(out, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL PRINTLOG ITEM = 2,%s\n", when));
  sendPrinted(out, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL PRINTLOG ITEM = 3,%.*s\n",
                            static_cast<int>(owner.size()), owner.data()));
  sendPrinted(out, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL PRINTLOG ITEM = 4,%.*s\n",
                            static_cast<int>(nodeName.size()), nodeName.data()));
  if (std::strftime(when, sizeof when, "%Y%m%d%H%M%S", &local) == 0) when[0] = '\0';
  sendPrinted(out, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL SET JOBTIME = %s\n", when));
}

// Formatted into at most 127 characters, as the trailer's end-of-job line.
void sendJobLine(std::FILE* out, std::string_view jobName) {
  char line[128];
  sendPrinted(out, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL JOB NAME=\"%.*s\"\n",
                            static_cast<int>(jobName.size()), jobName.data()));
}

constexpr std::string_view kCodeSetUtf8 = "@PJL SET STRINGCODESET=UTF8\n";

void sendIdentification(std::FILE* out, const PrintSettings& settings, const std::tm* local) {
  const std::string_view owner = fieldText(settings.owner);
  const std::string_view password = fieldText(settings.password);
  const std::string_view jobName = fieldText(settings.jobName);
  const std::string_view nodeName = fieldText(settings.nodeName);
  const bool noJobLine = cflagSet(0, 1);

  if (!owner.empty() && !password.empty() && !jobName.empty()) {
    // Secure print: the printer holds the job until the owner types the
    // key on its panel. The key is not quoted; the names are.
    PCLSendCommand(out, nullptr, PJL_REPRINTOFF);
    PCLSendCommand(out, nullptr, PJLLF);
    PCLSendCommand(out, nullptr, PJL_HOLD);
    PCLSendCommand(out, nullptr, PJLLF);
    PCLSendCommand(out, nullptr, PJL_HOLDTYPE);
    PCLSendCommand(out, nullptr, PJLLF);
    PCLSendCommand(out, nullptr, PJL_HOLDKEY);
    sendText(out, nullptr, password);
    PCLSendCommand(out, nullptr, PJLLF);
    sendQuoted(out, PJL_USERNAME, owner);
    sendQuoted(out, PJL_LOGINUSER, owner);
    sendQuoted(out, PJL_JOBNAME, jobName);
    if (!nodeName.empty() && local != nullptr) sendPrintLog(out, *local, owner, nodeName);
    if (!noJobLine) sendJobLine(out, jobName);
    sendText(out, nullptr, kCodeSetUtf8);
  } else if (!owner.empty() && !jobName.empty()) {
    sendQuoted(out, PJL_LOGINUSER, owner);
    if (local != nullptr) {
      sendPrintLog(out, *local, owner, nodeName);
      if (!noJobLine) sendJobLine(out, jobName);
      sendText(out, nullptr, kCodeSetUtf8);
    }
  }
}

void sendResolution(std::FILE* out, int resMode) {
  const bool no1200Off = cflagSet(1, 2);
  switch (resMode) {
    case 1:
      if (!no1200Off) PCLSendCommand(out, nullptr, PJLReso1200_Off);
      PCLSendCommand(out, nullptr, PJLReso300);
      break;
    case 3:
      PCLSendCommand(out, nullptr, PJLReso1200B);
      break;
    case 4:
      PCLSendCommand(out, nullptr, PJLReso600);
      PCLSendCommand(out, nullptr, PJLReso1200_True);
      break;
    case 5:
      PCLSendCommand(out, nullptr, PJLResoXR1200B);
      break;
    case 6:
      PCLSendCommand(out, nullptr, PJLReso600);
      break;
    default:
      if (!no1200Off) PCLSendCommand(out, nullptr, PJLReso1200_Off);
      PCLSendCommand(out, nullptr, PJLReso600);
      if (cflagSet(1, 1)) PCLSendCommand(out, nullptr, PJLXrmMode_ON);
      break;
  }
}

void sendSourceTray(std::FILE* out, int sourceCode) {
  static constexpr const FixedCommand* kTrays[] = {
      &PJLSourceTray_Auto, &PJLSourceTray_1, &PJLSourceTray_2, &PJLSourceTray_3,
      &PJLSourceTray_4,    &PJLSourceTray_5, nullptr,  // manual feed: PCL only
      &PJLSourceTray_MP,
  };
  if (sourceCode >= 0 && sourceCode < 8) {
    if (kTrays[sourceCode] != nullptr) PCLSendCommand(out, nullptr, *kTrays[sourceCode]);
  } else {
    PCLSendCommand(out, nullptr, PJLSourceTray_Auto);
  }
}

void sendMedia(std::FILE* out, int mediaCode) {
  // "Env.Thin" (8) has no media type of its own: the printer takes it as
  // regular paper.
  static constexpr const FixedCommand* kMedia[] = {
      &PJLMedia_Auto,   &PJLMedia_Thin,     &PJLMedia_Thick,     &PJLMedia_Thick2,
      &PJLMedia_Thick2, &PJLMedia_Transp,   &PJLMedia_Envelopes, &PJLMedia_EnvThick,
      &PJLMedia_Auto,   &PJLMedia_Recycled,
  };
  const bool known = mediaCode >= 0 && mediaCode < 10;
  PCLSendCommand(out, nullptr, known ? *kMedia[mediaCode] : PJLMedia_Auto);
}

void sendSleep(std::FILE* out, int sleepTime) {
  if (sleepTime == 0) return;
  char minutes[16];
  const int printed = std::snprintf(minutes, sizeof minutes, "%d\n", sleepTime);
  PCLSendCommand(out, nullptr, PJL_DEFAULT_AUTOSLEEP);
  PCLSendCommand(out, nullptr, PJL_SET_ON);
  PCLSendCommand(out, nullptr, PJL_DEFAULT_TIMEOUTSLEEP);
  sendPrinted(out, nullptr, minutes, printed);
  PCLSendCommand(out, nullptr, PJL_SET_AUTOSLEEP);
  PCLSendCommand(out, nullptr, PJL_SET_ON);
  PCLSendCommand(out, nullptr, PJL_SET_TIMEOUTSLEEP);
  sendPrinted(out, nullptr, minutes, printed);
}

void sendOutputBin(std::FILE* out, int binCode) {
  switch (binCode) {
    case 0:
      PCLSendCommand(out, nullptr, PJLOutputBin_AUTO);
      break;
    case 1:
      PCLSendCommand(out, nullptr, PJLOutputBin_UPPER);
      break;
    case 2:
      PCLSendCommand(out, nullptr, PJLOutputBin_1);
      break;
    case 3:
      PCLSendCommand(out, nullptr, PJLOutputBin_2);
      break;
    case 4:
      PCLSendCommand(out, nullptr, PJLOutputBin_3);
      break;
    case 5:
      PCLSendCommand(out, nullptr, PJLOutputBin_4);
      break;
    case 6:
      PCLSendCommand(out, nullptr, PJLOutputBin_ALLSTACKER);
      break;
    case 7:
    case 8:
    case 9:
    case 10:
      // The first sorted set is the job itself; the driver replays it.
      PCLSendCommand(out, nullptr, PJLOutputBin_ALLSORTER);
      PCLSendCommand(out, nullptr, PJLSortCopy1);
      break;
    case 11:
      PCLSendCommand(out, nullptr, PJLOutputBin_Op);
      break;
    default:
      break;  // no bin given
  }
}

// The page-size command of the paper match, as a fixed command.
FixedCommand pageSizeCommand(const char* text) {
  FixedCommand command{};
  const std::size_t length = strnlen(text, 63);
  command[0] = static_cast<std::uint8_t>(length);
  std::memcpy(command.data() + 1, text, length);
  return command;
}

}  // namespace

void SendSettings() {}

int BeginSendData(std::FILE* out, std::FILE* copy, const PrintSettings& settings) {
  const std::time_t now = std::time(nullptr);
  return BeginSendData(
      out, copy, settings,
      now == static_cast<std::time_t>(-1) ? std::nullopt : std::optional<std::time_t>(now));
}

int BeginSendData(std::FILE* out, std::FILE* copy, const PrintSettings& settings,
                  std::optional<std::time_t> now) {
  const SParam& param = *sParam;
  std::tm localTime{};
  const std::tm* local = nullptr;
  if (now && localtime_r(&*now, &localTime) != nullptr) local = &localTime;

  // PJL: to the printer only.
  PCLSendCommand(out, nullptr, PJLEnter);
  sendIdentification(out, settings, local);
  sendResolution(out, param.resMode);
  PCLSendCommand(out, nullptr, param.economy == 1 ? PJLEconomy_On : PJLEconomy_Off);
  sendSourceTray(out, param.sourceCode);
  sendMedia(out, param.mediaCode);
  sendSleep(out, param.sleepTime);

  PaperMatch paper;
  if (check_custom_paper(settings)) {
    checkSendPaper(param.paperLength120, param.paperWidth120, paper);
  } else {
    checkSendPaper_custompaper(param.paperLength120, param.paperWidth120, paper);
  }
  const bool paperByName = cflagSet(0, 2);
  PCLSendCommand(out, nullptr, PJLOrinPortrait);
  if (paperByName) {
    PCLSendCommand(out, nullptr, PJLSetPaper);
    sendText(out, nullptr, paper.name);
    PCLSendCommand(out, nullptr, PJLLF);
  }
  PCLSendCommand(out, nullptr, PJLSetPProtect_Auto);
  sendOutputBin(out, param.binCode);
  PCLSendCommand(out, nullptr, PJLEnterPCL3);

  // PCL set-up: to the printer and to the sorted-copy file.
  PCLSendCommand(out, copy, PCLReset);
  if (!paperByName) PCLSendCommand(out, copy, pageSizeCommand(paper.pclCommand));
  if (param.sourceCode != 0 && !cflagSet(0, 4)) PCLSendCommand(out, copy, PCLnotAutoContinue);
  switch (param.resMode) {
    case 1:
      PCLSendCommand(out, copy, PCLSetUnitOfMeasure300);
      PCLSendCommand(out, copy, PCLSetResolution300);
      break;
    case 3:
    case 5:
      PCLSendCommand(out, copy, PCLSetUnitOfMeasure1200);
      PCLSendCommand(out, copy, PCLSetResolution1200);
      break;
    case 4:
      // XR1200A: 1200 units, rows sent at 600 dpi and printed twice.
      PCLSendCommand(out, copy, PCLSetUnitOfMeasure1200);
      PCLSendCommand(out, copy, PCLSetResolution600);
      break;
    default:
      PCLSendCommand(out, copy, PCLSetUnitOfMeasure600);
      PCLSendCommand(out, copy, PCLSetResolution600);
      break;
  }
  if (param.sourceCode == 6) PCLSendCommand(out, copy, PCLManualInput);
  char copies[16];
  PCLSendCommand(out, copy, PCLCopy);
  sendPrinted(out, copy, copies,
              std::snprintf(copies, sizeof copies, "%dX", param.copies >= 2 ? param.copies : 1));
  const FixedCommand& duplex = param.duplexOn == 0
                                   ? PCLDuplex_None
                                   : (param.duplexLong == 1 ? PCLDuplex_Long : PCLDuplex_Short);
  return PCLSendCommand(out, copy, duplex);
}
