// main.cc - qvprinter: the QV printer application.
#include "printer/app.h"

int main(int argc, char* argv[]) { return qvprinter::runMainloop(argc, argv); }
