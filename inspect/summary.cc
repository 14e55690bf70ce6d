// summary.cc - kind detection and the per-page figures of qvinspect.
#include "inspect/summary.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "decode/pjl_text.h"

namespace qvinspect {
namespace {

// The header of either kind is a few kilobytes; a job title can add some.
constexpr std::size_t kKindScanBytes = 64 * 1024;

struct PclPaper {
  long code;
  const char* name;
  long width120, length120;
};

// The page sizes the mono filter selects, by their PCL code, with the
// paper's sides in 1/120 inch.
constexpr std::array<PclPaper, 18> kPclPapers{{
    {1039, "3x5", 360, 600},
    {80, "MONARCH", 465, 900},
    {71, "HAGAKI", 473, 700},
    {81, "COM10", 495, 1140},
    {24, "A6", 496, 701},
    {1040, "EnvYou4", 496, 1111},
    {90, "DL", 520, 1039},
    {1024, "B6", 590, 832},
    {44, "JISB6", 605, 860},
    {25, "A5", 701, 992},
    {91, "C5", 767, 1082},
    {100, "B5", 832, 1180},
    {45, "JISB5", 860, 1214},
    {1, "EXECUTIVE", 870, 1260},
    {26, "A4", 992, 1403},
    {2, "LETTER", 1020, 1320},
    {1038, "FOLIO", 1020, 1560},
    {3, "LEGAL", 1020, 1680},
}};

std::string colourSpaceName(const qvdecode::PwgHeader& header) {
  std::string name;
  switch (header.colorSpace) {
    case 1:
      name = "RGB";
      break;
    case 3:
      name = "black";
      break;
    case 6:
      name = "CMYK";
      break;
    case 18:
      name = "sGray";
      break;
    case 19:
      name = "sRGB";
      break;
    case 20:
      name = "AdobeRGB";
      break;
    default:
      name = "ColorSpace " + std::to_string(header.colorSpace);
      break;
  }
  return name + " " + std::to_string(header.bitsPerPixel) + "-bit";
}

// White is all ones in the additive spaces and all zeros in black and CMYK.
bool blankLine(const qvdecode::PwgHeader& header, std::span<const std::uint8_t> line) {
  const bool inkSpace = header.colorSpace == 3 || header.colorSpace == 6 ||
                        (header.colorSpace >= 48 && header.colorSpace <= 62);
  const std::uint8_t white = inkSpace ? 0x00 : 0xFF;
  return std::all_of(line.begin(), line.end(), [white](std::uint8_t b) { return b == white; });
}

}  // namespace

const char* kindName(JobKind kind) {
  switch (kind) {
    case JobKind::kMono:
      return "mono";
    case JobKind::kColour:
      return "colour";
    default:
      return "unknown";
  }
}

JobKind detectJobKind(std::span<const std::uint8_t> job, std::string& why) {
  const std::string_view text(reinterpret_cast<const char*>(job.data()),
                              std::min(job.size(), kKindScanBytes));
  if (text.empty()) {
    why = "the input is empty";
    return JobKind::kUnknown;
  }
  if (text.substr(0, 4) == "RaS2") {
    why = "a bare PWG Raster stream without its PJL job";
    return JobKind::kUnknown;
  }
  if (text.substr(0, qvdecode::kUniversalExit.size()) != qvdecode::kUniversalExit) {
    why = "it does not start with the PJL universal exit \"\\e%-12345X\"";
    return JobKind::kUnknown;
  }
  constexpr std::string_view kEnter = "\n@PJL ENTER LANGUAGE";
  const std::size_t at = text.find(kEnter);
  if (at == std::string_view::npos) {
    why = job.size() <= kKindScanBytes
              ? "its PJL header ends without an \"@PJL ENTER LANGUAGE\" line (truncated?)"
              : "no \"@PJL ENTER LANGUAGE\" line in its first 64 KiB";
    return JobKind::kUnknown;
  }
  std::string_view rest = text.substr(at + kEnter.size());
  rest = rest.substr(0, rest.find('\n'));
  if (rest == " = PCL") return JobKind::kMono;
  if (rest == "=PWGRASTER") return JobKind::kColour;
  why = "it enters the language \"" + std::string(rest.substr(0, 40)) +
        "\", neither the mono (\" = PCL\") nor the colour (\"=PWGRASTER\") stream";
  return JobKind::kUnknown;
}

std::string maskedSetting(std::string_view line) {
  if (line.substr(0, 5) == "@PJL ")
    line.remove_prefix(5);
  else if (line == "@PJL")
    line = {};
  constexpr std::string_view kHoldKey = "SET HOLDKEY";
  if (line.substr(0, kHoldKey.size()) == kHoldKey) {
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      return std::string(line.substr(0, equals + 1)) + "****";
    }
  }
  return std::string(line);
}

bool paperForPclSize(long code, long& width120, long& length120, const char*& name) {
  for (const PclPaper& paper : kPclPapers) {
    if (paper.code == code) {
      width120 = paper.width120;
      length120 = paper.length120;
      name = paper.name;
      return true;
    }
  }
  return false;
}

