// status.h - the colour core's one result type. Its messages go through the
// job's environment (common/job_env.h): the core says what happened (a level
// and a text); the host decides where that goes.
#pragma once

#include "common/job_env.h"

namespace qv::colour {

// Every fallible step of the colour core returns one of these, from the
// settings parser to the page writer. The command line turns them into
// rastertoqv's exit statuses in one place, exitStatusFor() (qverror.h).
enum class Status : int {
  kOk = 0,
  kNoMemory = 1,     // a job or page buffer cannot be had
  kWriteFailed = 2,  // the sink refused bytes: the device or pipe is gone
  kBadSize = 3,      // a page size or line length the job cannot take
  kPageFailed = 4,   // a page could not be sent whole; the job may still end
  kCancelled = 5,    // the job was asked to stop: call cancel()
  kBadState = 6,     // a call out of order
  // Reading the command line, the settings file and the geometry files.
  kBadOption = 7,           // a command line the filter cannot take
  kCannotOpen = 8,          // a file that cannot be opened or read
  kBadSettingsFile = 9,     // the settings file's section structure is wrong
  kBadPaperInf = 10,        // a malformed line in the paper information file
  kPaperNotFound = 11,      // the page size is in no paper file
  kBadImagingArea = 12,     // the page size's ImagingArea line is unreadable
  kBadPaperDimension = 13,  // the page size's PaperDimension line is unreadable
  kNoSuchSetting = 14,      // a key or item word the settings table does not have
  // The page loop of the command line.
  kBadPageHeader = 15,  // a malformed PPM page header
  kNoPages = 16,        // the input held no page
};

// Formats like printf (at most 1023 bytes) and reports the text.
void reportf(const JobEnv& env, ReportLevel level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace qv::colour
