// main.cc - all of rawtoqv lives in the qvmono library so that tests reach
// every module and the end-to-end tests run this very binary.
#include <cstdio>

#include "mono/rawtoqv.h"

int main(int argc, char** argv) {
  // One job is tens of megabytes of printer stream: a large buffer keeps the
  // writes to the spooler's pipe few and big, and the input's row-sized
  // reads out of the system call path.
  static char outputBuffer[1 << 20];
  static char inputBuffer[256 * 1024];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  std::setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  return runRawtoqv(argc, argv, stdin, stdout);
}
