// rastertoqv.cc - entry and page loop of the colour filter.
//
// One job per process: the PJL job header before the first page, every page
// (and every uncollated copy of it) through the writer slots of fun_table,
// the job end after the last page. Once a page header has been read the job
// is always ended properly and the exit status is 0: the printer must never
// be left inside an unfinished job.
#include "colour/rastertoqv_loop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "colour/Mfunc.h"
#include "colour/compress.h"
#include "colour/pbmproc.h"
#include "colour/qvDriverModel.h"
#include "colour/qverror.h"
#include "colour/send.h"
#include "colour/tempfile.h"

volatile std::sig_atomic_t gCancelRequested = 0;
int nCopies = 1;
int iCopy = 0;
int fdPageData = -1;

namespace {

// Results of SendPageData besides 0 (sent) and 1 (failed, job ends).
enum : int {
  kPageSent = 0,
  kPageFailed = 1,
  kPageNoPixels = 2,
  kPageCancelled = 3,
  kOutputFailed = 4
};

// Pixel data is read in 4 MiB steps so that a cancel is seen between them
// even while a big page streams in.
constexpr std::size_t kReadStep = std::size_t{4} << 20;

void printMessage(const char* prefix, const char* text) {
  std::fprintf(stderr, "%s%s", prefix, text);
}

// Installed without SA_RESTART: a read blocked on a stalled spooler pipe must
// return EINTR so that the page loop sees the cancel at once.
void installCancelHandler() {
  static bool installed = false;
  if (installed) return;
  struct sigaction action {};
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  ::sigaction(SIGTERM, &action, nullptr);
  installed = true;
}

void closeCopiesFile() {
  if (fdPageData < 0) return;
  ::close(fdPageData);
  fdPageData = -1;
}

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

// Reads exactly `size` bytes from the copies file. False on end of file, a
// failure, or a cancel.
bool readCopiesFile(std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (gCancelRequested != 0) return false;
    const ssize_t got = ::read(fdPageData, out + done, size - done);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool writeCopiesFile(const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(fdPageData, bytes + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Ends a job on SIGTERM the way the printers have always been told: the zero
// fill, then the job end (the last complete page file, the trailer). A page
// cut short is deleted, never sent.
int cancelJobNow(SendInfo* send) {
  ::signal(SIGTERM, SIG_IGN);
  closeCopiesFile();
  static const std::uint8_t zeros[kCancelFillBytes] = {};
  pswrite(zeros, sizeof zeros);
  MEndJob(send);
  flushOutput();
  DestroySendBuf();
  DestroyBandBuf();
  ReleaseBandBuf();
  ResetFunctionTable();
  if (outputHasFailed()) {
    reportOutputFailure();
    return 1;
  }
  return 0;
}

// The output is gone: nothing more is converted or sent.
int endFailedOutput() {
  reportOutputFailure();
  closeCopiesFile();
  DestroySendBuf();
  ReleaseBandBuf();
  ResetFunctionTable();
  return 1;
}

}  // namespace

void CancelJob(int /*signalNumber*/) { gCancelRequested = 1; }

int BeginPageData(PjpInfo* job, long outputPageNumber, SendInfo* send) {
  installCancelHandler();
  send->wBandIndex = 0;
  if (outputPageNumber == 1) fun_table.beginJob(job, send);
  return 0;
}

int SendPageData(PjpInfo* job, SendInfo* send) {
  if (job->nHeight <= 0) return kPageSent;
  // The line buffers of the writer hold 7200 pixels; the paper files are
  // checked for that already, this keeps the buffers safe on any path.
  if (job->nWidth <= 0 || job->nWidth > kMaxPageWidth) {
    std::fputs("Invalid Parameter(s).\n", stderr);
    return kPageFailed;
  }
  int linesDone = 0;
  for (;;) {
    const int bandLines = send->nBandLines;
    if (CreateBandBuf(job->nBytesPerLine, bandLines) != 0) return kPageFailed;
    std::uint8_t* page = Planes[0];
    const std::size_t size = gOnePageByte;

    if (iCopy > 0) {
      if (fdPageData < 0) return kPageFailed;
      if (!readCopiesFile(page, size)) {
        if (gCancelRequested != 0) return kPageCancelled;
        printMessage("ERROR: ", "Reading raster data from temporary file failed!\n");
        return kPageFailed;
      }
    } else {
      const std::size_t got = readPixels(job->fpInput, page, size);
      if (gCancelRequested != 0) return kPageCancelled;
      if (got == 0) {
        printMessage("ERROR: ", "  Reading pixels failed\n");
        return kPageNoPixels;
      }
      // A page that ends early is sent with its missing lines as zero bytes.
      std::memset(page + got, 0, size - got);
      if (fdPageData >= 0 && !writeCopiesFile(page, size)) {
        printMessage("ERROR: ",
                     "Writing raster data to temporary file failed,just ONE copy will be "
                     "printed!\n");
        closeCopiesFile();
      }
    }

    const bool pageFailed =
        fun_table.beginPage(job, send) != 0 || fun_table.sendBand(job, send) != 0;
    DestroyBandBuf();
    // The reader is gone: converting more pages would be for no one.
    if (outputHasFailed()) return kOutputFailed;
    if (gCancelRequested != 0) return kPageCancelled;
    if (pageFailed) return kPageFailed;

    linesDone += send->nBandLines;
    ++send->wBandIndex;
    if (linesDone >= job->nHeight || send->nBandLines <= 0) return kPageSent;
  }
}

int EndPageData(PjpInfo* job, SendInfo* send) {
  fun_table.endPage(job, send);
  flushOutput();
  return 0;
}

int SendRasterDoc(PjpInfo* job) {
  // A spooler that closes our output must not kill us with SIGPIPE before the
  // page files are removed: writes fail instead, and the job ends cleanly.
  ::signal(SIGPIPE, SIG_IGN);
  SendInfo send{};
  SetFunctionTable();
  if (CreateSendBuf(&send) != 0) {
    std::fputs("molloc fasle\n", stderr);
    return 1;
  }

  long pagesRead = 0;
  bool jobFailed = false;
  for (;;) {
    const long header = ReadPpmFileHeader(job->fpInput);
    if (gCancelRequested != 0) return cancelJobNow(&send);
    if (header == kPpmEnd) break;
    if (header == kPpmMalformed) {
      QvError(kQvErrPrintPhase, nullptr);
      break;
    }
    const long pageNumber = pagesRead + 1;
    if (pageNumber == 1) {
      send.nCollate = job->nCollate;
      nCopies = (job->nCollate == 1 || job->nCopyCount < 2) ? 1 : job->nCopyCount;
    }
    const bool uncollated = job->nCollate == 0 && nCopies >= 2;

    int status = kPageSent;
    for (iCopy = 0; iCopy < nCopies; ++iCopy) {
      if (uncollated && iCopy == 0) {
        fdPageData = myTempFd(scratchDirectory(std::getenv("TMPDIR")));
        if (fdPageData < 0) printMessage("ERROR: ", "Unable to create a temporay file\n");
      } else if (uncollated) {
        // Without the copies file the page has gone out once, as the
        // message said; the job goes on with the next page.
        if (fdPageData < 0) break;
        ::lseek(fdPageData, 0, SEEK_SET);
      }
      const long outputPage = nCopies * (pageNumber - 1) + iCopy + 1;
      BeginPageData(job, outputPage, &send);
      status = SendPageData(job, &send);
      EndPageData(job, &send);
      if (outputHasFailed()) status = kOutputFailed;
      // A page without pixel data is the end of the input: no copies of it.
      if (status != kPageSent) break;
    }
    closeCopiesFile();
    pagesRead = pageNumber;
    if (status == kOutputFailed) return endFailedOutput();
    if (status == kPageCancelled || gCancelRequested != 0) return cancelJobNow(&send);
    if (status == kPageFailed) {
      jobFailed = true;
      break;
    }
  }

  if (pagesRead == 0) {
    DestroySendBuf();
    ResetFunctionTable();
    printMessage("ERROR: ", "No pages found!\n");
    return 1;
  }
  // A failed job still ends on the printer, so the device is not left
  // inside it.
  fun_table.endJob(&send);
  flushOutput();
  if (outputHasFailed()) return endFailedOutput();
  DestroySendBuf();
  ReleaseBandBuf();
  ResetFunctionTable();
  if (jobFailed) return 1;
  printMessage("INFO: ", "The printer is ready to print.\n");
  return 0;
}

int runRastertoqv(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  PjpInfo job{};
  if (const int status = InterpretParameters(argc, argv, &job); status != 0) return status;
  if (const int status = PrepareLPRngPrint(&job); status != 0) return status;
  const int status = SendRasterDoc(&job);
  if (job.fpInput != nullptr && job.fpInput != stdin) std::fclose(job.fpInput);
  return status;
}
