// qverror.cc - the colour filter's error messages.
#include "colour/qverror.h"

namespace qv::colour {

// The texts are what administrators grep spooler logs for; their spacing
// around the colon differs by number ("%s :" for 1, 2 and 6, "%s:" for 7) and
// stays so.
Status QvError(const JobEnv& env, Status status, const char* name) {
  const char* shown = name != nullptr ? name : "";
  constexpr ReportLevel kError = ReportLevel::kError;
  switch (status) {
    case Status::kCannotOpen:
      reportf(env, kError, "Error: %s :cannot open file !!", shown);
      break;
    case Status::kBadOption:
      if (name != nullptr)
        reportf(env, kError, "Error: %s :invalid option !!", name);
      else
        env.say(kError, "Error: invalid option !!");
      break;
    case Status::kBadSettingsFile:
      env.say(kError, "Error: invalid printer name at rc-file !!");
      break;
    case Status::kBadPaperInf:
      reportf(env, kError, "Error: %s :invalid format found in paperinf !!", shown);
      break;
    case Status::kPaperNotFound:
      reportf(env, kError, "Error: %s: paper info not found in paperinf !!", shown);
      break;
    case Status::kBadPageHeader:
      env.say(kError, "Error: error occurred at print phase !!");
      break;
    default:  // Status::kOk is success; the geometry lines are silent
      break;
  }
  return status;
}

int exitStatusFor(Status status) {
  switch (status) {
    case Status::kOk:
      return 0;
    case Status::kCannotOpen:
      return 1;
    case Status::kBadOption:
      return 2;
    case Status::kBadSettingsFile:
      return 5;
    case Status::kBadPaperInf:
      return 6;
    case Status::kPaperNotFound:
      return 7;
    case Status::kBadPageHeader:
      return 10;
    case Status::kBadImagingArea:
      return 13;
    case Status::kBadPaperDimension:
      return 14;
    default:  // the page loop: no page, no memory, the output gone, a page lost
      return 1;
  }
}

}  // namespace qv::colour
