// job_options.h - what both hosts (qvcupsfilter from PPD options, qvprinter
// from IPP attributes) make of a job in the same way: the model, the part of
// the rendered sheet the filter core takes, the settings file's text, the
// secure-print PIN and the texts that go into quoted PJL values.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/paper_table.h"

namespace qv::host {

enum class Model { kMono, kColour };

// Settings-file lines in file order: key, word.
using SettingsLines = std::vector<std::pair<std::string, std::string>>;

// The page the core takes from a sheet rendered at `dpi`: the whole sheet
// for the mono core (it cuts its margins itself), the imaging area at
// 600 dpi for the colour core; and where that page starts on the sheet.
int rasterWidth(Model model, const PaperSize& paper, int xdpi);
int rasterHeight(Model model, const PaperSize& paper, int ydpi);
inline int rasterCrop(Model model) { return model == Model::kMono ? 0 : kImagingMargin600; }

// A settings file's text: "[section]", then one key=word line per setting.
std::string settingsFileText(std::string_view section, const SettingsLines& settings);

// A secure-print PIN is exactly four digits, 0-9 (leading zeros count), as
// the printers' panels take them.
[[nodiscard]] bool pinIsValid(std::string_view pin);

// Cuts `text` for a quoted PJL value: at its first control character (CR,
// LF, ESC...), at `maxBytes` on a UTF-8 character boundary, double quotes
// made single. A job title must not be able to end the value or start a
// printer command.
std::string pjlText(std::string_view text, std::size_t maxBytes);

}  // namespace qv::host
