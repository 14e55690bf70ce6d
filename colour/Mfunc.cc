// Mfunc.cc - PJL framing of the colour job: the job header that ends by
// switching the printer to PWG Raster, and the trailer.
#include "colour/Mfunc.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "colour/job_state.h"
#include "colour/send.h"

namespace qv::colour {
namespace {

constexpr char kUniversalExit[] = "\x1b%-12345X";

// The job's output, for the header and trailer writers.
struct Out {
  ColourJobState& job;
  void put(const char* text) const { pswrite(job, text, std::strlen(text)); }
  void write(const char* text, std::size_t length) const { pswrite(job, text, length); }
};

// A value counts as given when it is set and not empty.
const char* given(const std::string& value) { return value.empty() ? nullptr : value.c_str(); }

// "@PJL SET USERNAME=" "\"" text "\"" "\n", the text cut at CR, LF or ESC.
void putQuotedLine(const Out& out, const char* prefix, const char* text) {
  out.put(prefix);
  out.put("\"");
  out.write(text, pjlTextLength(text));
  out.put("\"");
  out.put("\n");
}

void putNumberLine(const Out& out, const char* format, int value) {
  char line[50];
  std::snprintf(line, sizeof line, format, value);
  out.put(line);
}

// The printer's paper codes (the inner values of "PageSize") and their words.
struct PaperWord {
  std::uint16_t code;
  const char* word;
};
constexpr PaperWord kPaperWords[] = {
    {1, "LETTER\n"},
    {5, "LEGAL\n"},
    {7, "EXECUTIVE\n"},
    {9, "A4\n"},
    {11, "A5\n"},
    {13, "B5\n"},
    {14, "FOLIO\n"},
    {20, "COM10\n"},
    {27, "DL\n"},
    {28, "C5\n"},
    {34, "JISB5\n"},
    {37, "MONARCH\n"},
    {43, "POSTCARD\n"},
    {61, "A5L\n"},
    {69, "JISB6\n"},
    {70, "A6\n"},
    {73, "JENVCHOU3\n"},
    {74, "A4SHORT\n"},
    {75, "ROC16K\n"},
    {76, "SIXTEENK184X260\n"},
    {77, "SIXTEENK195X270\n"},
    {78, "MEXICANLEGAL\n"},
    {79, "INDIALEGAL\n"},
    {91, "ENVYOU4\n"},
    {261, "P3X5\n"},
};

const char* paperWord(std::uint16_t code) {
  for (const PaperWord& paper : kPaperWords)
    if (paper.code == code) return paper.word;
  return "LETTER\n";
}

constexpr const char* kMediaWords[] = {
    "REGULAR\n",   "THIN\n",    "THICK\n",    "THICK2\n",   "REGULAR\n", "RECYCLED\n", "BOND\n",
    "ENVELOPES\n", "ENVTHIN\n", "ENVTHICK\n", "POSTCARD\n", "LABEL\n",   "GLOSSY\n",
};
static_assert(std::size(kMediaWords) == 13);  // codes 0..12; 4 has no media of its own

constexpr const char* kTrayWords[] = {
    "AUTO\n", "TRAY1\n", "TRAY2\n", "TRAY3\n", "TRAY4\n", "TRAY5\n", "MPTRAY\n",
};

// The job's names and secure print: the lines that come from the
// environment, up to the character set.
void putJobNames(const Out& out, const ColourJobState& state) {
  const char* password = given(state.password);
  const char* owner = given(state.owner);
  const char* title = given(state.title);
  const char* redValue = given(state.redValue);

  out.write(kUniversalExit, 9);
  out.put("@PJL \n");
  if (password != nullptr) {
    out.put("@PJL SET HOLD=STORE\n");
    out.put("@PJL SET HOLDTYPE=PRIVATE\n");
    out.put("@PJL SET HOLDKEY=");
    out.write(password, pjlTextLength(password));
    out.put("\n");
  } else {
    out.put("@PJL SET HOLD=OFF\n");
  }
  if (owner != nullptr) putQuotedLine(out, "@PJL SET USERNAME=", owner);
  if (title != nullptr) putQuotedLine(out, "@PJL SET JOBNAME=", title);
  if (owner != nullptr) putQuotedLine(out, "@PJL SET LOGINUSER=", owner);
  if (title != nullptr) putQuotedLine(out, "@PJL JOB NAME=", title);
  if (redValue != nullptr) {
    long index = static_cast<std::int32_t>(std::strtol(redValue, nullptr, 10));
    index = std::clamp(index, 0L, 168L);
    char line[50];
    std::snprintf(line, sizeof line, "@PJL SET SPECIALRED=0x%06X\n",
                  static_cast<unsigned int>(RedToCMYTable[static_cast<std::size_t>(index)]));
    out.put(line);
  }
  out.put("@PJL SET STRINGCODESET=UTF8");
  out.put("\n");
}

// Paper, colour or gray, toner saving, resolution, duplex, media, trays.
void putPaperHandling(const Out& out, const PjpInfo& job, const char* outputTray) {
  out.put("@PJL SET PAPER=");
  out.put(paperWord(job.wPageSize));

  if (job.nColorMode == 2) {
    out.put("@PJL SET RENDERMODE=COLOR\n");
    out.put("@PJL SET COLORADAPT=ON\n");
  } else if (job.nColorMode == 0) {
    out.put("@PJL SET RENDERMODE=GRAYSCALE\n");
    out.put("@PJL SET COLORADAPT=OFF\n");
  } else {
    out.put("@PJL SET RENDERMODE=COLOR\n");
    out.put("@PJL SET COLORADAPT=OFF\n");
  }
  // ECONOMODE to switch saving on, ECONOPRINT to switch it off: the
  // printers take these two words.
  out.put(job.wTonerSave != 0 ? "@PJL SET ECONOMODE=ON\n" : "@PJL SET ECONOPRINT=OFF\n");
  out.put(job.wResolution == 2 ? "@PJL SET APTMODE=ON\n" : "@PJL SET APTMODE=OFF\n");
  out.put(job.nDuplex == 1 || job.nDuplex == 2 ? "@PJL SET DUPLEX=ON\n" : "@PJL SET DUPLEX=OFF\n");
  out.put("@PJL SET MEDIATYPE=");
  out.put(job.wMediaType < std::size(kMediaWords) ? kMediaWords[job.wMediaType] : "REGULAR\n");
  if (job.wInputSlot == 7) {
    out.put("@PJL SET MANUALFEED=ON\n");
  } else {
    out.put("@PJL SET MANUALFEED=OFF\n");
    out.put("@PJL SET SOURCETRAY=");
    out.put(job.wInputSlot < std::size(kTrayWords) ? kTrayWords[job.wInputSlot] : "AUTO\n");
  }
  if (outputTray != nullptr) {
    if (std::strcmp(outputTray, "OFF") == 0) {
      out.put("@PJL SET OUTBIN=UPPER\n");
      out.put("@PJL SET FINISH=NONE\n");
    } else {
      out.put("@PJL SET OUTBIN=AUTO\n");
    }
  }
  out.put("@PJL SET LESSPAPERCURL=");
  out.put(job.wImproveOutput == 1 ? "ON\n" : "OFF\n");
  out.put("@PJL SET FIXINTENSITYUP=");
  out.put(job.wImproveOutput == 2 ? "ON\n" : "OFF\n");
}

// Colour matching, and with anything but automatic matching its settings.
void putColourMatching(const Out& out, const PjpInfo& job) {
  switch (job.wColorMatching) {
    case 3:
      out.put("@PJL SET COLORMODE=AUTO\n");
      break;
    case 2:
      out.put("@PJL SET COLORMODE=VIVID\n");
      break;
    case 1:
      out.put("@PJL SET COLORMODE=NORMAL\n");
      break;
    default:
      out.put("@PJL SET COLORMODE=NONE\n");
      break;
  }
  if (job.wColorMatching != 3) {
    out.put(job.wGray != 0 ? "@PJL SET IMPROVEGRAY=ON\n" : "@PJL SET IMPROVEGRAY=OFF\n");
    out.put(job.wEnhanceBlack != 0 ? "@PJL SET UCRGCRFORIMAGE=ON\n"
                                   : "@PJL SET UCRGCRFORIMAGE=OFF\n");
    putNumberLine(out, "@PJL SET BRIGHTNESS=%d\n", job.nBrightness);
    putNumberLine(out, "@PJL SET CONTRAST=%d\n", job.nContrast);
    putNumberLine(out, "@PJL SET DENSITYRED=%d\n", job.nRedKey);
    putNumberLine(out, "@PJL SET DENSITYGREEN=%d\n", job.nGreenKey);
    putNumberLine(out, "@PJL SET DENSITYBLUE=%d\n", job.nBlueKey);
  }
}

void putJobHeader(ColourJobState& state) {
  const Out out{state};
  putJobNames(out, state);
  putPaperHandling(out, state.pjp, given(state.outputTray));
  putColourMatching(out, state.pjp);
  out.put("@PJL SET FIDELITY=TRUE\n");
  out.put("@PJL ENTER LANGUAGE=PWGRASTER\n");
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

Status MBeginJob(ColourJobState& state) {
  putJobHeader(state);
  const PjpInfo* job = &state.pjp;
  SendInfo* send = &state.send;

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
  return Status::kOk;
}

void writeJobTrailer(ColourJobState& state) {
  const Out out{state};
  const char* title = given(state.title);
  out.write(kUniversalExit, 9);
  if (title != nullptr) putQuotedLine(out, "@PJL EOJ NAME=", title);
  out.write(kUniversalExit, 9);
  out.put("\n");
}

Status MEndJob(ColourJobState& state) {
  finishPageFiles(state);
  writeJobTrailer(state);
  return Status::kOk;
}

}  // namespace qv::colour
