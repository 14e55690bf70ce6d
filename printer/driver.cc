// driver.cc - the two QV drivers of qvprinter.
#include "printer/driver.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "printer/core_job.h"
#include "printer/device_status.h"
#include "printer/ipp_gate.h"
#include "printer/recovery.h"
#include "printer/test_page.h"

namespace qvprinter {
namespace {

// The job's data between the callbacks: its plan, the core job and where its
// bytes go. Made by planPrintJob, freed by endJob (or dropUnstartedPlan).
struct JobState {
  JobRequest request;  // its texts point into the strings below
  std::string mediaName, source, type, outputBin, pin, owner, title;
  JobPlan plan;
  pappl_device_t* device = nullptr;  // set by startJob
  std::unique_ptr<CoreJob> core;     // made at the first page
  bool failed = false;
  bool blankBacks = false;  // PAPPL prints an image's copies: two-sided, each on its own sheet
  // "page-ranges" of a raster document, which PAPPL passes on whole: the
  // pages outside are read and dropped.
  unsigned firstPage = 1, lastPage = UINT_MAX;
  bool skipping = false;    // the current page is outside them
  unsigned pagesBegun = 0;  // startPage calls
  unsigned pageLines = 0;   // lines of the current page received
  bool pageOpen = false;    // startPage succeeded, endPage not yet
  // Bytes handed to the device, and its count of bytes written when the job
  // began: the device buffers writes and a failed flush only shows there.
  std::size_t handed = 0, writtenBefore = 0;
  std::unique_ptr<JobStatusListener> listener;  // set by startJob, gone before the device

  void bindRequest() {
    request.mediaName = mediaName;
    request.source = source;
    request.type = type;
    request.outputBin = outputBin;
    request.pin = pin;
    request.owner = owner;
    request.title = title;
  }
};

bool writeToDevice(void* context, std::span<const std::uint8_t> bytes) {
  auto* state = static_cast<JobState*>(context);
  if (papplDeviceWrite(state->device, bytes.data(), bytes.size()) !=
      static_cast<ssize_t>(bytes.size()))
    return false;
  state->handed += bytes.size();
  return true;
}

std::size_t bytesWritten(pappl_device_t* device) {
  pappl_devmetrics_t metrics{};
  papplDeviceGetMetrics(device, &metrics);
  return metrics.write_bytes;
}

// Flushes the device; whether every byte of the job has reached it so far.
// A job that could not be sent whole is aborted, never reported completed.
bool flushWhole(JobState& state) {
  papplDeviceFlush(state.device);
  return bytesWritten(state.device) - state.writtenBefore == state.handed;
}

Model modelOf(pappl_job_t* job) {
  const ModelInfo* info = findModel(papplPrinterGetDriverName(papplJobGetPrinter(job)));
  return info != nullptr ? info->model : Model::kMono;
}

// A vendor option's value: the job's, else the printer's default.
std::string_view vendorOption(const pappl_pr_options_t* options, const char* name) {
  const char* value = cupsGetOption(name, options->num_vendor, options->vendor);
  return value != nullptr ? value : "";
}

// "multiple-document-handling": collated unless the job asks otherwise.
bool collatedCopies(pappl_job_t* job) {
  const char* value =
      ippGetString(papplJobGetAttribute(job, "multiple-document-handling"), 0, nullptr);
  return value == nullptr || std::strcmp(value, "separate-documents-uncollated-copies") != 0;
}

bool isCancelled(void* job) { return papplJobIsCanceled(static_cast<pappl_job_t*>(job)); }
void pageSent(void* job) { papplJobSetImpressionsCompleted(static_cast<pappl_job_t*>(job), 1); }

LineFormat lineFormat(const pappl_pr_options_t* options) {
  if (options->header.cupsBitsPerColor == 1) return LineFormat::kBlack1;
  return options->header.cupsNumColors >= 3 ? LineFormat::kRgb8 : LineFormat::kGray8;
}

// Marks the job failed with `message` as its state message.
bool failJob(pappl_job_t* job, JobState* state, const std::string& message) {
  papplJobSetMessage(job, "%s", message.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  if (state != nullptr) state->failed = true;
  return false;
}

bool identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message) {
  if (!(actions & PAPPL_IDENTIFY_ACTIONS_DISPLAY)) return true;
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) return false;
  // The panel shows the message until the next job.
  const std::string text = pjlText(message != nullptr && *message ? message : "QV printer", 40);
  const std::string pjl = "\x1b%-12345X@PJL RDYMSG DISPLAY=\"" + text + "\"\r\n\x1b%-12345X";
  const bool ok =
      papplDeviceWrite(device, pjl.data(), pjl.size()) == static_cast<ssize_t>(pjl.size());
  papplDeviceFlush(device);
  papplPrinterCloseDevice(printer);
  return ok;
}

void identifyCallback(pappl_printer_t* printer, pappl_identify_actions_t actions,
                      const char* message) {
  if (!identify(printer, actions, message))
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN,
                    "Identify-Printer: the device cannot be reached.");
}

}  // namespace

