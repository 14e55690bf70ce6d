// rastertoqv.cc - entry and page loop of the colour filter.
//
// One job per process: the PJL job header before the first page, every page
// (and every uncollated copy of it) through the streaming job, the job end
// after the last page. Once a page header has been read the job is always
// ended on the printer, so that it is never left inside an unfinished job;
// the exit status says whether every page reached the output.
#include "colour/rastertoqv_loop.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "colour/colour_job.h"
#include "colour/pbmproc.h"
#include "colour/qverror.h"
#include "common/page_input.h"

namespace qv::colour {
namespace {

// The one process-wide flag: set by the SIGTERM handler, read by the pixel
// reads and, through the job's environment, by the page loop and the job,
// which asks after every encoded line.
volatile std::sig_atomic_t gCancelRequested = 0;

void CancelJob(int /*signalNumber*/) { gCancelRequested = 1; }
bool isCancelRequested(void* /*context*/) { return gCancelRequested != 0; }

// Installed without SA_RESTART: a read blocked on a stalled spooler pipe must
// return EINTR so that the page loop sees the cancel at once.
void installCancelHandler() {
  struct sigaction action {};
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  ::sigaction(SIGTERM, &action, nullptr);
}

// Pixel data is read in 4 MiB steps so that a cancel is seen between them
// even while a big page streams in.
constexpr std::size_t kReadStep = std::size_t{4} << 20;

// Reads up to `size` bytes of pixel data. Returns the count read; stops
// early at end of input, on a read error, or when a cancel arrives.
std::size_t readInputPixels(std::FILE* in, std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size && gCancelRequested == 0) {
    const std::size_t want = std::min(kReadStep, size - done);
    const std::size_t got = std::fread(out + done, 1, want, in);
    done += got;
    if (got == want) continue;
    if (std::ferror(in) && errno == EINTR && gCancelRequested == 0) {
      std::clearerr(in);
      continue;
    }
    break;
  }
  return done;
}

// Standard output as the job's byte sink: every byte written, writes
// interrupted by a signal resumed (a page on its way must arrive whole).
struct StdoutSink {
  int error = 0;
  static bool write(void* context, std::span<const std::uint8_t> bytes) {
    auto* sink = static_cast<StdoutSink*>(context);
    while (!bytes.empty()) {
      const ssize_t written = ::write(1, bytes.data(), bytes.size());
      if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (written <= 0) {
        sink->error = written < 0 ? errno : EIO;
        return false;
      }
      bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
  }
};

// The PPM page headers, read on the input's reader thread. `opened` turns
// true once a header has announced a page: before that a SIGTERM ends the
// process, as it always has; after it, it cancels the job on the printer.
struct PpmHeaders {
  qv::HeaderStream stream;
  std::atomic<bool> opened{false};
  static int read(void* self, qv::HeaderInput& in) {
    auto* headers = static_cast<PpmHeaders*>(self);
    std::FILE* file = headers->stream.bind(in);
    const long header = file != nullptr ? ReadPpmFileHeader(file) : kPpmMalformed;
    if (header == kPpmPage) headers->opened = true;
    return static_cast<int>(header);
  }
};

// Where the pages come from: a reader thread that reads the next page while
// this one is encoded, or, where that cannot start (no memory for two pages,
// no thread), reads on this thread into the job's own page buffer.
class PageSource {
 public:
  PageSource(std::FILE* in, std::size_t pageBytes) : in_(in) {
    reader_.emplace(::fileno(in), pageBytes, qv::PageHeaderReader{&PpmHeaders::read, &headers_});
    if (reader_->status() != qv::PageInput::kOk) reader_.reset();  // its buffers go at once
    if (!reader_) qv::raisePipeCapacity(::fileno(in));
  }
  bool threaded() const { return reader_.has_value(); }
  bool opened() const { return headers_.opened; }

  // The next page header: kPpmPage, kPpmEnd or kPpmMalformed. A signal that
  // interrupts the wait gives kPpmEnd; the caller looks at its flag first.
  long nextHeader() {
    if (!reader_) return ReadPpmFileHeader(in_);
    do page_ = reader_->next();
    while (page_.interrupted && gCancelRequested == 0);
    if (page_.interrupted) return kPpmEnd;
    if (page_.end) return page_.header == kPpmMalformed ? kPpmMalformed : kPpmEnd;
    return kPpmPage;
  }
  Status beginPage(ColourJob& colour) {
    if (!reader_) return colour.beginPage();
    return colour.beginPage({page_.bytes.data(), reader_->pageBytes()});
  }
  // The page's pixel bytes, in the job's page buffer; fewer where the input
  // ended, failed or a cancel came.
  std::size_t readPixels(ColourJob& colour) {
    if (reader_) return page_.bytes.size();
    const std::span<std::uint8_t> page = colour.pageBuffer();
    return readInputPixels(in_, page.data(), page.size());
  }

