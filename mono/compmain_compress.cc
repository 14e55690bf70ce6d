// compmain_compress.cc - the method-9 row compressor (compressed replacement
// delta row) of the mono job writer.
//
// A row is sent as the commands that turn the seed row (what the printer
// holds) into the row: each command keeps `offset` bytes of the seed and
// then replaces `count` bytes, with literal data or one repeated byte.
#include <cstring>

#include "mono/PCLUtils.h"
#include "mono/compmain.h"
#include "mono/compsub.h"

namespace {

// A row carries at most 254 commands, so its count byte never reaches 0xFF,
// the blank-row record. After 253 ordinary commands the rest of the row goes
// out as one literal.
constexpr int kMaxOrdinaryCommands = 253;

constexpr std::uint8_t kLiteralCommand = 0x00;
constexpr std::uint8_t kRunCommand = 0x80;

// Extension bytes: the printer adds bytes until it meets one that is not
// 0xFF, so 255 is written FF 00. A lone FF would swallow the next byte.
int appendExtension(std::uint8_t* command, int length, int value) {
  while (value >= 255) {
    command[length++] = 0xFF;
    value -= 255;
  }
  command[length++] = static_cast<std::uint8_t>(value);
  return length;
}

// The command byte's offset and count fields and their extension bytes
// (checkOptByte); returns the command's length. Inline: it runs once per
// command, and halftone rows carry a command every few bytes.
inline int encodeCommand(std::uint8_t* command, int offset, int count) {
  int length = 1;
  if ((command[0] & kRunCommand) == 0) {
    // Literal: offset in bits 6-3 (15 escapes), count - 1 in bits 2-0 (7 escapes).
    if (offset < 15) {
      command[0] = static_cast<std::uint8_t>(command[0] | (offset * 8));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 0x78);
      length = appendExtension(command, length, offset - 15);
    }
    if (count - 1 < 7) {
      command[0] = static_cast<std::uint8_t>(command[0] | (count - 1));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 7);
      length = appendExtension(command, length, count - 8);
    }
  } else {
    // Run: offset in bits 6-5 (3 escapes), count - 2 in bits 4-0 (31 escapes).
    if (offset < 3) {
      command[0] = static_cast<std::uint8_t>(command[0] | (offset * 32));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 0x60);
      length = appendExtension(command, length, offset - 3);
    }
    if (count - 2 < 31) {
      command[0] = static_cast<std::uint8_t>(command[0] | (count - 2));
    } else {
      command[0] = static_cast<std::uint8_t>(command[0] | 0x1F);
      length = appendExtension(command, length, count - 33);
    }
  }
  return length;
}

// Literals are mostly a few bytes long: two overlapping fixed-size copies
// instead of a call to memcpy. With encodeCommand inline, a 2-page A4
// halftone job went from 119 M to 110 M instructions (callgrind).
inline void copyLiteral(std::uint8_t* to, const std::uint8_t* from, int count) {
  if (count <= 0) return;
  const auto n = static_cast<std::size_t>(count);
  if (n >= 8 && n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n < 4) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  } else {
    std::memcpy(to, from, n);
  }
}

// The command byte and its extensions are built in place at `out`, and the
// literal bytes go straight from the row after them: every byte is written
// once. Each returns the end of its command.
inline std::uint8_t* putLiteral(std::uint8_t* out, int offset, const std::uint8_t* bytes,
                                int count) {
  out[0] = kLiteralCommand;
  const int length = encodeCommand(out, offset, count);
  copyLiteral(out + length, bytes, count);
  return out + length + count;
}

inline std::uint8_t* putRun(std::uint8_t* out, int offset, int count, std::uint8_t value) {
  out[0] = kRunCommand;
  const int length = encodeCommand(out, offset, count);
  out[length] = value;
  return out + length + 1;
}

// One command at the end of the compressor's output, counted in its first
// byte.
inline void appendLiteral(CompData& data, int offset, const std::uint8_t* bytes, int count) {
  const std::uint8_t* end = putLiteral(data.dest + data.destLen, offset, bytes, count);
  data.destLen = static_cast<std::uint16_t>(end - data.dest);
  data.dest[0] = static_cast<std::uint8_t>(data.dest[0] + 1);
}

