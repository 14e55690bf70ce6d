// job_env.h - what the mono core gives back and asks of its host: one status
// for every result, and the job's environment (a reporter for messages and a
// cancel test), so that the core itself never writes to standard error.
#pragma once

#include <string_view>

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

enum class Level { kError, kWarning, kInfo };

// A job's environment, in the spirit of libcupsfilters' cf_filter_data_t:
// the host decides where messages go and how a cancel arrives. Either
// function may be null (no messages; never cancelled). `report` gets one
// whole message line, without its line feed, as the filter writes it to a
// spooler ("Error: ... !!", "ERROR: ..."); it is called on the thread that
// drives the job. `isCancelled` is asked between pages.
struct JobEnv {
  void (*report)(void* context, Level level, std::string_view text) = nullptr;
  bool (*isCancelled)(void* context) = nullptr;
  void* context = nullptr;

  void say(Level level, std::string_view text) const {
    if (report != nullptr) report(context, level, text);
  }
  bool cancelled() const { return isCancelled != nullptr && isCancelled(context); }
};

}  // namespace qv::mono
