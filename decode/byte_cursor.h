// byte_cursor.h - a read position over a job's bytes that cannot run past
// the end: every read says whether it succeeded, and a failed read moves
// nothing. The decoders parse hostile input through it and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace qvdecode {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t offset() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  bool atEnd() const { return pos_ == bytes_.size(); }
  std::span<const std::uint8_t> all() const { return bytes_; }
  std::span<const std::uint8_t> rest() const { return bytes_.subspan(pos_); }

  bool startsWith(std::string_view literal) const {
    return remaining() >= literal.size() &&
           (literal.empty() ||
            std::memcmp(bytes_.data() + pos_, literal.data(), literal.size()) == 0);
  }

  // Consumes `literal` when the input continues with it.
  bool skip(std::string_view literal) {
    if (!startsWith(literal)) return false;
    pos_ += literal.size();
    return true;
  }

  bool peek(std::uint8_t& byte) const {
    if (atEnd()) return false;
    byte = bytes_[pos_];
    return true;
  }

  bool readByte(std::uint8_t& byte) {
    if (!peek(byte)) return false;
    ++pos_;
    return true;
  }

  bool readU16BE(std::uint16_t& value) {
    if (remaining() < 2) return false;
    value = static_cast<std::uint16_t>((bytes_[pos_] << 8) | bytes_[pos_ + 1]);
    pos_ += 2;
    return true;
  }

  bool take(std::size_t count, std::span<const std::uint8_t>& out) {
    if (remaining() < count) return false;
    out = bytes_.subspan(pos_, count);
    pos_ += count;
    return true;
  }

  // Offset, relative to the current position, of the first `byte` within
  // the next `limit` bytes, or npos.
  std::size_t findByte(std::uint8_t byte, std::size_t limit) const {
    const std::size_t span = remaining() < limit ? remaining() : limit;
    if (span == 0) return npos;
    const void* hit = std::memchr(bytes_.data() + pos_, byte, span);
    if (hit == nullptr) return npos;
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - (bytes_.data() + pos_));
  }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Big-endian 32-bit field at `at` of a span already known to hold it.
inline std::uint32_t loadU32BE(std::span<const std::uint8_t> bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

}  // namespace qvdecode
