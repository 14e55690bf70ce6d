// qvfiletool.cc - lookups in the colour settings table.
#include "src_header/qvfiletool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv::colour {
namespace {

// The failed-precondition stop of GetPjpInnerValue. Kept in release builds:
// a bad index would read past an inner-value table and put a wrong code into
// the printer's job header.
[[noreturn]] void innerValuePreconditionFailed() {
  std::fputs("GetPjpInnerValue: Assertion `pParam->nIndex >= 0' failed.\n", stderr);
  std::abort();
}

}  // namespace

std::int16_t GetPjpInnerValue(int index, const RcInfo* rc) {
  if (rc == nullptr || index < 0 || index >= kQvParamCount || isNumericalParam(index))
    innerValuePreconditionFailed();
  const RcParam& param = rc->pParams[index];
  if (param.pInnerVal == nullptr || param.nIndex < 0 || param.nIndex >= param.nItemCount)
    innerValuePreconditionFailed();
  return param.pInnerVal[param.nIndex];
}

const char* GetKeyValue(const char* key, const RcInfo* rc) {
  if (key == nullptr || rc == nullptr || rc->pParams == nullptr) return nullptr;
  // The walk covers the fixed table, whatever nParamCount says.
  for (int i = 0; i < kQvParamCount; ++i) {
    const RcParam& param = rc->pParams[i];
    if (param.pszKey == nullptr || std::strcmp(param.pszKey, key) != 0) continue;
    if (param.ppszCmdItem == nullptr || param.nIndex < 0 || param.nIndex >= param.nItemCount)
      return nullptr;  // a numerical parameter has no item word
    return param.ppszCmdItem[param.nIndex];
  }
  return nullptr;
}

}  // namespace qv::colour
