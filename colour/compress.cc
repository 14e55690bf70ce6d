// compress.cc - the page buffer.
#include "colour/compress.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "colour/rastertoqv.h"

std::uint8_t* Planes[4] = {nullptr, nullptr, nullptr, nullptr};
std::uint64_t gOnePageByte = 0;

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
std::uint64_t allocatedBytes = 0;
}  // namespace

int CreateBandBuf(std::uint64_t bytesPerLine, long lines) {
  if (bytesPerLine == 0 || lines <= 0) {
    std::fputs("Invalid Parameter(s).\n", stderr);
    return 1;
  }
  const std::uint64_t size = bytesPerLine * static_cast<std::uint64_t>(lines);
  if (Planes[0] == nullptr || allocatedBytes != size) {
    ReleaseBandBuf();
    // 2 MiB aligned and backed by huge pages where the kernel allows it: the
    // page is read into this buffer with a kernel copy of 104 MB per A4 page,
    // and huge pages cut that copy's page faults and TLB misses.
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    Planes[0] = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded));
    if (Planes[0] != nullptr) ::madvise(Planes[0], rounded, MADV_HUGEPAGE);
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
