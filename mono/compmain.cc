// compmain.cc - the mono job driver: buffers, job header, page loop,
// sorted-copy replays and the PJL trailer.
#include "mono/compmain.h"

#include <cstring>

#include "common/malloc_buffer.h"
#include "common/unique_file.h"
#include "mono/PCLUtils.h"
#include "mono/copy_file.h"
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

  // The sorted-copy file; without it the replays carry only their PJL
  // commands.
  const bool sorted = param.binCode >= kFirstSorterBin && param.binCode <= kLastSorterBin;
  qv::UniqueFile copyFile;
  if (sorted) {
    qv::UniqueFd fd(qv::openCopyFile(settings.tmpDir[0] != '\0' ? settings.tmpDir : "/tmp"));
    if (fd) copyFile.reset(::fdopen(fd.get(), "w+"));
    if (copyFile) fd.release();
  }
  std::FILE* copy = copyFile.get();
  g_outputFailed = false;

  BeginSendData(out, copy, settings);
  if (pagesPossible) {
    while (!g_outputFailed && readPage(in, page.get(), pageBytes))
      sendPage(out, copy, page.get(), width, height);
  }

  // A copy file that could not take the whole stream (a full /tmp) would
  // replay a cut raster sequence: the replays then carry only their PJL
  // commands, as when the file cannot be created.
  const bool copyComplete = copy != nullptr && std::fflush(copy) == 0 && std::ferror(copy) == 0;
  const int replays = sorted ? param.binCode - kFirstSorterBin + 1 : 0;
  sendReplays(out, copyComplete ? copy : nullptr, replays, page.get(), pageBytes + kBufferSlack);
  copyFile.reset();
  sendTrailer(out, settings);
  // A job the printer did not get whole is a lost job, not a printed one.
  if (std::fflush(out) != 0) g_outputFailed = true;
  return g_outputFailed ? kQvcompWriteFailed : kQvcompDone;
}
