// send.h - the colour job's one buffered writer.
//
// Every byte for the printer (PJL header, page files, trailer, cancel fill)
// passes through pswrite, which fills the job's 1 MiB buffer and hands it to
// the job's byte sink in big blocks. After the first failed hand-over the
// job's output has failed: nothing more is sent.
#pragma once

#include <cstddef>

#include "colour/status.h"

namespace qv::colour {

struct ColourJobState;

// Appends `length` bytes to the job's output. Returns Status::kOk when they
// were accepted (or length is 0), Status::kWriteFailed when the output has
// failed.
Status pswrite(ColourJobState& job, const void* bytes, std::size_t length);

// Hands everything buffered to the sink. Returns Status::kOk or
// Status::kWriteFailed.
Status flushOutput(ColourJobState& job);

// Points send.pdev at the job's device-mode block. Returns Status::kOk, or
// Status::kNoMemory when the output buffer cannot be allocated.
Status CreateSendBuf(ColourJobState& job);
void DestroySendBuf(ColourJobState& job);

}  // namespace qv::colour
