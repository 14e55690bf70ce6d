// rastertoqv_convert.cc - from the settings file to the job record.
#include "colour/qverror.h"
#include "colour/rastertoqv.h"

int PrepareLPRngPrint(PjpInfo* pPjpInfo, RcInfo* rc) {
  if (pPjpInfo->pszRcFile == nullptr)
    return static_cast<int>(QvError(kQvErrInvalidOption, nullptr));
  if (const unsigned int status = LoadRcFile(pPjpInfo->pszRcFile, rc); status != 0)
    return static_cast<int>(status);
  return ConvertRc2Pjp(rc, pPjpInfo);
}

void ConvertRcSettings(const RcInfo* pRcInfo, PjpInfo* pPjpInfo) {
  // Inner values are the printer's codes; the unsigned fields take them as
  // they are (all are small and non-negative).
  const auto inner = [pRcInfo](int index) { return GetPjpInnerValue(index, pRcInfo); };
  const auto innerU = [&inner](int index) { return static_cast<std::uint16_t>(inner(index)); };
  pPjpInfo->wMediaType = innerU(kParamMediaType);
  pPjpInfo->wResolution = innerU(kParamQVResolution);
  pPjpInfo->nDuplex = inner(kParamQVDuplex);
  pPjpInfo->wPageSize = innerU(kParamPageSize);
  pPjpInfo->wInputSlot = innerU(kParamInputSlot);
  pPjpInfo->nColorMode = inner(kParamQVMonoColor);
  pPjpInfo->nCollate = inner(kParamCollate);
  pPjpInfo->wColorMatching = innerU(kParamQVColorMatching);
  pPjpInfo->wTonerSave = innerU(kParamTonerSaveMode);
  pPjpInfo->wEnhanceBlack = innerU(kParamQVEnhanceBlkPrt);
  pPjpInfo->wGray = innerU(kParamQVGray);
  pPjpInfo->wImproveOutput = innerU(kParamQVImproveOutput);

  const RcParam* params = pRcInfo->pParams;
  pPjpInfo->nCopyCount = params[kParamCopies].nValue;
  pPjpInfo->nBrightness = params[kParamBrightness].nValue;
  pPjpInfo->nContrast = params[kParamContrast].nValue;
  pPjpInfo->nRedKey = params[kParamRedKey].nValue;
  pPjpInfo->nGreenKey = params[kParamGreenKey].nValue;
  pPjpInfo->nBlueKey = params[kParamBlueKey].nValue;
}

int ConvertRc2Pjp(const RcInfo* pRcInfo, PjpInfo* pPjpInfo) {
  ConvertRcSettings(pRcInfo, pPjpInfo);
  if (const int status = GetPaperInf(pPjpInfo->pszPaperInf, pPjpInfo, pRcInfo); status != 0)
    return status;
  if (const int status = GetImagingArea(pPjpInfo, pRcInfo); status != 0) return status;
  // nWidth is 1..7200 here (GetPaperInf checked it).
  pPjpInfo->nBytesPerLine = static_cast<std::uint64_t>(pPjpInfo->nWidth) * 3;
  return 0;
}
