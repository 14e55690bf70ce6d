// rastertoqv.h - the colour filter's job records and its front end: command
// line, settings conversion and page geometry.
//
// One job per process: main() zero-fills a PjpInfo, InterpretParameters()
// fills its first three fields, PrepareLPRngPrint() reads the settings file
// and the geometry files into the rest. From then on the record is read-only.
#pragma once

#include <cstdint>
#include <cstdio>

#include "colour/qvresource.h"

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

// The page buffer: one whole RGB page (nBytesPerLine x lines). Only Planes[0]
// is used. Defined with the page buffer's allocation (module compress).
extern std::uint8_t* Planes[4];
extern std::uint64_t gOnePageByte;  // size of the page buffer in bytes

// Reads the command line: "-pi" path, "-rc" path (both required, order free,
// a repeat replaces the earlier value, the value is taken as it stands) and at
// most one input file, opened "rb" as fpInput (stdin otherwise). Returns 0, or
// the QvError number (1 or 2) after its message.
int InterpretParameters(int argc, char** argv, PjpInfo* pPjpInfo);

// Loads the settings file into g_rcInfo, then ConvertRc2Pjp. Returns 0 or the
// first error number (1, 5 from the settings file; 1, 6, 7, 13, 14 from the
// geometry files), whose message has been written.
int PrepareLPRngPrint(PjpInfo* pPjpInfo);

// Fills the job record from the settings record: inner values, numerical
// values, then the page geometry (GetPaperInf, GetImagingArea) and
// nBytesPerLine. Returns 0 or the first geometry status.
int ConvertRc2Pjp(const RcInfo* pRcInfo, PjpInfo* pPjpInfo);

// Reads the page size in pixels and lines for the chosen "PageSize" from the
// paper information file into nWidth and nHeight. Returns 0; 1 (cannot open);
// 6 (a line of the wrong form, or a size outside 1..7200 x 1..32767); 7 (no
// line for the paper size).
int GetPaperInf(const char* pszPaperInf, PjpInfo* pPjpInfo);

// Checks the printer's ImagingArea file and reads the paper width and length
// from its PaperDimension file ("/opt/quarno/<printer>/bin/inf/..."). Returns
// 0; 1 (cannot open); 7 (the paper size in neither file); 13 (its ImagingArea
// line unreadable); 14 (its PaperDimension line unreadable or out of range).
int GetImagingArea(PjpInfo* pPjpInfo, const RcInfo* pRcInfo);
