// qvDriverModel.cc - the writer dispatch table.
#include "colour/qvDriverModel.h"

#include "colour/Mfunc.h"

namespace qv::colour {

ColourStatus SetFunctionTable(FunctionTable& table, int modelLanguage) {
  if (modelLanguage != kPwgRasterLanguage) return kColourBadState;
  // PWG Raster: five slots, no raw data send.
  table = {MBeginJob, MEndJob, MBeginPage, MEndPage, MSendBandData, nullptr};
  return kColourOk;
}

void ResetFunctionTable(FunctionTable& table) { table = {}; }

}  // namespace qv::colour
