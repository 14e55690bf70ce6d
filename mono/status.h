// status.h - what the mono core gives back: one status for every result. Its
// messages and cancel test come from the job's environment (common/job_env.h),
// so that the core itself never writes to standard error.
#pragma once

#include "common/job_env.h"

namespace qv::mono {

// The result of every step of the mono core, from the command line to the
// last row. kOk is 0, so that a host may test a result for non-zero; the
// numbers are no exit statuses (rawtoqv maps them in exitStatusFor).
enum class Status : int {
  kOk = 0,
  kCannotOpen,   // a file cannot be opened
  kInvalid,      // invalid command line, settings, page size or paper
  kNoMemory,     // beginJob: a job buffer cannot be had; nothing was sent
  kWriteFailed,  // the sink refused bytes; the job stopped there
  // Sorted copies need a scratch file in settings.tmpDir (or /tmp):
  kNoCopyFile,  // beginJob: it cannot be created; nothing was sent
  kCopiesLost,  // endJob: it could not take the whole job (a full disk); the job
                // went out once, with its trailer, and without its replays
  kBadPage,     // beginPage: the settings' size cannot describe a page
  kBadRow,      // writeRow: a row of the wrong length, or past the page's end
  kBadOrder,    // a call out of order (a page outside a job, a row outside a page)
};

}  // namespace qv::mono
