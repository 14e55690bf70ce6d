// qverror.cc - the colour filter's error messages.
#include "colour/qverror.h"

#include <cstdio>

// The texts are what administrators grep spooler logs for; their spacing
// around the colon differs by number ("%s :" for 1, 2 and 6, "%s:" for 7) and
// stays so.
unsigned int QvError(unsigned int nErrorNo, const char* pszName) {
  const char* name = pszName != nullptr ? pszName : "";
  switch (nErrorNo) {
    case kQvErrCannotOpen:
      std::fprintf(stderr, "Error: %s :cannot open file !!\n", name);
      break;
    case kQvErrInvalidOption:
      if (pszName != nullptr)
        std::fprintf(stderr, "Error: %s :invalid option !!\n", pszName);
      else
        std::fputs("Error: invalid option !!\n", stderr);
      break;
    case kQvErrRcFile:
      std::fputs("Error: invalid printer name at rc-file !!\n", stderr);
      break;
    case kQvErrPaperInfFormat:
      std::fprintf(stderr, "Error: %s :invalid format found in paperinf !!\n", name);
      break;
    case kQvErrPaperInfNotFound:
      std::fprintf(stderr, "Error: %s: paper info not found in paperinf !!\n", name);
      break;
    case kQvErrPrintPhase:
      std::fputs("Error: error occurred at print phase !!\n", stderr);
      break;
    default:  // 0 is success; 13 and above are silent geometry statuses
      break;
  }
  return nErrorNo;
}
