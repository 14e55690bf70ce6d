// qvfiletool.cc - lookups in the colour settings table.
#include "src_header/qvfiletool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The failed-precondition stop of GetPjpInnerValue. Kept in release builds:
// a bad index would read past an inner-value table and put a wrong code into
// the printer's job header.
[[noreturn]] void innerValuePreconditionFailed() {
  std::fputs("GetPjpInnerValue: Assertion `pParam->nIndex >= 0' failed.\n", stderr);
  std::abort();
}

}  // namespace

std::int16_t GetPjpInnerValue(int index, const RcInfo* pRcInfo) {
  if (pRcInfo == nullptr || index < 0 || index >= kQvParamCount || IsNumericalParam(index))
    innerValuePreconditionFailed();
  const RcParam* pParam = &pRcInfo->pParams[index];
  if (pParam->pInnerVal == nullptr || pParam->nIndex < 0 || pParam->nIndex >= pParam->nItemCount)
    innerValuePreconditionFailed();
  return pParam->pInnerVal[pParam->nIndex];
}

const char* GetKeyValue(const char* pszKey, const RcInfo* pRcInfo) {
  if (pszKey == nullptr || pRcInfo == nullptr || pRcInfo->pParams == nullptr) return nullptr;
  // The walk covers the fixed table, whatever nParamCount says.
  for (int i = 0; i < kQvParamCount; ++i) {
    const RcParam& param = pRcInfo->pParams[i];
    if (param.pszKey == nullptr || std::strcmp(param.pszKey, pszKey) != 0) continue;
    if (param.ppszCmdItem == nullptr || param.nIndex < 0 || param.nIndex >= param.nItemCount)
      return nullptr;  // a numerical parameter has no item word
    return param.ppszCmdItem[param.nIndex];
  }
  return nullptr;
}