// The supplies with an unknown level, as IPP allows, until the printer's
// MIB says more (device_status.cc).
void createCallback(pappl_printer_t* printer, void*) {
  const bool colour = findModel(papplPrinterGetDriverName(printer))->model == Model::kColour;
  pappl_supply_t supplies[4] = {};
  const pappl_supply_color_t colours[4] = {PAPPL_SUPPLY_COLOR_BLACK, PAPPL_SUPPLY_COLOR_CYAN,
                                           PAPPL_SUPPLY_COLOR_MAGENTA, PAPPL_SUPPLY_COLOR_YELLOW};
  const char* names[4] = {"Black Toner", "Cyan Toner", "Magenta Toner", "Yellow Toner"};
  const int count = colour ? 4 : 1;
  for (int i = 0; i < count; ++i) {
    supplies[i].color = colours[i];
    std::snprintf(supplies[i].description, sizeof supplies[i].description, "%s", names[i]);
    supplies[i].is_consumed = true;
    supplies[i].level = -1;
    supplies[i].type = PAPPL_SUPPLY_TYPE_TONER;
  }
  papplPrinterSetSupplies(printer, count, supplies);
  watchPrinter(printer);
}

namespace {

pappl_media_col_t mediaCol(const Medium& medium, const char* source, const char* type) {
  pappl_media_col_t col{};
  col.bottom_margin = col.top_margin = col.left_margin = col.right_margin = kMarginHmm;
  col.size_width = medium.widthHmm;
  col.size_length = medium.lengthHmm;
  std::snprintf(col.size_name, sizeof col.size_name, "%s", medium.pwgName.c_str());
  std::snprintf(col.source, sizeof col.source, "%s", source);
  std::snprintf(col.type, sizeof col.type, "%s", type);
  return col;
}

pappl_pr_driver_t kDriverList[] = {
    {kModels[0].driverName, kModels[0].description, kModels[0].deviceId, nullptr},
    {kModels[1].driverName, kModels[1].description, kModels[1].deviceId, nullptr},
};

}  // namespace

pappl_pr_driver_t* driverList(int& count) {
  count = static_cast<int>(std::size(kDriverList));
  return kDriverList;
}

const char* autoAddCallback(const char*, const char*, const char* device_id, void*) {
  if (device_id == nullptr) return nullptr;
  for (const ModelInfo& info : kModels) {
    // "MDL:QV M600;" identifies the model whatever else the ID holds.
    const std::string_view id(info.deviceId);
    const std::string_view model = id.substr(id.find("MDL:"));
    if (std::strstr(device_id, std::string(model.substr(0, model.find(';') + 1)).c_str()))
      return info.driverName;
  }
  return nullptr;
}

