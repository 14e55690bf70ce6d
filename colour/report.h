// report.h - the colour core's one result type, and the route its messages
// take: the core says what happened (a level and a text); the host decides
// where that goes, as libcupsfilters' filters hand theirs to a log function.
#pragma once

#include <string_view>

namespace qv::colour {

// Every fallible step of the colour core returns one of these, from the
// settings parser to the page writer. The command line turns them into
// rastertoqv's exit statuses in one place, exitStatusFor() (qverror.h).
enum ColourStatus : int {
  kColourOk = 0,
  kColourNoMemory = 1,     // a job or page buffer cannot be had
  kColourWriteFailed = 2,  // the sink refused bytes: the device or pipe is gone
  kColourBadSize = 3,      // a page size or line length the job cannot take
  kColourPageFailed = 4,   // a page could not be sent whole; the job may still end
  kColourCancelled = 5,    // the job was asked to stop: call cancel()
  kColourBadState = 6,     // a call out of order
  // Reading the command line, the settings file and the geometry files.
  kColourBadOption = 7,           // a command line the filter cannot take
  kColourCannotOpen = 8,          // a file that cannot be opened or read
  kColourBadSettingsFile = 9,     // the settings file's section structure is wrong
  kColourBadPaperInf = 10,        // a malformed line in the paper information file
  kColourPaperNotFound = 11,      // the page size is in no paper file
  kColourBadImagingArea = 12,     // the page size's ImagingArea line is unreadable
  kColourBadPaperDimension = 13,  // the page size's PaperDimension line is unreadable
  kColourNoSuchSetting = 14,      // a key or item word the settings table does not have
  // The page loop of the command line.
  kColourBadPageHeader = 15,  // a malformed PPM page header
  kColourNoPages = 16,        // the input held no page
};

enum class ReportLevel {
  kError,  // the job, or a page of it, fails
  kInfo,   // progress worth showing to the user
};

// Where a core's messages go. `text` is one whole line as rastertoqv writes
// it, prefix and all ("ERROR: ...", "Error: ... !!"), without the line feed.
// Without a function set, messages are dropped.
struct Reporter {
  void (*report)(void* context, ReportLevel level, std::string_view text) = nullptr;
  void* context = nullptr;

  void operator()(ReportLevel level, std::string_view text) const {
    if (report != nullptr) report(context, level, text);
  }
};

// Formats like printf (at most 1023 bytes) and reports the text.
void reportf(const Reporter& reporter, ReportLevel level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace qv::colour
