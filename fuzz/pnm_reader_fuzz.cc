// pnm_reader_fuzz.cc - the CUPS driver's Netpbm stream reader: every header,
// and the raster bytes between them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "host/pnm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::UniqueFd fd = qvfuzz::memoryFile(data, size);
  if (!fd) return 0;
  qv::host::PnmReader reader(fd.get());
  qv::host::PnmHeader header;
  std::string error;
  std::uint8_t chunk[65536];
  while (reader.readHeader(header, error) == qv::host::PnmStatus::kPage) {
    if (!header.binary()) break;  // text rasters are the caller's business
    for (std::size_t left = header.rowBytes() * static_cast<std::size_t>(header.height);
         left > 0;) {
      const long got = reader.readSome(chunk, std::min(left, sizeof chunk));
      if (got <= 0) return 0;
      left -= static_cast<std::size_t>(got);
    }
  }
  return 0;
}