bool driverCallback(pappl_system_t* system, const char* driver_name, const char*, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  const ModelInfo* info = findModel(driver_name != nullptr ? driver_name : "");
  if (info == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No such driver \"%s\".", driver_name);
    return false;
  }
  const Model model = info->model;
  const bool colour = model == Model::kColour;
  data->rstartjob_cb = startJob;
  data->rstartpage_cb = startPage;
  data->rwriteline_cb = writeLine;
  data->rendpage_cb = endPage;
  data->rendjob_cb = endJob;
  data->identify_cb = identifyCallback;
  data->status_cb = statusCallback;
  data->delete_cb = unwatchPrinter;
  data->testpage_cb = testPageCallback;
  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", info->makeAndModel);
  data->ppm = colour ? 20 : 40;
  data->ppm_color = colour ? 20 : 0;
  data->kind = PAPPL_KIND_DOCUMENT;
  data->has_supplies = true;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->scaling_default = PAPPL_SCALING_AUTO;
  if (colour) {
    data->color_supported = static_cast<pappl_color_mode_t>(
        PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME);
    data->color_default = PAPPL_COLOR_MODE_COLOR;
    data->raster_types = static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_SGRAY_8 |
                                                          PAPPL_PWG_RASTER_TYPE_SRGB_8);
    // Normal and Fine are the same 600 dpi raster; print-quality chooses.
    data->quality_default = IPP_QUALITY_HIGH;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = 600;
  } else {
    data->color_supported =
        static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME);
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    // 8-bit gray in, dithered by the driver with PAPPL's matrix. PAPPL 1.3
    // turns a black_1 page into an inverted sgray_8 one, and its forced
    // black_1 conversion overruns its line buffer on a page wider than the
    // job's paper: black_1 is neither offered nor forced.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->num_resolution = 3;
    const int dpis[3] = {300, 600, 1200};
    for (int i = 0; i < 3; ++i) data->x_resolution[i] = data->y_resolution[i] = dpis[i];
  }
  data->x_default = data->y_default = 600;
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported = static_cast<pappl_sides_t>(
      PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE);
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->borderless = false;
  data->left_right = data->bottom_top = kMarginHmm;

  const std::vector<Medium>& list = media(model);
  data->num_media = 0;
  for (const Medium& medium : list) data->media[data->num_media++] = medium.pwgName.c_str();
  const Medium& a4 = *findMedium(model, "iso_a4_210x297mm", 0, 0);
  data->num_source = 0;
  for (const Choice& source : mediaSources(model)) {
    data->media_ready[data->num_source] = mediaCol(a4, source.ipp, "stationery");
    data->source[data->num_source++] = source.ipp;
  }
  data->media_default = mediaCol(a4, "auto", "stationery");
  data->num_type = 0;
  for (const Choice& type : mediaTypes(model)) data->type[data->num_type++] = type.ipp;
  data->num_bin = 0;
  for (const Choice& bin : outputBins(model)) data->bin[data->num_bin++] = bin.ipp;
  data->bin_default = 0;

  // Never a client's format (ipp_gate.h); PAPPL must not find it NULL.
  data->format = kDriverFormat;
  // Vendor attribute: toner saving. The secure-print PIN (the job is held
  // at the printer until the PIN is typed on its panel) is qv-secure-pin or
  // the standard job-password, in text so that 0042 stays 0042; the IPP gate
  // keeps it out of PAPPL's attributes, defaults and forms.
  data->num_vendor = 1;
  data->vendor[0] = kTonerSaveAttr;
  if (*attrs == nullptr) *attrs = ippNew();
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "qv-toner-save-supported", 1);
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "qv-toner-save-default", 0);
  ippAddInteger(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "job-password-supported", 4);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-password-encryption-supported",
               nullptr, "none");
  // Attributes IPP Everywhere asks for that PAPPL leaves to the driver.
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
               nullptr, "auto");
  return true;
}

