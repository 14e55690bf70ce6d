// PCLUtils.cc - output primitives, the job parameter record and the paper
// matching of the mono filter.
#include "mono/PCLUtils.h"

#include <cstring>

#include "mono/compmain.h"
#include "mono/qverror.h"

namespace qv::mono {

// PCLSendCommand and PCLSendData write to the job's sink, not to standard output.
Status PCLSendCommand(MonoJobState& job, std::FILE* copy, const FixedCommand& command) {
  const int length = static_cast<std::int8_t>(command[0]);
  if (length <= 0) return Status::kOk;
  return PCLSendData(job, copy, command.data() + 1, static_cast<std::size_t>(length));
}

Status PCLSendData(MonoJobState& job, std::FILE* copy, const void* bytes, std::size_t count) {
  if (count == 0) return Status::kOk;
  // The copy file first: it is replayed for sorted copies and must hold
  // exactly what the printer got.
  if (job.outputFailed) return Status::kWriteFailed;
  if (copy != nullptr) std::fwrite(bytes, 1, count, copy);
  if (job.sink({static_cast<const std::uint8_t*>(bytes), count})) return Status::kOk;
  job.outputFailed = true;
  return qvError(job.env, Status::kWriteFailed, nullptr);
}

// In ascending order of width120; entries of equal width in the order that
// decides which of them wins.
const PaperCheckEntry paperCheckTable[kPaperCheckCount] = {
    {"3x5", 600, 360, "\x1b&l4096a1039a6d1E"},     {"MONARCH", 900, 465, "\x1b&l4096a80a6d1E"},
    {"HAGAKI", 700, 473, "\x1b&l4096a71a6d1E"},    {"COM10", 1140, 495, "\x1b&l4096a81a6d1E"},
    {"A6", 701, 496, "\x1b&l4096a24a6d1E"},        {"EnvYou4", 1111, 496, "\x1b&l4096a1040a6d1E"},
    {"DL", 1039, 520, "\x1b&l4096a90a6d1E"},       {"B6", 832, 590, "\x1b&l4096a1024a6d1E"},
    {"JISB6", 860, 605, "\x1b&l4096a44a6d1E"},     {"A5", 992, 701, "\x1b&l4096a25a6d1E"},
    {"C5", 1082, 767, "\x1b&l4096a91a6d1E"},       {"B5", 1180, 832, "\x1b&l4096a100a6d1E"},
    {"JISB5", 1214, 860, "\x1b&l4096a45a6d1E"},    {"EXECUTIVE", 1260, 870, "\x1b&l4096a1a6d1E"},
    {"A4", 1403, 992, "\x1b&l4096a26a6d1E"},       {"LETTER", 1320, 1020, "\x1b&l4096a2a6d1E"},
    {"FOLIO", 1560, 1020, "\x1b&l4096a1038a6d1E"}, {"LEGAL", 1680, 1020, "\x1b&l4096a3a6d1E"},
};

namespace {

constexpr std::size_t kLegal = 17;
constexpr int kLegalWidth120 = 1020;
constexpr const char* kCustomPaperCommand = "\x1b&l4096a101a6d1E";

// Papers that some printers of the family do not take are offered only
// when the job's flags say the printer has them.
bool paperAdmissible(const PrintSettings& settings, const PaperCheckEntry& paper) {
  if (std::strcmp(paper.name, "FOLIO") == 0) return cflagSet(settings, 2, 1);
  if (std::strcmp(paper.name, "3x5") == 0) return cflagSet(settings, 2, 2);
  if (std::strcmp(paper.name, "EnvYou4") == 0) return cflagSet(settings, 2, 4);
  return true;
}

}  // namespace

void checkSendPaper(const PrintSettings& settings, std::int16_t length120, std::int16_t width120,
                    PaperMatch& match) {
  const PaperCheckEntry* chosen = &paperCheckTable[kLegal];
  for (const PaperCheckEntry& paper : paperCheckTable) {
    if (!paperAdmissible(settings, paper)) continue;
    if (paper.length120 >= length120 && paper.width120 >= width120) {
      chosen = &paper;
      break;
    }
  }
  match.name = chosen->name;
  match.margin = (chosen->width120 - width120) * 3;
  match.pclCommand = chosen->pclCommand;
}

void checkSendPaper_custompaper(std::int16_t /*length120*/, std::int16_t width120,
                                PaperMatch& match) {
  match.name = "CUSTOM";
  match.margin = (kLegalWidth120 - width120) * 3;
  match.pclCommand = kCustomPaperCommand;
}

bool check_custom_paper(const PrintSettings& settings) {
  if (settings.paperType < 0 || settings.paperType >= QV_COMMAND_VALUE_PT_COUNT) return true;
  return std::strncmp(QV_COMMAND_VALUE_PT[settings.paperType], "CUSTOM", 6) != 0;
}

namespace {

// Paper size in 1/120 inch from the raster size, by the resolution code
// itself (an unknown code counts as 600 dpi).
void setPaperSize120(SParam& param, const PrintSettings& settings) {
  switch (settings.resolution) {
    case 1:
      // Through int: a double outside the 16-bit range must not be cast
      // to int16_t directly.
      param.paperWidth120 = static_cast<std::int16_t>(static_cast<int>(settings.paperWidth / 2.5));
      param.paperLength120 =
          static_cast<std::int16_t>(static_cast<int>(settings.paperHeight / 2.5));
      break;
    case 3:
    case 4:
    case 5:
      param.paperWidth120 = static_cast<std::int16_t>(settings.paperWidth / 10);
      param.paperLength120 = static_cast<std::int16_t>(settings.paperHeight / 10);
      break;
    default:
      param.paperWidth120 = static_cast<std::int16_t>(settings.paperWidth / 5);
      param.paperLength120 = static_cast<std::int16_t>(settings.paperHeight / 5);
      break;
  }
}

void setSourceCode(SParam& param, const PrintSettings& settings) {
  switch (settings.paperSource) {
    case 1:
      param.sourceCode = 6;  // manual feed
      break;
    case 2:
      param.sourceCode = 7;  // multi-purpose tray
      break;
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
      param.sourceCode = static_cast<std::int16_t>(settings.paperSource - 2);
      break;
    default:
      param.sourceCode = 0;
      break;
  }
}

void setLeftShift(SParam& param, const PrintSettings& settings) {
  // Left shift: the centring margin plus the user's offset, in 1/720 inch,
  // turned into whole bytes at the job resolution.
  PaperMatch match;
  if (check_custom_paper(settings)) {
    checkSendPaper(settings, param.paperLength120, param.paperWidth120, match);
  } else {
    checkSendPaper_custompaper(param.paperLength120, param.paperWidth120, match);
  }
  // Kept as a signed 16-bit value: 65596 acts as 60. The sum itself is taken
  // in 64 bits, where it cannot overflow.
  const int shift720 =
      static_cast<std::int16_t>(static_cast<std::int64_t>(match.margin) + settings.arg_offset);
  int dots = 0;
  switch (param.resMode) {
    case 3:
    case 4:
    case 5:
      dots = (5 * shift720) / 3;
      break;
    case 1:
      dots = (5 * shift720) / 12;
      break;
    default:
      dots = (5 * shift720) / 6;
      break;
  }
  int shiftBytes = (dots + 4) / 8;
  // The compressor sends the shift as one run of zero bytes, and a run is
  // at least two bytes long: a one-byte shift is dropped.
  if (shiftBytes == 1) shiftBytes = 0;
  // A page wider than its paper (or a large negative -offset) would need a
  // shift to the left, which a row record cannot express: print unshifted.
  if (shiftBytes < 0) shiftBytes = 0;
  param.leftShift = static_cast<std::int16_t>(shiftBytes);
}

}  // namespace

void setSParam(SParam& param, const PrintSettings& settings) {
  switch (settings.resolution) {
    case 1:
    case 3:
    case 4:
    case 5:
    case 6:
      param.resMode = static_cast<std::int16_t>(settings.resolution);
      break;
    default:
      param.resMode = 2;
      break;
  }

  setPaperSize120(param, settings);
  setSourceCode(param, settings);
  param.binCode = static_cast<std::int16_t>(settings.outputBin - 1);
  param.mediaCode = static_cast<std::int16_t>(
      settings.media >= 2 && settings.media <= 10 ? settings.media - 1 : 0);
  param.duplexOn = settings.duplex != 0 ? 1 : 0;
  param.duplexLong = settings.duplexType == 1 ? 1 : 0;
  param.economy = settings.tonerSave == 0 ? 1 : 0;
  param.sleepTime = static_cast<std::int16_t>(settings.sleep);
  param.copies = static_cast<std::int16_t>(settings.copies);

  setLeftShift(param, settings);
}

}  // namespace qv::mono
