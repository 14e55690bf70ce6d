// cli.h - the qvinspect command line: everything the program does, callable
// from the thin main and from the tests.
#pragma once

#include <cstdio>

namespace qvinspect {

enum : int {
  kExitOk = 0,
  kExitInvalid = 1,      // damaged, truncated or unknown job; a --check violation
  kExitUsage = 2,        // bad command line
  kExitCannotRead = 3,   // the input cannot be opened or read
  kExitCannotWrite = 4,  // a preview file or the report cannot be written
};

// qvinspect [--json] [--check] [--png DIR | --pnm DIR] [FILE | -]
// Reads FILE (standard input when absent or "-"): one job, or a capture of
// several one after another, each reported or checked on its own. The report
// goes to `out`, messages to `err`. Returns the exit status.
int runQvinspect(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace qvinspect
