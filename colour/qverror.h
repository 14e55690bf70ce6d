// qverror.h - the colour filter's one error reporter. Each error has a fixed
// message; its number, rastertoqv's exit status, comes from exitStatusFor.
#pragma once

#include "colour/report.h"

namespace qv::colour {

// Reports the message of `status` through `reporter`, with `name` where the
// message takes one (kColourCannotOpen, kColourBadPaperInf and
// kColourPaperNotFound; kColourBadOption has a form with and one without).
// Statuses without a message (kColourOk, the geometry lines) report nothing.
// Returns status.
ColourStatus QvError(const Reporter& reporter, ColourStatus status, const char* name);

// rastertoqv's exit status for a colour core status: the error numbers the
// filter has always had (1 cannot open, 2 invalid option, 5 settings file,
// 6 and 7 paper information file, 10 print phase, 13 and 14 geometry lines),
// 0 for kColourOk and 1 for every failure of the page loop.
int exitStatusFor(ColourStatus status);

}  // namespace qv::colour
