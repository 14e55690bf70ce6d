// job_options.h - a CUPS job's options, as marked in the queue's PPD, turned
// into what the QV filters understand: the settings file, the paper, the
// raster resolution, copies, the secure-print PIN and the environment.
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

#include "host/job_options.h"
#include "host/paper_table.h"

namespace qvcups {

using qv::host::Model;
using qv::host::PaperSize;

// One line of a mapping table: PPD option and choice to settings words.
struct OptionMapping {
  const char* option;        // PPD main keyword, e.g. "InputSlot"
  const char* choice;        // PPD choice, e.g. "MPTray"
  const char* settingsKey;   // settings file key, e.g. "PaperSource"
  const char* settingsWord;  // settings file value, e.g. "MpTray"
};

// The option tables of the two models, exposed for the tests that check
// every PPD choice has a row and every row names a word the filter knows.
const std::vector<OptionMapping>& optionMappings(Model model);

// The custom page sizes the mono printer feeds, in dots at 600 dpi: from an
// index card (3 x 5 inch) to US Legal (8.5 x 14 inch). Wider than 8.5 inch
// its centring margin (taken from the Legal width) would turn negative. The
// colour filter has no custom paper: its geometry files are fixed.
inline constexpr int kMonoCustomMinWidth600 = 1800, kMonoCustomMaxWidth600 = 5100;
inline constexpr int kMonoCustomMinHeight600 = 3000, kMonoCustomMaxHeight600 = 8400;

struct JobSettings {
  JobSettings() = default;
  JobSettings(const JobSettings&) = delete;  // `paper` may point at `customPaper`
  JobSettings& operator=(const JobSettings&) = delete;

  Model model = Model::kMono;
  std::string printerName;  // settings section name; names the colour geometry directory
  const PaperSize* paper = nullptr;
  PaperSize customPaper{"Custom", "Custom", "CUSTOM0", nullptr, 0, 0, 0};
  std::string warning;         // a WARNING: sentence (a size replaced by the default), or empty
  bool duplex = false;         // two-sided: each collated copy starts on a new sheet
  int xdpi = 600, ydpi = 600;  // raster resolution
  qv::host::SettingsLines settings;  // key, word in file order
  int copies = 1;
  bool collate = true;
  std::string pin;         // secure-print PIN, digits; empty for none
  std::string owner;       // job owner, made safe for a PJL line
  std::string title;       // job title, made safe for a PJL line
  std::string outputTray;  // colour OUTPUTTRAY, empty for unset
  std::string monoFlags;   // -flags for rawtoqv, empty for none

  // The sheet in pixels at the job resolution, as Ghostscript renders it
  // (truncated, as rawtoqv scales its 600-dpi paper sizes).
  int renderWidth() const { return paper->width600 * xdpi / 600; }
  int renderHeight() const { return paper->height600 * ydpi / 600; }
  // The part of the rendered sheet the filter takes: the whole sheet for the
  // mono filter (it cuts its margins itself), the imaging area for the
  // colour filter.
  int cropLeft() const { return qv::host::rasterCrop(model); }
  int cropTop() const { return qv::host::rasterCrop(model); }
  int rasterWidth() const { return qv::host::rasterWidth(model, *paper, xdpi); }
  int rasterHeight() const { return qv::host::rasterHeight(model, *paper, ydpi); }

  // Times the document is rasterised: collated copies are made by sending
  // the whole document again; uncollated ones by the printer or the filter.
  int passes() const { return collate ? copies : 1; }
  int filterCopies() const { return collate ? 1 : copies; }

  // The settings file's text.
  std::string settingsFile() const { return qv::host::settingsFileText(printerName, settings); }
};

// Reads the job: the PPD with its defaults marked, then the job's options
// (argv[5]) marked over them. `copiesArg` is argv[4]. Returns 0 (with
// `job.warning` set when a requested page size was replaced by the
// default), or 1 with `error` set to a sentence for an "ERROR:" line.
[[nodiscard]] int readJobSettings(ppd_file_t* ppd, const char* optionsText, const char* copiesArg,
                                  const char* user, const char* title, JobSettings& job,
                                  std::string& error);

}  // namespace qvcups
