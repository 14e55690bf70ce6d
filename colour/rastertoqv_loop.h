// rastertoqv_loop.h - the colour filter's entry and page loop: pages read
// from the PPM input, sent through the writer slots, uncollated copies made
// through the copies file, SIGTERM turned into a clean job end.
#pragma once

#include <csignal>
#include <cstdint>

#include "colour/rastertoqv.h"

// The whole program: command line, settings, page loop. Returns the exit
// status.
int runRastertoqv(int argc, char** argv);

// The job and page loop. Returns 0 once a page header was read, else 1.
int SendRasterDoc(PjpInfo* job);

int BeginPageData(PjpInfo* job, long outputPageNumber, SendInfo* send);
int SendPageData(PjpInfo* job, SendInfo* send);
int EndPageData(PjpInfo* job, SendInfo* send);

// SIGTERM handler: records the request; the page loop acts on it at its
// next safe point (after every read and every encoded line).
void CancelJob(int signalNumber);

// Set by CancelJob. Async-signal-safe by type.
extern volatile std::sig_atomic_t gCancelRequested;

// Number of zero bytes sent before the job end of a cancelled job.
inline constexpr std::size_t kCancelFillBytes = 5768;

// Program-wide state of the page loop.
extern int nCopies;     // times each page is sent
extern int iCopy;       // copy being sent, from 0
extern int fdPageData;  // copies file, -1 when none
