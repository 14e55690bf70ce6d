// mono_test_util.h - what the mono tests share: byte strings, in-memory
// streams, and runs of the job writer and of its parts with a test's own
// -flags and -offset.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/malloc_buffer.h"
#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/mono_job.h"
#include "mono/rawtoqv.h"

namespace monotest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Printer commands are easier to read with "~" for ESC: esc("~E~&l1X").
inline std::string esc(std::string text) {
  for (char& c : text)
    if (c == '~') c = '\x1b';
  return text;
}

// The rows of a table written one case a line, fields separated by "|"
// and blanks ("~" is ESC; "\\n", "\\r", "\\t", "\\xHH" as in C); blank lines and lines
// starting with "#" are skipped.
inline std::vector<std::vector<std::string>> tableRows(std::string_view table) {
  std::vector<std::vector<std::string>> rows;
  for (std::size_t at = 0; at < table.size();) {
    const std::size_t end = std::min(table.find('\n', at), table.size());
    std::string line = esc(std::string(table.substr(at, end - at)));
    for (std::size_t n = 0; (n = line.find('\\', n)) != std::string::npos && n + 1 < line.size();) {
      const char kind = line[n + 1];
      const std::size_t length = kind == 'x' ? 4 : 2;
      const char byte = kind == 'n'   ? '\n'
                        : kind == 'r' ? '\r'
                        : kind == 't'
                            ? '\t'
                            : static_cast<char>(std::stoi(line.substr(n + 2, 2), nullptr, 16));
      line.replace(n++, length, 1, byte);
    }
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    rows.emplace_back();
    for (std::size_t from = 0;;) {
      const std::size_t bar = line.find('|', from);
      std::string field = line.substr(from, bar - from);
      field.erase(0, field.find_first_not_of(' '));
      field.erase(field.find_last_not_of(' ') + 1);
      rows.back().push_back(field);
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
  }
  return rows;
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

// The same from tray 1, plain paper, one copy, toner save off.
inline PrintSettings tray1Settings(int resolution, int width, int height) {
  PrintSettings settings = pageSettings(resolution, width, height);
  settings.paperSource = 3;
  settings.media = 1;
  settings.copies = 1;
  settings.tonerSave = 1;
  return settings;
}

// The job header of 600-dpi A4 from tray 1 (tray1Settings), every flag 0,
// no owner: the one whole header the tests spell out. Others are edits of it.
inline const std::string kGoldenHeader =
    esc("~%-12345X@PJL\n@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600\n"
        "@PJL SET ECONOMODE = OFF\n@PJL SET SOURCETRAY = TRAY1\n@PJL SET MEDIATYPE = REGULAR\n"
        "@PJL SET ORIENTATION = PORTRAIT\n@PJL SET PAGEPROTECT = AUTO\n@PJL ENTER LANGUAGE = PCL\n"
        "~E~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l0S");
inline const std::string kTrailer = "\x1b%-12345X@PJL EOJ NAME=\"Linux print job\"\n\x1b%-12345X";

// The -flags value (most significant digit first) and -offset of a job.
struct Flags {
  std::string_view digits = "0";
  std::int32_t offset = 0;
};

// `settings` with those flags and offset.
inline PrintSettings withFlags(PrintSettings settings, Flags flags) {
  std::memset(settings.flags, '0', sizeof settings.flags);
  for (std::size_t d = 0; d < flags.digits.size() && d < sizeof settings.flags; ++d)
    settings.flags[d] = flags.digits[flags.digits.size() - 1 - d];
  settings.offset = flags.offset;
  return settings;
}

// A sink that appends to `out`.
inline qv::ByteSink stringSink(std::string& out) {
  return {[](void* context, std::span<const std::uint8_t> bytes) {
            static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes.data()),
                                                       bytes.size());
            return true;
          },
          &out};
}

