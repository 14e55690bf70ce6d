// Mfunc.cc - PJL framing of the colour job: the job header that ends by
// switching the printer to PWG Raster, and the trailer.
#include "colour/Mfunc.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "colour/send.h"

namespace {

constexpr char kUniversalExit[] = "\x1b%-12345X";

void put(const char* text) { pswrite(text, std::strlen(text)); }

// An environment variable counts as given when it is set and not empty.
const char* givenEnv(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && value[0] != '\0') ? value : nullptr;
}

// "@PJL SET USERNAME=" "\"" text "\"" "\n", the text cut at CR, LF or ESC.
void putQuotedLine(const char* prefix, const char* text) {
  put(prefix);
  put("\"");
  pswrite(text, pjlTextLength(text));
  put("\"");
  put("\n");
}

void putNumberLine(const char* format, int value) {
  char line[50];
  std::snprintf(line, sizeof line, format, value);
  put(line);
}

const char* paperWord(std::uint16_t code) {
  switch (code) {
    case 1:
      return "LETTER\n";
    case 5:
      return "LEGAL\n";
    case 7:
      return "EXECUTIVE\n";
    case 9:
      return "A4\n";
    case 11:
      return "A5\n";
    case 13:
      return "B5\n";
    case 14:
      return "FOLIO\n";
    case 20:
      return "COM10\n";
    case 27:
      return "DL\n";
    case 28:
      return "C5\n";
    case 34:
      return "JISB5\n";
    case 37:
      return "MONARCH\n";
    case 43:
      return "POSTCARD\n";
    case 61:
      return "A5L\n";
    case 69:
      return "JISB6\n";
    case 70:
      return "A6\n";
    case 73:
      return "JENVCHOU3\n";
    case 74:
      return "A4SHORT\n";
    case 75:
      return "ROC16K\n";
    case 76:
      return "SIXTEENK184X260\n";
    case 77:
      return "SIXTEENK195X270\n";
    case 78:
      return "MEXICANLEGAL\n";
    case 79:
      return "INDIALEGAL\n";
    case 91:
      return "ENVYOU4\n";
    case 261:
      return "P3X5\n";
    default:
      return "LETTER\n";
  }
}

constexpr const char* kMediaWords[] = {
    "REGULAR\n",   "THIN\n",    "THICK\n",    "THICK2\n",   "REGULAR\n", "RECYCLED\n", "BOND\n",
    "ENVELOPES\n", "ENVTHIN\n", "ENVTHICK\n", "POSTCARD\n", "LABEL\n",   "GLOSSY\n",
};
static_assert(std::size(kMediaWords) == 13);  // codes 0..12; 4 has no media of its own

constexpr const char* kTrayWords[] = {
    "AUTO\n", "TRAY1\n", "TRAY2\n", "TRAY3\n", "TRAY4\n", "TRAY5\n", "MPTRAY\n",
};

