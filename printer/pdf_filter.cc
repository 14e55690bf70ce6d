// pdf_filter.cc - PDF through Ghostscript into the raster callbacks.
#include "printer/pdf_filter.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/unique_file.h"
#include "host/child_process.h"
#include "host/paper_table.h"
#include "host/pnm_reader.h"
#include "host/render_client.h"
#include "printer/driver.h"

namespace qvprinter {
namespace {

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};

// The raster header fields the callbacks read, for a page of Ghostscript's.
void describePage(pappl_pr_options_t& options, const qv::host::PnmHeader& page, int dpi) {
  auto& header = options.header;
  header.cupsWidth = static_cast<unsigned>(page.width);
  header.cupsHeight = static_cast<unsigned>(page.height);
  header.cupsBytesPerLine = static_cast<unsigned>(page.rowBytes());
  header.HWResolution[0] = header.HWResolution[1] = static_cast<unsigned>(dpi);
  header.cupsBitsPerColor = page.kind == '4' ? 1 : 8;
  header.cupsNumColors = static_cast<unsigned>(page.samplesPerPixel());
  header.cupsBitsPerPixel = header.cupsBitsPerColor * header.cupsNumColors;
  header.cupsColorSpace = page.kind == '4'   ? CUPS_CSPACE_K
                          : page.kind == '5' ? CUPS_CSPACE_SW
                                             : CUPS_CSPACE_SRGB;
}

enum class Outcome { kDone, kCancelled, kFailed };

// Mono pages: Ghostscript's PBM rows through a pipe, a row at a time.
Outcome pumpPages(pappl_job_t* job, pappl_pr_options_t& options, pappl_device_t* device,
                  qv::host::PnmReader& reader, int dpi, long width, long height, unsigned& pages) {
  std::vector<std::uint8_t> row;
  // Ghostscript renders the job's page range only (Ghostscript's page
  // numbers are the document's).
  for (unsigned page = options.first_page;; ++page) {
    qv::host::PnmHeader header;
    std::string error;
    const qv::host::PnmStatus status = reader.readHeader(header, error);
    if (papplJobIsCanceled(job)) return Outcome::kCancelled;
    if (status == qv::host::PnmStatus::kEnd) return Outcome::kDone;
    if (status != qv::host::PnmStatus::kPage || header.kind != '4' || header.width != width ||
        header.height != height) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript page %u unreadable: %s", page,
                  error.c_str());
      return Outcome::kFailed;
    }
    describePage(options, header, dpi);
    row.resize(header.rowBytes());
    if (!startPage(job, &options, device, page)) return Outcome::kFailed;
    for (long y = 0; y < height; ++y) {
      if (papplJobIsCanceled(job)) return Outcome::kCancelled;
      if (!reader.readExact(row.data(), row.size())) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript output ends inside page %u.", page);
        return Outcome::kFailed;
      }
      if (!writeLine(job, &options, device, static_cast<unsigned>(y), row.data()))
        return Outcome::kFailed;
    }
    if (!endPage(job, &options, device, page)) return Outcome::kFailed;
    papplJobSetImpressionsCompleted(job, 1);
    ++pages;
  }
}

// Colour pages that qvrender renders straight into the slots it shares with
// us: each goes to the core where it lies, and its slot is given back once
// the core has sent it.
Outcome pumpRenderedPages(pappl_job_t* job, pappl_pr_options_t& options, pappl_device_t* device,
                          qv::host::RenderedPages& pages, const qv::host::RenderArea& area,
                          unsigned& count) {
  qv::host::PnmHeader sheet;
  sheet.kind = '6';
  sheet.width = area.sheetWidth;
  sheet.height = area.sheetHeight;
  sheet.maxval = 255;
  for (unsigned page = 1;; ++page) {
    const std::span<std::uint8_t> pixels = pages.next([job] { return papplJobIsCanceled(job); });
    if (papplJobIsCanceled(job)) return Outcome::kCancelled;
    if (pixels.empty()) return Outcome::kDone;  // the end, or a failure qvrender's status tells
    // qvrender renders every page: those outside the job's page range are
    // passed over here.
    if (page < options.first_page || page > options.last_page) {
      pages.release();
      continue;
    }
    describePage(options, sheet, area.dpi);
    if (!startFilledPage(job, &options, device, pixels) || !endFilledPage(job, device))
      return Outcome::kFailed;
    papplJobSetImpressionsCompleted(job, 1);
    pages.release();
    ++count;
  }
}

