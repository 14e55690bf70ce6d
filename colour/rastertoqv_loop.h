// rastertoqv_loop.h - the colour filter's entry and page loop: pages read
// from the PPM input straight into the job's page buffer and sent through
// the streaming job (colour/colour_job.h), SIGTERM turned into a clean job
// end.
#pragma once

#include "colour/rastertoqv.h"

// The whole program: command line, settings, page loop. Returns the exit
// status.
int runRastertoqv(int argc, char** argv);

// The job and page loop over `job.fpInput`, to standard output. Returns 0
// once the job ended well, 1 when no page was found or the job failed.
int SendRasterDoc(const PjpInfo& job, const RcInfo& rc);
