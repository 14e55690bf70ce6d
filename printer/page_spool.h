// page_spool.h - a job's pages kept for its collated copies: each page's
// rows in the core's own form (mono 1-bit rows, colour RGB lines of the
// imaging area), in an unnamed scratch file, read back for every further
// copy. The document is rendered once, however many copies are made.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/unique_file.h"

namespace qvprinter {

class PageSpool {
 public:
  // One row to the caller: 0, or the status that stops the reading.
  using RowSink = int (*)(void* context, std::span<const std::uint8_t> row);

  // Makes the scratch file in `dir` (unnamed where the file system allows,
  // else created exclusively, mode 0600, and unlinked at once: gone with the
  // descriptor, however the job ends) for rows of `rowBytes`. Returns 0 or
  // an error number.
  [[nodiscard]] int open(const char* dir, std::size_t rowBytes);

  // Each returns 0 or an error number (the scratch file cannot be written).
  // A row of one repeated byte (white, most of a page) takes two bytes.
  int beginPage();
  int addRow(std::span<const std::uint8_t> row);
  int endPage();

  std::size_t pages() const { return pages_.size(); }
  // Page `page`'s rows, in order, to `sink`. Returns 0, the sink's status,
  // or an error number when the file cannot be read back.
  int readPage(std::size_t page, RowSink sink, void* context) const;

 private:
  int flush();

  struct Page {
    off_t offset;
    std::size_t rows, bytes;
  };
  qv::UniqueFd fd_;
  std::size_t rowBytes_ = 0;
  off_t end_ = 0;                  // bytes in the file
  std::vector<std::uint8_t> out_;  // records not yet written
  std::vector<Page> pages_;        // ended pages
  Page open_{0, 0, 0};             // the page being added
};

}  // namespace qvprinter
