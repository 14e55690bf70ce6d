// compress.cc - the page buffer.
#include "colour/compress.h"

#include <cstdio>
#include <cstdlib>

#include "colour/rastertoqv.h"

std::uint8_t* Planes[4] = {nullptr, nullptr, nullptr, nullptr};
std::uint64_t gOnePageByte = 0;

namespace {
std::uint64_t allocatedBytes = 0;
}

int CreateBandBuf(std::uint64_t bytesPerLine, long lines) {
  if (bytesPerLine == 0 || lines <= 0) {
    std::fputs("Invalid Parameter(s).\n", stderr);
    return 1;
  }
  const std::uint64_t size = bytesPerLine * static_cast<std::uint64_t>(lines);
  if (Planes[0] == nullptr || allocatedBytes != size) {
    ReleaseBandBuf();
    Planes[0] = static_cast<std::uint8_t*>(std::malloc(size));
    if (Planes[0] == nullptr) {
      std::fprintf(stderr, "%s%s", "ERROR: ", "Insufficient memory!\n");
      return 1;
    }
    allocatedBytes = size;
  }
  gOnePageByte = size;
  return 0;
}

void DestroyBandBuf() { gOnePageByte = 0; }

void ReleaseBandBuf() {
  std::free(Planes[0]);
  Planes[0] = nullptr;
  allocatedBytes = 0;
  gOnePageByte = 0;
}
