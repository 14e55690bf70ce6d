// job_options.cc - the job values both hosts derive alike.
#include "host/job_options.h"

#include <algorithm>

namespace qv::host {

int rasterWidth(Model model, const PaperSize& paper, int xdpi) {
  return model == Model::kMono ? paper.width600 * xdpi / 600 : colourRasterWidth(paper);
}

int rasterHeight(Model model, const PaperSize& paper, int ydpi) {
  return model == Model::kMono ? paper.height600 * ydpi / 600 : colourRasterHeight(paper);
}

std::string settingsFileText(std::string_view section, const SettingsLines& settings) {
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict, wrongly) on
  // "[" + std::string.
  std::string text = "[";
  text += section;
  text += "]\n";
  for (const auto& [key, word] : settings) {
    text += key;
    text += '=';
    text += word;
    text += '\n';
  }
  return text;
}

bool pinIsValid(std::string_view pin) {
  return pin.size() == 4 &&
         std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string pjlText(std::string_view text, std::size_t maxBytes) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) break;
    out += c == '"' ? '\'' : c;
  }
  if (out.size() > maxBytes) {
    std::size_t cut = maxBytes;
    // Step back over UTF-8 continuation bytes to a character's first byte.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out;
}

}  // namespace qv::host
