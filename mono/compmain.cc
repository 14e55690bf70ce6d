// compmain.cc - the mono job driver: buffers, job header, page loop,
// sorted-copy replays and the PJL trailer.
#include "mono/compmain.h"

#include <signal.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstring>
#include <iterator>

#include "common/exclusive_file.h"
#include "common/malloc_buffer.h"
#include "common/unique_file.h"
#include "mono/PCLUtils.h"
#include "mono/rawtoqv.h"

std::uint8_t* destBufPtr = nullptr;
std::uint8_t* CompBufPtr = nullptr;
std::uint8_t* SnedBufPtr = nullptr;

namespace {

// Every job buffer carries 32768 bytes of slack beyond its working size.
constexpr std::size_t kBufferSlack = 32768;
constexpr std::size_t kCompBufBytes = 1300;
constexpr std::size_t kSendBufBytes = 16448;
// The row counter of a page is a signed 16-bit value.
constexpr int kMaxPageRows = 32767;

// Output bins "Sorter2" to "Sorter5" ask for 1 to 4 replays of the job.
constexpr int kFirstSorterBin = 7;
constexpr int kLastSorterBin = 10;

// The signal path reads this name: plain storage, filled before the
// handlers are installed and never changed while they are.
char g_copyPath[64];

// Signals that end the filter while its copy file may exist: the spooler's
// cancel (SIGTERM), a closed output pipe (SIGPIPE), an interrupt or a
// hang-up of a terminal.
constexpr int kEndingSignals[] = {SIGTERM, SIGPIPE, SIGINT, SIGHUP};
constexpr std::size_t kEndingSignalCount = std::size(kEndingSignals);

sigset_t endingSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndingSignals) sigaddset(&set, sig);
  return set;
}

// A cancelled job must not leave a customer's document in /tmp. unlink,
// sigaction and raise are async-signal-safe. The signal stays blocked until
// the handler returns and then ends the process as it would have anyway.
void removeCopyAndReraise(int sig) {
  ::unlink(g_copyPath);
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  ::sigaction(sig, &defaultAction, nullptr);
  ::raise(sig);
}

// Blocks the ending signals for its lifetime, so that the file and the
// handlers that remove it come and go together.
class EndingSignalsBlock {
 public:
  EndingSignalsBlock() {
    const sigset_t set = endingSignalSet();
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~EndingSignalsBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  EndingSignalsBlock(const EndingSignalsBlock&) = delete;
  EndingSignalsBlock& operator=(const EndingSignalsBlock&) = delete;

 private:
  sigset_t previous_;
};

// The sorted-copy file: a copy of the job's PCL stream, replayed once per
// further sorted set. It holds a customer's document in a shared directory,
// so it is created exclusively with mode 0600 and removed on every way out,
// an ending signal included.
class SortCopyFile {
 public:
  SortCopyFile() {
    // The name keeps its historical pattern: clock ticks and process id.
    struct tms ticks;
    const auto clock = static_cast<std::uint32_t>(::times(&ticks));
    std::snprintf(g_copyPath, sizeof g_copyPath, "/tmp/rawtoqv_tmp_%x_%x", clock,
                  static_cast<unsigned>(::getpid()));
  }
  ~SortCopyFile() { remove(); }
  SortCopyFile(const SortCopyFile&) = delete;
  SortCopyFile& operator=(const SortCopyFile&) = delete;

  // Returns the open file, or nullptr when it cannot be created (the
  // replays then carry only their PJL commands).
  std::FILE* create() {
    EndingSignalsBlock block;
    qv::UniqueFd fd(qv::createExclusive(g_copyPath));
    if (!fd) return nullptr;
    file_.reset(::fdopen(fd.get(), "w+"));
    if (!file_) {
      ::unlink(g_copyPath);
      return nullptr;
    }
    fd.release();
    created_ = true;
    installHandlers();
    return file_.get();
  }

  std::FILE* get() const { return file_.get(); }

  void remove() {
    if (!created_) return;
    EndingSignalsBlock block;
    file_.reset();
    ::unlink(g_copyPath);
    created_ = false;
    for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
      if (installed_[i]) ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
      installed_[i] = false;
    }
  }

 private:
  // A signal that the spooler has the filter ignore stays ignored; the
  // file then goes at the normal end.
  void installHandlers() {
    for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
      struct sigaction current = {};
      if (::sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) continue;
      struct sigaction handler = {};
      handler.sa_handler = removeCopyAndReraise;
      handler.sa_mask = endingSignalSet();
      previous_[i] = current;
      installed_[i] = ::sigaction(kEndingSignals[i], &handler, nullptr) == 0;
    }
  }

  qv::UniqueFile file_;
  bool created_ = false;
  bool installed_[kEndingSignalCount] = {};
  struct sigaction previous_[kEndingSignalCount] = {};
};

// Points the program-wide buffer pointers at the job's buffers and clears
// them again when the job ends, so that nothing outlives the buffers.
class JobBuffers {
 public:
  JobBuffers(std::uint8_t* dest, std::uint8_t* comp, std::uint8_t* send) {
    destBufPtr = dest;
    CompBufPtr = comp;
    SnedBufPtr = send;
  }
  ~JobBuffers() {
    destBufPtr = nullptr;
    CompBufPtr = nullptr;
    SnedBufPtr = nullptr;
    sParam = nullptr;
  }
  JobBuffers(const JobBuffers&) = delete;
  JobBuffers& operator=(const JobBuffers&) = delete;
};

