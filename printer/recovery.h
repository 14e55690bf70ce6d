// recovery.h - the state file across a crash: jobs a kill -9 or a power cut
// interrupted end aborted instead of in limbo, and the file is never left
// half written.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace qvprinter {

// papplSystemLoadState for `path`, after the jobs the state file shows as
// printing (the server ended while they were) have been turned into aborted
// ones with their spool files removed; pending jobs load as they were.
// Remembers `path` for saveState(). Returns papplSystemLoadState's result.
bool loadState(pappl_system_t* system, const std::string& path);

// Saves the state to the path loadState() was given: written beside it and
// renamed over it once on disk, one save at a time. Returns false when the
// state could not be saved (the old file is then untouched).
bool saveState(pappl_system_t* system);

// For the driver, as a job begins and before the printer gets a byte of it:
// marks the spooled document as being printed (a file beside it), so that
// after a crash the job is aborted rather than printed a second time, even
// if the state file still shows it pending. recordJobEnd() removes the mark.
// Neither takes a PAPPL lock: PAPPL's own locks are taken in orders that a
// state save from a job thread could deadlock with.
void recordJobStart(pappl_job_t* job);
void recordJobEnd(pappl_job_t* job);

}  // namespace qvprinter
