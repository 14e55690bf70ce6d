// sim_socket.h - the simulated printer's AppSocket port: it takes jobs
// (several per connection), checks each with the job decoders, answers PJL
// status, and stops reading while the printer cannot print.
#pragma once

#include <csignal>
#include <optional>
#include <string>

#include "inspect/preview.h"
#include "inspect/sim_state.h"

namespace qvsim {

struct SimOptions {
  SimModel model = SimModel::kMono;
  std::string statePath;  // the state file ("" : always ready)
  std::string outDir;     // jobs, jobs.log and previews go here
  std::optional<qvinspect::PreviewFormat> preview;
  // Set by a signal handler: the printer is switched off, whatever the
  // connection is doing (a paused printer would otherwise wait forever).
  const volatile sig_atomic_t* stop = nullptr;
};

// Serves one accepted connection until the peer ends it, the state's
// hangup cuts it or `stop` is set, then closes `fd`. Each job is kept as
// "<outDir>/job-<n>.prn" and reported as a line of "<outDir>/jobs.log":
//   job 3: OK: colour job, 2 pages
//   job 4: damaged: <the decoder's message>
// and panel messages (@PJL RDYMSG) as "panel: <text>". `nextJob` is the
// number of the next job, advanced for each. Returns 0, or -1 when the
// output directory cannot be written.
int serveConnection(int fd, const SimOptions& options, int& nextJob);

}  // namespace qvsim
