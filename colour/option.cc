// option.cc - settings lookup by key in a job's settings record.
#include "colour/option.h"

const char* GetOption(const char* pszKey, const RcInfo* pRcInfo) {
  return GetKeyValue(pszKey, pRcInfo);
}