// The end of a job that ran to its end: Ghostscript's failure, or a
// document without a page, is the job's failure (nothing was sent).
bool endRendering(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                  Outcome outcome, int status, unsigned pages) {
  if (outcome != Outcome::kDone || !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    abandonCopies(job);
  const bool ended = endJob(job, options, device);
  if (outcome != Outcome::kDone) return outcome == Outcome::kCancelled && ended;
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    papplJobSetMessage(job, "Ghostscript could not render the document (%s).",
                       qv::host::describeWaitStatus(status).c_str());
    return false;
  }
  if (pages == 0) {
    papplJobSetMessage(job,
                       options->first_page > 1
                           ? "The document has no page in the job's page-ranges."
                           : "The document cannot be rendered: Ghostscript found no page in it.");
    return false;
  }
  return ended;
}

// A colour job: qvrender renders its pages into memory shared with us, the
// plan's raster area of the sheet.
bool printColour(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                 const char* document, const JobPlan& plan, const char* tmpdir) {
  const qv::host::PaperSize& paper = *plan.medium->paper;
  const qv::host::RenderArea area{plan.dpi,
                                  paper.width600 * plan.dpi / 600,
                                  paper.height600 * plan.dpi / 600,
                                  plan.cropLeft(),
                                  plan.cropTop(),
                                  plan.rasterWidth(),
                                  plan.rasterHeight()};
  if (!startJob(job, options, device)) return false;
  const std::string program =
      qv::host::findQvrender(qv::host::programDirectory(), QV_RENDER_FROM_BIN);
  qv::host::RenderedPages pages;
  if (const int rc = program.empty() ? ENOENT : pages.start(program, document, area, tmpdir);
      rc != 0) {
    papplJobSetMessage(job, "Cannot start qvrender: %s", std::strerror(rc));
    endJob(job, options, device);
    return false;
  }
  unsigned count = 0;
  const Outcome outcome = pumpRenderedPages(job, *options, device, pages, area, count);
  const int status = pages.finish();
  return endRendering(job, options, device, outcome, status, count);
}

// A mono job: Ghostscript's PBM pages through a pipe (a 1-bit page is small),
// the whole sheet at the plan's resolution.
bool printMono(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               const char* document, const JobPlan& plan, const char* tmpdir) {
  const int dpi = plan.dpi;
  const qv::host::PaperSize& paper = *plan.medium->paper;
  const long width = paper.width600 * dpi / 600, height = paper.height600 * dpi / 600;
  int pipeFds[2];
  if (qv::host::makePipe(pipeFds) != 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot create a pipe: %s", std::strerror(errno));
    return false;
  }
  qv::UniqueFd gsOut(pipeFds[0]), gsChildEnd(pipeFds[1]);
  qv::host::SpawnSpec spec = qv::host::ghostscriptRaster(
      true, "-r" + std::to_string(dpi) + "x" + std::to_string(dpi),
      "-g" + std::to_string(width) + "x" + std::to_string(height), document, tmpdir);
  if (options->first_page > 1 || options->last_page < INT_MAX) {
    const auto firstArg = std::find(spec.args.begin(), spec.args.end(), "-f");
    spec.args.insert(firstArg, {"-dFirstPage=" + std::to_string(options->first_page),
                                "-dLastPage=" + std::to_string(options->last_page)});
  }
  spec.stdoutFd = gsChildEnd.get();
  spec.ownProcessGroup = true;

  if (!startJob(job, options, device)) return false;
  qv::host::ChildProcess ghostscript;
  if (const int rc = ghostscript.spawn(spec); rc != 0) {
    papplJobSetMessage(job, "Cannot start Ghostscript (gs): %s", std::strerror(rc));
    endJob(job, options, device);
    return false;
  }
  gsChildEnd.reset();
  qv::host::PnmReader reader(gsOut.get());
  unsigned pages = 0;
  const Outcome outcome = pumpPages(job, *options, device, reader, dpi, width, height, pages);
  if (outcome != Outcome::kDone) ghostscript.signal(SIGTERM);
  gsOut.reset();
  const int status = ghostscript.wait();
  return endRendering(job, options, device, outcome, status, pages);
}

}  // namespace

bool pdfFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  const ModelInfo* info = findModel(papplPrinterGetDriverName(papplJobGetPrinter(job)));
  const char* document = papplJobGetFilename(job);
  // A job cancelled before it started has no document any more.
  if (info == nullptr || document == nullptr || papplJobIsCanceled(job)) return false;
  const bool mono = info->model == Model::kMono;
  std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
      papplJobCreatePrintOptions(job, INT_MAX, !mono));
  if (!options) return false;
  // The plan's paper and resolution decide the rendering; a job that cannot
  // print is refused here, before Ghostscript starts. startJob takes the
  // plan over.
  const JobPlan* plan = planPrintJob(job, options.get());
  if (plan == nullptr) return false;  // the job's message says why
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir == nullptr) tmpdir = "/tmp";
  const bool printed = mono ? printMono(job, options.get(), device, document, *plan, tmpdir)
                            : printColour(job, options.get(), device, document, *plan, tmpdir);
  dropUnstartedPlan(job);  // a job that ended before startJob
  return printed;
}

}  // namespace qvprinter
