// job_options.cc - CUPS job options to QV filter settings.
#include "cups/job_options.h"

#include <cups/cups.h>
#include <cups/pwg.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qvcups {
namespace {

// The colour printer's output bin is chosen through its environment, not
// its settings file; rows with this key fill JobSettings::outputTray.
constexpr const char* kOutputTrayKey = "OUTPUTTRAY";

// Mono printer (rawtoqv). The PPD's choices use the names CUPS users know;
// the right-hand words are the filter's vocabulary, spelling included.
const std::vector<OptionMapping> kMonoMappings = {
    {"Resolution", "300dpi", "Resolution", "300"},
    {"Resolution", "600dpi", "Resolution", "600"},
    {"Resolution", "1200dpi", "Resolution", "1200"},
    {"Resolution", "600x300dpi", "Resolution", "600x300"},
    {"InputSlot", "Auto", "PaperSource", "AutoSelect"},
    {"InputSlot", "Tray1", "PaperSource", "Tray1"},
    {"InputSlot", "Tray2", "PaperSource", "Tray2"},
    {"InputSlot", "Tray3", "PaperSource", "Tray3"},
    {"InputSlot", "Tray4", "PaperSource", "Tray4"},
    {"InputSlot", "Tray5", "PaperSource", "Tray5"},
    {"InputSlot", "MPTray", "PaperSource", "MpTray"},
    {"InputSlot", "Manual", "PaperSource", "Manual"},
    {"MediaType", "Plain", "Media", "PlainPaper"},
    {"MediaType", "Thin", "Media", "ThinPaper"},
    {"MediaType", "Thick", "Media", "ThickPaper"},
    {"MediaType", "Thicker", "Media", "ThickerPaper"},
    {"MediaType", "Bond", "Media", "BondPaper"},
    {"MediaType", "Transparency", "Media", "Transparencies"},
    {"MediaType", "Envelope", "Media", "Envelopes"},
    {"MediaType", "EnvThick", "Media", "Env.Thick"},
    {"MediaType", "EnvThin", "Media", "Env.Thin"},
    {"MediaType", "Recycled", "Media", "Recycled"},
    {"Duplex", "None", "Duplex", "OFF"},
    {"Duplex", "DuplexNoTumble", "Duplex", "ON"},
    {"Duplex", "DuplexNoTumble", "DuplexType", "Long"},
    {"Duplex", "DuplexTumble", "Duplex", "ON"},
    {"Duplex", "DuplexTumble", "DuplexType", "Short"},
    // Written in every job: a settings file without the key means toner
    // saving ON to the mono filter.
    {"QVTonerSave", "False", "TonerSaveMode", "OFF"},
    {"QVTonerSave", "True", "TonerSaveMode", "ON"},
    {"QVSleep", "PrinterDefault", "Sleep", "PrinterDefault"},
    {"QVSleep", "5", "Sleep", "5"},
    {"QVSleep", "15", "Sleep", "15"},
    {"QVSleep", "30", "Sleep", "30"},
    {"QVSleep", "60", "Sleep", "60"},
    {"OutputBin", "Auto", "OutputBin", "Auto"},
    {"OutputBin", "StandardBin", "OutputBin", "StandardBin"},
    {"OutputBin", "Outbin1", "OutputBin", "Outbin1"},
    {"OutputBin", "Outbin2", "OutputBin", "Outbin2"},
    {"OutputBin", "Outbin3", "OutputBin", "Outbin3"},
    {"OutputBin", "Outbin4", "OutputBin", "Outbin4"},
    {"OutputBin", "Stacker", "OutputBin", "Stacker"},
    {"OutputBin", "Optional", "OutputBin", "Optional"},
};

// Colour printer (rastertoqv).
const std::vector<OptionMapping> kColourMappings = {
    {"cupsPrintQuality", "Normal", "QVResolution", "Normal"},
    {"cupsPrintQuality", "High", "QVResolution", "Fine"},
    {"InputSlot", "Auto", "InputSlot", "AutoSelect"},
    {"InputSlot", "Tray1", "InputSlot", "Tray1"},
    {"InputSlot", "Tray2", "InputSlot", "Tray2"},
    {"InputSlot", "Tray3", "InputSlot", "Tray3"},
    {"InputSlot", "Tray4", "InputSlot", "Tray4"},
    {"InputSlot", "Tray5", "InputSlot", "Tray5"},
    {"InputSlot", "MPTray", "InputSlot", "MPTray"},
    {"InputSlot", "Manual", "InputSlot", "Manual"},
    {"MediaType", "Plain", "MediaType", "Plain"},
    {"MediaType", "Thin", "MediaType", "Thin"},
    {"MediaType", "Thick", "MediaType", "Thick"},
    {"MediaType", "Thicker", "MediaType", "Thicker"},
    {"MediaType", "Bond", "MediaType", "BOND"},
    {"MediaType", "Recycled", "MediaType", "Recycled"},
    {"MediaType", "Envelope", "MediaType", "Env"},
    {"MediaType", "EnvThin", "MediaType", "EnvThin"},
    {"MediaType", "EnvThick", "MediaType", "EnvThick"},
    {"MediaType", "Postcard", "MediaType", "PostCard"},
    {"MediaType", "Labels", "MediaType", "Label"},
    {"MediaType", "Glossy", "MediaType", "Glossy"},
    {"Duplex", "None", "QVDuplex", "None"},
    {"Duplex", "DuplexNoTumble", "QVDuplex", "DuplexNoTumble"},
    {"Duplex", "DuplexTumble", "QVDuplex", "DuplexTumble"},
    // The printer's own colour mode adapts colours; FullColor does not.
    {"ColorModel", "RGB", "QVMonoColor", "Auto"},
    {"ColorModel", "FullColor", "QVMonoColor", "FullColor"},
    {"ColorModel", "Gray", "QVMonoColor", "Mono"},
    {"QVColorMatching", "Auto", "QVColorMatching", "Auto"},
    {"QVColorMatching", "Normal", "QVColorMatching", "Normal"},
    {"QVColorMatching", "Vivid", "QVColorMatching", "Vivid"},
    {"QVColorMatching", "None", "QVColorMatching", "None"},
    {"QVGray", "False", "QVGray", "OFF"},
    {"QVGray", "True", "QVGray", "ON"},
    {"QVEnhanceBlkPrt", "False", "QVEnhanceBlkPrt", "OFF"},
    {"QVEnhanceBlkPrt", "True", "QVEnhanceBlkPrt", "ON"},
    {"QVTonerSave", "False", "TonerSaveMode", "OFF"},
    {"QVTonerSave", "True", "TonerSaveMode", "ON"},
    {"QVImproveOutput", "Off", "QVImproveOutput", "OFF"},
    {"QVImproveOutput", "LessPaperCurl", "QVImproveOutput", "QVLessPaperCurl"},
    {"QVImproveOutput", "FixIntensity", "QVImproveOutput", "QVFixIntensity"},
    {"QVSkipBlank", "False", "QVSkipBlank", "OFF"},
    {"QVSkipBlank", "True", "QVSkipBlank", "ON"},
    {"OutputBin", "PrinterDefault", kOutputTrayKey, ""},
    {"OutputBin", "Auto", kOutputTrayKey, "AUTO"},
    {"OutputBin", "Upper", kOutputTrayKey, "OFF"},
};

struct OptionsOwner {
  int count = 0;
  cups_option_t* options = nullptr;
  ~OptionsOwner() { cupsFreeOptions(count, options); }
};

// A yes/no job option in any of the spellings IPP and PPDs use.
bool isTrueWord(const char* value) {
  return strcasecmp(value, "true") == 0 || strcasecmp(value, "yes") == 0 ||
         strcasecmp(value, "on") == 0;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// libcups keeps strings of the PPD cache that cupsMarkOptions builds for
// IPP attributes (print-color-mode, sides...) after ppdClose; LeakSanitizer
// would fail every sanitizer-built job on libcups's allocations, not ours.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libcups.so\n";
}
#endif

const std::vector<OptionMapping>& optionMappings(Model model) {
  return model == Model::kMono ? kMonoMappings : kColourMappings;
}

namespace {

// The model and printer name the PPD carries for this driver.
int readModel(ppd_file_t* ppd, JobSettings& job, std::string& error) {
  ppd_attr_t* modelAttr = ppdFindAttr(ppd, "QVModel", nullptr);
  ppd_attr_t* nameAttr = ppdFindAttr(ppd, "QVPrinterName", nullptr);
  if (modelAttr == nullptr || modelAttr->value == nullptr || nameAttr == nullptr ||
      nameAttr->value == nullptr) {
    error = "The PPD is not a QV driver PPD (no QVModel or QVPrinterName).";
    return 1;
  }
  if (std::strcmp(modelAttr->value, "mono") == 0) {
    job.model = Model::kMono;
  } else if (std::strcmp(modelAttr->value, "colour") == 0) {
    job.model = Model::kColour;
  } else {
    error = std::string("Unknown QV model \"") + modelAttr->value + "\" in the PPD.";
    return 1;
  }
  job.printerName = nameAttr->value;
  // Both filters refuse long section names (23 and 31 characters).
  if (job.printerName.empty() || job.printerName.size() > 23 ||
      job.printerName.find_first_of("[]\r\n \t") != std::string::npos) {
    error = "The PPD's QVPrinterName is not a valid printer name.";
    return 1;
  }
  return 0;
}

// The size a job asked for by name ("A4", "Custom.300x500mm", or an IPP
// media name such as "iso_a5_148x210mm"), as the PPD knows it, or nullptr.
ppd_size_t* requestedSize(ppd_file_t* ppd, const std::string& name) {
  if (ppd_size_t* size = ppdPageSize(ppd, name.c_str())) return size;
  pwg_media_t* media = pwgMediaForPWG(name.c_str());
  if (media == nullptr) media = pwgMediaForLegacy(name.c_str());
  return media != nullptr && media->ppd != nullptr ? ppdPageSize(ppd, media->ppd) : nullptr;
}

// The model's paper for a PPD size: a size of the table, or the mono
// printer's custom paper within its limits. Returns nullptr when the model
// cannot print it.
const PaperSize* paperFor(const ppd_size_t& size, JobSettings& job) {
  if (std::strcmp(size.name, "Custom") != 0) {
    const PaperSize* paper = qv::host::findPaperSize(size.name);
    if (paper == nullptr) return nullptr;
    return (job.model == Model::kMono ? paper->monoWord : paper->colourWord) != nullptr ? paper
                                                                                        : nullptr;
  }
  const auto dots = [](float points) { return static_cast<int>(points * 600.0f / 72.0f + 0.5f); };
  job.customPaper.width600 = dots(size.width);
  job.customPaper.height600 = dots(size.length);
  const bool fits = job.customPaper.width600 >= kMonoCustomMinWidth600 &&
                    job.customPaper.width600 <= kMonoCustomMaxWidth600 &&
                    job.customPaper.height600 >= kMonoCustomMinHeight600 &&
                    job.customPaper.height600 <= kMonoCustomMaxHeight600;
  return job.model == Model::kMono && fits ? &job.customPaper : nullptr;
}

// Paper: the size the job asked for (PageSize, PageRegion or the first word
// of media) when the model prints it, else the PPD's default with a warning.
// A job printed on another paper than asked is better than a lost one, but
// the user must be able to see why.
int readPaper(ppd_file_t* ppd, const OptionsOwner& options, JobSettings& job, std::string& error) {
  std::string asked;
  for (const char* name : {"PageSize", "PageRegion", "media"})
    if (const char* value = cupsGetOption(name, options.count, options.options);
        value && !asked.size())
      asked = std::string(value).substr(0, std::string(value).find(','));
  job.warning.clear();
  for (const char* other : {"InputSlot", "MediaType"}) {  // media=Tray2 names no size
    ppd_option_t* option = ppdFindOption(ppd, other);
    if (option != nullptr && !asked.empty() && ppdFindChoice(option, asked.c_str()) != nullptr &&
        ppdPageSize(ppd, asked.c_str()) == nullptr)
      asked.clear();
  }
  ppd_option_t* pageSize = ppdFindOption(ppd, "PageSize");
  const std::string fallback = pageSize != nullptr ? pageSize->defchoice : "";
  ppd_size_t* size = requestedSize(ppd, asked.empty() ? fallback : asked);
  job.paper = size != nullptr ? paperFor(*size, job) : nullptr;
  if (job.paper != nullptr) return 0;
  if (ppd_size_t* standard = ppdPageSize(ppd, fallback.c_str()))
    job.paper = paperFor(*standard, job);
  if (job.paper == nullptr) {
    error = "The PPD's default page size \"" + fallback + "\" is not a QV paper.";
    return 1;
  }
  job.warning = "Page size \"" + asked + "\" is not supported by the " + ppd->modelname +
                "; printing on " + job.paper->ppdText + " instead.";
  return 0;
}

// Raster resolution: the colour printer prints at 600 dpi only.
int readResolution(ppd_file_t* ppd, JobSettings& job, std::string& error) {
  job.xdpi = job.ydpi = 600;
  if (job.model != Model::kMono) return 0;
  ppd_choice_t* resolution = ppdFindMarkedChoice(ppd, "Resolution");
  int x = 0, y = 0;
  if (resolution != nullptr && std::sscanf(resolution->choice, "%dx%ddpi", &x, &y) != 2 &&
      std::sscanf(resolution->choice, "%ddpi", &x) == 1)
    y = x;
  if (!((x == 300 && y == 300) || (x == 600 && y == 600) || (x == 1200 && y == 1200) ||
        (x == 600 && y == 300))) {
    error = std::string("Unsupported resolution \"") +
            (resolution != nullptr ? resolution->choice : "(none)") + "\".";
    return 1;
  }
  job.xdpi = x;
  job.ydpi = y;
  return 0;
}

// Copies from argv[4]; collation from the PPD's Collate (which
// cupsMarkOptions sets from multiple-document-handling too) or "collate".
int readCopies(ppd_file_t* ppd, const OptionsOwner& options, const char* copiesArg,
               JobSettings& job, std::string& error) {
  char* end = nullptr;
  const long copies = std::strtol(copiesArg != nullptr ? copiesArg : "1", &end, 10);
  if (end == nullptr || *end != '\0' || copies < 1 || copies > 999) {
    error = std::string("Invalid number of copies \"") + (copiesArg ? copiesArg : "") + "\".";
    return 1;
  }
  job.copies = static_cast<int>(copies);
  job.collate = true;
  if (ppd_choice_t* collate = ppdFindMarkedChoice(ppd, "Collate")) {
    job.collate = isTrueWord(collate->choice);
  } else if (const char* value = cupsGetOption("collate", options.count, options.options)) {
    job.collate = isTrueWord(value);
  }
  return 0;
}

// The settings file: the paper first, then every mapped option's choice.
void mapSettings(ppd_file_t* ppd, JobSettings& job) {
  job.settings.clear();
  job.outputTray.clear();
  if (job.model == Model::kMono) {
    job.settings.emplace_back("PaperType", job.paper->monoWord);
    job.settings.emplace_back("Copies", std::to_string(job.filterCopies()));
  } else {
    job.settings.emplace_back("PageSize", job.paper->colourWord);
    job.settings.emplace_back("Copies", std::to_string(job.filterCopies()));
    job.settings.emplace_back("Collate", "OFF");
  }
  ppd_choice_t* duplex = ppdFindMarkedChoice(ppd, "Duplex");
  job.duplex = duplex != nullptr && std::strcmp(duplex->choice, "None") != 0;
  for (const OptionMapping& row : optionMappings(job.model)) {
    ppd_choice_t* marked = ppdFindMarkedChoice(ppd, row.option);
    if (marked == nullptr || std::strcmp(marked->choice, row.choice) != 0) continue;
    if (std::strcmp(row.settingsKey, kOutputTrayKey) == 0)
      job.outputTray = row.settingsWord;
    else
      job.settings.emplace_back(row.settingsKey, row.settingsWord);
  }
  job.monoFlags.clear();
  if (job.model == Model::kMono && job.paper->monoFlags != 0) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "%x", static_cast<unsigned>(job.paper->monoFlags));
    job.monoFlags = flags;
  }
}

