// qvDriverModel.cc - the writer dispatch table.
#include "colour/qvDriverModel.h"

#include "colour/Mfunc.h"

FunctionTable fun_table = {};
int model_language = 5;

int SetFunctionTable() {
  // Language 5 is PWG Raster: five slots, no raw data send.
  fun_table = {MBeginJob, MEndJob, MBeginPage, MEndPage, MSendBandData, nullptr};
  return 0;
}

void ResetFunctionTable() { fun_table = {}; }