const JobPlan* planPrintJob(pappl_job_t* job, const pappl_pr_options_t* options) {
  if (const auto* planned = static_cast<const JobState*>(papplJobGetData(job)))
    return &planned->plan;
  auto state = std::make_unique<JobState>();
  JobRequest& request = state->request;
  request.model = modelOf(job);
  state->mediaName = options->media.size_name;
  request.mediaWidthHmm = options->media.size_width;
  request.mediaLengthHmm = options->media.size_length;
  state->source = options->media.source;
  state->type = options->media.type;
  state->outputBin = options->output_bin;
  request.sides = options->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? Sides::kLongEdge
                  : options->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? Sides::kShortEdge
                                                                       : Sides::kOneSided;
  request.monochrome = options->print_color_mode == PAPPL_COLOR_MODE_MONOCHROME ||
                       options->print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL;
  request.quality = static_cast<int>(options->print_quality);
  request.xdpi = options->printer_resolution[0];
  request.ydpi = options->printer_resolution[1];
  request.copies = options->copies > 0 ? options->copies : 1;
  request.collate = collatedCopies(job);
  // PAPPL's JPEG and PNG filter prints an image once per copy itself.
  if (const char* format = papplJobGetFormat(job);
      format != nullptr &&
      (!std::strcmp(format, "image/jpeg") || !std::strcmp(format, "image/png"))) {
    state->blankBacks = request.copies > 1 && request.sides != Sides::kOneSided;
    request.copies = 1;
  } else if (format != nullptr &&
             (!std::strcmp(format, "image/pwg-raster") || !std::strcmp(format, "image/urf"))) {
    state->firstPage = options->first_page;
    state->lastPage = options->last_page;
  }
  const std::string_view toner = vendorOption(options, kTonerSaveAttr);
  request.tonerSave = toner == "true" || toner == "yes" || toner == "on";
  if (!takeSecurePin(job, state->pin)) {
    failJob(job, nullptr,
            "The secure-print PIN was lost when qvprinter restarted; the job was not "
            "printed. Please send it again.");
    return nullptr;
  }
  const char* user = papplJobGetUsername(job);
  const char* name = papplJobGetName(job);
  state->owner = user != nullptr ? user : "";
  state->title = name != nullptr ? name : "";
  state->bindRequest();

  // Everything the job needs is checked before the printer gets a byte.
  std::string error;
  if (!planJob(request, state->plan, error)) {
    failJob(job, nullptr, error);
    return nullptr;
  }
  papplJobSetData(job, state.get());
  return &state.release()->plan;
}

void dropUnstartedPlan(pappl_job_t* job) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state == nullptr || state->device != nullptr) return;
  papplJobSetData(job, nullptr);
  const std::unique_ptr<JobState> unstarted(state);
}

bool startJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  if (planPrintJob(job, options) == nullptr) return false;
  // A printer out of paper, jammed or offline keeps the job waiting here.
  // PAPPL calls no endJob after a failed startJob: the plan goes now.
  if (!waitWhilePrinterStopped(job, device)) {
    dropUnstartedPlan(job);
    return false;
  }
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  state->device = device;
  state->listener = JobStatusListener::start(job, device);  // its request is not the job's
  state->writtenBefore = bytesWritten(device);
  recordJobStart(job);
  return true;
}

