// compmain.cc - the mono job driver: buffers, job header, page loop,
// sorted-copy replays and the PJL trailer.
#include "mono/compmain.h"

#include <signal.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstring>

#include "common/exclusive_file.h"
#include "common/malloc_buffer.h"
#include "common/unique_file.h"
#include "mono/PCLUtils.h"
#include "mono/rawtoqv.h"

std::uint8_t* destBufPtr = nullptr;
std::uint8_t* CompBufPtr = nullptr;
std::uint8_t* SnedBufPtr = nullptr;

namespace {

// Slack after each buffer, as the printer's own drivers size them.
constexpr std::size_t kBufferSlack = 32768;
constexpr std::size_t kCompBufBytes = 1300;
constexpr std::size_t kSendBufBytes = 16448;
// The row counter of a page is a signed 16-bit value.
constexpr int kMaxPageRows = 32767;

// Output bins "Sorter2" to "Sorter5" ask for 1 to 4 replays of the job.
constexpr int kFirstSorterBin = 7;
constexpr int kLastSorterBin = 10;

// The SIGTERM path reads this name: plain storage, filled before the
// handler is installed and never changed while it is.
char g_copyPath[64];

// A cancelled job must not leave a customer's document in /tmp. unlink,
// sigaction and raise are async-signal-safe; SIGTERM stays blocked until
// the handler returns, and then ends the process as it would have anyway.
void removeCopyAndTerminate(int /*signal*/) {
  ::unlink(g_copyPath);
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  ::sigaction(SIGTERM, &defaultAction, nullptr);
  ::raise(SIGTERM);
}

// Blocks SIGTERM for its lifetime, so that the file and the handler that
// removes it come and go together.
class SigtermBlock {
 public:
  SigtermBlock() {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &previous_);
  }
  ~SigtermBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SigtermBlock(const SigtermBlock&) = delete;
  SigtermBlock& operator=(const SigtermBlock&) = delete;

 private:
  sigset_t previous_;
};

// The sorted-copy file: a copy of the job's PCL stream, replayed once per
// further sorted set. It holds a customer's document in a shared directory,
// so it is created exclusively with mode 0600 and removed on every way out,
// SIGTERM included.
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
    SigtermBlock block;
    qv::UniqueFd fd(qv::createExclusive(g_copyPath));
    if (!fd) return nullptr;
    created_ = true;
    file_.reset(::fdopen(fd.get(), "w+"));
    if (!file_) {
      ::unlink(g_copyPath);
      created_ = false;
      return nullptr;
    }
    fd.release();
    // A spooler that ignores SIGTERM keeps it ignored; the file then goes
    // at the normal end.
    struct sigaction current = {};
    ::sigaction(SIGTERM, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_IGN) {
      struct sigaction handler = {};
      handler.sa_handler = removeCopyAndTerminate;
      sigemptyset(&handler.sa_mask);
      handler.sa_flags = 0;
      previous_ = current;
      handlerInstalled_ = ::sigaction(SIGTERM, &handler, nullptr) == 0;
    }
    return file_.get();
  }

  std::FILE* get() const { return file_.get(); }

  void remove() {
    if (!created_) return;
    SigtermBlock block;
    file_.reset();
    ::unlink(g_copyPath);
    created_ = false;
    if (handlerInstalled_) ::sigaction(SIGTERM, &previous_, nullptr);
    handlerInstalled_ = false;
  }

 private:
  qv::UniqueFile file_;
  bool created_ = false;
  bool handlerInstalled_ = false;
  struct sigaction previous_ = {};
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
  if (copy != nullptr) std::fflush(copy);
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

  const int replays = sorted ? param.binCode - kFirstSorterBin + 1 : 0;
  sendReplays(out, copy, replays, page.get(), pageBytes + kBufferSlack);
  copyFile.remove();
  sendTrailer(out, settings);
  return kQvcompDone;
}
