// compmain_compress_test.cc - the method-9 row compressor against rows whose
// encodings are known: the worked examples of the format and the places
// where its escape values and limits change the bytes.
#include <gtest/gtest.h>

#include "tests/mono/mono_test_util.h"

namespace {

using monotest::BandJob;
using monotest::Bytes;
using monotest::operator+;
using monotest::repeated;

Bytes rowWith(std::size_t length, std::size_t at, Bytes bytes) {
  Bytes row(length, 0x00);
  std::copy(bytes.begin(), bytes.end(), row.begin() + static_cast<std::ptrdiff_t>(at));
  return row;
}

Bytes complement(const Bytes& row) {
  Bytes seed(row);
  for (auto& b : seed) b = static_cast<std::uint8_t>(~b);
  return seed;
}

// Bytes 1, 2, ..., 255, 1, 2, ...: never zero, never three equal in a row.
Bytes counting(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i % 255 + 1);
  return bytes;
}

TEST(CompressM9, EncodesKnownRowsAgainstAZeroSeed) {
  struct Case {
    const char* why;
    Bytes row;
    Bytes encoded;
  };
  const Bytes ten = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};
  const Case cases[] = {
      {"run, two literals, the last with an offset",
       {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
        0x00},
       {0x03, 0xC2, 0xFF, 0x01, 0x12, 0x34, 0x18, 0x80}},
      {"literal offset 20 escapes: 15 + 5", rowWith(40, 20, {0xAA}), {0x01, 0x78, 0x05, 0xAA}},
      {"run of 40 escapes: 33 + 7", repeated(40, 0x55), {0x01, 0x9F, 0x07, 0x55}},
      {"run offset 3 and count 37 both escape",
       rowWith(40, 3, repeated(37, 0x11)),
       {0x01, 0xFF, 0x00, 0x04, 0x11}},
      {"literal of 10 escapes: 8 + 2", rowWith(40, 0, ten), Bytes{0x01, 0x07, 0x02} + ten},
      {"run offset 5 escapes: 3 + 2", rowWith(40, 5, repeated(7, 0xFF)), {0x01, 0xE5, 0x02, 0xFF}},
      {"literal stops before a run of three",
       {0xAA, 0xAA, 0xAA, 0xBB, 0xCC, 0xDD, 0xDD, 0xDD},
       {0x03, 0x81, 0xAA, 0x01, 0xBB, 0xCC, 0x81, 0xDD}},
      {"literal offset exactly 15 needs the extension 00",
       rowWith(40, 15, {0x01, 0x02}),
       {0x01, 0x79, 0x00, 0x01, 0x02}},
      {"literal offset 300: FF then 30", rowWith(400, 300, {0x09}), {0x01, 0x78, 0xFF, 0x1E, 0x09}},
      {"literal offset 270 = 15 + 255: FF 00",
       rowWith(300, 270, {0x42}),
       {0x01, 0x78, 0xFF, 0x00, 0x42}},
      {"only the last byte differs: offset N - 1",
       rowWith(40, 39, {0x5A}),
       {0x01, 0x78, 0x18, 0x5A}},
      {"three equal bytes are a run (count field 1)",
       rowWith(8, 2, {0x77, 0x77, 0x77}),
       {0x01, 0xC1, 0x77}},
      {"three unequal bytes are a literal of 3",
       rowWith(8, 1, {0x11, 0x22, 0x33}),
       {0x01, 0x0A, 0x11, 0x22, 0x33}},
      {"two equal bytes then another go out as one literal",
       rowWith(8, 0, {0xAA, 0xAA, 0xBB}),
       {0x01, 0x02, 0xAA, 0xAA, 0xBB}},
      {"literal count exactly 8 needs the extension 00", rowWith(40, 0, counting(8)),
       Bytes{0x01, 0x07, 0x00} + counting(8)},
      {"run count exactly 33 needs the extension 00",
       rowWith(40, 0, repeated(33, 0x55)),
       {0x01, 0x9F, 0x00, 0x55}},
      {"literal count 263 = 8 + 255: FF 00", rowWith(300, 0, counting(263)),
       Bytes{0x01, 0x07, 0xFF, 0x00} + counting(263)},
      {"a seed byte inside a would-be run ends the stretch",
       {0x33, 0x33, 0x00, 0x33, 0x33, 0x33},
       {0x02, 0x01, 0x33, 0x33, 0xA1, 0x33}},
      {"literal offset 525 = 15 + 510: FF FF 00",
       rowWith(600, 525, {0x42}),
       {0x01, 0x78, 0xFF, 0xFF, 0x00, 0x42}},
      {"run count 287 = 33 + 254: one extension byte",
       rowWith(300, 0, repeated(287, 0x55)),
       {0x01, 0x9F, 0xFE, 0x55}},
      {"bytes equal to the seed at the end send nothing",
       rowWith(16, 0, {0x01}),
       {0x01, 0x00, 0x01}},
  };
  BandJob job(2, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.encoded, job.encode(c.row, Bytes(c.row.size(), 0x00)));
  }
}

