// qverror.h - the mono filter's one error reporter.
#pragma once

// Exit statuses of rawtoqv, which are also the qvError codes.
enum : int {
  kExitOk = 0,
  kExitCannotOpen = 1,   // a file cannot be opened
  kExitInvalid = 2,      // invalid command line, settings, page size or paper
  kExitNoMemory = 3,     // a job buffer cannot be allocated
  kExitWriteFailed = 4,  // standard output failed: the job did not reach the printer whole
  kExitNoCopyFile = 5,   // sorted copies: no scratch file in the directory; nothing was sent
  kExitCopiesLost = 6,   // sorted copies: the scratch file fell short; one set was sent
};

// Writes the one message for `code` to standard error, naming `subject` when
// it is given (an empty text counts as given), and returns `code`, which the
// entry returns as the exit status. Codes without a message write nothing.
// The sorted-copy codes take the scratch directory as `subject` and write
// their line in the colour filter's "ERROR: " form.
int qvError(int code, const char* subject);
