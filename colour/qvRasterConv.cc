// qvRasterConv.cc - the blank-page test.
#include "colour/qvRasterConv.h"

#include <cstring>

#include "colour/job_state.h"
#include "colour/option.h"

namespace qv::colour {

bool isWhitePage(const std::uint8_t* page, std::uint64_t size) {
  std::uint64_t i = 0;
  // Eight bytes per step: a white page is read whole, at memory speed.
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, page + i, sizeof word);
    if (word != ~std::uint64_t{0}) return false;
  }
  for (; i < size; ++i)
    if (page[i] != 255) return false;
  return true;
}

bool skipBlankPagePrint(ColourJobState& state) {
  const PjpInfo* job = &state.pjp;
  SendInfo* send = &state.send;
  const char* word = GetOption("QVSkipBlank", &state.rc.info);
  send->wFlags = static_cast<std::uint16_t>(send->wFlags & ~1u);
  if (word == nullptr || std::strcmp(word, "ON") != 0) return false;
  const std::uint64_t size =
      job->nBytesPerLine * static_cast<std::uint64_t>(job->nHeight > 0 ? job->nHeight : 0);
  if (size == 0 || state.pageData == nullptr) return false;
  if (!isWhitePage(state.pageData, size)) return false;
  send->wFlags = static_cast<std::uint16_t>(send->wFlags | 1u);
  return true;
}

}  // namespace qv::colour