inline void appendRun(CompData& data, int offset, int count, std::uint8_t value) {
  const std::uint8_t* end = putRun(data.dest + data.destLen, offset, count, value);
  data.destLen = static_cast<std::uint16_t>(end - data.dest);
  data.dest[0] = static_cast<std::uint8_t>(data.dest[0] + 1);
}

// Covers a differing stretch [start, end) of 3 or more bytes with runs of
// three or more equal bytes and literals between them, greedily from the
// left. The first command carries `offset`. Returns where it stopped: `end`,
// or earlier when the command count reached its limit. The output position
// and the command count stay in locals: every byte written through `out`
// could alias `data`, which would reload both after each store.
int encodeStretch(CompData& data, const std::uint8_t* row, int start, int end, int offset) {
  std::uint8_t* out = data.dest + data.destLen;
  int commands = data.dest[0];
  int j = start;
  bool runAhead = false;  // j starts three equal bytes: a literal stopped there
  while (j < end) {
    if (runAhead || (j + 2 < end && row[j] == row[j + 1] && row[j + 1] == row[j + 2])) {
      const int runEnd = j + 3 +
                         static_cast<int>(countBytesEqualTo(row + j + 3, row[j],
                                                            static_cast<std::size_t>(end - j - 3)));
      out = putRun(out, offset, runEnd - j, row[j]);
      j = runEnd;
      runAhead = false;
    } else {
      // The literal stops just before the next three equal bytes (there
      // are none at j itself).
      const auto literalEnd = static_cast<int>(
          findTripleStart(row, static_cast<std::size_t>(j + 1), static_cast<std::size_t>(end)));
      out = putLiteral(out, offset, row + j, literalEnd - j);
      j = literalEnd;
      runAhead = true;
    }
    offset = 0;
    if (++commands == kMaxOrdinaryCommands) break;
  }
  data.destLen = static_cast<std::uint16_t>(out - data.dest);
  data.dest[0] = static_cast<std::uint8_t>(commands);
  return j;
}

}  // namespace

void checkOptByte(std::uint8_t* command, int offset, int count, int& length) {
  length = encodeCommand(command, offset, count);
}

void setCommand(const std::uint8_t* command, std::uint8_t* destination, int length) {
  std::memcpy(destination, command, static_cast<std::size_t>(length));
}

// Performance-critical: runs on every non-blank row. The equal and
// differing stretches are found a word at a time (compsub.cc); only the
// differing bytes are looked at one by one.
void compressM9_1030(MonoJobState& job) {
  CompData& data = job.compData;
  const int rowLen = static_cast<std::int16_t>(data.rowLen);
  const std::uint8_t* row = data.row;
  const std::uint8_t* seed = data.seed;

  data.dest[0] = 0;
  data.destLen = 1;
  // The left shift is one run of zero bytes at the start of the printer's
  // row; it is the only run that may be two bytes long.
  if (job.param.leftShift > 0) appendRun(data, 0, job.param.leftShift, 0x00);

  int pos = 0;
  bool rowHasCommand = false;
  while (pos < rowLen) {
    if (data.dest[0] >= kMaxOrdinaryCommands) {
      appendLiteral(data, 0, row + pos, rowLen - pos);
      return;
    }
    const auto remaining = static_cast<std::size_t>(rowLen - pos);
    const int offset = static_cast<int>(countEqualBytes(row + pos, seed + pos, remaining));
    pos += offset;
    if (pos == rowLen) {
      // Trailing bytes equal to the seed need no command; a row equal to
      // its seed needs none at all, not even the shift.
      if (!rowHasCommand) data.destLen = 0;
      return;
    }
    const int end = pos + static_cast<int>(countDifferentBytes(
                              row + pos, seed + pos, static_cast<std::size_t>(rowLen - pos)));
    rowHasCommand = true;
    if (end - pos <= 2) {
      appendLiteral(data, offset, row + pos, end - pos);
      pos = end;
    } else {
      pos = encodeStretch(data, row, pos, end, offset);
    }
  }
}
