// raster_reads.cc - the reads PAPPL 1.3 makes from a streamed PWG or Apple
// raster job, stopped at the end of the client's data.
//
// When a page's data stops short, _papplJobProcessRaster goes on reading the
// lines its header promised, to discard them. On a chunked request body
// (ipptool and CUPS send documents chunked) the first read past the end
// waits for a chunk the client will never send, and the job hangs for the
// HTTP timeout (60 seconds) before PAPPL ends the page and the driver aborts
// the job. Once a read of a stream has come up short, the stream has
// nothing more: its later reads return at once, empty. qvprinter exports
// these definitions, so libpappl's calls reach them first
// (printer/CMakeLists.txt).
#include <cups/raster.h>

#include <cstdlib>

#include "printer/replaced.h"

namespace {

// The stream whose data has ended. libcups gives a stream no room for a
// mark of ours, and PAPPL reads each raster stream from start to close on
// the client thread that received it, so the mark is per thread.
thread_local const cups_raster_t* endedStream = nullptr;

// libcups' own definition of `name`.
template <typename Function>
Function libcupsFunction(const char* name) {
  auto* function = qvprinter::originalFunction<Function>(name);
  if (function == nullptr) std::abort();  // qvprinter is linked with libcups
  return function;
}

}  // namespace

extern "C" unsigned cupsRasterReadPixels(cups_raster_t* r, unsigned char* p, unsigned len) {
  using Read = unsigned (*)(cups_raster_t*, unsigned char*, unsigned);
  static const Read read = libcupsFunction<Read>("cupsRasterReadPixels");
  if (r != nullptr && r == endedStream) return 0;
  const unsigned got = read(r, p, len);
  if (got < len) endedStream = r;
  return got;
}

extern "C" void cupsRasterClose(cups_raster_t* r) {
  using Close = void (*)(cups_raster_t*);
  static const Close close = libcupsFunction<Close>("cupsRasterClose");
  if (r == endedStream) endedStream = nullptr;
  close(r);
}
