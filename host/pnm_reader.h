// pnm_reader.h - reads a stream of Netpbm images (PBM, PGM, PPM) from a
// descriptor, as Ghostscript writes them: one image per page, back to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::host {

struct PnmHeader {
  char kind = 0;    // the digit of the magic: '1'..'6'
  long width = 0;   // pixels
  long height = 0;  // rows
  long maxval = 1;  // 1 for PBM
  bool binary() const { return kind >= '4'; }
  int samplesPerPixel() const { return kind == '3' || kind == '6' ? 3 : 1; }
  int bytesPerSample() const { return maxval > 255 ? 2 : 1; }
  // Bytes of one raster row in a binary image (PBM rows are padded to a byte).
  std::size_t rowBytes() const;
};

// Result of reading one header.
enum class PnmStatus { kPage, kEnd, kMalformed, kReadError };

// The largest image accepted: far beyond any page at 1200 dpi, small enough
// that rowBytes() x height cannot overflow.
inline constexpr long kMaxPnmDimension = 1000000;

// Buffered reader over a descriptor it does not own. Interrupted reads are
// retried: a cancel reaches the reader as the end of Ghostscript's output,
// because the cancel handler stops Ghostscript.
class PnmReader {
 public:
  explicit PnmReader(int fd) : fd_(fd) {}
  PnmReader(const PnmReader&) = delete;
  PnmReader& operator=(const PnmReader&) = delete;

  // Reads the next header. Accepts everything the format allows: any white
  // space between the tokens, "#" comments to the end of the line wherever
  // white space may stand (also directly after the last token), any maxval
  // from 1 to 65535. Exactly one white-space character ends the header; the
  // stream then stands at the first raster byte. kEnd: the input ended
  // before a new image began. `error` says what was wrong for kMalformed.
  PnmStatus readHeader(PnmHeader& header, std::string& error);

  // Reads up to `size` raster bytes; returns the count (0 at end of input,
  // -1 on a read error).
  long readSome(std::uint8_t* dest, std::size_t size);

  // Raster bytes already read from the descriptor and not yet handed out:
  // they come before anything a caller reads from the descriptor itself.
  std::size_t buffered() const { return len_ - pos_; }

  // Reads exactly `size` raster bytes; false when the input ends early or
  // on a read error.
  bool readExact(std::uint8_t* dest, std::size_t size);

 private:
  int nextByte();  // the next byte, -1 at end of input, -2 on error
  int fd_;
  std::size_t pos_ = 0, len_ = 0;
  std::uint8_t buffer_[65536];
};

}  // namespace qv::host
