// compress.h - the page buffer: one whole RGB page (Planes[0], gOnePageByte
// bytes), filled for each page copy by the page loop and read by the
// blank-page test and the page writer.
#pragma once

#include <cstdint>

// Makes Planes[0] hold bytesPerLine x lines bytes. The buffer is kept for
// the job and reused while the size stays the same: a 600 dpi A4 page is
// 104 MB, and mapping it afresh for every page costs more than reading it.
// Its content is unspecified; the page loop fills it whole (pixels read,
// the missing tail of a short page zeroed). Returns 0, or 1 after writing
// "Invalid Parameter(s).\n" (zero size) or "ERROR: Insufficient memory!\n".
int CreateBandBuf(std::uint64_t bytesPerLine, long lines);

// Marks the page buffer as no longer in use (it stays allocated for the
// next page of the same size).
void DestroyBandBuf();

// Releases the page buffer (job end).
void ReleaseBandBuf();
