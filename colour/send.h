// send.h - the colour filter's one buffered writer to standard output.
//
// Every byte for the printer (PJL header, page files, trailer, cancel fill)
// passes through pswrite, which fills a 1 MiB buffer and writes it to the
// output descriptor in big blocks. Writes interrupted by a signal are
// resumed: the SIGTERM handler only sets a flag, and a page already on its
// way to the printer must arrive whole.
#pragma once

#include <cstddef>

#include "colour/rastertoqv.h"

// Appends `length` bytes to the output. Returns 1 when they were accepted
// (or length is 0), 0 when the output descriptor failed.
int pswrite(const void* bytes, std::size_t length);

// Writes out everything buffered. Returns 1, or 0 when a write failed.
int flushOutput();

// The descriptor the writer sends to: 1 unless a test points it elsewhere.
// Flushes what is buffered for the previous descriptor first.
void setOutputFd(int fd);

// True once a write to the output descriptor failed: the rest of the job
// cannot reach the printer.
bool outputHasFailed();
// The job's one message for it: "ERROR: Unable to send print data: <reason>".
void reportOutputFailure();

// Points send->pdev (and the global tmppdev) at the job's device-mode block.
// The block holds only the page-file counters, so it lives in static storage
// and cannot fail to be had. Returns 0.
int CreateSendBuf(SendInfo* send);
// Releases nothing: the block lives until the process ends.
void DestroySendBuf();

extern DevModeBlock* tmppdev;
