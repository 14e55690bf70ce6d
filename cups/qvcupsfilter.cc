// qvcupsfilter.cc - all of the CUPS wrapper lives in the qvcups library so
// that tests reach every module and the CUPS tests run this very binary.
#include "cups/cups_job.h"

int main(int argc, char** argv) { return qvcups::runQvCupsFilter(argc, argv); }
