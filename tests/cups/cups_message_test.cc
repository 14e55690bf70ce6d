// cups_message_test.cc - the filters' message lines as the CUPS log gets
// them: their errors must show as job errors, not as debug noise.
#include <gtest/gtest.h>

#include "cups/cups_job.h"

namespace {

TEST(CupsMessage, FilterLinesBecomeCupsLines) {
  struct Case {
    const char* why;
    const char* line;
    const char* cups;
  };
  const Case cases[] = {
      {"filter error, marker dropped", "Error: /x/paperinf :cannot open file !!",
       "ERROR: /x/paperinf :cannot open file"},
      {"colour page-loop error already in CUPS form", "ERROR: Unable to create a temporay file",
       "ERROR: Unable to create a temporay file"},
      {"info passes", "INFO: The printer is ready to print.",
       "INFO: The printer is ready to print."},
      {"anything else is debug", "molloc fasle", "DEBUG: molloc fasle"},
      {"trailing CR trimmed", "Error: invalid option !!\r", "ERROR: invalid option"},
      {"empty line dropped", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.cups, qvcups::cupsMessageFor(c.line));
  }
}

}  // namespace