// A FILE* that collects what is written to it.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    std::fclose(file_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  std::FILE* get() const { return file_; }
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
  explicit InputStream(std::string_view bytes) : file_(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::rewind(file_);
  }
  explicit InputStream(const Bytes& bytes)
      : InputStream(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) {}
  ~InputStream() { std::fclose(file_); }
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// A whole job of raw pages `input`; `inputUsed` is how much of it was read.
struct JobRun {
  std::string out;
  long inputUsed = 0;
};
inline JobRun runJob(const PrintSettings& settings, const Bytes& input, Flags flags = {}) {
  InputStream in(input);
  std::string out;
  const int result = qvcomp1030(in.get(), stringSink(out), withFlags(settings, flags));
  return {result == qv::kMonoOk ? out : "failed", std::ftell(in.get())};
}

// A job's state as the writer sets it up, for calls of its parts.
class BandJob {
 public:
  explicit BandJob(const PrintSettings& settings, Flags flags = {}) {
    job_.settings = withFlags(settings, flags);
    setSParam(job_.param, job_.settings);
    init();
  }
  // A job whose parameter record has this mode and left shift.
  BandJob(int resMode, int leftShift) {
    job_.param.resMode = static_cast<std::int16_t>(resMode);
    job_.param.leftShift = static_cast<std::int16_t>(leftShift);
    init();
  }
  const SParam& param() const { return job_.param; }

  // The job header and what of it goes to the sorted-copy file; `now` is
  // the print-log time (std::nullopt: no clock).
  std::pair<std::string, std::string> header(std::optional<std::time_t> now) {
    MemoryStream copy;
    BeginSendData(job_, copy.get(), now);
    return {take(), copy.text()};
  }

  // One page of `rowBytes`-byte rows through the band pipeline, its last
  // block included.
  Bytes sendPage(const Bytes& page, int rowBytes) {
    job_.settings.width = rowBytes * 8;
    job_.settings.height = static_cast<int>(page.size()) / rowBytes;
    setPageGeometry(job_);
    SendData_1030(job_, nullptr, page.data());
    serialSend_1030(job_, nullptr);
    return bytesOf(take());
  }

  // `row` encoded against `seed`; empty when the row needs no record.
  Bytes encode(const Bytes& row, const Bytes& seed) {
    CompData& data = job_.compData;
    data.row = row.data();
    data.seed = seed.data();
    data.rowLen = data.seedLen = static_cast<std::uint16_t>(row.size());
    data.dest = job_.destBufPtr;
    data.work = job_.CompBufPtr;
    compressM9_1030(job_);
    return Bytes(data.dest, data.dest + data.destLen);
  }

 private:
  void init() {
    job_.destBuffer = qv::allocateBytes(10400 * 5 / 8 + kBufferSlack);
    job_.compBuffer = qv::allocateBytes(kCompBufBytes + kBufferSlack);
    job_.sendBuffer = qv::allocateBytes(kSendBufBytes + kBufferSlack);
    job_.seedBuffer = qv::allocateBytes(2048);
    job_.destBufPtr = job_.destBuffer.get();
    job_.CompBufPtr = job_.compBuffer.get();
    job_.SnedBufPtr = job_.sendBuffer.get();
    job_.sink = stringSink(out_);
  }
  std::string take() { return std::exchange(out_, std::string()); }

  MonoJobState job_;
  std::string out_;
};

// The job header and the copy file's part of it (see BandJob::header).
inline std::pair<std::string, std::string> jobHeader(const PrintSettings& settings, Flags flags,
                                                     std::optional<std::time_t> now) {
  return BandJob(settings, flags).header(now);
}

// The parameter record of a job: paper match and left shift.
inline SParam jobParam(const PrintSettings& settings, Flags flags) {
  return BandJob(settings, flags).param();
}

// The bytes of one block: "<n>w", 00, record count, records.
inline Bytes block(int records, const Bytes& body) {
  return bytesOf(std::to_string(body.size() + 2) + "w") +
         Bytes{0x00, static_cast<std::uint8_t>(records)} + body;
}

inline const Bytes kStart1030 = bytesOf("\x1b*b1030m");

}  // namespace monotest
