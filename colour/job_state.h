// job_state.h - everything one colour job holds while it runs: its settings
// and records, the page buffer, the output buffer, the page files, the
// encoder's line buffers, the copies and the debug log. Every module of the
// job works on the state it is handed; two jobs share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "colour/Mfunc.h"
#include "colour/colour_job.h"
#include "colour/colour_records.h"
#include "colour/debugtool.h"
#include "colour/qvDriverModel.h"
#include "colour/qvresource.h"
#include "common/byte_sink.h"
#include "common/malloc_buffer.h"

namespace qv::colour {

// The device-mode block that SendInfo::pdev points to. Of the printer driver's
// device mode, the PWG writer uses only its page-file counters.
struct DevModeBlock {
  std::uint64_t nTempPageNo;    // number of the current page file
  std::uint64_t nPrintedPages;  // pages whose PWG header was written
};

// The send state shared by the page loop and the writer slots for one job.
struct SendInfo {
  std::int16_t nWidth;          // page width in pixels
  std::int16_t nBandCount;      // bands per page: 1, a band is the whole page
  std::int16_t nLastBandLines;  // lines of the last band (= page height)
  std::int16_t nBandLines;      // lines per band (= page height)
  std::uint16_t wBandIndex;     // band counter within the current page
  std::uint16_t wLineBytes;     // bytes per line handed to the encoder
  std::int16_t nBandWidth;      // page width again
  std::int16_t nCollate;        // copy of PjpInfo::nCollate
  std::uint8_t* pLine;          // page-buffer line being encoded
  DevModeBlock* pdev;           // allocated once per job by the page loop
  std::uint16_t wFlags;         // bit 0: the current page was found blank
};

enum class PageFileState { kNone, kWriting, kComplete };

struct ColourJobState {
  ColourJobState(const RcInfo& settings, const PjpInfo& job, const JobVariables& variables,
                 qv::ByteSink byteSink, const JobEnv& environment, bool pageFiles);
  ~ColourJobState();
  ColourJobState(const ColourJobState&) = delete;
  ColourJobState& operator=(const ColourJobState&) = delete;

  // The job's own copies of what it was given.
  RcSettings rc;
  PjpInfo pjp;
  std::string password, owner, title, redValue, outputTray, tmpDir;  // empty: not given
  JobEnv env;         // the job's messages and its cancel
  bool usePageFiles;  // false: pages wait in memory, nothing touches disk

  SendInfo send{};
  DevModeBlock dev{};
  FunctionTable funcs{};

  // The page buffer: one whole RGB page, ours or (pageData elsewhere) the
  // caller's.
  qv::ByteBuffer page;
  std::uint8_t* pageData = nullptr;
  std::uint64_t pageAllocated = 0;
  std::uint64_t onePageByte = 0;

  // Output: bytes gather in `outBuffer` and leave through `sink` in big blocks.
  qv::ByteSink sink;
  qv::ByteBuffer outBuffer;
  std::size_t outUsed = 0;
  bool outFailed = false;

  // The page file waiting for the next page begin, or the job end.
  char pageFileName[300] = {};
  std::FILE* fin = nullptr;
  PageFileState finState = PageFileState::kNone;
  bool finCarriesSync = false;  // "RaS2" is at the start of this file
  bool syncWritten = false;     // "RaS2" is on its way to the output
  qv::ByteBuffer finBuffer;     // the page file's stdio buffer
  qv::ByteBuffer copyBuffer;    // do_compress reads
  // The in-memory page file (usePageFiles false): kept from page to page,
  // so that only the first page pays for fresh memory.
  qv::ByteBuffer memoryPage;
  std::size_t memoryPageUsed = 0;
  std::size_t memoryPageCapacity = 0;

  PwgLineScratch lines;

  // Copies: each page nCopies times; uncollated copies through the copies file.
  int nCopies = 1;
  int iCopy = 0;
  int fdPageData = -1;

  DebugLog log;
};

}  // namespace qv::colour
