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
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "colour/colour_job.h"
#include "colour/pbmproc.h"
#include "colour/qverror.h"
#include "common/page_input.h"

namespace {

// The one process-wide flag: set by the SIGTERM handler, polled by the page
// loop and handed to the job, which looks at it after every encoded line.
volatile std::sig_atomic_t gCancelRequested = 0;

void CancelJob(int /*signalNumber*/) { gCancelRequested = 1; }

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
std::size_t readPixels(std::FILE* in, std::uint8_t* out, std::size_t size) {
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

}  // namespace

int SendRasterDoc(const PjpInfo& job, const RcInfo& rc) {
  // A spooler that closes our output must not kill us with SIGPIPE: writes
  // fail instead, and the job ends with its message.
  ::signal(SIGPIPE, SIG_IGN);
  // 1 MiB pipes instead of 64 KiB: a page moves in a sixteenth of the
  // wake-ups of the rasteriser, this filter and the backend.
  qv::raisePipeCapacity(::fileno(job.fpInput));
  qv::raisePipeCapacity(STDOUT_FILENO);
  const qv::ColourJobEnv env{std::getenv("PASSWORD"),   std::getenv("OWNER"),
                             std::getenv("TITLE"),      std::getenv("QVREDVAL"),
                             std::getenv("OUTPUTTRAY"), std::getenv("TMPDIR"),
                             &gCancelRequested};
  StdoutSink out;
  qv::ColourJob colour(rc, job, env, qv::ByteSink{StdoutSink::write, &out}, true);
  const auto outputLost = [&out] {
    std::fprintf(stderr, "ERROR: Unable to send print data: %s\n", std::strerror(out.error));
    return 1;
  };
  // The way the printers have always been told: the zero fill, then the job
  // end (the last complete page file, the trailer).
  const auto cancelNow = [&] {
    ::signal(SIGTERM, SIG_IGN);
    return colour.cancel() == qv::kColourOk ? 0 : outputLost();
  };

  long pagesRead = 0;
  bool failed = false;
  for (;;) {
    const long header = ReadPpmFileHeader(job.fpInput);
    if (gCancelRequested != 0) return cancelNow();
    if (header == kPpmEnd) break;
    if (header == kPpmMalformed) {
      QvError(kQvErrPrintPhase, nullptr);
      break;
    }
    if (++pagesRead == 1) {
      installCancelHandler();
      if (colour.beginJob() != qv::kColourOk) return 1;
    }
    if (colour.beginPage() != qv::kColourOk) {
      failed = true;  // its message is out; the job still ends on the printer
      break;
    }
    const std::span<std::uint8_t> page = colour.pageBuffer();
    const std::size_t got = readPixels(job.fpInput, page.data(), page.size());
    if (gCancelRequested != 0) return cancelNow();
    if (got == 0) {
      // A page without pixel data is the end of the input: no copies of it.
      std::fputs("ERROR:   Reading pixels failed\n", stderr);
      continue;
    }
    const int status = colour.endPage(got);
    if (status == qv::kColourCancelled || gCancelRequested != 0) return cancelNow();
    if (status == qv::kColourWriteFailed) return outputLost();
    if (status != qv::kColourOk) {
      failed = true;
      break;
    }
  }

  if (pagesRead == 0) {
    std::fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  if (colour.endJob() != qv::kColourOk) return outputLost();
  if (failed) return 1;
  std::fputs("INFO: The printer is ready to print.\n", stderr);
  return 0;
}

int runRastertoqv(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  PjpInfo job{};
  if (const int status = InterpretParameters(argc, argv, &job); status != 0) return status;
  RcSettings rc;
  int status = PrepareLPRngPrint(&job, &rc.info);
  if (status == 0) status = SendRasterDoc(job, rc.info);
  if (job.fpInput != nullptr && job.fpInput != stdin) std::fclose(job.fpInput);
  return status;
}
