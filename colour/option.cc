// option.cc - settings lookup by key in a job's settings record.
#include "colour/option.h"

namespace qv::colour {

const char* GetOption(const char* key, const RcInfo* rc) { return GetKeyValue(key, rc); }

}  // namespace qv::colour
