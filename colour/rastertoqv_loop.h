// rastertoqv_loop.h - the colour filter's entry and page loop: pages read
// from the PPM input straight into the job's page buffer and sent through
// the streaming job (colour/colour_job.h), SIGTERM turned into a clean job
// end.
#pragma once

#include "colour/rastertoqv.h"

namespace qv::colour {

// The whole program: command line, settings, page loop. Its messages go to
// standard error as rastertoqv has always written them. Returns the exit
// status.
int runRastertoqv(int argc, char** argv);

// The job and page loop over `job.fpInput`, to standard output. Returns
// Status::kOk once the job ended well; Status::kNoPages when no page was found;
// else the failure that ended the job.
Status SendRasterDoc(const PjpInfo& job, const RcInfo& rc, const JobEnv& env);

}  // namespace qv::colour
