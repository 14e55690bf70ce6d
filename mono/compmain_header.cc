// compmain_header.cc - the PJL job header and the PCL job set-up of a mono
// job. The PJL part goes to the printer only; everything from the PCL reset
// on is also recorded in the sorted-copy file, because every replayed copy
// must start with the same set-up.
#include <cstring>
#include <string_view>

#include "mono/PCLUtils.h"
#include "mono/compmain.h"

namespace qv::mono {

namespace {

template <std::size_t N>
std::string_view fieldText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

Status sendText(MonoJobState& job, std::FILE* copy, std::string_view text) {
  return PCLSendData(job, copy, text.data(), text.size());
}

// Sends what snprintf put in `buffer`, which a long text may have cut.
template <std::size_t N>
Status sendPrinted(MonoJobState& job, std::FILE* copy, const char (&buffer)[N], int printed) {
  if (printed < 0) return Status::kOk;
  const std::size_t length = static_cast<std::size_t>(printed) < N ? printed : N - 1;
  return PCLSendData(job, copy, buffer, length);
}

// KEY="value" and a line feed.
void sendQuoted(MonoJobState& job, const FixedCommand& key, std::string_view value) {
  PCLSendCommand(job, nullptr, key);
  PCLSendCommand(job, nullptr, DQUOT);
  sendText(job, nullptr, value);
  PCLSendCommand(job, nullptr, DQUOT);
  PCLSendCommand(job, nullptr, PJLLF);
}

// The print log: who printed what, when and from where, as the printer's
// job log shows it. Both times come from the one clock reading of the job.
void sendPrintLog(MonoJobState& job, const std::tm& local, std::string_view owner,
                  std::string_view nodeName) {
  char when[256];
  char line[512];
  sendText(job, nullptr, "@PJL PRINTLOG ITEM = 1,PRINTER\n");
  if (std::strftime(when, sizeof when, "%a,%d %b %Y %H:%M:%S", &local) == 0) when[0] = '\0';
  sendPrinted(job, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL PRINTLOG ITEM = 2,%s\n", when));
  sendPrinted(job, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL PRINTLOG ITEM = 3,%.*s\n",
                            static_cast<int>(owner.size()), owner.data()));
  sendPrinted(job, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL PRINTLOG ITEM = 4,%.*s\n",
                            static_cast<int>(nodeName.size()), nodeName.data()));
  if (std::strftime(when, sizeof when, "%Y%m%d%H%M%S", &local) == 0) when[0] = '\0';
  sendPrinted(job, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL SET JOBTIME = %s\n", when));
}

// Formatted into at most 127 characters, as the trailer's end-of-job line.
void sendJobLine(MonoJobState& job, std::string_view jobName) {
  char line[128];
  sendPrinted(job, nullptr, line,
              std::snprintf(line, sizeof line, "@PJL JOB NAME=\"%.*s\"\n",
                            static_cast<int>(jobName.size()), jobName.data()));
}

constexpr std::string_view kCodeSetUtf8 = "@PJL SET STRINGCODESET=UTF8\n";

void sendIdentification(MonoJobState& job, const PrintSettings& settings, const std::tm* local) {
  const std::string_view owner = fieldText(settings.owner);
  const std::string_view password = fieldText(settings.password);
  const std::string_view jobName = fieldText(settings.jobName);
  const std::string_view nodeName = fieldText(settings.nodeName);
  const bool noJobLine = cflagSet(job.settings, 0, 1);

  if (!owner.empty() && !password.empty() && !jobName.empty()) {
    // Secure print: the printer holds the job until the owner types the
    // key on its panel. The key is not quoted; the names are.
    for (const FixedCommand* line : {&PJL_REPRINTOFF, &PJL_HOLD, &PJL_HOLDTYPE}) {
      PCLSendCommand(job, nullptr, *line);
      PCLSendCommand(job, nullptr, PJLLF);
    }
    PCLSendCommand(job, nullptr, PJL_HOLDKEY);
    sendText(job, nullptr, password);
    PCLSendCommand(job, nullptr, PJLLF);
    sendQuoted(job, PJL_USERNAME, owner);
    sendQuoted(job, PJL_LOGINUSER, owner);
    sendQuoted(job, PJL_JOBNAME, jobName);
    if (!nodeName.empty() && local != nullptr) sendPrintLog(job, *local, owner, nodeName);
    if (!noJobLine) sendJobLine(job, jobName);
    sendText(job, nullptr, kCodeSetUtf8);
  } else if (!owner.empty() && !jobName.empty()) {
    sendQuoted(job, PJL_LOGINUSER, owner);
    if (local != nullptr) {
      sendPrintLog(job, *local, owner, nodeName);
      if (!noJobLine) sendJobLine(job, jobName);
      sendText(job, nullptr, kCodeSetUtf8);
    }
  }
}

void sendResolution(MonoJobState& job, int resMode) {
  const bool no1200Off = cflagSet(job.settings, 1, 2);
  switch (resMode) {
    case 1:
      if (!no1200Off) PCLSendCommand(job, nullptr, PJLReso1200_Off);
      PCLSendCommand(job, nullptr, PJLReso300);
      break;
    case 3:
      PCLSendCommand(job, nullptr, PJLReso1200B);
      break;
    case 4:
      PCLSendCommand(job, nullptr, PJLReso600);
      PCLSendCommand(job, nullptr, PJLReso1200_True);
      break;
    case 5:
      PCLSendCommand(job, nullptr, PJLResoXR1200B);
      break;
    case 6:
      PCLSendCommand(job, nullptr, PJLReso600);
      break;
    default:
      if (!no1200Off) PCLSendCommand(job, nullptr, PJLReso1200_Off);
      PCLSendCommand(job, nullptr, PJLReso600);
      if (cflagSet(job.settings, 1, 1)) PCLSendCommand(job, nullptr, PJLXrmMode_ON);
      break;
  }
}

void sendSourceTray(MonoJobState& job, int sourceCode) {
  static constexpr const FixedCommand* kTrays[] = {
      &PJLSourceTray_Auto, &PJLSourceTray_1, &PJLSourceTray_2, &PJLSourceTray_3,
      &PJLSourceTray_4,    &PJLSourceTray_5, nullptr,  // manual feed: PCL only
      &PJLSourceTray_MP,
  };
  if (sourceCode >= 0 && sourceCode < 8) {
    if (kTrays[sourceCode] != nullptr) PCLSendCommand(job, nullptr, *kTrays[sourceCode]);
  } else {
    PCLSendCommand(job, nullptr, PJLSourceTray_Auto);
  }
}

void sendMedia(MonoJobState& job, int mediaCode) {
  // "Env.Thin" (8) has no media type of its own: the printer takes it as
  // regular paper.
  static constexpr const FixedCommand* kMedia[] = {
      &PJLMedia_Auto,   &PJLMedia_Thin,     &PJLMedia_Thick,     &PJLMedia_Thick2,
      &PJLMedia_Thick2, &PJLMedia_Transp,   &PJLMedia_Envelopes, &PJLMedia_EnvThick,
      &PJLMedia_Auto,   &PJLMedia_Recycled,
  };
  const bool known = mediaCode >= 0 && mediaCode < 10;
  PCLSendCommand(job, nullptr, known ? *kMedia[mediaCode] : PJLMedia_Auto);
}

void sendSleep(MonoJobState& job, int sleepTime) {
  if (sleepTime == 0) return;
  char minutes[16];
  const int printed = std::snprintf(minutes, sizeof minutes, "%d\n", sleepTime);
  PCLSendCommand(job, nullptr, PJL_DEFAULT_AUTOSLEEP);
  PCLSendCommand(job, nullptr, PJL_SET_ON);
  PCLSendCommand(job, nullptr, PJL_DEFAULT_TIMEOUTSLEEP);
  sendPrinted(job, nullptr, minutes, printed);
  PCLSendCommand(job, nullptr, PJL_SET_AUTOSLEEP);
  PCLSendCommand(job, nullptr, PJL_SET_ON);
  PCLSendCommand(job, nullptr, PJL_SET_TIMEOUTSLEEP);
  sendPrinted(job, nullptr, minutes, printed);
}

void sendOutputBin(MonoJobState& job, int binCode) {
  switch (binCode) {
    case 0:
      PCLSendCommand(job, nullptr, PJLOutputBin_AUTO);
      break;
    case 1:
      PCLSendCommand(job, nullptr, PJLOutputBin_UPPER);
      break;
    case 2:
      PCLSendCommand(job, nullptr, PJLOutputBin_1);
      break;
    case 3:
      PCLSendCommand(job, nullptr, PJLOutputBin_2);
      break;
    case 4:
      PCLSendCommand(job, nullptr, PJLOutputBin_3);
      break;
    case 5:
      PCLSendCommand(job, nullptr, PJLOutputBin_4);
      break;
    case 6:
      PCLSendCommand(job, nullptr, PJLOutputBin_ALLSTACKER);
      break;
    case 7:
    case 8:
    case 9:
    case 10:
      // The first sorted set is the job itself; the driver replays it.
      PCLSendCommand(job, nullptr, PJLOutputBin_ALLSORTER);
      PCLSendCommand(job, nullptr, PJLSortCopy1);
      break;
    case 11:
      PCLSendCommand(job, nullptr, PJLOutputBin_Op);
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

// PCL set-up: to the printer and to the sorted-copy file.
Status sendPclSetup(MonoJobState& job, std::FILE* copy, const PaperMatch& paper, bool paperByName) {
  const SParam& param = job.sParam;
  PCLSendCommand(job, copy, PCLReset);
  if (!paperByName) PCLSendCommand(job, copy, pageSizeCommand(paper.pclCommand));
  if (param.sourceCode != 0 && !cflagSet(job.settings, 0, 4))
    PCLSendCommand(job, copy, PCLnotAutoContinue);
  switch (param.resMode) {
    case 1:
      PCLSendCommand(job, copy, PCLSetUnitOfMeasure300);
      PCLSendCommand(job, copy, PCLSetResolution300);
      break;
    case 3:
    case 5:
      PCLSendCommand(job, copy, PCLSetUnitOfMeasure1200);
      PCLSendCommand(job, copy, PCLSetResolution1200);
      break;
    case 4:
      // XR1200A: 1200 units, rows sent at 600 dpi and printed twice.
      PCLSendCommand(job, copy, PCLSetUnitOfMeasure1200);
      PCLSendCommand(job, copy, PCLSetResolution600);
      break;
    default:
      PCLSendCommand(job, copy, PCLSetUnitOfMeasure600);
      PCLSendCommand(job, copy, PCLSetResolution600);
      break;
  }
  if (param.sourceCode == 6) PCLSendCommand(job, copy, PCLManualInput);
  char copies[16];
  PCLSendCommand(job, copy, PCLCopy);
  sendPrinted(job, copy, copies,
              std::snprintf(copies, sizeof copies, "%dX", param.copies >= 2 ? param.copies : 1));
  const FixedCommand& duplex = param.duplexOn == 0
                                   ? PCLDuplex_None
                                   : (param.duplexLong == 1 ? PCLDuplex_Long : PCLDuplex_Short);
  return PCLSendCommand(job, copy, duplex);
}

}  // namespace

void SendSettings() {}

Status BeginSendData(MonoJobState& job, std::FILE* copy) {
  const std::time_t now = std::time(nullptr);
  return BeginSendData(
      job, copy,
      now == static_cast<std::time_t>(-1) ? std::nullopt : std::optional<std::time_t>(now));
}

Status BeginSendData(MonoJobState& job, std::FILE* copy, std::optional<std::time_t> now) {
  const PrintSettings& settings = job.settings;
  const SParam& param = job.sParam;
  std::tm localTime{};
  const std::tm* local = nullptr;
  if (now && localtime_r(&*now, &localTime) != nullptr) local = &localTime;

  // PJL: to the printer only.
  PCLSendCommand(job, nullptr, PJLEnter);
  sendIdentification(job, settings, local);
  sendResolution(job, param.resMode);
  PCLSendCommand(job, nullptr, param.economy == 1 ? PJLEconomy_On : PJLEconomy_Off);
  sendSourceTray(job, param.sourceCode);
  sendMedia(job, param.mediaCode);
  sendSleep(job, param.sleepTime);

  PaperMatch paper;
  if (check_custom_paper(settings)) {
    checkSendPaper(settings, param.paperLength120, param.paperWidth120, paper);
  } else {
    checkSendPaper_custompaper(param.paperLength120, param.paperWidth120, paper);
  }
  const bool paperByName = cflagSet(job.settings, 0, 2);
  PCLSendCommand(job, nullptr, PJLOrinPortrait);
  if (paperByName) {
    PCLSendCommand(job, nullptr, PJLSetPaper);
    sendText(job, nullptr, paper.name);
    PCLSendCommand(job, nullptr, PJLLF);
  }
  PCLSendCommand(job, nullptr, PJLSetPProtect_Auto);
  sendOutputBin(job, param.binCode);
  PCLSendCommand(job, nullptr, PJLEnterPCL3);

  return sendPclSetup(job, copy, paper, paperByName);
}

}  // namespace qv::mono
