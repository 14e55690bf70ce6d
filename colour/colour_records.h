// colour_records.h - the colour job's parameter record. Shared by the entry,
// the page loop, the job writer and the hosts, so that no low-level module
// needs the entry header.
#pragma once

#include <cstdint>
#include <cstdio>

namespace qv::colour {

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

}  // namespace qv::colour
