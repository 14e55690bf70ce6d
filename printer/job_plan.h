// job_plan.h - what qvprinter knows about the two models, and how an IPP
// job's attributes become the filter cores' settings: the paper from the
// driver's paper table, the trays, media types, output bins, sides, colour
// mode and quality as the words of the filters' settings files, and the
// secure-print PIN checked before anything reaches the printer.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/job_options.h"
#include "host/paper_table.h"

namespace qvprinter {

using qv::host::Model;
using qv::host::pinIsValid;
using qv::host::pjlText;

// One model: its PAPPL driver name, the make and model shown to clients and
// the IEEE 1284 device ID that auto-add and `qvprinter devices` match.
struct ModelInfo {
  const char* driverName;
  const char* description;
  const char* makeAndModel;
  const char* deviceId;
  Model model;
};
inline constexpr ModelInfo kModels[] = {
    {"qv-m600", "Quarno QV M600 (mono laser)", "Quarno QV M600",
     "MFG:Quarno;MDL:QV M600;CMD:PJL,PCL;", Model::kMono},
    {"qv-c600", "Quarno QV C600 (colour laser)", "Quarno QV C600",
     "MFG:Quarno;MDL:QV C600;CMD:PJL,PWGRASTER;", Model::kColour},
};
const ModelInfo* findModel(std::string_view driverName);

// An IPP keyword and the settings word it stands for.
struct Choice {
  const char* ipp;
  const char* word;
};
std::span<const Choice> mediaSources(Model model);  // "media-source" -> tray
std::span<const Choice> mediaTypes(Model model);    // "media-type" -> paper kind
std::span<const Choice> outputBins(Model model);    // "output-bin" -> bin

// The printer's unprintable margin on every edge, in hundredths of a
// millimetre (1/6 inch), as IPP gives margins.
inline constexpr int kMarginHmm = 423;

// A paper of the table, with the PWG self-describing name a client uses
// ("iso_a4_210x297mm") and its size in hundredths of a millimetre.
struct Medium {
  const qv::host::PaperSize* paper;
  std::string pwgName;
  int widthHmm, lengthHmm;
};
// The papers of one model, in the table's order.
const std::vector<Medium>& media(Model model);
// The model's paper with this PWG name, else the one within a millimetre of
// this size; nullptr when the model has no such paper.
const Medium* findMedium(Model model, std::string_view pwgName, int widthHmm, int lengthHmm);

enum class Sides { kOneSided, kLongEdge, kShortEdge };

// The job as PAPPL resolved its attributes (job value, else the printer's
// default), in plain values so that the mapping is testable on its own.
struct JobRequest {
  Model model = Model::kMono;
  std::string_view mediaName;  // "media-col" size name
  int mediaWidthHmm = 0, mediaLengthHmm = 0;
  std::string_view source, type, outputBin;
  Sides sides = Sides::kOneSided;
  bool monochrome = false;  // "print-color-mode" monochrome (colour model)
  int quality = 4;          // "print-quality": 3 draft, 4 normal, 5 high
  int xdpi = 600, ydpi = 600;
  int copies = 1;
  // "multiple-document-handling": collated copies are the whole document
  // sent again (each copy starting on a new sheet); uncollated ones the
  // printer's own copies of each page.
  bool collate = true;
  bool tonerSave = false;
  std::string_view pin;  // "qv-secure-pin"; empty for none
  std::string_view owner, title;
};

// What the filter core is given for the job.
struct JobPlan {
  Model model = Model::kMono;
  const Medium* medium = nullptr;
  int dpi = 600;                     // raster resolution, both axes
  qv::host::SettingsLines settings;  // key, word: settings-file lines
  std::string pin, owner, title;     // PJL-safe texts
  std::string outputTray;            // colour OUTPUTTRAY, "" for unset
  unsigned monoFlags = 0;            // the paper's matching flags (mono)
  int passes = 1;                    // times the pages are sent: collated copies, else 1
  bool duplex = false;               // two-sided: a copy of odd pages gets a blank back

  // The page the core takes, in pixels at `dpi`: the whole sheet for the
  // mono core (it cuts its margins itself), the imaging area for the colour
  // core; and where it starts on the sheet PAPPL rasterises.
  int rasterWidth() const;
  int rasterHeight() const;
  int cropLeft() const;
  int cropTop() const;
  // The settings as a settings file's text ("[section]" and key=value lines).
  std::string settingsText(std::string_view section) const;
};

// Vendor attributes of both drivers.
inline constexpr const char* kTonerSaveAttr = "qv-toner-save";
inline constexpr const char* kPinAttr = "qv-secure-pin";

// Maps the request. Returns true, or false with `error` set to the sentence
// for the job's state message (unsupported paper, bad PIN, bad resolution).
[[nodiscard]] bool planJob(const JobRequest& request, JobPlan& plan, std::string& error);

}  // namespace qvprinter
