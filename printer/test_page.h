// test_page.h - the built-in test page: a one-page PDF naming the model and
// its resolution, with a grey ramp, colour ramps, the printable-area frame
// and alignment marks, printed through the same path as any PDF job.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

#include "printer/job_plan.h"

namespace qvprinter {

struct TestPageInfo {
  std::string makeAndModel, driverName, printerName, mediaName;
  int widthHmm = 21000, lengthHmm = 29700;  // the paper, in hundredths of a millimetre
  int dpi = 600;
};

// The page as PDF bytes.
std::string testPagePdf(const TestPageInfo& info);

// PAPPL's test-page callback: writes the page for `printer`'s model and
// default paper into the spool directory (PAPPL removes it with the job)
// and returns its path in `buffer`, or nullptr when it cannot be written.
const char* testPageCallback(pappl_printer_t* printer, char* buffer, std::size_t bufsize);

}  // namespace qvprinter
