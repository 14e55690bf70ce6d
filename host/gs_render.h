// gs_render.h - qvrender: Ghostscript's library renders a document's colour
// pages straight into page slots that its caller (qvprinter, qvcupsfilter)
// shares with it, so that no 100 MB page image crosses a pipe.
//
// The caller starts qvrender for a colour job with two descriptors:
//   3  a memory file of two page slots, each the imaging area as RGB lines
//      (width x 3 bytes a line, height lines);
//   4  one end of a socket pair: qvrender writes one byte, the slot number,
//      when a page is complete in that slot; the caller writes one byte when
//      it has finished with a slot. Page n goes into slot n % 2, and no slot
//      is written again before the caller has given it back.
// qvrender ends with status 0 after the last page, kRenderFailed when
// Ghostscript cannot render the document, kRenderUsage for a bad call.
// Ghostscript still runs in a process of its own: a document that crashes it
// ends this job only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qv::host {

inline constexpr int kRenderSlotsFd = 3;
inline constexpr int kRenderControlFd = 4;
inline constexpr int kRenderFailed = 2;
inline constexpr int kRenderUsage = 3;

// The sheet Ghostscript renders (dots at `dpi`) and the imaging area cut
// out of it for the printer.
struct RenderArea {
  int dpi = 600;
  long sheetWidth = 0, sheetHeight = 0;
  long left = 0, top = 0, width = 0, height = 0;
  std::size_t lineBytes() const { return static_cast<std::size_t>(width) * 3; }
  std::size_t pageBytes() const { return lineBytes() * static_cast<std::size_t>(height); }
  bool valid() const {
    return dpi > 0 && width > 0 && height > 0 && left >= 0 && top >= 0 &&
           left + width <= sheetWidth && top + height <= sheetHeight;
  }
};

// Renders every page of `document` into the two slots, as described above,
// over `control`. Returns 0, or kRenderFailed.
int renderDocument(const char* document, const RenderArea& area, std::span<std::uint8_t> slots,
                   int control);

// qvrender's main: "qvrender DOCUMENT DPI SHEET-WIDTH SHEET-HEIGHT LEFT TOP
// WIDTH HEIGHT", with descriptors 3 and 4 as above.
int runQvrender(int argc, char** argv);

}  // namespace qv::host
