// render_client.h - the caller's side of qvrender (see gs_render.h): the
// page slots it shares with the renderer, and the pages as they complete.
//
//   RenderedPages pages;
//   if (pages.start(program, document, area, tmpdir) == 0) {
//     for (std::span<std::uint8_t> page; !(page = pages.next(cancelled)).empty();) {
//       encode(page);
//       pages.release();                  // the renderer may use the slot again
//     }
//     const int status = pages.finish();  // qvrender's wait status
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "common/unique_file.h"
#include "host/child_process.h"
#include "host/gs_render.h"

namespace qv::host {

// This program's directory (of /proc/self/exe); "." when it cannot be read.
std::string programDirectory();

// Where qvrender is: in `directory` (a build tree, a test's ServerBin), else
// where the package installs it, `installed` relative to this program's
// directory (the package may be installed under any prefix). Empty when
// neither has it.
std::string findQvrender(const std::string& directory, std::string_view installed);

class RenderedPages {
 public:
  RenderedPages() = default;
  ~RenderedPages();
  RenderedPages(const RenderedPages&) = delete;
  RenderedPages& operator=(const RenderedPages&) = delete;

  // Makes the slots and starts `program` on `document`. Returns 0, or an
  // error number (nothing is left running then).
  int start(const std::string& program, const std::string& document, const RenderArea& area,
            const std::string& tmpdir);

  // The next page, whole, valid until release(); empty at the end of the
  // document, when the renderer failed, or once `cancelled` says so (it is
  // asked while waiting; the renderer is stopped then).
  std::span<std::uint8_t> next(const std::function<bool()>& cancelled);
  void release();

  // Stops the renderer if it still runs and returns its wait status.
  int finish();

 private:
  RenderArea area_;
  qv::UniqueFd control_;
  std::uint8_t* slots_ = nullptr;
  std::size_t slotsSize_ = 0;
  ChildProcess renderer_;
  bool holding_ = false;
  bool ended_ = false;  // the renderer closed its end: it has finished
};

}  // namespace qv::host
