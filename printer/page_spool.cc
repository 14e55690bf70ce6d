// page_spool.cc - the scratch file of a job's pages for collated copies.
#include "printer/page_spool.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "colour/tempfile.h"

namespace qvprinter {
namespace {

// A record is a tag byte, then the repeated byte or the row.
constexpr std::uint8_t kRepeated = 0, kLiteral = 1;
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

}  // namespace

int PageSpool::open(const char* dir, std::size_t rowBytes) {
  // Unnamed where the file system allows it, else a name removed at once.
  const int fd = qv::colour::openScratchFile(dir, "qvprinter-copies-");
  if (fd < 0) return errno;
  fd_.reset(fd);
  rowBytes_ = rowBytes;
  out_.reserve(kBufferBytes + rowBytes + 1);
  return 0;
}

int PageSpool::flush() {
  for (std::size_t done = 0; done < out_.size();) {
    const ssize_t wrote = ::pwrite(fd_.get(), out_.data() + done, out_.size() - done, end_);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return wrote < 0 ? errno : ENOSPC;
    done += static_cast<std::size_t>(wrote);
    end_ += wrote;
  }
  out_.clear();
  return 0;
}

int PageSpool::beginPage() {
  open_ = Page{end_ + static_cast<off_t>(out_.size()), 0, 0};
  return 0;
}

int PageSpool::addRow(std::span<const std::uint8_t> row) {
  if (row.size() != rowBytes_) return EINVAL;
  const std::size_t before = out_.size();
  if (std::all_of(row.begin(), row.end(),
                  [first = row[0]](std::uint8_t b) { return b == first; })) {
    out_.push_back(kRepeated);
    out_.push_back(row[0]);
  } else {
    out_.push_back(kLiteral);
    out_.insert(out_.end(), row.begin(), row.end());
  }
  open_.bytes += out_.size() - before;
  ++open_.rows;
  return out_.size() >= kBufferBytes ? flush() : 0;
}

int PageSpool::endPage() {
  pages_.push_back(open_);
  return flush();
}

int PageSpool::readPage(std::size_t page, RowSink sink, void* context) const {
  const Page& where = pages_.at(page);
  std::vector<std::uint8_t> buffer(std::max(kBufferBytes, rowBytes_ + 1));
  std::vector<std::uint8_t> row(rowBytes_);
  std::size_t have = 0, at = 0;  // bytes in `buffer`, the next record's start in it
  off_t next = where.offset;     // the file offset after `buffer`'s bytes
  const off_t end = where.offset + static_cast<off_t>(where.bytes);
  for (std::size_t n = 0; n < where.rows; ++n) {
    // A whole record in the buffer: its largest is a literal row.
    if (have - at < rowBytes_ + 1 && next < end) {
      std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(at),
                buffer.begin() + static_cast<std::ptrdiff_t>(have), buffer.begin());
      have -= at;
      at = 0;
      while (have < buffer.size() && next < end) {
        const std::size_t want =
            std::min(buffer.size() - have, static_cast<std::size_t>(end - next));
        const ssize_t got = ::pread(fd_.get(), buffer.data() + have, want, next);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? errno : EIO;
        have += static_cast<std::size_t>(got);
        next += got;
      }
    }
    if (have - at < 2) return EIO;
    std::span<const std::uint8_t> out;
    if (buffer[at] == kRepeated) {
      std::fill(row.begin(), row.end(), buffer[at + 1]);
      out = row;
      at += 2;
    } else {
      if (have - at < rowBytes_ + 1) return EIO;
      out = std::span<const std::uint8_t>(buffer.data() + at + 1, rowBytes_);
      at += rowBytes_ + 1;
    }
    if (const int rc = sink(context, out); rc != 0) return rc;
  }
  return 0;
}

}  // namespace qvprinter
