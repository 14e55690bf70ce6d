// qverror.cc - the colour filter's error messages.
#include "colour/qverror.h"

namespace qv::colour {

// The texts are what administrators grep spooler logs for; their spacing
// around the colon differs by number ("%s :" for 1, 2 and 6, "%s:" for 7) and
// stays so.
ColourStatus QvError(const Reporter& reporter, ColourStatus status, const char* name) {
  const char* shown = name != nullptr ? name : "";
  constexpr ReportLevel kError = ReportLevel::kError;
  switch (status) {
    case kColourCannotOpen:
      reportf(reporter, kError, "Error: %s :cannot open file !!", shown);
      break;
    case kColourBadOption:
      if (name != nullptr)
        reportf(reporter, kError, "Error: %s :invalid option !!", name);
      else
        reporter(kError, "Error: invalid option !!");
      break;
    case kColourBadSettingsFile:
      reporter(kError, "Error: invalid printer name at rc-file !!");
      break;
    case kColourBadPaperInf:
      reportf(reporter, kError, "Error: %s :invalid format found in paperinf !!", shown);
      break;
    case kColourPaperNotFound:
      reportf(reporter, kError, "Error: %s: paper info not found in paperinf !!", shown);
      break;
    case kColourBadPageHeader:
      reporter(kError, "Error: error occurred at print phase !!");
      break;
    default:  // kColourOk is success; the geometry lines are silent
      break;
  }
  return status;
}

int exitStatusFor(ColourStatus status) {
  switch (status) {
    case kColourOk:
      return 0;
    case kColourCannotOpen:
      return 1;
    case kColourBadOption:
      return 2;
    case kColourBadSettingsFile:
      return 5;
    case kColourBadPaperInf:
      return 6;
    case kColourPaperNotFound:
      return 7;
    case kColourBadPageHeader:
      return 10;
    case kColourBadImagingArea:
      return 13;
    case kColourBadPaperDimension:
      return 14;
    default:  // the page loop: no page, no memory, the output gone, a page lost
      return 1;
  }
}

}  // namespace qv::colour
