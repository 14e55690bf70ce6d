// main.cc - all of rawtoqv lives in the qvmono library so that tests reach
// every module and the end-to-end tests run this very binary.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "common/page_input.h"
#include "mono/rawtoqv.h"

int main(int argc, char** argv) {
  // The job writer sends many small records: a large buffer keeps the
  // writes to the spooler's pipe few and big. (Input needs none: pages are
  // read whole, by the reader thread straight from the descriptor.)
  static char outputBuffer[1 << 20];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  // 1 MiB pipes instead of 64 KiB, where the system allows it: a page moves
  // in a sixteenth of the wake-ups of the rasteriser, this filter and the
  // backend.
  qv::raisePipeCapacity(STDIN_FILENO);
  qv::raisePipeCapacity(STDOUT_FILENO);
  // A reader that has gone is a failed write, reported as such, not a
  // silent end by SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  return qv::mono::runRawtoqv(argc, argv, qv::mono::PageSource{STDIN_FILENO}, stdout,
                              qv::mono::commandLineEnv());
}
