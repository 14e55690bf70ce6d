// qvDriverModel.h - the writer dispatch table: the page loop reaches the job
// writer through these six slots.
#pragma once

#include "colour/rastertoqv.h"

using JobSlot = short (*)(PjpInfo* job, SendInfo* send);
using JobEndSlot = short (*)(SendInfo* send);

struct FunctionTable {
  JobSlot beginJob;   // MBeginJob
  JobEndSlot endJob;  // MEndJob
  JobSlot beginPage;  // MBeginPage
  JobSlot endPage;    // MEndPage
  JobSlot sendBand;   // MSendBandData
  JobSlot sendRaw;    // raw data send: empty for the PWG writer
};

extern FunctionTable fun_table;
extern int model_language;  // 5: the PWG Raster writer

// Fills fun_table for model_language; returns 0.
int SetFunctionTable();
// Empties all six slots.
void ResetFunctionTable();
