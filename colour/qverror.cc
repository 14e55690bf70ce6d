// qverror.cc - the colour filter's error messages.
#include "colour/qverror.h"

#include <utility>

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
  // The page loop's failures (no page, no memory, the output gone, a page
  // lost) and a file that cannot be opened are 1.
  constexpr std::pair<Status, int> kExitStatus[] = {{Status::kOk, 0},
                                                    {Status::kBadOption, 2},
                                                    {Status::kBadSettingsFile, 5},
                                                    {Status::kBadPaperInf, 6},
                                                    {Status::kPaperNotFound, 7},
                                                    {Status::kBadPageHeader, 10},
                                                    {Status::kBadImagingArea, 13},
                                                    {Status::kBadPaperDimension, 14}};
  for (const auto& [from, exitStatus] : kExitStatus)
    if (from == status) return exitStatus;
  return 1;
}

}  // namespace qv::colour