TEST(CompressM9, RowEqualToItsSeedSendsNothingEvenWithAShift) {
  for (int shift : {0, 2, 300}) {
    SCOPED_TRACE(shift);
    BandJob job(2, shift);
    const Bytes row = rowWith(40, 7, {0x12, 0x34});
    EXPECT_EQ(Bytes{}, job.encode(row, row));
  }
}

TEST(CompressM9, EmptyRowGivesTheCountByteAndTheShift) {
  BandJob unshifted(2, 0);
  EXPECT_EQ(Bytes{0x00}, unshifted.encode(Bytes{}, Bytes{}));
  BandJob shifted(2, 2);
  EXPECT_EQ((Bytes{0x01, 0x80, 0x00}), shifted.encode(Bytes{}, Bytes{}));
}

// A key row is encoded against its own complement, so every byte differs
// and the whole row is sent; a shift of 40 is a run with an escaped count
// (shifts 0 and 2: the worked page in compmain_band_test.cc).
TEST(CompressM9, KeyRowWithALongShift) {
  const Bytes row = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  BandJob job(2, 40);
  EXPECT_EQ((Bytes{0x04, 0x9F, 0x07, 0x00, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34}),
            job.encode(row, complement(row)));
}

// Every second byte differing: one literal per byte until 253 commands,
// then the rest of the row as one literal from where it stopped, seed-equal
// bytes included. The count byte ends at 254, never at 0xFF (the blank-row
// record). The shift command counts towards the limit.
TEST(CompressM9, CommandCountStopsAt254) {
  Bytes row(1000, 0x00);
  for (std::size_t i = 0; i < row.size(); i += 2) row[i] = 0x11;
  struct Case {
    int shift;
    Bytes head;  // count byte, shift command, the literal of byte 0
    std::size_t restFrom;
    Bytes restCommand;
  };
  const Case cases[] = {
      // 252 more commands cover bytes 2 to 504; 495 bytes remain: 8 + 255 + 232.
      {0, {0xFE, 0x00, 0x11}, 505, {0x07, 0xFF, 0xE8}},
      // 251 more cover bytes 2 to 502; 497 remain: 8 + 255 + 234.
      {2, {0xFE, 0x80, 0x00, 0x00, 0x11}, 503, {0x07, 0xFF, 0xEA}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shift);
    Bytes expected = c.head;
    for (std::size_t i = 2; i < c.restFrom; i += 2) expected = expected + Bytes{0x08, 0x11};
    expected = expected + c.restCommand +
               Bytes(row.begin() + static_cast<std::ptrdiff_t>(c.restFrom), row.end());
    if (c.shift == 0) {
      ASSERT_EQ(1005u, expected.size());
    }
    BandJob job(2, c.shift);
    EXPECT_EQ(expected, job.encode(row, Bytes(row.size(), 0x00)));
  }
}

}  // namespace
