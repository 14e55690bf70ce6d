// main.cc - all of rastertoqv lives in the qvcolour library so that tests
// reach every module and the end-to-end tests run this very binary.
#include "colour/rastertoqv_loop.h"

int main(int argc, char** argv) { return qv::colour::runRastertoqv(argc, argv); }
