// ipp_gate.h - the gate in front of PAPPL's IPP dispatchers: documents only
// in the formats the QV drivers print, checked against their bytes, and the
// secure-print PIN write-only, held in qvprinter's memory and nowhere else.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <string_view>

namespace qvprinter {

// The job attribute that the gate puts in a job with a secure-print PIN: an
// opaque random key of the PIN in the vault. A client's own value is dropped.
inline constexpr const char* kPinRefAttr = "qv-secure-pin-ref";

// The drivers' document format for PAPPL (pappl_pr_driver_data_t::format).
// PAPPL 1.3 compares a job's format with it unchecked (a NULL one crashes
// the server), advertises it in document-format-supported and sends a job
// of exactly this format to the device unchanged. This one is already
// advertised, and installIppGate registers a filter for it that aborts the
// job, so a document of no known type never reaches the printer.
inline constexpr const char* kDriverFormat = "application/octet-stream";

// The document formats the drivers print: PDF (the PDF filter), JPEG and PNG
// (PAPPL's image filters), PWG and Apple raster (PAPPL's raster path).
[[nodiscard]] bool isPrintableFormat(std::string_view format);

// The printable format `bytes` (a document's start) are in, else "".
[[nodiscard]] std::string_view formatOfBytes(std::string_view bytes);

// Sets the gate up on `system`: the aborting filter for kDriverFormat and a
// timer that forgets the PINs of jobs that ended without printing.
void installIppGate(pappl_system_t* system);

// For the driver at the job's start: the job's PIN ("" for none), taken out
// of the vault. Returns false when the job names a PIN that the vault no
// longer holds (qvprinter has restarted since the job came): the job must
// not print.
[[nodiscard]] bool takeSecurePin(pappl_job_t* job, std::string& pin);

}  // namespace qvprinter
