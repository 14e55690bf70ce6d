// rastertoqv.h - the colour filter's job records and its front end: command
// line, settings conversion and page geometry.
//
// The command line fills the first three fields of a zero-filled PjpInfo,
// PrepareLPRngPrint() reads the settings file into the caller's settings
// record and the geometry files into the rest of the job record.
#pragma once

#include <cstdint>
#include <cstdio>

#include "colour/colour_records.h"
#include "colour/qvresource.h"

// Reads the command line: "-pi" path, "-rc" path (both required, order free,
// a repeat replaces the earlier value, the value is taken as it stands) and at
// most one input file, opened "rb" as fpInput (stdin otherwise). Returns 0, or
// the QvError number (1 or 2) after its message.
int InterpretParameters(int argc, char** argv, PjpInfo* pPjpInfo);

// Loads the settings file into `rc`, then ConvertRc2Pjp. Returns 0 or the
// first error number (1, 5 from the settings file; 1, 6, 7, 13, 14 from the
// geometry files), whose message has been written.
int PrepareLPRngPrint(PjpInfo* pPjpInfo, RcInfo* rc);

// Fills the job record from the settings record: inner values, numerical
// values, then the page geometry (GetPaperInf, GetImagingArea) and
// nBytesPerLine. Returns 0 or the first geometry status.
int ConvertRc2Pjp(const RcInfo* pRcInfo, PjpInfo* pPjpInfo);

// The settings part of ConvertRc2Pjp: the inner values and the numerical
// values, without the page geometry (nWidth, nHeight, nPaperWidth,
// nPaperLength, nBytesPerLine), which a caller with its own paper table fills.
void ConvertRcSettings(const RcInfo* pRcInfo, PjpInfo* pPjpInfo);

// Reads the page size in pixels and lines for the chosen "PageSize" from the
// paper information file into nWidth and nHeight. Returns 0; 1 (cannot open);
// 6 (a line of the wrong form, or a size outside 1..7200 x 1..32767); 7 (no
// line for the paper size).
int GetPaperInf(const char* pszPaperInf, PjpInfo* pPjpInfo, const RcInfo* pRcInfo);

// Checks the printer's ImagingArea file and reads the paper width and length
// from its PaperDimension file ("/opt/quarno/<printer>/bin/inf/..."). Returns
// 0; 1 (cannot open); 7 (the paper size in neither file); 13 (its ImagingArea
// line unreadable); 14 (its PaperDimension line unreadable or out of range).
int GetImagingArea(PjpInfo* pPjpInfo, const RcInfo* pRcInfo);
