// decode_colour_fuzz.cc - the colour job decoder, and the bare PWG Raster
// decoder on the same bytes, without pixels kept (a page may be large).
#include <cstddef>
#include <cstdint>

#include "decode/pwg_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvdecode::PwgDecodeOptions options;
  options.keepPixels = false;
  options.pagePixels = false;
  qvdecode::ColourJob job;
  std::vector<qvdecode::PwgPage> pages;
  qvdecode::DecodeError error;
  (void)qvdecode::decodeColourJob({data, size}, job, error, options);
  (void)qvdecode::decodePwgRaster({data, size}, pages, error, options);
  return 0;
}
