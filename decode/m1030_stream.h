// m1030_stream.h - decoder of the mono job stream as the printer reads it:
// PJL header, PCL set-up, then per page "\e*b1030m", blocks of row records
// ("<n>w", a 16-bit big-endian record count, the records), "1030M", "\f";
// sorted-copy replays; PJL trailer.
//
// Written from the stream's description, independently of the encoder, so
// that a misunderstanding shared by both cannot hide in a round-trip test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "decode/decode_error.h"

namespace qvdecode {

// Decodes one method-9 (compressed replacement delta row) row record body,
// starting at its command count byte, into `row`, which holds the seed row
// on entry and the new row on return (it grows, zero-filled, when a command
// writes past its end). `used` is set to the number of bytes consumed.
// Returns 0, or -1 with `error` set when the record is truncated.
int decodeMethod9Row(std::span<const std::uint8_t> record, std::vector<std::uint8_t>& row,
                     std::size_t& used, std::string& error);

// The same with a bound: a command that would write beyond `maxRowBytes`
// bytes of the row fails ("runs past the end of the row") instead of growing
// it. The printer's row is that long and no longer.
int decodeMethod9Row(std::span<const std::uint8_t> record, std::vector<std::uint8_t>& row,
                     std::size_t& used, std::string& error, std::size_t maxRowBytes);

// The longest row the four-argument decodeMethod9Row builds: 16-bit row
// lengths plus a left shift, with room to spare.
inline constexpr std::size_t kMaxMethod9RowBytes = 65536;

// The printer's view of a resolution, known from the PCL unit of measure
// ("\e&u<dpi>D"): the strips the filter cut from every page (`topSkip` rows
// at the top and at the bottom, `leftSkip` bytes at the left and as many at
// the right) and the widest row the printer takes, left shift included. Rows
// are counted in printer rows: the 600 x 300 mode sends every row twice, so
// its 50-row strip is 100 printer rows, the same as at 600 dpi.
struct MonoGeometry {
  int dpi = 0;  // 300, 600 or 1200; 0 when the job names no known unit
  std::size_t topSkipRows = 0;
  std::size_t leftSkipBytes = 0;
  std::size_t maxRowBytes = kMaxMethod9RowBytes;
};

// Geometry for a unit of measure in dots per inch (0 for an unknown unit).
MonoGeometry monoGeometryForUnit(long unitDpi);

// One PCL parameter of the set-up, e.g. "\e&l4096a26a6d1E" gives four:
// ("&l", 4096, 'A'), ("&l", 26, 'A'), ("&l", 6, 'D'), ("&l", 1, 'E').
// `group` is empty for two-byte commands such as "\eE" (then `parameter` is
// the second byte and `value` 0). Parameter letters are upper case.
struct PclCommand {
  std::size_t offset = 0;  // of the escape byte that began the sequence
  std::string group;
  long value = 0;
  char parameter = 0;
};

struct MonoPage {
  // The printer's rows in order, after applying every record to the seed
  // row. Each row is `rowBytes` long: the widest extent any record of the
  // page reached (left-shift zero bytes included), zero-padded.
  std::size_t rowBytes = 0;
  std::vector<std::vector<std::uint8_t>> rows;
  std::size_t rowCount = 0;   // rows of the page, also when `rows` was not kept
  std::size_t offset = 0;     // offset of "\e*b1030m" in the job
  std::size_t wireBytes = 0;  // bytes from "\e*b1030m" through the form feed
  std::size_t blocks = 0;
  std::size_t blankRecords = 0;   // 0xFF records
  std::size_t repeatRecords = 0;  // 0x00 records
  std::size_t deltaRecords = 0;   // method-9 records
  int copy = 1;                   // 1 for the job itself, n for sorted-copy replay n-1
  std::size_t keyRows = 0;        // method-9 records that cover their whole row

  // Row i cut or zero-padded to `width` bytes.
  std::vector<std::uint8_t> rowAt(std::size_t i, std::size_t width) const;
};

// A sorted-copy replay: "\e%-12345X@PJL\n@PJL SET COPY=n\n@PJL ENTER
// LANGUAGE = PCL\n", then the PCL stream of the job again.
struct MonoReplay {
  int copy = 0;            // n of "@PJL SET COPY=n"
  std::size_t offset = 0;  // of its universal exit
  std::string pcl;         // its PCL set-up bytes
};

struct MonoJob {
  std::vector<std::string> pjlLines;  // "@PJL ..." lines of the header, without "\n"
  std::string pcl;                    // PCL set-up bytes between the PJL and the first page
  std::vector<MonoPage> pages;        // every page, replays included (see MonoPage::copy)
  std::vector<std::string> trailerLines;

  std::vector<PclCommand> pclCommands;  // the set-up, parameter by parameter
  std::size_t pclOffset = 0;            // where the set-up starts
  bool setupComplete = false;           // the set-up was read to its end
  long unitDpi = 0;                     // "\e&u<n>D", 0 when absent
  long rasterDpi = 0;                   // "\e*t<n>R", 0 when absent
  MonoGeometry geometry;                // from unitDpi
  std::vector<MonoReplay> replays;
  std::size_t trailerOffset = 0;
  std::size_t end = 0;  // where the trailer ends: the input's size, unless `moreJobs`
};

struct MonoDecodeOptions {
  // False: pages keep their counts but not their rows (a report or a check
  // of a large job then needs one page of memory, not the whole job).
  bool keepRows = true;
  // Called with each page as soon as it is decoded, with its rows when
  // `pageRows` is set, whatever `keepRows` says. A non-zero result stops the
  // decoding with that page's offset and the message "stopped".
  std::function<int(const MonoPage&)> onPage;
  // False: `onPage` gets the counts only, and decoding needs one row of
  // memory (a report or a check of a hostile job).
  bool pageRows = true;
  // True: the input may go on after the trailer with another job (a capture
  // of a device that took several jobs on one connection); MonoJob::end
  // says where this one ends.
  bool moreJobs = false;
};

// Decodes a whole job. Returns 0, or -1 with `error` set at the first byte
// that does not fit the stream's grammar. Never reads past `job`.
int decodeMonoJob(std::span<const std::uint8_t> job, MonoJob& out, DecodeError& error);
int decodeMonoJob(std::span<const std::uint8_t> job, MonoJob& out, DecodeError& error,
                  const MonoDecodeOptions& options);

// The PCL parameters of a set-up or of any run of PCL escape sequences.
// Returns 0, or -1 with `error` set when a byte is not part of a well-formed
// escape sequence. `base` is the offset of `pcl` in the job.
int parsePclCommands(std::span<const std::uint8_t> pcl, std::size_t base,
                     std::vector<PclCommand>& out, DecodeError& error);

}  // namespace qvdecode