namespace {

// The core job starts with the first page, whose raster header says the
// resolution a PWG or Apple raster document was made at.
bool beginCoreJob(pappl_job_t* job, JobState& state, const pappl_pr_options_t& options) {
  const int dpi = static_cast<int>(options.header.HWResolution[0]);
  if (dpi > 0 && (dpi != state.plan.dpi ||
                  static_cast<int>(options.header.HWResolution[1]) != state.plan.dpi)) {
    state.request.xdpi = dpi;
    state.request.ydpi = static_cast<int>(options.header.HWResolution[1]);
    std::string error;
    if (state.request.model == Model::kColour) {
      return failJob(job, &state,
                     "Raster pages at " + std::to_string(dpi) +
                         " dpi cannot be printed; the QV C600 prints at 600 dpi.");
    }
    if (!planJob(state.request, state.plan, error)) return failJob(job, &state, error);
  }
  std::string error;
  state.core = CoreJob::create(state.plan, qv::ByteSink{writeToDevice, &state}, job, error);
  if (!state.core) return failJob(job, &state, error);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printing on %s at %d dpi.",
              state.plan.medium->pwgName.c_str(), state.plan.dpi);
  if (state.core->beginJob() != 0)
    return failJob(job, &state, "The printer connection was lost while printing.");
  return true;
}

// A page header may declare any size (100000 x 100000 pixels with 100 bytes
// of data behind it), and PAPPL sends the printer each line it reads: a
// page larger than the job's paper at its own resolution (a millimetre
// given for rounding), or at another resolution than the job's first page,
// is refused before a line of it is read.
bool checkPageHeader(pappl_job_t* job, JobState& state, const cups_page_header2_t& header,
                     unsigned page) {
  const qv::host::PaperSize& paper = *state.plan.medium->paper;
  const long xdpi = header.HWResolution[0] > 0 ? header.HWResolution[0] : state.plan.dpi;
  const long ydpi = header.HWResolution[1] > 0 ? header.HWResolution[1] : state.plan.dpi;
  const std::string name = "Page " + std::to_string(page) + " of the raster document";
  if (state.core && (xdpi != state.plan.dpi || ydpi != state.plan.dpi))
    return failJob(job, &state,
                   name + " is at " + std::to_string(xdpi) + "x" + std::to_string(ydpi) +
                       " dpi; the job's first page was at " + std::to_string(state.plan.dpi) +
                       " dpi.");
  const long width = paper.width600 * xdpi / 600, height = paper.height600 * ydpi / 600;
  if (header.cupsWidth > width + xdpi / 25 || header.cupsHeight > height + ydpi / 25)
    return failJob(job, &state,
                   name + " is " + std::to_string(header.cupsWidth) + " x " +
                       std::to_string(header.cupsHeight) +
                       " pixels, larger than the job's paper (" + state.plan.medium->pwgName +
                       ", " + std::to_string(width) + " x " + std::to_string(height) + " at " +
                       std::to_string(xdpi) + " dpi).");
  return true;
}

}  // namespace

bool startPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state == nullptr || state->failed || papplJobIsCanceled(job)) return false;
  state->pageLines = 0;
  if (!checkPageHeader(job, *state, options->header, ++state->pagesBegun)) return false;
  state->skipping = page < state->firstPage || page > state->lastPage;
  if (state->skipping) return true;
  if (!state->core && !beginCoreJob(job, *state, *options)) return false;
  state->core->setDither(options->dither);
  if (state->blankBacks && state->core->pagesBegun() % 2 == 1 && state->core->blankPage() != 0)
    return failJob(job, state, "The printer connection was lost while printing.");
  if (state->core->beginPage() != 0)
    return failJob(job, state, "The printer connection was lost while printing.");
  state->pageOpen = true;
  return true;
}

bool startFilledPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*,
                     std::span<std::uint8_t> pixels) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state == nullptr || state->failed) return false;
  if (!state->core && !beginCoreJob(job, *state, *options)) return false;
  if (state->core->beginFilledPage(pixels) != 0)
    return failJob(job, state, "The printer connection was lost while printing.");
  return true;
}

bool writeLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
               const unsigned char* line) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state != nullptr && state->skipping) {
    ++state->pageLines;
    return true;
  }
  if (state == nullptr || state->failed || !state->core) return false;
  // After a cancel PAPPL still pads the page out: nothing more is sent.
  if (papplJobIsCanceled(job)) return true;
  ++state->pageLines;
  const std::size_t bytes = options->header.cupsBytesPerLine;
  if (state->core->writeSheetLine(y, {line, bytes}, lineFormat(options),
                                  options->header.cupsWidth) != 0)
    return failJob(job, state, "The printer connection was lost while printing.");
  return true;
}