 private:
  std::FILE* in_;
  PpmHeaders headers_;
  std::optional<qv::PageInput> reader_;
  qv::InputPage page_;
};

// The job's texts from the process environment.
JobVariables processEnvironment() {
  JobVariables variables;
  variables.password = std::getenv("PASSWORD");
  variables.owner = std::getenv("OWNER");
  variables.title = std::getenv("TITLE");
  variables.redValue = std::getenv("QVREDVAL");
  variables.outputTray = std::getenv("OUTPUTTRAY");
  variables.tmpDir = std::getenv("TMPDIR");
  return variables;
}

}  // namespace

Status SendRasterDoc(const PjpInfo& job, const RcInfo& rc, const JobEnv& env) {
  // A spooler that closes our output must not kill us with SIGPIPE: writes
  // fail instead, and the job ends with its message.
  ::signal(SIGPIPE, SIG_IGN);
  // 1 MiB pipes instead of 64 KiB: a page moves in a sixteenth of the
  // wake-ups of the rasteriser, this filter and the backend.
  qv::raisePipeCapacity(STDOUT_FILENO);
  StdoutSink out;
  ColourJob colour(rc, job, processEnvironment(), qv::ByteSink{StdoutSink::write, &out}, env, true);
  const auto outputLost = [&out, &env] {
    reportf(env, ReportLevel::kError, "ERROR: Unable to send print data: %s",
            std::strerror(out.error));
    return Status::kWriteFailed;
  };
  const std::size_t pageBytes =
      job.nHeight > 0 ? static_cast<std::size_t>(job.nBytesPerLine * job.nHeight) : 0;
  PageSource source(job.fpInput, pageBytes);
  // The reader thread may meet the first header while this thread waits, so
  // the handler is there from the start; see PpmHeaders.
  if (source.threaded()) installCancelHandler();

  long pagesRead = 0;
  Status failed = Status::kOk;  // the page step that ended the job early
  // The way the printers have always been told: the zero fill, then the job
  // end (the last complete page file, the trailer).
  const auto cancelNow = [&] {
    ::signal(SIGTERM, SIG_IGN);
    if (pagesRead == 0) {  // only the reader thread can be this early
      if (!source.opened()) {
        ::signal(SIGTERM, SIG_DFL);
        ::raise(SIGTERM);
      }
      if (const Status status = colour.beginJob(); status != Status::kOk) return status;
    }
    return colour.cancel() == Status::kOk ? Status::kOk : outputLost();
  };

  for (;;) {
    const long header = source.nextHeader();
    if (env.cancelled()) return cancelNow();
    if (header == kPpmEnd) break;
    if (header == kPpmMalformed) {
      QvError(env, Status::kBadPageHeader, nullptr);
      break;
    }
    if (++pagesRead == 1) {
      installCancelHandler();
      if (const Status status = colour.beginJob(); status != Status::kOk) return status;
    }
    if (const Status status = source.beginPage(colour); status != Status::kOk) {
      failed = status;  // its message is out; the job still ends on the printer
      break;
    }
    const std::size_t got = source.readPixels(colour);
    if (env.cancelled()) return cancelNow();
    if (got == 0) {
      // A page without pixel data is the end of the input: no copies of it.
      env.say(ReportLevel::kError, "ERROR:   Reading pixels failed");
      continue;
    }
    const Status status = colour.endPage(got);
    if (status == Status::kCancelled || env.cancelled()) return cancelNow();
    if (status == Status::kWriteFailed) return outputLost();
    if (status != Status::kOk) {
      failed = status;
      break;
    }
  }

  if (pagesRead == 0) {
    env.say(ReportLevel::kError, "ERROR: No pages found!");
    return Status::kNoPages;
  }
  if (colour.endJob() != Status::kOk) return outputLost();
  if (failed != Status::kOk) return failed;
  env.say(ReportLevel::kInfo, "INFO: The printer is ready to print.");
  return Status::kOk;
}

namespace {

// The command line's reporter: each message one line on standard error, in
// the words the spooler's logs have always shown. A failed write to standard
// error has nowhere left to be told.
void reportToStderr(void* /*context*/, ReportLevel /*level*/, std::string_view text) {
  std::string line(text);
  line += '\n';
  (void)std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

int runRastertoqv(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  // Its cancel is SIGTERM, seen through the flag the handler sets.
  const JobEnv env{reportToStderr, isCancelRequested, nullptr};
  PjpInfo job{};
  if (const Status status = InterpretParameters(argc, argv, &job, env); status != Status::kOk)
    return exitStatusFor(status);
  RcSettings rc;
  Status status = PrepareLPRngPrint(&job, &rc.info, env);
  if (status == Status::kOk) status = SendRasterDoc(job, rc.info, env);
  if (job.fpInput != nullptr && job.fpInput != stdin) std::fclose(job.fpInput);
  return exitStatusFor(status);
}

}  // namespace qv::colour
