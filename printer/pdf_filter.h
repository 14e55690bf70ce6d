// pdf_filter.h - PDF jobs: Ghostscript renders each page at the job's
// resolution and paper into a pipe, and the pages go through the driver's
// raster callbacks as they arrive. No page is written to disk.
#pragma once

#include <pappl/pappl.h>

namespace qvprinter {

// The MIME filter for "application/pdf" (papplSystemAddMIMEFilter).
bool pdfFilter(pappl_job_t* job, pappl_device_t* device, void* context);

}  // namespace qvprinter
