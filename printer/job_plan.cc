// job_plan.cc - IPP job attributes to the QV filter cores' settings.
#include "printer/job_plan.h"

#include <cups/cups.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace qvprinter {
namespace {

constexpr std::array kMonoSources = {
    Choice{"auto", "AutoSelect"},     Choice{"tray-1", "Tray1"},  Choice{"tray-2", "Tray2"},
    Choice{"tray-3", "Tray3"},        Choice{"tray-4", "Tray4"},  Choice{"tray-5", "Tray5"},
    Choice{"by-pass-tray", "MpTray"}, Choice{"manual", "Manual"},
};
constexpr std::array kColourSources = {
    Choice{"auto", "AutoSelect"},     Choice{"tray-1", "Tray1"},  Choice{"tray-2", "Tray2"},
    Choice{"tray-3", "Tray3"},        Choice{"tray-4", "Tray4"},  Choice{"tray-5", "Tray5"},
    Choice{"by-pass-tray", "MPTray"}, Choice{"manual", "Manual"},
};
constexpr std::array kMonoTypes = {
    Choice{"stationery", "PlainPaper"},
    Choice{"stationery-lightweight", "ThinPaper"},
    Choice{"stationery-heavyweight", "ThickPaper"},
    Choice{"cardstock", "ThickerPaper"},
    Choice{"stationery-cotton", "BondPaper"},
    Choice{"stationery-recycled", "Recycled"},
    Choice{"transparency", "Transparencies"},
    Choice{"envelope", "Envelopes"},
    Choice{"envelope-lightweight", "Env.Thin"},
    Choice{"envelope-heavyweight", "Env.Thick"},
};
constexpr std::array kColourTypes = {
    Choice{"stationery", "Plain"},
    Choice{"stationery-lightweight", "Thin"},
    Choice{"stationery-heavyweight", "Thick"},
    Choice{"cardstock", "Thicker"},
    Choice{"stationery-cotton", "BOND"},
    Choice{"stationery-recycled", "Recycled"},
    Choice{"envelope", "Env"},
    Choice{"envelope-lightweight", "EnvThin"},
    Choice{"envelope-heavyweight", "EnvThick"},
    Choice{"postcard", "PostCard"},
    Choice{"labels", "Label"},
    Choice{"photographic-glossy", "Glossy"},
};
// The mono printer's sorter bins make sorted copies by replaying the job;
// IPP copies do that already, so they are not offered as bins.
constexpr std::array kMonoBins = {
    Choice{"auto", "Auto"},         Choice{"face-down", "StandardBin"},
    Choice{"mailbox-1", "Outbin1"}, Choice{"mailbox-2", "Outbin2"},
    Choice{"mailbox-3", "Outbin3"}, Choice{"mailbox-4", "Outbin4"},
    Choice{"stacker-1", "Stacker"}, Choice{"side", "Optional"},
};
// The colour printer's bin is chosen through OUTPUTTRAY: "OFF" is the upper
// bin without finishing, anything else the automatic bin.
constexpr std::array kColourBins = {Choice{"auto", "AUTO"}, Choice{"top", "OFF"}};

const char* wordFor(std::span<const Choice> choices, std::string_view ipp) {
  for (const Choice& choice : choices)
    if (ipp == choice.ipp) return choice.word;
  return nullptr;
}

std::vector<Medium> buildMedia(Model model) {
  std::vector<Medium> list;
  for (const qv::host::PaperSize& paper : qv::host::paperSizes()) {
    if ((model == Model::kMono ? paper.monoWord : paper.colourWord) == nullptr) continue;
    // IPP sizes carry no feed direction: a landscape-fed paper is its
    // portrait twin (A5Rotated is A5), which the list already has.
    if (paper.width600 > paper.height600) continue;
    const int width = paper.width600 * 2540 / 600;
    const int length = paper.height600 * 2540 / 600;
    Medium medium{&paper, {}, width, length};
    // libcups names a size it does not know "custom_WxH...": such a size
    // gets a name of our own below.
    const pwg_media_t* pwg = pwgMediaForSize(width, length);
    if (pwg != nullptr && std::string_view(pwg->pwg).rfind("custom_", 0) != 0) {
      medium.pwgName = pwg->pwg;
      medium.widthHmm = pwg->width;
      medium.lengthHmm = pwg->length;
    } else {
      std::string name = paper.ppdName;
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      // A size of our own, in whole millimetres ("om_195x270mm_195x270mm").
      medium.widthHmm = (width + 50) / 100 * 100;
      medium.lengthHmm = (length + 50) / 100 * 100;
      char keyword[128];
      pwgFormatSizeName(keyword, sizeof keyword, "om", name.c_str(), medium.widthHmm,
                        medium.lengthHmm, "mm");
      medium.pwgName = keyword;
    }
    list.push_back(std::move(medium));
  }
  return list;
}

}  // namespace

const ModelInfo* findModel(std::string_view driverName) {
  for (const ModelInfo& info : kModels)
    if (driverName == info.driverName) return &info;
  return nullptr;
}

