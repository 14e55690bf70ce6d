// option.h - settings lookup by key for the page stages.
#pragma once

#include "src_header/qvfiletool.h"

namespace qv::colour {

// Chosen item word of the selection setting `key` in the job's settings
// record ("ON", "A4", ...), compared exactly and case-sensitively. Null when
// no selection setting has that key. Used with "QVSkipBlank" and "PageSize",
// which always have an item chosen.
const char* GetOption(const char* key, const RcInfo* rc);

}  // namespace qv::colour
