// render_main.cc - qvrender: Ghostscript for qvprinter and qvcupsfilter, in a process of its own.
#include "cups/gs_render.h"

int main(int argc, char* argv[]) { return qvcups::runQvrender(argc, argv); }
