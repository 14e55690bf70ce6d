// job_queue.h - one job at a time per printer, and a shutdown that does not
// wait on a stuck job: qvprinter's own _papplPrinterCheckJobs in front of
// PAPPL 1.3's, whose callers can start two job threads for one printer.
#pragma once

#include <pappl/pappl.h>

namespace qvprinter {

// Sets the queue up for `system`, once its state is loaded: finds PAPPL's
// _papplPrinterCheckJobs (an error in the log if it cannot), takes the
// system's event callback, and adds a timer that starts the jobs the state
// file left pending once the system runs and watches for a shutdown
// (Shutdown-System, SIGTERM, SIGINT). On shutdown no job starts; jobs being
// printed are cancelled; the server exits within seconds, keeping queued jobs
// in the state file for the next start even if a job's device hangs.
void startJobQueue(pappl_system_t* system);

// The job a job thread started for `job` runs: the printer's oldest pending
// job (PAPPL 1.3 would start the newest), else `job` itself.
pappl_job_t* firstInLine(pappl_job_t* job);

}  // namespace qvprinter

// PAPPL's internal entry point (job.c), interposed: the executable exports it
// (-Wl,--export-dynamic-symbol), so libpappl's own calls land here. Starts
// the printer's next pending job if it is idle, one call at a time, and
// returns once the job it started has left the pending state.
extern "C" void _papplPrinterCheckJobs(pappl_printer_t* printer);

// The same for a PWG or Apple raster job printed from the client's
// connection: refused as busy (the job cancelled) unless the printer is
// free; no job starts on its printer until the stream has ended.
extern "C" void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client);

// A job's document arriving: a PWG or Apple raster job is refused as busy
// here when its printer is printing, before PAPPL's own refusal, whose locks
// can deadlock with a state save.
extern "C" void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job);