void putJobHeader(const PjpInfo& job) {
  const char* password = givenEnv("PASSWORD");
  const char* owner = givenEnv("OWNER");
  const char* title = givenEnv("TITLE");
  const char* redValue = givenEnv("QVREDVAL");
  const char* outputTray = givenEnv("OUTPUTTRAY");

  pswrite(kUniversalExit, 9);
  put("@PJL \n");
  if (password != nullptr) {
    put("@PJL SET HOLD=STORE\n");
    put("@PJL SET HOLDTYPE=PRIVATE\n");
    put("@PJL SET HOLDKEY=");
    pswrite(password, pjlTextLength(password));
    put("\n");
  } else {
    put("@PJL SET HOLD=OFF\n");
  }
  if (owner != nullptr) putQuotedLine("@PJL SET USERNAME=", owner);
  if (title != nullptr) putQuotedLine("@PJL SET JOBNAME=", title);
  if (owner != nullptr) putQuotedLine("@PJL SET LOGINUSER=", owner);
  if (title != nullptr) putQuotedLine("@PJL JOB NAME=", title);
  if (redValue != nullptr) {
    long index = static_cast<std::int32_t>(std::strtol(redValue, nullptr, 10));
    index = std::clamp(index, 0L, 168L);
    char line[50];
    std::snprintf(line, sizeof line, "@PJL SET SPECIALRED=0x%06X\n",
                  static_cast<unsigned int>(RedToCMYTable[static_cast<std::size_t>(index)]));
    put(line);
  }
  put("@PJL SET STRINGCODESET=UTF8");
  put("\n");
  put("@PJL SET PAPER=");
  put(paperWord(job.wPageSize));

  if (job.nColorMode == 2) {
    put("@PJL SET RENDERMODE=COLOR\n");
    put("@PJL SET COLORADAPT=ON\n");
  } else if (job.nColorMode == 0) {
    put("@PJL SET RENDERMODE=GRAYSCALE\n");
    put("@PJL SET COLORADAPT=OFF\n");
  } else {
    put("@PJL SET RENDERMODE=COLOR\n");
    put("@PJL SET COLORADAPT=OFF\n");
  }
  // ECONOMODE to switch saving on, ECONOPRINT to switch it off: the
  // printers take these two words.
  put(job.wTonerSave != 0 ? "@PJL SET ECONOMODE=ON\n" : "@PJL SET ECONOPRINT=OFF\n");
  put(job.wResolution == 2 ? "@PJL SET APTMODE=ON\n" : "@PJL SET APTMODE=OFF\n");
  put(job.nDuplex == 1 || job.nDuplex == 2 ? "@PJL SET DUPLEX=ON\n" : "@PJL SET DUPLEX=OFF\n");
  put("@PJL SET MEDIATYPE=");
  put(job.wMediaType < std::size(kMediaWords) ? kMediaWords[job.wMediaType] : "REGULAR\n");
  if (job.wInputSlot == 7) {
    put("@PJL SET MANUALFEED=ON\n");
  } else {
    put("@PJL SET MANUALFEED=OFF\n");
    put("@PJL SET SOURCETRAY=");
    put(job.wInputSlot < std::size(kTrayWords) ? kTrayWords[job.wInputSlot] : "AUTO\n");
  }
  if (outputTray != nullptr) {
    if (std::strcmp(outputTray, "OFF") == 0) {
      put("@PJL SET OUTBIN=UPPER\n");
      put("@PJL SET FINISH=NONE\n");
    } else {
      put("@PJL SET OUTBIN=AUTO\n");
    }
  }
  put("@PJL SET LESSPAPERCURL=");
  put(job.wImproveOutput == 1 ? "ON\n" : "OFF\n");
  put("@PJL SET FIXINTENSITYUP=");
  put(job.wImproveOutput == 2 ? "ON\n" : "OFF\n");

  switch (job.wColorMatching) {
    case 3:
      put("@PJL SET COLORMODE=AUTO\n");
      break;
    case 2:
      put("@PJL SET COLORMODE=VIVID\n");
      break;
    case 1:
      put("@PJL SET COLORMODE=NORMAL\n");
      break;
    default:
      put("@PJL SET COLORMODE=NONE\n");
      break;
  }
  if (job.wColorMatching != 3) {
    put(job.wGray != 0 ? "@PJL SET IMPROVEGRAY=ON\n" : "@PJL SET IMPROVEGRAY=OFF\n");
    put(job.wEnhanceBlack != 0 ? "@PJL SET UCRGCRFORIMAGE=ON\n" : "@PJL SET UCRGCRFORIMAGE=OFF\n");
    putNumberLine("@PJL SET BRIGHTNESS=%d\n", job.nBrightness);
    putNumberLine("@PJL SET CONTRAST=%d\n", job.nContrast);
    putNumberLine("@PJL SET DENSITYRED=%d\n", job.nRedKey);
    putNumberLine("@PJL SET DENSITYGREEN=%d\n", job.nGreenKey);
    putNumberLine("@PJL SET DENSITYBLUE=%d\n", job.nBlueKey);
  }
  put("@PJL SET FIDELITY=TRUE\n");
  put("@PJL ENTER LANGUAGE=PWGRASTER\n");
}

}  // namespace

// Entry i: 00, then 255 - 8 * (i mod 13), then 255 - 8 * (i div 13).
extern const std::array<std::uint32_t, 169> RedToCMYTable = [] {
  std::array<std::uint32_t, 169> table{};
  for (std::uint32_t i = 0; i < 169; ++i)
    table[i] = (255 - 8 * (i % 13)) * 256 + (255 - 8 * (i / 13));
  return table;
}();

std::size_t pjlTextLength(const char* text) {
  std::size_t length = std::strcspn(text, "\r\n\x1b");
  if (length <= kPjlTextMax) return length;
  // Cut before the first byte that would not fit, backing off continuation
  // bytes so that no UTF-8 character is split.
  length = kPjlTextMax;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return length;
}

short MBeginJob(PjpInfo* job, SendInfo* send) {
  putJobHeader(*job);

  // A band is the whole page.
  send->nBandLines = job->nHeight;
  send->nBandCount = 1;
  send->nLastBandLines = job->nHeight;
  send->nWidth = job->nWidth;
  send->nBandWidth = job->nWidth;
  send->wLineBytes = static_cast<std::uint16_t>(job->nBytesPerLine);
  send->nCollate = job->nCollate;
  if (send->pdev != nullptr) {
    send->pdev->nTempPageNo = 0;
    send->pdev->nPrintedPages = 0;
  }
  return 0;
}

void writeJobTrailer() {
  const char* title = givenEnv("TITLE");
  pswrite(kUniversalExit, 9);
  if (title != nullptr) {
    put("@PJL EOJ NAME=");
    put("\"");
    pswrite(title, pjlTextLength(title));
    put("\"");
    put("\n");
  }
  pswrite(kUniversalExit, 9);
  put("\n");
}

short MEndJob(SendInfo* /*send*/) {
  finishPageFiles();
  writeJobTrailer();
  return 0;
}
