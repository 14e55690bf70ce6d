// cups_job.cc - the qvcupsfilter job: options, private files, Ghostscript,
// the page pump and the model's filter.
#include "cups/cups_job.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "colour/colour_job.h"
#include "colour/qverror.h"
#include "colour/rastertoqv.h"
#include "common/fd_writer.h"
#include "common/malloc_buffer.h"
#include "common/unique_file.h"
#include "cups/filter_streams.h"
#include "cups/job_options.h"
#include "cups/paper_files.h"
#include "cups/private_dir.h"
#include "host/child_process.h"
#include "host/pnm_reader.h"
#include "host/render_client.h"

namespace qvcups {

namespace {

// Cancel state, shared with the SIGTERM handler. The handler only sets the
// flag and passes the signal on with kill(), which is async-signal-safe:
// Ghostscript stops (the page pump then sees its output end) and the colour
// filter ends its job the way it defines for a cancel. The mono filter is
// not signalled: it has no cancel of its own, so it is stopped by closing
// its input, after which it drops the partial page and closes the job.
volatile sig_atomic_t g_cancelled = 0;
volatile sig_atomic_t g_ghostscriptPid = 0;
volatile sig_atomic_t g_colourFilterPid = 0;

extern "C" void onTerminate(int) {
  g_cancelled = 1;
  if (g_ghostscriptPid > 0) ::kill(g_ghostscriptPid, SIGTERM);
  if (g_colourFilterPid > 0) ::kill(g_colourFilterPid, SIGTERM);
}

// Installed without SA_RESTART: a write blocked on a full pipe returns EINTR
// so that the pump notices the cancel at once.
void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);  // a dead filter is an EPIPE, not our death
}

// One CUPS message line on standard error (unbuffered, one write per line).
void message(const char* prefix, const std::string& text) {
  std::string line = std::string(prefix) + text + "\n";
  (void)!::write(2, line.data(), line.size());
}

// The colour core's messages, one CUPS message line each, as rastertoqv
// writes them: their texts carry their own "ERROR: " or "INFO: ".
void colourMessage(void* /*context*/, qv::ReportLevel /*level*/, std::string_view text) {
  message("", std::string(text));
}

// The colour core's cancel test: the flag the SIGTERM handler sets.
bool colourCancelled(void* /*context*/) { return g_cancelled != 0; }

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

// One sample of a PGM/PPM row, scaled to 0..255.
inline std::uint8_t scaledSample(const std::uint8_t* row, long index,
                                 const qv::host::PnmHeader& header) {
  const unsigned value = header.bytesPerSample() == 2
                             ? (unsigned{row[2 * index]} << 8) | row[2 * index + 1]
                             : unsigned{row[index]};
  const auto maxval = static_cast<unsigned>(header.maxval);
  return static_cast<std::uint8_t>((value * 255 + maxval / 2) / maxval);
}

enum class PumpResult { kDone, kCancelled, kFailed };

// Where rawtoqv and rastertoqv live: $QV_FILTER_DIR, else the directory of
// this program (they are installed side by side in the CUPS filter
// directory).
std::string filterDirectory() {
  if (const char* dir = std::getenv("QV_FILTER_DIR"); dir != nullptr && dir[0] != '\0') return dir;
  return qv::host::programDirectory();
}

// Spools standard input into the private directory: Ghostscript needs a
// seekable file for PDF.
int spoolStandardInput(PrivateDir& dir, std::string& path) {
  qv::UniqueFd out(dir.createFile("document"));
  if (!out) return errno;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t n = ::read(0, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) {
      if (g_cancelled) return ECANCELED;
      continue;
    }
    if (n < 0) return errno;
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out.get(), chunk.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : EIO;
      done += w;
    }
  }
  path = dir.file("document");
  return 0;
}

}  // namespace

