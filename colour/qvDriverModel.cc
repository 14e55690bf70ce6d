// qvDriverModel.cc - the writer dispatch table.
#include "colour/qvDriverModel.h"

#include "colour/Mfunc.h"

int SetFunctionTable(FunctionTable& table, int modelLanguage) {
  if (modelLanguage != kPwgRasterLanguage) return -1;
  // PWG Raster: five slots, no raw data send.
  table = {MBeginJob, MEndJob, MBeginPage, MEndPage, MSendBandData, nullptr};
  return 0;
}

void ResetFunctionTable(FunctionTable& table) { table = {}; }
