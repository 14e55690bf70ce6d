// report.cc - text and JSON renderings of a job summary.
#include "inspect/report.h"

#include <cstdio>
#include <string>

#include "decode/decode_error.h"

namespace qvinspect {
namespace {

// One decimal, whatever the locale: the report is read by scripts too.
std::string ratioText(double ratio) {
  char text[32];
  const long tenths = static_cast<long>(ratio * 10.0 + 0.5);
  std::snprintf(text, sizeof text, "%ld.%ld", tenths / 10, tenths % 10);
  return text;
}

std::string counted(std::size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string pageLine(const JobSummary& summary, const PageSummary& page) {
  std::string line = "page " + std::to_string(page.number);
  if (summary.kind == JobKind::kMono && page.copy > 1) {
    line += " (sorted copy " + std::to_string(page.copy) + ")";
  }
  line += ": " + std::to_string(page.widthPixels) + " x " + std::to_string(page.heightPixels) +
          " pixels, " + std::to_string(page.xDpi) + " x " + std::to_string(page.yDpi) + " dpi, " +
          page.colorSpace + ", " + std::to_string(page.wireBytes) + " bytes on the wire (ratio " +
          ratioText(page.compressionRatio()) + ":1), ";
  if (summary.kind == JobKind::kMono) {
    line += "rows: " + std::to_string(page.blankRows) + " blank, " +
            std::to_string(page.repeatRows) + " repeated, " + std::to_string(page.deltaRows) +
            " method-9 (" + std::to_string(page.keyRows) + " whole), " +
            counted(page.blocks, "block");
  } else {
    line += "lines: " + std::to_string(page.blankRows) + " blank, " +
            std::to_string(page.repeatRows) + " repeated, " + std::to_string(page.deltaRows) +
            " encoded";
  }
  return line;
}

void appendList(std::string& out, const char* key, const std::vector<std::string>& items) {
  out += "  ";
  out += jsonString(key);
  out += ": [";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += jsonString(items[i]);
  }
  out += "],\n";
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          out += escape;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string cancelLine(std::size_t offset) {
  return "cancelled job: " + std::to_string(qvdecode::kCancelFillBytes) + "-byte fill at offset " +
         std::to_string(offset);
}

std::string textReport(const std::string& name, const JobSummary& summary) {
  std::string out =
      name + ": " + kindName(summary.kind) + " job, " + std::to_string(summary.bytes) + " bytes, " +
      counted(summary.pages.size(), "page") + (summary.complete ? "" : " before the damage") + "\n";
  out += "PJL settings:\n";
  for (const std::string& line : summary.settings) {
    if (!line.empty()) out += "  " + line + "\n";
  }
  if (!summary.pcl.empty()) {
    out += "PCL set-up:\n";
    for (const std::string& line : summary.pcl) out += "  " + line + "\n";
  }
  out += "Pages:\n";
  for (const PageSummary& page : summary.pages) out += "  " + pageLine(summary, page) + "\n";
  if (summary.cancelFill) out += cancelLine(*summary.cancelFill) + "\n";
  if (!summary.trailer.empty()) {
    out += "Trailer:\n";
    for (const std::string& line : summary.trailer) out += "  " + line + "\n";
  }
  if (!summary.complete) out += "Damaged: " + qvdecode::describeError(summary.error) + "\n";
  return out;
}

std::string jsonReport(const std::string& name, const JobSummary& summary, const JobPlace* place) {
  std::string out = "{\n";
  out += "  \"file\": " + jsonString(name) + ",\n";
  if (place != nullptr) {
    out += "  \"job\": " + std::to_string(place->number) +
           ", \"jobs\": " + std::to_string(place->count) +
           ", \"offset\": " + std::to_string(place->offset) + ",\n";
  }
  out += "  \"kind\": " + jsonString(kindName(summary.kind)) + ",\n";
  out += "  \"bytes\": " + std::to_string(summary.bytes) + ",\n";
  out += std::string("  \"complete\": ") + (summary.complete ? "true" : "false") + ",\n";
  if (!summary.complete) {
    const qvdecode::DecodeError& e = summary.error;
    out += "  \"error\": {\"offset\": " + std::to_string(e.offset) +
           ", \"page\": " + std::to_string(e.page) + ", \"block\": " + std::to_string(e.block) +
           ", \"row\": " + std::to_string(e.row) + ", \"message\": " + jsonString(e.message) +
           "},\n";
  }
  std::vector<std::string> settings;
  for (const std::string& line : summary.settings) {
    if (!line.empty()) settings.push_back(line);
  }
  appendList(out, "pjl", settings);
  appendList(out, "pcl", summary.pcl);
  appendList(out, "trailer", summary.trailer);
  out += "  \"cancelFill\": " +
         (summary.cancelFill ? std::to_string(*summary.cancelFill) : std::string("null")) + ",\n";
  out += "  \"pages\": [";
  for (std::size_t i = 0; i < summary.pages.size(); ++i) {
    const PageSummary& p = summary.pages[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"page\": " + std::to_string(p.number) + ", \"copy\": " + std::to_string(p.copy) +
           ", \"offset\": " + std::to_string(p.offset) +
           ", \"width\": " + std::to_string(p.widthPixels) +
           ", \"height\": " + std::to_string(p.heightPixels) +
           ", \"xDpi\": " + std::to_string(p.xDpi) + ", \"yDpi\": " + std::to_string(p.yDpi) +
           ", \"colorSpace\": " + jsonString(p.colorSpace) +
           ", \"wireBytes\": " + std::to_string(p.wireBytes) +
           ", \"rawBytes\": " + std::to_string(p.rawBytes) +
           ", \"compressionRatio\": " + ratioText(p.compressionRatio()) +
           ", \"blankRows\": " + std::to_string(p.blankRows) +
           ", \"repeatRows\": " + std::to_string(p.repeatRows);
    if (summary.kind == JobKind::kMono) {
      out += ", \"method9Rows\": " + std::to_string(p.deltaRows) +
             ", \"keyRows\": " + std::to_string(p.keyRows) +
             ", \"blocks\": " + std::to_string(p.blocks);
    } else {
      out += ", \"encodedLines\": " + std::to_string(p.deltaRows);
    }
    out += "}";
  }
  out += summary.pages.empty() ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}

}  // namespace qvinspect