// Reads one whole page. One read call per page rather than per row: the
// result is the same (a short read anywhere ends the page), and at 1200 dpi
// a page has 14000 rows. Returns true only for a complete page.
bool readPage(std::FILE* in, std::uint8_t* page, std::size_t pageBytes) {
  return std::fread(page, 1, pageBytes, in) == pageBytes;
}

void sendPage(std::FILE* out, std::FILE* copy, const std::uint8_t* page, int width, int height) {
  SendSettings();
  SendData_1030(out, copy, page, width, height);
  serialSend_1030(out, copy);
  PCLSendCommand(out, copy, PCLEnd1030);
  PCLSendCommand(out, copy, PCLFormFeed);
}

// Replays the recorded PCL stream for sorted sets 2 and up, each labelled
// with its copy number. `chunk` is scratch space for the copy.
void sendReplays(std::FILE* out, std::FILE* copy, int replays, std::uint8_t* chunk,
                 std::size_t chunkBytes) {
  static constexpr const FixedCommand* kSortCopy[] = {&PJLSortCopy2, &PJLSortCopy3, &PJLSortCopy4,
                                                      &PJLSortCopy5};
  for (int n = 0; n < replays; ++n) {
    PCLSendCommand(out, nullptr, PJLEnter);
    PCLSendCommand(out, nullptr, *kSortCopy[n]);
    PCLSendCommand(out, nullptr, PJLEnterPCL3);
    if (copy == nullptr || std::fseek(copy, 0, SEEK_SET) != 0) continue;
    for (;;) {
      const std::size_t got = std::fread(chunk, 1, chunkBytes, copy);
      if (got == 0) break;
      PCLSendData(out, nullptr, chunk, got);
      if (got < chunkBytes) break;
    }
  }
}

void sendTrailer(std::FILE* out, const PrintSettings& settings) {
  if (!cflagSet(0, 1)) {
    PCLSendCommand(out, nullptr, PJLTerminate);
    const std::size_t nameLength = strnlen(settings.jobName, sizeof settings.jobName);
    if (nameLength != 0) {
      char line[128];  // formatted into at most 127 characters
      const int printed = std::snprintf(line, sizeof line, "@PJL EOJ NAME=\"%.*s\"\n",
                                        static_cast<int>(nameLength), settings.jobName);
      if (printed > 0) {
        const auto length = static_cast<std::size_t>(printed);
        PCLSendData(out, nullptr, line, length < sizeof line ? length : sizeof line - 1);
      }
    } else {
      PCLSendCommand(out, nullptr, PJLEndOfJob);
    }
  }
  PCLSendCommand(out, nullptr, PJLTerminate);
}

}  // namespace

int qvcomp1030(std::FILE* in, std::FILE* out, const PrintSettings& settings) {
  const int width = settings.width;
  const int height = settings.height;
  // A size that cannot describe a page gives a job without pages: reading
  // pages of 0 bytes would never end, and a negative size has no buffer.
  const bool pagesPossible = width > 0 && height > 0 && height <= kMaxPageRows;
  const std::size_t rowBytes = pagesPossible ? (static_cast<std::size_t>(width) + 7) / 8 : 0;
  const std::size_t pageBytes = rowBytes * (pagesPossible ? static_cast<std::size_t>(height) : 0);
  const std::size_t destBytes = (width > 0 ? static_cast<std::size_t>(width) : 0) * 5 / 8;

  const qv::ByteBuffer page = qv::allocateBytes(pageBytes + kBufferSlack);
  const qv::ByteBuffer dest = qv::allocateBytes(destBytes + kBufferSlack);
  const qv::ByteBuffer comp = qv::allocateBytes(kCompBufBytes + kBufferSlack);
  const qv::ByteBuffer send = qv::allocateBytes(kSendBufBytes + kBufferSlack);
  if (!page || !dest || !comp || !send) return kQvcompNoMemory;
  const JobBuffers buffers(dest.get(), comp.get(), send.get());

  SParam param = {};
  sParam = &param;
  setSParam(param, settings);

  SortCopyFile copyFile;
  const bool sorted = param.binCode >= kFirstSorterBin && param.binCode <= kLastSorterBin;
  std::FILE* copy = sorted ? copyFile.create() : nullptr;

  BeginSendData(out, copy, settings);
  if (pagesPossible) {
    while (readPage(in, page.get(), pageBytes)) sendPage(out, copy, page.get(), width, height);
  }

  // A copy file that could not take the whole stream (a full /tmp) would
  // replay a cut raster sequence: the replays then carry only their PJL
  // commands, as when the file cannot be created.
  const bool copyComplete = copy != nullptr && std::fflush(copy) == 0 && std::ferror(copy) == 0;
  const int replays = sorted ? param.binCode - kFirstSorterBin + 1 : 0;
  sendReplays(out, copyComplete ? copy : nullptr, replays, page.get(), pageBytes + kBufferSlack);
  copyFile.remove();
  sendTrailer(out, settings);
  return kQvcompDone;
}
