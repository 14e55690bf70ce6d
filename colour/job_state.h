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
#include "colour/colour_records.h"
#include "colour/debugtool.h"
#include "colour/qvDriverModel.h"
#include "colour/qvresource.h"
#include "common/byte_sink.h"
#include "common/malloc_buffer.h"

enum class PageFileState { kNone, kWriting, kComplete };

struct ColourJobState {
  ColourJobState(const RcInfo& settings, const PjpInfo& job, const qv::ColourJobEnv& environment,
                 qv::ByteSink byteSink, bool pageFiles);
  ~ColourJobState();
  ColourJobState(const ColourJobState&) = delete;
  ColourJobState& operator=(const ColourJobState&) = delete;

  // The job's own copies of what it was given.
  RcSettings rc;
  PjpInfo pjp;
  std::string password, owner, title, redValue, outputTray, tmpDir;  // empty: not given
  const volatile std::sig_atomic_t* cancelFlag;
  bool usePageFiles;  // false: pages wait in memory, nothing touches disk

  SendInfo send{};
  DevModeBlock dev{};
  FunctionTable funcs{};
  bool cancelled() const { return cancelFlag != nullptr && *cancelFlag != 0; }

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
