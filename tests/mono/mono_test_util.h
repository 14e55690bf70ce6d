// mono_test_util.h - helpers shared by the mono writer's tests: byte strings,
// in-memory streams, scoped program-wide flags and a job set-up that calls
// the band pipeline directly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/malloc_buffer.h"
#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/rawtoqv.h"

namespace monotest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes repeated(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

// Printer commands are easier to read with "~" for ESC: esc("~E~&l1X").
inline std::string esc(std::string text) {
  for (char& c : text)
    if (c == '~') c = '\x1b';
  return text;
}

// The blank-separated words of `text`, as a command line lists them.
inline std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) out.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

// A page of `width` x `height` dots at the job resolution, paper type A4
// unless said otherwise, every other setting 0.
inline PrintSettings pageSettings(int resolution, int width, int height, int paperType = 1) {
  PrintSettings settings = {};
  settings.resolution = resolution;
  settings.paperType = paperType;
  settings.width = settings.paperWidth = width;
  settings.height = settings.paperHeight = height;
  return settings;
}

// The same from tray 1, plain paper, one copy, toner save off: the job of
// the worked header example.
inline PrintSettings tray1Settings(int resolution, int width, int height) {
  PrintSettings settings = pageSettings(resolution, width, height);
  settings.paperSource = 3;
  settings.media = 1;
  settings.copies = 1;
  settings.tonerSave = 1;
  return settings;
}

// A FILE* that collects what is written to it.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  std::FILE* get() const { return file_; }
  Bytes bytes() {
    std::fflush(file_);
    return Bytes(data_, data_ + size_);
  }
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

// A FILE* that reads the given bytes.
class InputStream {
 public:
  explicit InputStream(const Bytes& bytes) : file_(std::tmpfile()) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::rewind(file_);
  }
  ~InputStream() { std::fclose(file_); }
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// Sets the -flags digits (written as on the command line, most significant
// first) and -offset for one test, and restores the defaults afterwards.
class ScopedJobFlags {
 public:
  explicit ScopedJobFlags(std::string_view flags, std::int32_t offset = 0) {
    std::memset(cflags, '0', sizeof cflags);
    for (std::size_t d = 0; d < flags.size() && d < sizeof cflags; ++d)
      cflags[d] = flags[flags.size() - 1 - d];
    arg_offset = offset;
  }
  ~ScopedJobFlags() {
    std::memset(cflags, '0', sizeof cflags);
    arg_offset = 0;
  }
  ScopedJobFlags(const ScopedJobFlags&) = delete;
  ScopedJobFlags& operator=(const ScopedJobFlags&) = delete;
};

// The job buffers and SParam that the driver would set up, for tests that
// call the band pipeline and the compressor directly.
class BandJob {
 public:
  BandJob(int resMode, int leftShift, int width = 10400)
      : dest_(qv::allocateBytes(static_cast<std::size_t>(width) * 5 / 8 + 32768)),
        comp_(qv::allocateBytes(1300 + 32768)),
        send_(qv::allocateBytes(16448 + 32768)) {
    param_.resMode = static_cast<std::int16_t>(resMode);
    param_.leftShift = static_cast<std::int16_t>(leftShift);
    sParam = &param_;
    destBufPtr = dest_.get();
    CompBufPtr = comp_.get();
    SnedBufPtr = send_.get();
  }
  ~BandJob() {
    sParam = nullptr;
    destBufPtr = CompBufPtr = SnedBufPtr = nullptr;
  }
  BandJob(const BandJob&) = delete;
  BandJob& operator=(const BandJob&) = delete;

  // SendData_1030 and the closing serialSend_1030 of one page.
  Bytes sendPage(const Bytes& page, int width, int height) {
    MemoryStream out;
    SendData_1030(out.get(), nullptr, page.data(), width, height);
    serialSend_1030(out.get(), nullptr);
    return out.bytes();
  }

  // compressM9_1030 of `row` against `seed`: the encoded row, empty when
  // destLen is 0.
  Bytes encode(const Bytes& row, const Bytes& seed) {
    compData.row = row.data();
    compData.seed = seed.data();
    compData.rowLen = static_cast<std::uint16_t>(row.size());
    compData.seedLen = compData.rowLen;
    compData.dest = destBufPtr;
    compData.work = CompBufPtr;
    compressM9_1030();
    return Bytes(compData.dest, compData.dest + compData.destLen);
  }

 private:
  SParam param_ = {};
  qv::ByteBuffer dest_, comp_, send_;
};

// The bytes of one block: "<n>w", 00, record count, records.
inline Bytes block(int records, const Bytes& body) {
  const std::string head = std::to_string(body.size() + 2) + "w";
  return bytesOf(head) + Bytes{0x00, static_cast<std::uint8_t>(records)} + body;
}

inline const Bytes kStart1030 = bytesOf("\x1b*b1030m");

}  // namespace monotest
