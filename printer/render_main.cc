// render_main.cc - qvrender: Ghostscript for qvprinter, in a process of its own.
#include "printer/gs_render.h"

int main(int argc, char* argv[]) { return qvprinter::runQvrender(argc, argv); }
