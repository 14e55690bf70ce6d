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
#include <span>
#include <string>
#include <vector>

namespace qvdecode {

// What went wrong and where: the byte offset in the job, the page (1-based,
// 0 outside pages), and a sentence saying what was expected.
struct DecodeError {
  std::size_t offset = 0;
  int page = 0;
  std::string message;
};

// Decodes one method-9 (compressed replacement delta row) row record body,
// starting at its command count byte, into `row`, which holds the seed row
// on entry and the new row on return (it grows, zero-filled, when a command
// writes past its end). `used` is set to the number of bytes consumed.
// Returns 0, or -1 with `error` set when the record is truncated.
int decodeMethod9Row(std::span<const std::uint8_t> record, std::vector<std::uint8_t>& row,
                     std::size_t& used, std::string& error);

struct MonoPage {
  // The printer's rows in order, after applying every record to the seed
  // row. Each row is `rowBytes` long: the widest extent any record of the
  // page reached (left-shift zero bytes included), zero-padded.
  std::size_t rowBytes = 0;
  std::vector<std::vector<std::uint8_t>> rows;
  std::size_t offset = 0;     // offset of "\e*b1030m" in the job
  std::size_t wireBytes = 0;  // bytes from "\e*b1030m" through the form feed
  std::size_t blocks = 0;
  std::size_t blankRecords = 0;   // 0xFF records
  std::size_t repeatRecords = 0;  // 0x00 records
  std::size_t deltaRecords = 0;   // method-9 records
  int copy = 1;                   // 1 for the job itself, n for sorted-copy replay n-1

  // Row i cut or zero-padded to `width` bytes.
  std::vector<std::uint8_t> rowAt(std::size_t i, std::size_t width) const;
};

struct MonoJob {
  std::vector<std::string> pjlLines;  // "@PJL ..." lines of the header, without "\n"
  std::string pcl;                    // PCL set-up bytes between the PJL and the first page
  std::vector<MonoPage> pages;        // every page, replays included (see MonoPage::copy)
  std::vector<std::string> trailerLines;
};

// Decodes a whole job. Returns 0, or -1 with `error` set at the first byte
// that does not fit the stream's grammar. Never reads past `job`.
int decodeMonoJob(std::span<const std::uint8_t> job, MonoJob& out, DecodeError& error);

}  // namespace qvdecode