std::span<const Choice> mediaSources(Model model) {
  if (model == Model::kMono) return kMonoSources;
  return kColourSources;
}
std::span<const Choice> mediaTypes(Model model) {
  if (model == Model::kMono) return kMonoTypes;
  return kColourTypes;
}
std::span<const Choice> outputBins(Model model) {
  if (model == Model::kMono) return kMonoBins;
  return kColourBins;
}

const std::vector<Medium>& media(Model model) {
  static const std::vector<Medium> mono = buildMedia(Model::kMono);
  static const std::vector<Medium> colour = buildMedia(Model::kColour);
  return model == Model::kMono ? mono : colour;
}

const Medium* findMedium(Model model, std::string_view pwgName, int widthHmm, int lengthHmm) {
  const std::vector<Medium>& list = media(model);
  for (const Medium& medium : list)
    if (!pwgName.empty() && pwgName == medium.pwgName) return &medium;
  for (const Medium& medium : list)
    if (std::abs(medium.widthHmm - widthHmm) <= 100 &&
        std::abs(medium.lengthHmm - lengthHmm) <= 100)
      return &medium;
  return nullptr;
}

int JobPlan::rasterWidth() const { return qv::host::rasterWidth(model, *medium->paper, dpi); }
int JobPlan::rasterHeight() const { return qv::host::rasterHeight(model, *medium->paper, dpi); }
int JobPlan::cropLeft() const { return qv::host::rasterCrop(model); }
int JobPlan::cropTop() const { return qv::host::rasterCrop(model); }

std::string JobPlan::settingsText(std::string_view section) const {
  return qv::host::settingsFileText(section, settings);
}

bool planJob(const JobRequest& request, JobPlan& plan, std::string& error) {
  const bool mono = request.model == Model::kMono;
  plan = JobPlan{};
  plan.model = request.model;
  plan.medium =
      findMedium(request.model, request.mediaName, request.mediaWidthHmm, request.mediaLengthHmm);
  if (plan.medium == nullptr) {
    error = "Media size \"" + std::string(request.mediaName) + "\" is not supported by the " +
            (mono ? "QV M600" : "QV C600") + "; the job was not printed.";
    return false;
  }
  if (!request.pin.empty() && !pinIsValid(request.pin)) {
    error = "The secure-print PIN must be exactly 4 digits; the job was not printed.";
    return false;
  }
  if (request.copies < 1 || request.copies > 999) {
    error = "Copies must be 1 to 999.";
    return false;
  }
  const auto add = [&plan](const char* key, std::string word) {
    plan.settings.emplace_back(key, std::move(word));
  };
  // Collated copies are the pages sent again (CoreJob::sendCopies), so the
  // core itself makes one copy; uncollated ones are the core's copies.
  plan.passes = request.collate ? request.copies : 1;
  plan.duplex = request.sides != Sides::kOneSided;
  const std::string copies = std::to_string(request.collate ? 1 : request.copies);
  const char* source = wordFor(mediaSources(request.model), request.source);
  const char* type = wordFor(mediaTypes(request.model), request.type);
  const char* bin = wordFor(outputBins(request.model), request.outputBin);
  const qv::host::PaperSize& paper = *plan.medium->paper;
  if (mono) {
    if (request.xdpi != request.ydpi ||
        (request.xdpi != 300 && request.xdpi != 600 && request.xdpi != 1200)) {
      error = "Resolution " + std::to_string(request.xdpi) + "x" + std::to_string(request.ydpi) +
              "dpi is not supported by the QV M600.";
      return false;
    }
    plan.dpi = request.xdpi;
    add("Resolution", std::to_string(plan.dpi));
    add("PaperType", paper.monoWord);
    if (source) add("PaperSource", source);
    if (type) add("Media", type);
    add("Duplex", request.sides == Sides::kOneSided ? "OFF" : "ON");
    if (request.sides != Sides::kOneSided)
      add("DuplexType", request.sides == Sides::kLongEdge ? "Long" : "Short");
    add("Copies", copies);
    // Without the key the mono printer saves toner: always say which.
    add("TonerSaveMode", request.tonerSave ? "ON" : "OFF");
    if (bin) add("OutputBin", bin);
    plan.monoFlags = static_cast<unsigned>(paper.monoFlags);
  } else {
    plan.dpi = 600;
    add("PageSize", paper.colourWord);
    if (source) add("InputSlot", source);
    if (type) add("MediaType", type);
    add("QVResolution", request.quality >= 5 ? "Fine" : "Normal");
    add("QVDuplex", request.sides == Sides::kOneSided   ? "None"
                    : request.sides == Sides::kLongEdge ? "DuplexNoTumble"
                                                        : "DuplexTumble");
    add("QVMonoColor", request.monochrome ? "Mono" : "Auto");
    add("Copies", copies);
    add("Collate", "OFF");
    add("TonerSaveMode", request.tonerSave ? "ON" : "OFF");
    if (bin) plan.outputTray = bin;
  }
  plan.pin = std::string(request.pin);
  // 78 bytes of owner and title reach the printer.
  plan.owner = pjlText(request.owner, 63);
  plan.title = pjlText(request.title, 78);
  return true;
}

}  // namespace qvprinter
