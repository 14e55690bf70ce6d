// pnm_reader.cc - Netpbm header parser and raster reader.
#include "host/pnm_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::host {
namespace {

// The format's white space: blank, tab, CR, LF, vertical tab, form feed.
bool isPnmSpace(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::size_t PnmHeader::rowBytes() const {
  const auto pixels = static_cast<std::size_t>(width);
  if (kind == '4') return (pixels + 7) / 8;
  return pixels * static_cast<std::size_t>(samplesPerPixel() * bytesPerSample());
}

int PnmReader::nextByte() {
  if (pos_ == len_) {
    ssize_t n;
    do {
      n = ::read(fd_, buffer_, sizeof buffer_);
    } while (n < 0 && (errno == EINTR || errno == EAGAIN));
    if (n == 0) return -1;
    if (n < 0) return -2;
    pos_ = 0;
    len_ = static_cast<std::size_t>(n);
  }
  return buffer_[pos_++];
}

bool PnmReader::readExact(std::uint8_t* dest, std::size_t size) {
  while (size > 0) {
    const long n = readSome(dest, size);
    if (n <= 0) return false;
    dest += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long PnmReader::readSome(std::uint8_t* dest, std::size_t size) {
  if (pos_ < len_) {
    const std::size_t n = size < len_ - pos_ ? size : len_ - pos_;
    std::memcpy(dest, buffer_ + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }
  // Large requests go straight to the descriptor: raster bytes are most of
  // the stream and need not pass through the header buffer.
  ssize_t n;
  do {
    n = ::read(fd_, dest, size);
  } while (n < 0 && (errno == EINTR || errno == EAGAIN));
  return n < 0 ? -1 : static_cast<long>(n);
}

PnmStatus PnmReader::readHeader(PnmHeader& header, std::string& error) {
  int c = nextByte();
  if (c == -1) return PnmStatus::kEnd;
  if (c == -2) return PnmStatus::kReadError;
  const int digit = nextByte();
  if (c != 'P' || digit < '1' || digit > '6') {
    error = "not a Netpbm image (magic P1 to P6 expected)";
    return digit == -2 ? PnmStatus::kReadError : PnmStatus::kMalformed;
  }
  header = PnmHeader{};
  header.kind = static_cast<char>(digit);
  const int tokens = header.kind == '1' || header.kind == '4' ? 2 : 3;
  long values[3] = {0, 0, 1};

  c = nextByte();
  for (int t = 0; t < tokens; ++t) {
    // White space and comments before the token. A comment needs white
    // space or the magic before it, but the format allows it anywhere there.
    for (;;) {
      if (c == '#') {
        while (c >= 0 && c != '\n' && c != '\r') c = nextByte();
      } else if (isPnmSpace(c)) {
        c = nextByte();
      } else {
        break;
      }
    }
    if (c == -2) return PnmStatus::kReadError;
    if (c < '0' || c > '9') {
      error =
          c == -1 ? "input ends inside an image header" : "header field is not a decimal number";
      return PnmStatus::kMalformed;
    }
    long value = 0;
    while (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value > kMaxPnmDimension) {
        error = "header field too large";
        return PnmStatus::kMalformed;
      }
      c = nextByte();
    }
    values[t] = value;
  }
  // One white-space character ends the header. A comment directly after the
  // last token runs to its line end, which is that character.
  if (c == '#') {
    while (c >= 0 && c != '\n' && c != '\r') c = nextByte();
  }
  if (c == -2) return PnmStatus::kReadError;
  if (!isPnmSpace(c)) {
    error = c == -1 ? "input ends inside an image header" : "no white space after the header";
    return PnmStatus::kMalformed;
  }
  header.width = values[0];
  header.height = values[1];
  header.maxval = values[2];
  if (header.width < 1 || header.height < 1) {
    error = "image has no pixels";
    return PnmStatus::kMalformed;
  }
  if (header.maxval < 1 || header.maxval > 65535) {
    error = "maxval outside 1 to 65535";
    return PnmStatus::kMalformed;
  }
  return PnmStatus::kPage;
}

}  // namespace qv::host
