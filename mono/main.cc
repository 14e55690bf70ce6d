// main.cc - all of rawtoqv lives in the qvmono library so that tests reach
// every module and the end-to-end tests run this very binary.
#include <signal.h>

#include <cstdio>

#include "mono/rawtoqv.h"

int main(int argc, char** argv) {
  // The job writer sends many small records: a large buffer keeps the
  // writes to the spooler's pipe few and big. (Input needs none: the writer
  // reads a whole page per call, which stdio passes straight to read.)
  static char outputBuffer[1 << 20];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  // A reader that has gone is a failed write, reported as such, not a
  // silent end by SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  return runRawtoqv(argc, argv, stdin, stdout);
}