std::string describePcl(const qvdecode::PclCommand& command) {
  const std::string value = std::to_string(command.value);
  const std::string& group = command.group;
  const char p = command.parameter;
  if (group.empty() && p == 'E') return "reset";
  if (group == "&l" && p == 'A') {
    long width = 0, length = 0;
    const char* name = nullptr;
    if (command.value == 101) return "page size CUSTOM (101)";
    if (paperForPclSize(command.value, width, length, name)) {
      return std::string("page size ") + name + " (" + value + ")";
    }
    return "page size code " + value;
  }
  if (group == "&l" && p == 'H') {
    if (command.value == 1001) return "paper source: no auto continue (1001)";
    if (command.value == 2) return "paper source: manual feed";
    return "paper source " + value;
  }
  if (group == "&l" && p == 'D') return value + " lines per inch";
  if (group == "&l" && p == 'E')
    return "top margin " + value + (command.value == 1 ? " line" : " lines");
  if (group == "&l" && p == 'X') return "copies " + value;
  if (group == "&l" && p == 'S') {
    if (command.value == 0) return "duplex off";
    if (command.value == 1) return "duplex, long edge";
    if (command.value == 2) return "duplex, short edge";
    return "duplex " + value;
  }
  if (group == "&u" && p == 'D') return "unit of measure " + value + " dpi";
  if (group == "*t" && p == 'R') return "raster resolution " + value + " dpi";
  return "\\e" + group + value + std::string(1, p);
}

int summariseJob(std::span<const std::uint8_t> job, JobKind kind, JobSummary& summary,
                 const PageVisitor& visitor, const LineVisitor& lines) {
  DecodedJob decoded;
  return summariseJob(job, kind, summary, decoded, visitor, lines);
}

int summariseJob(std::span<const std::uint8_t> job, JobKind kind, JobSummary& summary,
                 DecodedJob& decoded, const PageVisitor& visitor, const LineVisitor& lines,
                 bool moreJobs) {
  summary = JobSummary{};
  summary.kind = kind;
  summary.bytes = job.size();
  int result = -1;
  if (kind == JobKind::kMono) {
    qvdecode::MonoDecodeOptions options;
    options.keepRows = false;
    options.pageRows = static_cast<bool>(visitor);
    options.moreJobs = moreJobs;
    const qvdecode::MonoJob& mono = decoded.mono;
    options.onPage = [&](const qvdecode::MonoPage& page) {
      PageSummary s;
      s.number = static_cast<int>(summary.pages.size()) + 1;
      s.copy = page.copy;
      s.offset = page.offset;
      s.widthPixels = page.rowBytes * 8;
      s.heightPixels = page.rowCount;
      s.xDpi = s.yDpi = mono.unitDpi;
      s.colorSpace = "black 1-bit";
      s.wireBytes = page.wireBytes;
      s.rawBytes = page.rowBytes * page.rowCount;
      s.blankRows = page.blankRecords;
      s.repeatRows = page.repeatRecords;
      s.deltaRows = page.deltaRecords;
      s.keyRows = page.keyRows;
      s.blocks = page.blocks;
      summary.pages.push_back(s);
      return visitor ? visitor(s, &page, &mono, nullptr) : 0;
    };
    result = qvdecode::decodeMonoJob(job, decoded.mono, summary.error, options);
    for (const auto& line : mono.pjlLines) summary.settings.push_back(maskedSetting(line));
    for (const auto& command : mono.pclCommands) summary.pcl.push_back(describePcl(command));
    for (const auto& line : mono.trailerLines) summary.trailer.push_back(maskedSetting(line));
  } else if (kind == JobKind::kColour) {
    qvdecode::PwgDecodeOptions options;
    options.keepPixels = false;
    options.pagePixels = false;
    options.maxWidth = kMaxColourWidth;
    options.maxHeight = kMaxColourHeight;
    options.moreJobs = moreJobs;
    std::size_t blank = 0;
    options.onLine = [&](const qvdecode::PwgPage& page, std::uint32_t y, std::uint32_t copies,
                         std::span<const std::uint8_t> line) {
      if (y == 0) blank = 0;
      if (blankLine(page.header, line)) blank += copies;
      return lines ? lines(page, y, copies, line) : 0;
    };
    options.onPage = [&](const qvdecode::PwgPage& page) {
      PageSummary s;
      s.number = static_cast<int>(summary.pages.size()) + 1;
      s.offset = page.offset;
      s.widthPixels = page.header.width;
      s.heightPixels = page.header.height;
      s.xDpi = static_cast<long>(page.header.hwResolution[0]);
      s.yDpi = static_cast<long>(page.header.hwResolution[1]);
      s.colorSpace = colourSpaceName(page.header);
      s.wireBytes = page.wireBytes;
      s.rawBytes = std::size_t{page.header.bytesPerLine} * page.header.height;
      s.blankRows = blank;
      s.repeatRows = page.repeatedLines;
      s.deltaRows = page.lineRecords;
      summary.pages.push_back(s);
      return visitor ? visitor(s, nullptr, nullptr, &page) : 0;
    };
    result = qvdecode::decodeColourJob(job, decoded.colour, summary.error, options);
    for (const auto& line : decoded.colour.pjlLines) {
      summary.settings.push_back(maskedSetting(line));
    }
    for (const auto& line : decoded.colour.trailerLines) {
      summary.trailer.push_back(maskedSetting(line));
    }
    summary.cancelFill = decoded.colour.cancelFill;
  }
  summary.complete = result == 0;
  if (summary.complete) {
    summary.bytes = kind == JobKind::kMono ? decoded.mono.end : decoded.colour.end;
  }
  return result;
}

}  // namespace qvinspect
