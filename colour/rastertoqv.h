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
#include "colour/status.h"

namespace qv::colour {

// Reads the command line: "-pi" path, "-rc" path (both required, order free,
// a repeat replaces the earlier value, the value is taken as it stands) and at
// most one input file, opened "rb" as fpInput (stdin otherwise). Returns
// Status::kOk, or Status::kCannotOpen or Status::kBadOption after its QvError message.
Status InterpretParameters(int argc, char** argv, PjpInfo* job, const JobEnv& env);

// Loads the settings file into `rc`, then ConvertRc2Pjp. Returns Status::kOk or
// the first failure (Status::kCannotOpen, Status::kBadSettingsFile from the
// settings file; those of GetPaperInf and GetImagingArea from the geometry
// files), whose message has been reported.
Status PrepareLPRngPrint(PjpInfo* job, RcInfo* rc, const JobEnv& env);

// Fills the job record from the settings record: inner values, numerical
// values, then the page geometry (GetPaperInf, GetImagingArea) and
// nBytesPerLine. Returns Status::kOk or the first geometry status.
Status ConvertRc2Pjp(const RcInfo* rc, PjpInfo* job, const JobEnv& env);

// The settings part of ConvertRc2Pjp: the inner values and the numerical
// values, without the page geometry (nWidth, nHeight, nPaperWidth,
// nPaperLength, nBytesPerLine), which a caller with its own paper table fills.
void convertRcSettings(const RcInfo* rc, PjpInfo* job);

// Reads the page size in pixels and lines for the chosen "PageSize" from the
// paper information file into nWidth and nHeight. Returns Status::kOk;
// Status::kCannotOpen; Status::kBadPaperInf (a line of the wrong form, or a size
// outside 1..7200 x 1..32767); Status::kPaperNotFound (no line for the paper size).
Status GetPaperInf(const char* paperInfPath, PjpInfo* job, const RcInfo* rc, const JobEnv& env);

// Checks the printer's ImagingArea file and reads the paper width and length
// from its PaperDimension file ("/opt/quarno/<printer>/bin/inf/..."). Returns
// Status::kOk; Status::kCannotOpen; Status::kPaperNotFound (the paper size in
// neither file); Status::kBadImagingArea (its ImagingArea line unreadable);
// Status::kBadPaperDimension (its PaperDimension line unreadable or out of range).
Status GetImagingArea(PjpInfo* job, const RcInfo* rc, const JobEnv& env);

}  // namespace qv::colour
