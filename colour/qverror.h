// qverror.h - the colour filter's one error env. Each error has a fixed
// message; its number, rastertoqv's exit status, comes from exitStatusFor.
#pragma once

#include "colour/status.h"

namespace qv::colour {

// Reports the message of `status` through `env`, with `name` where the
// message takes one (Status::kCannotOpen, Status::kBadPaperInf and
// Status::kPaperNotFound; Status::kBadOption has a form with and one without).
// Statuses without a message (Status::kOk, the geometry lines) report nothing.
// Returns status.
Status QvError(const JobEnv& env, Status status, const char* name);

// rastertoqv's exit status for a colour core status: the error numbers the
// filter has always had (1 cannot open, 2 invalid option, 5 settings file,
// 6 and 7 paper information file, 10 print phase, 13 and 14 geometry lines),
// 0 for Status::kOk and 1 for every failure of the page loop.
int exitStatusFor(Status status);

}  // namespace qv::colour
