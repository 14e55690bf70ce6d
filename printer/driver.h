// driver.h - the PAPPL drivers "qv-m600" and "qv-c600": capabilities from the
// paper table and the model tables, and the raster callbacks that stream
// each job through the model's filter core to the device.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <span>

#include "printer/job_plan.h"

namespace qvprinter {

// The drivers, for papplSystemSetPrinterDrivers and papplMainloop.
pappl_pr_driver_t* driverList(int& count);

// PAPPL's driver callback: fills the capabilities of `driver_name`.
bool driverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* context);

// Called for every new or loaded printer: its supplies.
void createCallback(pappl_printer_t* printer, void* context);

// The auto-add callback: the driver for a device whose IEEE 1284 ID names a
// QV model, else nullptr.
const char* autoAddCallback(const char* device_info, const char* device_uri, const char* device_id,
                            void* context);

// The job's plan, made at its first need from the job's attributes and
// `options` and kept with the job (papplJobSetData) until endJob: the PDF
// filter asks for it before Ghostscript starts, startJob and the page
// callbacks reuse it. Returns nullptr when the job cannot be printed, with
// the job's state message saying why; nothing has reached the printer then.
const JobPlan* planPrintJob(pappl_job_t* job, const pappl_pr_options_t* options);
// Frees a plan that no startJob took over (the PDF filter calls it on its
// way out; after endJob there is nothing left to free).
void dropUnstartedPlan(pappl_job_t* job);

// The raster callbacks (also driven by the PDF filter). startJob plans the
// job unless planPrintJob has.
bool startJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool startPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned page);
bool writeLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
               const unsigned char* line);
bool endPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool endJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// For the PDF filter: a page already rendered in `pixels` in the core's form
// (startFilledPage, instead of startPage and its lines), and its end.
bool startFilledPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     std::span<std::uint8_t> pixels);
bool endFilledPage(pappl_job_t* job, pappl_device_t* device);
// For the PDF filter: the document did not render whole, so endJob makes
// no collated copies of what was sent.
void abandonCopies(pappl_job_t* job);

}  // namespace qvprinter
