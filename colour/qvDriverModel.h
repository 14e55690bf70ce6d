// qvDriverModel.h - the writer dispatch table: the page loop reaches the job
// writer through these six slots.
#pragma once

#include "colour/status.h"

namespace qv::colour {

struct ColourJobState;

using JobSlot = Status (*)(ColourJobState& job);

struct FunctionTable {
  JobSlot beginJob;   // MBeginJob
  JobSlot endJob;     // MEndJob
  JobSlot beginPage;  // MBeginPage
  JobSlot endPage;    // MEndPage
  JobSlot sendBand;   // MSendBandData
  JobSlot sendRaw;    // raw data send: empty for the PWG writer
};

inline constexpr int kPwgRasterLanguage = 5;  // model_language of the PWG Raster writer

// Fills the table for `modelLanguage`; returns Status::kOk, or Status::kBadState
// for a language without a writer.
Status SetFunctionTable(FunctionTable& table, int modelLanguage = kPwgRasterLanguage);
// Empties all six slots.
void ResetFunctionTable(FunctionTable& table);

}  // namespace qv::colour
