// report.h - the job summary as text for a person, or as JSON for scripts.
#pragma once

#include <cstddef>
#include <string>

#include "inspect/summary.h"

namespace qvinspect {

// Settings one per line, then the mono PCL set-up, then one line per page:
//   page 1: 4720 x 6816 pixels, 600 x 600 dpi, black 1-bit, 60311 bytes on
//   the wire (ratio 66.7:1), rows: 6000 blank, 12 repeated, 804 method-9 ...
// `name` is the file name shown in the first line.
std::string textReport(const std::string& name, const JobSummary& summary);

// Where a job stands in a capture of several: its number, 1-based, the
// number of jobs, and the offset of its first byte.
struct JobPlace {
  std::size_t number = 1, count = 1, offset = 0;
};

// The same as one JSON object (UTF-8, numbers in the C locale); with a
// place, the object says it after "file" ("job", "jobs", "offset").
std::string jsonReport(const std::string& name, const JobSummary& summary,
                       const JobPlace* place = nullptr);

// "cancelled job: 5768-byte fill at offset N": where a cancelled colour job
// carries the zero fill of the cancel.
std::string cancelLine(std::size_t offset);

// `text` as a JSON string literal, quotes included.
std::string jsonString(std::string_view text);

}  // namespace qvinspect
