// qverror.h - the colour filter's one error reporter. Each error number has a
// fixed message on standard error; the number goes back to the caller and
// becomes the exit status.
#pragma once

// Error numbers with a message, and the silent geometry statuses.
enum : unsigned int {
  kQvErrCannotOpen = 1,        // "Error: %s :cannot open file !!"
  kQvErrInvalidOption = 2,     // "Error: %s :invalid option !!" or without a name
  kQvErrRcFile = 5,            // "Error: invalid printer name at rc-file !!"
  kQvErrPaperInfFormat = 6,    // "Error: %s :invalid format found in paperinf !!"
  kQvErrPaperInfNotFound = 7,  // "Error: %s: paper info not found in paperinf !!"
  kQvErrPrintPhase = 10,       // "Error: error occurred at print phase !!"
  kQvErrImagingArea = 13,      // matching ImagingArea line unreadable; no message
  kQvErrPaperDimension = 14,   // matching PaperDimension line unreadable; no message
};

// Writes the message of `nErrorNo` to standard error, with `pszName` where the
// message takes one (numbers 1, 6 and 7; number 2 has a form with and one
// without). Numbers 0, 13 and above, and numbers without a message, print
// nothing. Returns nErrorNo.
unsigned int QvError(unsigned int nErrorNo, const char* pszName);
