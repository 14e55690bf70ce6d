// colour_records.h - the colour job's records: the job parameters, the
// send state and the device-mode block. Shared by the entry, the page loop
// and the job writer, so that no low-level module needs the entry header.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>

// The job parameter record: everything the page loop and the job writer need,
// gathered once before the first page is read.
struct PjpInfo {
  std::FILE* fpInput;            // PPM input: stdin, or the file argument
  const char* pszPaperInf;       // "-pi" value; points into argv
  const char* pszRcFile;         // "-rc" value; points into argv
  std::uint16_t wMediaType;      // inner value of "MediaType"
  std::uint16_t wResolution;     // inner value of "QVResolution" (1 Normal, 2 Fine)
  std::uint16_t wPageSize;       // inner value of "PageSize" (printer paper code)
  std::int16_t nPaperWidth;      // PaperDimension number 1 (PWG PageSize width)
  std::int16_t nPaperLength;     // PaperDimension number 2 (PWG PageSize length)
  std::int16_t nWidth;           // page width in pixels, 1..7200 (paper information file)
  std::int16_t nHeight;          // page height in lines, 1..32767 (paper information file)
  std::uint64_t nBytesPerLine;   // bytes of one RGB input line = nWidth x 3
  std::uint16_t wInputSlot;      // inner value of "InputSlot" (7 = manual feed)
  std::int16_t nCopyCount;       // "Copies"
  std::int16_t nColorMode;       // "QVMonoColor": Mono 0, FullColor 1, Auto 2
  std::int16_t nCollate;         // "Collate": OFF 0, ON 1
  std::uint16_t wColorMatching;  // inner value of "QVColorMatching" (3 = Auto)
  std::uint16_t wEnhanceBlack;   // inner value of "QVEnhanceBlkPrt"
  std::uint16_t wImproveOutput;  // inner value of "QVImproveOutput"
  std::int16_t nBrightness;      // "Brightness"
  std::int16_t nContrast;        // "Contrast"
  std::int16_t nRedKey;          // "RedKey"
  std::int16_t nGreenKey;        // "GreenKey"
  std::int16_t nBlueKey;         // "BlueKey"
  std::int16_t nDuplex;          // "QVDuplex": None 0, DuplexTumble 1, DuplexNoTumble 2
  std::uint16_t wTonerSave;      // inner value of "TonerSaveMode"
  std::uint16_t wGray;           // inner value of "QVGray"
};

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

namespace qv {

// What a job used to take from its environment, filled by the caller (the
// command line from getenv). A null or empty text counts as not given.
struct ColourJobEnv {
  const char* password = nullptr;    // PASSWORD: secure print with this PIN
  const char* owner = nullptr;       // OWNER
  const char* title = nullptr;       // TITLE
  const char* redValue = nullptr;    // QVREDVAL
  const char* outputTray = nullptr;  // OUTPUTTRAY
  const char* tmpDir = nullptr;      // TMPDIR: where page files and the copies file go
  // Looked at after every encoded line: non-zero asks the job to stop (the
  // caller then calls cancel()). May be null.
  const volatile std::sig_atomic_t* cancelFlag = nullptr;
};

}  // namespace qv