// Secure print: the PIN holds the job at the printer until it is typed on
// the panel. It comes as IPP job-password, as the PPD's custom QVPin
// ("Custom.1234", what print dialogs send for a passcode) or as a plain
// QVPin value. Four digits, as the printers' panels take them; anything
// else fails the job rather than printing a confidential document openly.
int readPin(ppd_file_t* ppd, const OptionsOwner& options, JobSettings& job, std::string& error) {
  std::string pin;
  ppd_choice_t* marked = ppdFindMarkedChoice(ppd, "QVPin");
  ppd_coption_t* custom = ppdFindCustomOption(ppd, "QVPin");
  ppd_cparam_t* code = custom != nullptr ? ppdFindCustomParam(custom, "Code") : nullptr;
  if (const char* value = cupsGetOption("job-password", options.count, options.options)) {
    pin = value;
  } else if (marked != nullptr && std::strcmp(marked->choice, "Custom") == 0 && code != nullptr &&
             code->current.custom_passcode != nullptr) {
    pin = code->current.custom_passcode;
  } else if (const char* raw = cupsGetOption("QVPin", options.count, options.options)) {
    pin = std::strcmp(raw, "None") == 0 ? "" : raw;
  }
  job.pin.clear();
  if (pin.empty()) return 0;
  if (!qv::host::pinIsValid(pin)) {
    error = "The secure-print PIN must be four digits.";
    return 1;
  }
  job.pin = pin;
  return 0;
}

}  // namespace

int readJobSettings(ppd_file_t* ppd, const char* optionsText, const char* copiesArg,
                    const char* user, const char* title, JobSettings& job, std::string& error) {
  if (readModel(ppd, job, error) != 0) return 1;
  OptionsOwner options;
  options.count = cupsParseOptions(optionsText, 0, &options.options);
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, options.count, options.options);
  if (readPaper(ppd, options, job, error) != 0 || readResolution(ppd, job, error) != 0 ||
      readCopies(ppd, options, copiesArg, job, error) != 0)
    return 1;
  mapSettings(ppd, job);
  if (readPin(ppd, options, job, error) != 0) return 1;
  // Owner and title go into quoted PJL values. The mono printer holds a
  // secure job only when it has a title too.
  job.owner = qv::host::pjlText(user != nullptr ? user : "", 78);
  job.title = qv::host::pjlText(title != nullptr ? title : "", 78);
  if (job.title.empty() && !job.pin.empty()) job.title = "Untitled";
  return 0;
}

}  // namespace qvcups