std::string cupsMessageFor(const std::string& filterLine) {
  std::string line = filterLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return line;
  static constexpr const char* kPassThrough[] = {
      "ERROR:", "WARNING:", "INFO:", "DEBUG:", "DEBUG2:", "NOTICE:", "ALERT:", "CRIT:"};
  for (const char* prefix : kPassThrough)
    if (line.rfind(prefix, 0) == 0) return line;
  if (line.rfind("Error: ", 0) == 0) {
    std::string text = line.substr(7);
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, " !!") == 0)
      text.erase(text.size() - 3);
    return "ERROR: " + text;
  }
  return "DEBUG: " + line;
}

namespace {

// One qvcupsfilter job, in the order it runs: prepare the job files, start
// the model's filter, one Ghostscript pass per collated copy, finish. The
// members live as long as the job; their destructors stop any child still
// running and remove the private directory on every way out.
class CupsJob {
 public:
  int run(int argc, char** argv);

 private:
  int prepareJobFiles(int argc, char** argv);
  int startFilter();
  PumpResult runGhostscriptPass();
  PumpResult pumpPages(qv::host::PnmReader& reader);
  [[nodiscard]] int movePage(qv::host::PnmReader& reader, const qv::host::PnmHeader& header);
  [[nodiscard]] int convertPage(qv::host::PnmReader& reader, const qv::host::PnmHeader& header);
  [[nodiscard]] int moveRaster(qv::host::PnmReader& reader, std::size_t size);
  [[nodiscard]] int skipRaster(qv::host::PnmReader& reader, std::size_t size);
  PumpResult sendBlankPage();
  int finish(PumpResult result);
  int runColour();
  void pageSent();

