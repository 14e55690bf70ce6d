// compress.h - the page buffer: one whole RGB page (job.page, onePageByte
// bytes), filled for each page by the caller and read by the blank-page test
// and the page writer.
#pragma once

#include <cstdint>

#include "colour/status.h"

namespace qv::colour {

struct ColourJobState;

// Makes the job's page buffer hold bytesPerLine x lines bytes. The buffer is
// kept for the job and reused while the size stays the same: a 600 dpi A4
// page is 104 MB, and mapping it afresh for every page costs more than
// reading it. Its content is unspecified. Returns Status::kOk, or after
// reporting "Invalid Parameter(s)." Status::kBadSize (zero size), or after
// "ERROR: Insufficient memory!" Status::kNoMemory.
Status CreateBandBuf(ColourJobState& job, std::uint64_t bytesPerLine, long lines);

// Marks the page buffer as no longer in use (it stays allocated for the
// next page of the same size).
void DestroyBandBuf(ColourJobState& job);

// Releases the page buffer (job end).
void releaseBandBuf(ColourJobState& job);

}  // namespace qv::colour
