// qverror.cc - fixed error lines: "Error: ", optionally the subject and " :",
// then the message and " !!" (the sorted-copy lines: "ERROR: ..."). Spoolers
// copy these lines into their logs.
#include "mono/qverror.h"

#include <cstdio>

int qvError(int code, const char* subject) {
  const char* message = nullptr;
  switch (code) {
    case kExitCannotOpen:
      message = "cannot open file";
      break;
    case kExitInvalid:
      message = "invalid option";
      break;
    case kExitNoMemory:
      message = "cannot allocate memory";
      break;
    case kExitWriteFailed:
      message = "cannot write output";
      break;
    case kExitNoCopyFile:
    case kExitCopiesLost:
      // As the colour filter says it of its copies file; spoolers log a
      // line starting "ERROR: " as the job's error.
      std::fprintf(stderr,
                   code == kExitNoCopyFile
                       ? "ERROR: Unable to create a temporary file in %s for sorted copies\n"
                       : "ERROR: Writing the sorted copies to a temporary file in %s failed, "
                         "just ONE copy was printed!\n",
                   subject != nullptr ? subject : "/tmp");
      return code;
    default:
      return code;
  }
  if (subject != nullptr)
    std::fprintf(stderr, "Error: %s :%s !!\n", subject, message);
  else
    std::fprintf(stderr, "Error: %s !!\n", message);
  return code;
}
