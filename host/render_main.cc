// render_main.cc - qvrender: Ghostscript for qvprinter and qvcupsfilter, in a process of its own.
#include "host/gs_render.h"

int main(int argc, char* argv[]) { return qv::host::runQvrender(argc, argv); }
