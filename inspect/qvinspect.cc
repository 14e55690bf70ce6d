// qvinspect.cc - all of qvinspect lives in the qvinspectlib library so that
// tests reach every module and the end-to-end tests run this very binary.
#include <cstdio>

#include "inspect/cli.h"

int main(int argc, char** argv) {
  return qvinspect::runQvinspect(argc, argv, stdin, stdout, stderr);
}
