// pdf_filter.cc - PDF through Ghostscript into the raster callbacks.
#include "printer/pdf_filter.h"

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
#include "cups/child_process.h"
#include "cups/paper_table.h"
#include "cups/pnm_reader.h"
#include "printer/driver.h"
#include "printer/job_plan.h"

namespace qvprinter {
namespace {

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};

// The raster header fields the callbacks read, for a page of Ghostscript's.
void describePage(pappl_pr_options_t& options, const qvcups::PnmHeader& page, int dpi) {
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

// A colour sheet read straight into the core's page: Ghostscript's rows a
// megabyte at a time, their imaging area copied out. The line by line path
// copies each pixel three times and reads the pipe in row-sized pieces.
Outcome readImagingArea(pappl_job_t* job, qvcups::PnmReader& reader, const qvcups::PnmHeader& sheet,
                        const qvcups::PaperSize& paper, std::span<std::uint8_t> page,
                        unsigned pageNumber, std::vector<std::uint8_t>& staging) {
  const std::size_t inRow = sheet.rowBytes();
  const std::size_t left = qvcups::kImagingMargin600 * 3,
                    outRow = page.size() / qvcups::colourRasterHeight(paper);
  const long top = qvcups::kImagingMargin600, height = qvcups::colourRasterHeight(paper);
  staging.resize(std::max<std::size_t>(inRow, std::size_t{1} << 20) / inRow * inRow);
  const long rowsPerRead = static_cast<long>(staging.size() / inRow);
  for (long y = 0; y < sheet.height;) {
    if (papplJobIsCanceled(job)) return Outcome::kCancelled;
    const long rows = std::min(rowsPerRead, sheet.height - y);
    if (!reader.readExact(staging.data(), static_cast<std::size_t>(rows) * inRow)) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript output ends inside page %u.", pageNumber);
      return Outcome::kFailed;
    }
    for (long r = 0; r < rows; ++r, ++y)
      if (y >= top && y < top + height)
        std::memcpy(page.data() + static_cast<std::size_t>(y - top) * outRow,
                    staging.data() + static_cast<std::size_t>(r) * inRow + left, outRow);
  }
  return Outcome::kDone;
}

Outcome pumpPages(pappl_job_t* job, pappl_pr_options_t& options, pappl_device_t* device,
                  qvcups::PnmReader& reader, const qvcups::PaperSize& paper, int dpi, long width,
                  long height, bool mono) {
  std::vector<std::uint8_t> row;  // a sheet row, or a colour page's reads: kept for the job
  for (unsigned page = 1;; ++page) {
    qvcups::PnmHeader header;
    std::string error;
    const qvcups::PnmStatus status = reader.readHeader(header, error);
    if (papplJobIsCanceled(job)) return Outcome::kCancelled;
    if (status == qvcups::PnmStatus::kEnd) return Outcome::kDone;
    const bool kindOk = mono ? header.kind == '4' : header.kind == '6';
    if (status != qvcups::PnmStatus::kPage || !kindOk || header.maxval > 255 ||
        header.width != width || header.height != height) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript page %u unreadable: %s", page,
                  error.c_str());
      return Outcome::kFailed;
    }
    describePage(options, header, dpi);
    row.resize(header.rowBytes());
    if (!startPage(job, &options, device, page)) return Outcome::kFailed;
    const std::span<std::uint8_t> core = pageBuffer(job);
    const long rasterWidth = qvcups::colourRasterWidth(paper);
    if (!mono && header.maxval == 255 && width > rasterWidth &&
        core.size() == static_cast<std::size_t>(rasterWidth) * 3 *
                           static_cast<std::size_t>(qvcups::colourRasterHeight(paper))) {
      if (const Outcome read = readImagingArea(job, reader, header, paper, core, page, row);
          read != Outcome::kDone)
        return read;
      if (!endFilledPage(job, device)) return Outcome::kFailed;
      papplJobSetImpressionsCompleted(job, 1);
      continue;
    }
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
  }
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
  // The paper and resolution decide the rendering; a paper the model does
  // not have is refused here, before Ghostscript starts.
  const Medium* medium = findMedium(info->model, options->media.size_name,
                                    options->media.size_width, options->media.size_length);
  if (medium == nullptr) return startJob(job, options.get(), device);  // sets the message
  const int dpi = mono ? options->printer_resolution[0] : 600;
  if (dpi != 300 && dpi != 600 && dpi != 1200) return startJob(job, options.get(), device);
  const long width = medium->paper->width600 * dpi / 600;
  const long height = medium->paper->height600 * dpi / 600;

  int pipeFds[2];
  if (qvcups::makePipe(pipeFds) != 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot create a pipe: %s", std::strerror(errno));
    return false;
  }
  qv::UniqueFd gsOut(pipeFds[0]), gsChildEnd(pipeFds[1]);
  const char* tmpdir = std::getenv("TMPDIR");
  qvcups::SpawnSpec spec =
      qvcups::ghostscriptRaster(mono, "-r" + std::to_string(dpi) + "x" + std::to_string(dpi),
                                "-g" + std::to_string(width) + "x" + std::to_string(height),
                                document, tmpdir != nullptr ? tmpdir : "/tmp");
  spec.stdoutFd = gsChildEnd.get();
  spec.ownProcessGroup = true;

  if (!startJob(job, options.get(), device)) return false;
  qvcups::ChildProcess ghostscript;
  if (const int rc = ghostscript.spawn(spec); rc != 0) {
    papplJobSetMessage(job, "Cannot start Ghostscript (gs): %s", std::strerror(rc));
    endJob(job, options.get(), device);
    return false;
  }
  gsChildEnd.reset();
  qvcups::PnmReader reader(gsOut.get());
  const Outcome outcome =
      pumpPages(job, *options, device, reader, *medium->paper, dpi, width, height, mono);
  if (outcome != Outcome::kDone) ghostscript.signal(SIGTERM);
  gsOut.reset();
  const int status = ghostscript.wait();
  const bool ended = endJob(job, options.get(), device);
  if (outcome == Outcome::kDone && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    papplJobSetMessage(job, "Ghostscript could not render the document (%s).",
                       qvcups::describeWaitStatus(status).c_str());
    return false;
  }
  return outcome != Outcome::kFailed && ended;
}

}  // namespace qvprinter
