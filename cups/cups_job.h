// cups_job.h - qvcupsfilter: the CUPS filter that prints a PDF or PostScript
// job on a QV printer. It rasterises the document with Ghostscript at the
// job's resolution and page size and writes a settings file and a paper file
// for the job. Mono pages go to rawtoqv, whose job stream it passes on to the
// printer; colour pages, rendered by qvrender into shared memory, are encoded
// in this process by the colour filter's job code, as rastertoqv would.
#pragma once

#include <string>

namespace qvcups {

// Exit statuses a CUPS filter may use: the job printed, or it failed.
enum : int { kExitOk = 0, kExitFailed = 1 };

// The whole filter: the CUPS arguments (printer, job id, user, title,
// copies, options, optional file), the PPD named by $PPD. Messages go to
// standard error as CUPS reads them; the job stream to standard output.
int runQvCupsFilter(int argc, char** argv);

// What a filter's message line becomes in the CUPS log: the filters' own
// "Error: ... !!" lines become ERROR: lines, CUPS-style lines pass through,
// anything else is DEBUG:. No line feed.
std::string cupsMessageFor(const std::string& filterLine);

}  // namespace qvcups
