// qvRasterConv.h - the blank-page test behind "QVSkipBlank".
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::colour {

struct ColourJobState;

// True when every byte of the page is 255. Four bytes at a time over the
// whole groups, then the remaining bytes one by one.
bool isWhitePage(const std::uint8_t* page, std::uint64_t size);

// With "QVSkipBlank" set to "ON", tests the page buffer (nBytesPerLine x
// nHeight bytes) and returns true for an all-white page, which is then left
// out of the job; bit 0 of wFlags records the result. Returns false otherwise
// (also for an empty page).
bool skipBlankPagePrint(ColourJobState& job);

}  // namespace qv::colour
