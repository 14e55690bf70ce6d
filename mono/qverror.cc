// qverror.cc - fixed error lines: "Error: ", optionally the subject and " :",
// then the message and " !!". Spoolers copy these lines into their logs.
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
    default:
      return code;
  }
  if (subject != nullptr)
    std::fprintf(stderr, "Error: %s :%s !!\n", subject, message);
  else
    std::fprintf(stderr, "Error: %s !!\n", message);
  return code;
}
