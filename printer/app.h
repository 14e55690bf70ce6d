// app.h - qvprinter, the QV printer application: papplMainloop with the QV
// drivers, a system that serves IPP Everywhere, the web interface and the
// PDF filter.
#pragma once

namespace qvprinter {

// The program: `qvprinter SUB-COMMAND [OPTIONS]` as papplMainloop defines
// it (server, add, delete, devices, drivers, submit, jobs, status,
// shutdown, options...). Returns the exit status.
int runMainloop(int argc, char* argv[]);

}  // namespace qvprinter