  JobSettings job_;
  bool mono_ = true;
  PrivateDir dir_;
  std::string settingsName_, filterName_, document_;
  char resolution_[32] = {}, geometry_[32] = {};  // Ghostscript's -r and -g
  FilterStreams streams_;
  qv::host::ChildProcess filter_;
  int gsOutput_ = -1;  // the read end of Ghostscript's output during a pass
  // Sized once per job: an input row of the widest sample form (16-bit
  // RGB), at least 1 MiB for skipped margins and buffered rows; one
  // converted output row.
  std::vector<std::uint8_t> scratch_, convertedRow_;
  int pagesSent_ = 0;
};

// Reads the PPD and the job's options, then writes the filter's settings
// and paper files into the private directory and spools standard input
// when no file was named. Returns 0, or kExitFailed after its ERROR: line
// (a cancel while spooling returns kExitOk with nothing sent).
int CupsJob::prepareJobFiles(int argc, char** argv) {
  const char* ppdPath = std::getenv("PPD");
  if (ppdPath == nullptr || ppdPath[0] == '\0') {
    message("ERROR: ", "No PPD: the PPD environment variable is not set.");
    return kExitFailed;
  }
  UniquePpd ppd(ppdOpenFile(ppdPath));
  if (!ppd) {
    int line = 0;
    const ppd_status_t status = ppdLastError(&line);
    message("ERROR: ", std::string("Cannot read the PPD ") + ppdPath + ": " +
                           ppdErrorString(status) + " (line " + std::to_string(line) + ")");
    return kExitFailed;
  }
  std::string error;
  if (readJobSettings(ppd.get(), argv[5], argv[4], argv[2], argv[3], job_, error) != 0) {
    message("ERROR: ", error);
    return kExitFailed;
  }
  mono_ = job_.model == Model::kMono;
  settingsName_ = mono_ ? "qvmono.rc" : "qvcolour.rc";
  filterName_ = mono_ ? "rawtoqv" : "rastertoqv";

  if (int rc = dir_.create(); rc != 0) {
    message("ERROR: ", std::string("Cannot create a private directory: ") + std::strerror(rc));
    return kExitFailed;
  }
  if (int rc = dir_.writeFile(settingsName_, job_.settingsFile()); rc != 0) {
    message("ERROR: ", std::string("Cannot write the settings file: ") + std::strerror(rc));
    return kExitFailed;
  }
  const std::string paperText = mono_ ? monoPaperInfLine(*job_.paper) : colourPaperInfFile();
  if (int rc = dir_.writeFile("paperinf", paperText); rc != 0) {
    message("ERROR: ", std::string("Cannot write the paper file: ") + std::strerror(rc));
    return kExitFailed;
  }
  if (argc == 7) {
    document_ = argv[6];
  } else if (int rc = spoolStandardInput(dir_, document_); rc != 0) {
    if (rc == ECANCELED) return kExitOk;  // cancelled before anything was sent
    message("ERROR: ", std::string("Cannot spool the document: ") + std::strerror(rc));
    return kExitFailed;
  }
  scratch_.resize(std::max<std::size_t>(std::size_t{1} << 20,
                                        static_cast<std::size_t>(job_.renderWidth()) * 6));
  if (!mono_) convertedRow_.resize(static_cast<std::size_t>(job_.rasterWidth()) * 3);
  std::snprintf(resolution_, sizeof resolution_, "-r%dx%d", job_.xdpi, job_.ydpi);
  std::snprintf(geometry_, sizeof geometry_, "-g%dx%d", job_.renderWidth(), job_.renderHeight());
  return 0;
}

// Starts the model's filter: its input, job stream and messages through
// pipes of ours (FilterStreams).
int CupsJob::startFilter() {
  int inPipe[2], outPipe[2], errPipe[2];
  if (qv::host::makePipe(inPipe) != 0 || qv::host::makePipe(outPipe) != 0 ||
      qv::host::makePipe(errPipe) != 0) {
    message("ERROR: ", std::string("Cannot create a pipe: ") + std::strerror(errno));
    return kExitFailed;
  }
  streams_.attach(inPipe[1], outPipe[0], errPipe[0]);
  qv::UniqueFd childIn(inPipe[0]), childOut(outPipe[1]), childErr(errPipe[1]);

  qv::host::SpawnSpec spec;
  spec.program = filterDirectory() + "/" + filterName_;
  spec.args = {filterName_, "-rc", dir_.file(settingsName_), "-pi", dir_.file("paperinf")};
  if (mono_ && !job_.monoFlags.empty())
    spec.args.insert(spec.args.end(), {"-flags", job_.monoFlags});
  spec.env = {"PATH=/usr/bin:/bin", "TMPDIR=" + dir_.path(), "OWNER=" + job_.owner,
              "TITLE=" + job_.title};
  if (mono_) spec.env.push_back("CHARSET=utf-8");
  if (!job_.pin.empty()) spec.env.push_back("PASSWORD=" + job_.pin);
  if (!mono_ && !job_.outputTray.empty()) spec.env.push_back("OUTPUTTRAY=" + job_.outputTray);
  spec.stdinFd = childIn.get();
  spec.stdoutFd = childOut.get();
  spec.stderrFd = childErr.get();
  // Out of our process group: a spooler that signals the whole group on a
  // cancel must not kill the filter in the middle of a printer command.
  spec.ownProcessGroup = true;
  if (int rc = filter_.spawn(spec); rc != 0) {
    message("ERROR: ", "Cannot start " + spec.program + ": " + std::strerror(rc));
    return kExitFailed;
  }
  if (!mono_) g_colourFilterPid = filter_.pid();
  if (g_cancelled && !mono_) filter_.signal(SIGTERM);
  return 0;
}

// One Ghostscript run over the whole document, its pages pumped to the
// filter.
PumpResult CupsJob::runGhostscriptPass() {
  int gsPipe[2];
  if (qv::host::makePipe(gsPipe) != 0) {
    message("ERROR: ", std::string("Cannot create a pipe: ") + std::strerror(errno));
    return PumpResult::kFailed;
  }
  qv::UniqueFd gsOut(gsPipe[0]), gsChildEnd(gsPipe[1]);
  qv::host::SpawnSpec spec =
      qv::host::ghostscriptRaster(mono_, resolution_, geometry_, document_, dir_.path());
  spec.stdoutFd = gsChildEnd.get();
  spec.stderrFd = 2;  // Ghostscript's complaints go to the CUPS log as they are
  qv::host::ChildProcess ghostscript;
  if (int rc = ghostscript.spawn(spec); rc != 0) {
    message("ERROR: ", std::string("Cannot start Ghostscript (gs): ") + std::strerror(rc));
    return PumpResult::kFailed;
  }
  g_ghostscriptPid = ghostscript.pid();
  if (g_cancelled) ghostscript.signal(SIGTERM);
  gsChildEnd.reset();

  qv::host::PnmReader reader(gsOut.get());
  gsOutput_ = gsOut.get();
  PumpResult result = pumpPages(reader);
  gsOutput_ = -1;
  if (result != PumpResult::kDone) ghostscript.signal(SIGTERM);
  gsOut.reset();
  const int gsStatus = ghostscript.wait(&g_ghostscriptPid);
  if (result == PumpResult::kDone && !g_cancelled &&
      !(WIFEXITED(gsStatus) && WEXITSTATUS(gsStatus) == 0)) {
    // Before any page, the document itself is at fault (a corrupt PDF, or
    // nothing at all when an earlier filter failed on it).
    message("ERROR: ", std::string(pagesSent_ == 0 ? "The document cannot be rendered: " : "") +
                           "Ghostscript failed (" + qv::host::describeWaitStatus(gsStatus) + ")");
    result = PumpResult::kFailed;
  }
  return result;
}

// Moves every page of one Ghostscript run to the filter. Mono pages lose
// their PBM header and go as raw rows. Colour pages are cut to the imaging
// area and get the one header form rastertoqv reads ("P6\n<w> <h>\n255\n")
// with 8-bit RGB samples, whatever maxval Ghostscript used.
PumpResult CupsJob::pumpPages(qv::host::PnmReader& reader) {
  const long renderWidth = job_.renderWidth(), renderHeight = job_.renderHeight();
  for (;;) {
    qv::host::PnmHeader header;
    std::string error;
    const qv::host::PnmStatus status = reader.readHeader(header, error);
    if (g_cancelled) return PumpResult::kCancelled;
    if (status == qv::host::PnmStatus::kEnd) return PumpResult::kDone;
    if (status != qv::host::PnmStatus::kPage) {
      message("ERROR: ",
              "Ghostscript output unreadable: " + (status == qv::host::PnmStatus::kReadError
                                                       ? std::string(std::strerror(errno))
                                                       : error));
      return PumpResult::kFailed;
    }
    const bool kindOk = mono_ ? header.kind == '4' : (header.kind == '6' || header.kind == '5');
    if (!kindOk || header.width != renderWidth || header.height != renderHeight) {
      char text[160];
      std::snprintf(text, sizeof text, "Ghostscript page %d is P%c %ldx%ld, expected %s %ldx%ld",
                    pagesSent_ + 1, header.kind, header.width, header.height, mono_ ? "P4" : "P6",
                    renderWidth, renderHeight);
      message("ERROR: ", text);
      return PumpResult::kFailed;
    }

    // The filter starts with the first page: a document that yields none
    // sends the printer nothing, not an empty job.
    if (!filter_.running() && startFilter() != 0) return PumpResult::kFailed;
    int rc = 0;
    if (!mono_) {
      char canonical[64];
      const int n = std::snprintf(canonical, sizeof canonical, "P6\n%d %d\n255\n",
                                  job_.rasterWidth(), job_.rasterHeight());
      rc = streams_.write(reinterpret_cast<const std::uint8_t*>(canonical),
                          static_cast<std::size_t>(n), g_cancelled);
    }
    // Rows the filter takes as they are (PBM, and RGB with maxval 255) move
    // in the kernel; other sample forms are converted here.
    if (rc == 0)
      rc = mono_ || (header.kind == '6' && header.maxval == 255) ? movePage(reader, header)
                                                                 : convertPage(reader, header);
    if (rc == ENODATA && !g_cancelled) {
      message("ERROR: ", "Ghostscript output ends inside a page");
      return PumpResult::kFailed;
    }
    if (rc == ECANCELED || g_cancelled) return PumpResult::kCancelled;
    if (rc != 0 && streams_.printerError() != 0) return PumpResult::kFailed;  // reported by finish
    if (rc != 0) {
      message("ERROR: ", std::string("Cannot send the page to the filter: ") + std::strerror(rc));
      return PumpResult::kFailed;
    }
    pageSent();
  }
}

// Skips `size` bytes of Ghostscript's output. Returns 0, or ENODATA when it
// ends first.
int CupsJob::skipRaster(qv::host::PnmReader& reader, std::size_t size) {
  while (size > 0) {
    const std::size_t part = std::min(size, scratch_.size());
    if (!reader.readExact(scratch_.data(), part)) return ENODATA;
    size -= part;
  }
  return 0;
}

// Sends the next `size` bytes of Ghostscript's output to the filter: what
// the reader holds already by copy, the rest by splice. Returns as
// FilterStreams::write does, or ENODATA when the output ends first.
int CupsJob::moveRaster(qv::host::PnmReader& reader, std::size_t size) {
  while (size > 0 && reader.buffered() > 0) {
    const std::size_t part = std::min({size, reader.buffered(), scratch_.size()});
    if (!reader.readExact(scratch_.data(), part)) return ENODATA;
    if (int rc = streams_.write(scratch_.data(), part, g_cancelled); rc != 0) return rc;
    size -= part;
  }
  return size == 0 ? 0 : streams_.splice(gsOutput_, size, g_cancelled);
}

// One page whose rows the filter takes as they are: the mono page whole,
// the colour page row by row without the margins outside the imaging area.
// Splicing took the wrapper's share of the colour chain's CPU from 29% to
// 15% (perf record over a 20-page A4 job; the chain's task clock 1.89 s to
// 1.64 s). The margins are read and dropped: Ghostscript cannot render the
// imaging area alone without moving a hairline's pixels here and there.
int CupsJob::movePage(qv::host::PnmReader& reader, const qv::host::PnmHeader& header) {
  const std::size_t inRowBytes = header.rowBytes();
  const std::size_t pageBytes = inRowBytes * static_cast<std::size_t>(header.height);
  const auto left = static_cast<std::size_t>(job_.cropLeft()) * (mono_ ? 0 : 3);
  const std::size_t outRowBytes =
      mono_ ? inRowBytes : static_cast<std::size_t>(job_.rasterWidth()) * 3;
  // The kept bytes as spans: one per colour row, one for the whole mono page.
  const bool wholeRows = outRowBytes == inRowBytes;
  const long spans = wholeRows ? 1 : job_.rasterHeight();
  const std::size_t spanBytes =
      wholeRows ? inRowBytes * static_cast<std::size_t>(job_.rasterHeight()) : outRowBytes;
  std::size_t consumed = 0;
  int rc = 0;
  for (long span = 0; span < spans && rc == 0; ++span) {
    const std::size_t start = static_cast<std::size_t>(job_.cropTop() + span) * inRowBytes + left;
    rc = skipRaster(reader, start - consumed);
    if (rc == 0) rc = moveRaster(reader, spanBytes);
    consumed = start + spanBytes;
  }
  return rc != 0 ? rc : skipRaster(reader, pageBytes - consumed);
}

// One colour page in another sample form (gray, or a maxval other than
// 255): cut to the imaging area and scaled to 8-bit RGB here.
int CupsJob::convertPage(qv::host::PnmReader& reader, const qv::host::PnmHeader& header) {
  const long width = job_.rasterWidth(), height = job_.rasterHeight();
  const long left = job_.cropLeft(), top = job_.cropTop();
  const std::size_t outRowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t inRowBytes = header.rowBytes();
  int rc = 0;
  for (long row = 0; row < header.height && rc == 0; ++row) {
    if (!reader.readExact(scratch_.data(), inRowBytes)) return ENODATA;
    if (row < top || row >= top + height) continue;
    for (long x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        convertedRow_[static_cast<std::size_t>(x * 3 + c)] = scaledSample(
            scratch_.data(), header.kind == '6' ? (left + x) * 3 + c : left + x, header);
    rc = streams_.write(convertedRow_.data(), outRowBytes, g_cancelled);
  }
  return rc;
}

// A blank page, so that the next collated copy of a two-sided job starts
// on a new sheet: white is 0 in the mono filter's rows and 255 in the
// colour filter's RGB.
PumpResult CupsJob::sendBlankPage() {
  const auto width = static_cast<std::size_t>(job_.rasterWidth());
  const std::size_t rowBytes = mono_ ? (width + 7) / 8 : width * 3;
  std::vector<std::uint8_t> rows(rowBytes * 64, mono_ ? 0x00 : 0xFF);
  int rc = 0;
  if (!mono_) {
    char header[64];
    const int n = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", job_.rasterWidth(),
                                job_.rasterHeight());
    rc = streams_.write(reinterpret_cast<const std::uint8_t*>(header), static_cast<std::size_t>(n),
                        g_cancelled);
  }
  for (int row = 0; row < job_.rasterHeight() && rc == 0; row += 64) {
    const auto count = static_cast<std::size_t>(std::min(64, job_.rasterHeight() - row));
    rc = streams_.write(rows.data(), count * rowBytes, g_cancelled);
  }
  if (rc == 0) return PumpResult::kDone;
  if (rc == ECANCELED || g_cancelled) return PumpResult::kCancelled;
  if (streams_.printerError() == 0)
    message("ERROR: ", std::string("Cannot send the page to the filter: ") + std::strerror(rc));
  return PumpResult::kFailed;
}

// Counts a page on its way to the printer and tells CUPS ("PAGE: n copies").
void CupsJob::pageSent() {
  ++pagesSent_;
  message("PAGE: ", std::to_string(pagesSent_) + " " + std::to_string(job_.filterCopies()));
}

// A job that sent the printer nothing: cancelled, or a document without a
// page, or a failure already reported.
int endWithoutPages(PumpResult result) {
  if (result == PumpResult::kCancelled) {
    message("INFO: ", "Job cancelled before its first page");
    return kExitOk;
  }
  if (result == PumpResult::kDone)
    message("ERROR: ", "The document cannot be rendered: Ghostscript found no page in it");
  return kExitFailed;
}

// End of input: the filter finishes the job (for a cancel, the page in
// progress is dropped or ended as the filter defines) and its job stream
// is forwarded to the end. After a failure in the middle of a colour page
// the colour filter is cancelled first: it would otherwise print the
// page's missing lines as black. A lost write to the printer ends the job
// at once, reported once.
int CupsJob::finish(PumpResult result) {
  if (!filter_.running()) return endWithoutPages(result);  // no page was rendered
  if ((result == PumpResult::kFailed && !mono_) || streams_.printerError() != 0)
    filter_.signal(SIGTERM);
  streams_.finish();
  const int filterStatus = filter_.wait(&g_colourFilterPid);
  if (const int lost = streams_.printerError(); lost != 0) {
    message("ERROR: ", std::string("Cannot send the job to the printer: ") + std::strerror(lost));
    return kExitFailed;
  }
  if (!(WIFEXITED(filterStatus) && WEXITSTATUS(filterStatus) == 0)) {
    message("ERROR: ",
            filterName_ + " failed (" + qv::host::describeWaitStatus(filterStatus) + ")");
    return kExitFailed;
  }
  if (result == PumpResult::kCancelled) {
    message("INFO: ", "Job cancelled after " + std::to_string(pagesSent_) + " page(s)");
    return kExitOk;
  }
  if (result == PumpResult::kFailed) return kExitFailed;
  message("INFO: ", "Sent " + std::to_string(pagesSent_) + " page(s) to " + filterName_);
  return kExitOk;
}

int CupsJob::run(int argc, char** argv) {
  if (int rc = prepareJobFiles(argc, argv); rc != 0 || document_.empty()) return rc;
  if (!job_.warning.empty()) message("WARNING: ", job_.warning);
  message("INFO: ", "Rendering " + std::string(job_.paper->ppdText) + " pages at " +
                        (resolution_ + 2) + " dpi");
  if (!mono_) return runColour();
  PumpResult result = PumpResult::kDone;
  for (int pass = 0; pass < job_.passes() && result == PumpResult::kDone && !g_cancelled; ++pass) {
    const int before = pagesSent_;
    result = runGhostscriptPass();
    // Two-sided: an odd page count would put the next copy's first page on
    // the back of this copy's last sheet.
    if (result == PumpResult::kDone && job_.duplex && pass + 1 < job_.passes() &&
        (pagesSent_ - before) % 2 == 1)
      result = sendBlankPage();
  }
  if (g_cancelled) result = PumpResult::kCancelled;
  return finish(result);
}

// The colour job, in this process: qvrender renders each page into memory
// shared with us (gs_render.h), and the colour filter's own job code
// (qv::colour::ColourJob, with its page files and copies file in the private
// directory, as rastertoqv runs it) encodes it straight from there. No page
// image crosses a pipe. The settings are read by the filter's own functions
// from the files written for the job, so the printer gets the bytes
// rastertoqv would send.
int CupsJob::runColour() {
  std::string rcPath = dir_.file(settingsName_), paperPath = dir_.file("paperinf");
  char program[] = "rastertoqv", rcOption[] = "-rc", paperOption[] = "-pi";
  char* args[] = {program, rcOption, rcPath.data(), paperOption, paperPath.data(), nullptr};
  qv::colour::PjpInfo record{};
  qv::colour::RcSettings settings;
  const qv::JobEnv env{colourMessage, colourCancelled, nullptr};
  qv::colour::Status loaded = qv::colour::InterpretParameters(5, args, &record, env);
  if (loaded == qv::colour::Status::kOk)
    loaded = qv::colour::PrepareLPRngPrint(&record, &settings.info, env);
  if (loaded != qv::colour::Status::kOk) {  // the filter's own message is out
    message("ERROR: ",
            "The colour job's settings or the printer's geometry files cannot be used "
            "(rastertoqv error " +
                std::to_string(qv::colour::exitStatusFor(loaded)) + ")");
    return kExitFailed;
  }
  const qv::host::RenderArea area{job_.xdpi,          job_.renderWidth(), job_.renderHeight(),
                                  job_.cropLeft(),    job_.cropTop(),     job_.rasterWidth(),
                                  job_.rasterHeight()};
  if (record.nWidth != area.width || record.nHeight != area.height) {
    message("ERROR: ", "The colour printer's settings or geometry files do not fit the job");
    return kExitFailed;
  }
  qv::colour::JobVariables variables;
  variables.owner = job_.owner.c_str();
  variables.title = job_.title.c_str();
  variables.password = job_.pin.empty() ? nullptr : job_.pin.c_str();
  variables.outputTray = job_.outputTray.empty() ? nullptr : job_.outputTray.c_str();
  const std::string tmpdir = dir_.path();
  variables.tmpDir = tmpdir.c_str();
  qv::FdWriter printer(STDOUT_FILENO);
  qv::colour::ColourJob colour(settings.info, record, variables, printer.sink(), env, true);
  const std::string renderer = qv::host::findQvrender(filterDirectory(), QV_RENDER_FROM_FILTER);
  const auto cancelled = [] { return g_cancelled != 0; };
  qv::ByteBuffer blank;  // a white page, made when a two-sided job needs one
  bool begun = false;
  PumpResult result = PumpResult::kDone;
  // One page to the printer: the job header before the first.
  const auto sendPage = [&](std::span<std::uint8_t> page) {
    if (!begun && colour.beginJob() != qv::colour::Status::kOk) return PumpResult::kFailed;
    begun = true;
    if (colour.beginPage(page) != qv::colour::Status::kOk) return PumpResult::kFailed;
    const qv::colour::Status ended = colour.endPage(page.size());
    if (ended == qv::colour::Status::kCancelled || g_cancelled) return PumpResult::kCancelled;
    return ended == qv::colour::Status::kOk ? PumpResult::kDone : PumpResult::kFailed;
  };
  for (int pass = 0; pass < job_.passes() && result == PumpResult::kDone && !g_cancelled; ++pass) {
    const int before = pagesSent_;
    qv::host::RenderedPages pages;
    if (const int rc = renderer.empty() ? ENOENT : pages.start(renderer, document_, area, tmpdir);
        rc != 0) {
      message("ERROR: ", std::string("Cannot start qvrender: ") + std::strerror(rc));
      result = PumpResult::kFailed;
      break;
    }
    for (std::span<std::uint8_t> page;
         result == PumpResult::kDone && !(page = pages.next(cancelled)).empty();) {
      result = sendPage(page);
      if (result != PumpResult::kDone) break;
      pages.release();
      pageSent();
    }
    const int status = pages.finish();
    if (g_cancelled) result = PumpResult::kCancelled;
    if (result == PumpResult::kDone && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
      message("ERROR: ", std::string(pagesSent_ == 0 ? "The document cannot be rendered: " : "") +
                             "Ghostscript failed (" + qv::host::describeWaitStatus(status) + ")");
      result = PumpResult::kFailed;
    }
    // Two-sided: an odd page count would put the next copy's first page on
    // the back of this copy's last sheet.
    if (result == PumpResult::kDone && job_.duplex && pass + 1 < job_.passes() &&
        (pagesSent_ - before) % 2 == 1) {
      if (!blank && (blank = qv::allocateBytes(area.pageBytes())))
        std::memset(blank.get(), 0xFF, area.pageBytes());
      result = blank ? sendPage({blank.get(), area.pageBytes()}) : PumpResult::kFailed;
    }
  }

  if (!begun) return endWithoutPages(result);
  // The job is always ended on the printer: after a cancel as the filter
  // ends a cancelled job (the zero fill, the trailer), else with its
  // trailer. Only whole pages were ever begun.
  const bool ended = printer.error() == 0 && (result == PumpResult::kCancelled
                                                  ? colour.cancel() == qv::colour::Status::kOk
                                                  : colour.endJob() == qv::colour::Status::kOk);
  if (!ended || !printer.flush()) {
    message("ERROR: ", std::string("Cannot send the job to the printer: ") +
                           std::strerror(printer.error() != 0 ? printer.error() : EIO));
    return kExitFailed;
  }
  if (result == PumpResult::kCancelled) {
    message("INFO: ", "Job cancelled after " + std::to_string(pagesSent_) + " page(s)");
    return kExitOk;
  }
  if (result == PumpResult::kFailed) return kExitFailed;
  message("INFO: ", "Sent " + std::to_string(pagesSent_) + " page(s) to the printer");
  return kExitOk;
}

}  // namespace

int runQvCupsFilter(int argc, char** argv) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n",
                 argc > 0 ? argv[0] : "qvcupsfilter");
    return kExitFailed;
  }
  installSignalHandlers();
  CupsJob job;
  return job.run(argc, argv);
}

}  // namespace qvcups