bool endPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state == nullptr || state->failed) return false;
  // A cancelled page stays open: the job's end finishes it as the core
  // defines a cancel.
  if (papplJobIsCanceled(job)) return true;
  // PAPPL ends a raster page whose data stops short (a cut connection, a
  // damaged line) as if it were whole; it must not print as one, nor may a
  // page outside the job's page-ranges end that way unnoticed.
  if (state->pageLines < options->header.cupsHeight)
    return failJob(job, state,
                   "Page " + std::to_string(state->pagesBegun) +
                       " of the raster document ends after " + std::to_string(state->pageLines) +
                       " of " + std::to_string(options->header.cupsHeight) + " lines.");
  if (state->skipping) {
    state->skipping = false;
    return true;
  }
  if (!state->core) return false;
  state->pageOpen = false;
  if (state->core->endPage() != 0 || !flushWhole(*state))
    return failJob(job, state, "The printer connection was lost while printing.");
  return true;
}

bool endFilledPage(pappl_job_t* job, pappl_device_t*) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state == nullptr || state->failed || !state->core) return false;
  if (papplJobIsCanceled(job)) return true;  // as endPage
  if (state->core->endFilledPage() != 0 || !flushWhole(*state))
    return failJob(job, state, "The printer connection was lost while printing.");
  return true;
}

bool endJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  std::unique_ptr<JobState> state(static_cast<JobState*>(papplJobGetData(job)));
  papplJobSetData(job, nullptr);
  if (!state) return false;
  // PAPPL aborts a raster job on a page header it cannot use, and only logs why.
  if (papplJobGetState(job) == IPP_JSTATE_ABORTED && !state->failed) {
    const char* message = papplJobGetMessage(job);
    if (message == nullptr || *message == '\0')
      failJob(job, state.get(),
              "Page " + std::to_string(state->pagesBegun + 1) +
                  " of the raster document has a page header that cannot be printed.");
  }
  recordJobEnd(job);
  if (!state->core) return !state->failed;  // no page began: nothing was sent
  // A job whose input stopped inside a page (Ghostscript ended early) has
  // failed, though no callback said so.
  const bool cancelled = papplJobIsCanceled(job);
  if (state->pageOpen && !cancelled && !state->failed)
    failJob(job, state.get(),
            "Page " + std::to_string(state->pagesBegun) + " of the document ends after " +
                std::to_string(state->pageLines) + " of " +
                std::to_string(options->header.cupsHeight) + " lines.");
  if (!state->failed && !cancelled && state->core->sendCopies(isCancelled, pageSent, job) != 0)
    failJob(job, state.get(), "The printer connection was lost while printing.");
  // A failed job ends as a cancelled one: its open page is not completed.
  const int rc = state->core->endJob(cancelled || state->failed);
  const bool whole = flushWhole(*state);  // even after a failure: nothing stays buffered
  state->listener.reset();
  if ((rc != 0 || !whole) && !state->failed)
    return failJob(job, nullptr, "The printer connection was lost while printing.");
  // A job that waited for the printer said so, or "Printing.", until now.
  const char* message = papplJobGetMessage(job);
  if (!state->failed && !cancelled && message != nullptr &&
      (std::string_view(message) == "Printing." ||
       std::string_view(message).starts_with("Waiting:")))
    papplJobSetMessage(job, "Printed.");
  return !state->failed;
}

void abandonCopies(pappl_job_t* job) {
  auto* state = static_cast<JobState*>(papplJobGetData(job));
  if (state != nullptr && state->core) state->core->dropCopies();
}

}  // namespace qvprinter
