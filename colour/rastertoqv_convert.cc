// rastertoqv_convert.cc - from the settings file to the job record.
#include "colour/qverror.h"
#include "colour/rastertoqv.h"

namespace qv::colour {

// Nothing here is particular to LPRng: the name is the printer driver's.
Status PrepareLPRngPrint(PjpInfo* job, RcInfo* rc, const JobEnv& env) {
  if (job->pszRcFile == nullptr) return QvError(env, Status::kBadOption, nullptr);
  if (const Status status = LoadRcFile(job->pszRcFile, rc, env); status != Status::kOk)
    return status;
  return ConvertRc2Pjp(rc, job, env);
}

void convertRcSettings(const RcInfo* rc, PjpInfo* job) {
  // Inner values are the printer's codes; the unsigned fields take them as
  // they are (all are small and non-negative).
  const auto inner = [rc](int index) { return GetPjpInnerValue(index, rc); };
  const auto innerU = [&inner](int index) { return static_cast<std::uint16_t>(inner(index)); };
  job->wMediaType = innerU(kParamMediaType);
  job->wResolution = innerU(kParamQVResolution);
  job->nDuplex = inner(kParamQVDuplex);
  job->wPageSize = innerU(kParamPageSize);
  job->wInputSlot = innerU(kParamInputSlot);
  job->nColorMode = inner(kParamQVMonoColor);
  job->nCollate = inner(kParamCollate);
  job->wColorMatching = innerU(kParamQVColorMatching);
  job->wTonerSave = innerU(kParamTonerSaveMode);
  job->wEnhanceBlack = innerU(kParamQVEnhanceBlkPrt);
  job->wGray = innerU(kParamQVGray);
  job->wImproveOutput = innerU(kParamQVImproveOutput);

  const RcParam* params = rc->pParams;
  job->nCopyCount = params[kParamCopies].nValue;
  job->nBrightness = params[kParamBrightness].nValue;
  job->nContrast = params[kParamContrast].nValue;
  job->nRedKey = params[kParamRedKey].nValue;
  job->nGreenKey = params[kParamGreenKey].nValue;
  job->nBlueKey = params[kParamBlueKey].nValue;
}

Status ConvertRc2Pjp(const RcInfo* rc, PjpInfo* job, const JobEnv& env) {
  convertRcSettings(rc, job);
  if (const Status status = GetPaperInf(job->pszPaperInf, job, rc, env); status != Status::kOk)
    return status;
  if (const Status status = GetImagingArea(job, rc, env); status != Status::kOk) return status;
  // nWidth is 1..7200 here (GetPaperInf checked it).
  job->nBytesPerLine = static_cast<std::uint64_t>(job->nWidth) * 3;
  return Status::kOk;
}

}  // namespace qv::colour
