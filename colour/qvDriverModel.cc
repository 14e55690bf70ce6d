// qvDriverModel.cc - the writer dispatch table.
#include "colour/qvDriverModel.h"

#include "colour/Mfunc.h"

namespace qv::colour {

Status SetFunctionTable(FunctionTable& table, int modelLanguage) {
  if (modelLanguage != kPwgRasterLanguage) return Status::kBadState;
  // PWG Raster: five slots, no raw data send.
  table = {MBeginJob, MEndJob, MBeginPage, MEndPage, MSendBandData, nullptr};
  return Status::kOk;
}

void ResetFunctionTable(FunctionTable& table) { table = {}; }

}  // namespace qv::colour
