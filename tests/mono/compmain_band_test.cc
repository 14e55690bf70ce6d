// compmain_band_test.cc - the raster band pipeline: printable area, row
// records, key rows and block framing, on pages whose bytes are known.
#include <gtest/gtest.h>

#include "tests/mono/mono_test_util.h"

namespace {

using monotest::BandJob;
using monotest::block;
using monotest::Bytes;
using monotest::operator+;
using monotest::bytesOf;
using monotest::kStart1030;
using monotest::repeated;

// A page of `height` rows of `rowBytes` bytes, all zero.
struct Page {
  int rowBytes;
  int height;
  Bytes bytes;
  Page(int rowBytesIn, int heightIn)
      : rowBytes(rowBytesIn),
        height(heightIn),
        bytes(static_cast<std::size_t>(rowBytesIn) * static_cast<std::size_t>(heightIn), 0) {}
  void put(int row, int byte, const Bytes& values) {
    std::copy(values.begin(), values.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(row * rowBytes + byte));
  }
  void fillRow(int row, std::uint8_t value) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(row * rowBytes), rowBytes, value);
  }
  Bytes send(BandJob& job) { return job.sendPage(bytes, rowBytes * 8, height); }
};

const Bytes kWorkedRow = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
const Bytes kWorkedKeyRecord = {0x03, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34};

// 300 dpi, width 160 (20 bytes, 8 printable), 103 rows: printable rows are
// 50, 51 (both the worked row) and 52 (blank). The shift is part of the
// delta record only: repeat and blank records carry none.
TEST(SendData1030, WorkedPageAt300Dpi) {
  Page page(20, 103);
  page.put(50, 6, kWorkedRow);
  page.put(51, 6, kWorkedRow);
  BandJob unshifted(1, 0);
  const Bytes tail = {0x00, 0xFF};  // the repeat and the blank record
  EXPECT_EQ(kStart1030 + block(3, kWorkedKeyRecord + tail), page.send(unshifted));
  BandJob shifted(1, 2);
  const Bytes shiftedKey = {0x04, 0x80, 0x00, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34};
  EXPECT_EQ(kStart1030 + block(3, shiftedKey + tail), page.send(shifted));
}

// 600 dpi: 1000 printable rows, all blank: seven blocks of 128 blank
// records, then one of 104.
TEST(SendData1030, AllBlankPageAt600Dpi) {
  Page page(50, 1200);
  BandJob job(2, 0);
  Bytes expected = kStart1030;
  for (int b = 0; b < 7; ++b)
    expected = expected + bytesOf("130w") + Bytes{0x00, 0x80} + repeated(128, 0xFF);
  expected = expected + bytesOf("106w") + Bytes{0x00, 0x68} + repeated(104, 0xFF);
  EXPECT_EQ(expected, page.send(job));
}

// A row equal to the previous one is a repeat record, except where a group
// of 128 records starts: there it is a key row, sent whole again.
TEST(SendData1030, KeyRowsStartEveryGroupOf128Records) {
  Page page(32, 200 + 130);  // 8 printable bytes: the worked row exactly
  for (int r = 100; r < 230; ++r) page.put(r, 12, kWorkedRow);
  BandJob job(2, 0);
  const Bytes group1 = kWorkedKeyRecord + repeated(127, 0x00);
  const Bytes group2 = kWorkedKeyRecord + Bytes{0x00};
  EXPECT_EQ(kStart1030 + block(128, group1) + block(2, group2), page.send(job));
}

TEST(SendData1030, RowAfterABlankRowIsADeltaAgainstIt) {
  // Row 0 blank, row 1 the worked row: row 1 is not at a group start, so
  // it is a delta against the blank row (zero seed) rather than a key row.
  Page page(32, 203);
  page.put(101, 12, kWorkedRow);
  page.put(102, 12, kWorkedRow);
  BandJob job(2, 0);
  const Bytes delta = {0x02, 0xC2, 0xFF, 0x01, 0x12, 0x34};
  EXPECT_EQ(kStart1030 + block(3, Bytes{0xFF} + delta + Bytes{0x00}), page.send(job));
}

// Rows of 624 bytes alternating ABAB... and BABA...: every row differs from
// its seed in every byte and has no run, so each record is one literal of
// 624 bytes: 01 07 FF FF 6A (624 = 8 + 255 + 255 + 106) and the data, 629
// bytes. 26 of them fill 16354 bytes; the 27th closes the block early and
// starts the next. Record 128 starts a new block whatever the size.
TEST(SendData1030, BlocksCloseAt16384BytesAndAt128Records) {
  const int rowBytes = 624 + 24;
  const int rows = 130;
  Page page(rowBytes, 200 + rows);
  auto rowBody = [&](int i) {
    Bytes body(624);
    for (std::size_t k = 0; k < body.size(); ++k)
      body[k] = ((k + static_cast<std::size_t>(i)) % 2 == 0) ? 0xA5 : 0x5A;
    return body;
  };
  for (int i = 0; i < rows; ++i) page.put(100 + i, 12, rowBody(i));
  auto record = [&](int i) { return Bytes{0x01, 0x07, 0xFF, 0xFF, 0x6A} + rowBody(i); };
  auto records = [&](int from, int to) {
    Bytes body;
    for (int i = from; i < to; ++i) body = body + record(i);
    return body;
  };

  BandJob job(2, 0);
  const Bytes expected = kStart1030 + block(26, records(0, 26)) + block(26, records(26, 52)) +
                         block(26, records(52, 78)) + block(26, records(78, 104)) +
                         block(24, records(104, 128)) + block(2, records(128, 130));
  ASSERT_EQ(bytesOf("16356w"), Bytes(expected.begin() + 8, expected.begin() + 14));
  EXPECT_EQ(expected, page.send(job));
}

// XR1200A: odd rows are repeats of the even row before them, whatever they
// hold, and the seed stays the even row.
TEST(SendData1030, XR1200AOddRowsRepeatTheEvenRow) {
  Page page(60, 404);
  page.fillRow(201, 0x77);        // odd: not looked at
  page.put(202, 25 + 3, {0x81});  // even: a delta against row 200 (blank)
  page.fillRow(203, 0x99);        // odd: not looked at
  BandJob job(4, 0);
  EXPECT_EQ(kStart1030 + block(4, {0xFF, 0x00, 0x01, 0x18, 0x81, 0x00}), page.send(job));
}

// 600x300: every record is followed by 00, so key rows come every 64 rows.
TEST(SendData1030, Rows600x300AreDoubled) {
  Page page(32, 100 + 66);
  for (int r = 50; r < 50 + 66; ++r) page.put(r, 12, kWorkedRow);
  BandJob job(6, 0);
  Bytes first = kWorkedKeyRecord + Bytes{0x00};
  for (int i = 1; i < 64; ++i) first = first + Bytes{0x00, 0x00};
  const Bytes second = kWorkedKeyRecord + Bytes{0x00, 0x00, 0x00};
  EXPECT_EQ(kStart1030 + block(128, first) + block(4, second), page.send(job));
}

TEST(SendData1030, ShortPagesAndRowsWithoutPrintableBytes) {
  struct Case {
    const char* why;
    int resMode, leftShift, rowBytes, height;
    Bytes expected;
  };
  const Case cases[] = {
      {"exactly two strips tall: no rows", 2, 0, 40, 200, kStart1030},
      {"shorter than the strips: no rows", 2, 0, 40, 150, kStart1030},
      {"one row tall: no rows", 1, 0, 40, 1, kStart1030},
      {"raster as narrow as the side strips", 2, 0, 24, 203,
       kStart1030 + block(3, {0xFF, 0xFF, 0xFF})},
      {"a shift that fills the whole row", 2, 624, 648, 202, kStart1030 + block(2, {0xFF, 0xFF})},
      {"no bytes at XR1200A: odd rows still repeat", 4, 0, 50, 404,
       kStart1030 + block(4, {0xFF, 0x00, 0xFF, 0x00})},
      {"no bytes at 600x300: rows still doubled", 6, 0, 24, 102,
       kStart1030 + block(4, {0xFF, 0x00, 0xFF, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Page page(c.rowBytes, c.height);
    for (int r = 0; r < c.height; ++r) page.fillRow(r, 0xC3);  // ink everywhere
    BandJob job(c.resMode, c.leftShift);
    EXPECT_EQ(c.expected, page.send(job));
  }
}

// 640-byte raster at 600 dpi with a shift of 10: 616 + 10 > 624, so the
// row is cut to 614 bytes. A row of 0x55 is then the shift run (offset 0,
// count 10) and one run of 614: 614 = 33 + 255 + 255 + 71.
TEST(SendData1030, ShiftCutsTheRightEndOfTheRow) {
  Page page(640, 201);
  page.fillRow(100, 0x55);
  BandJob job(2, 10);
  EXPECT_EQ(kStart1030 + block(1, {0x02, 0x88, 0x00, 0x9F, 0xFF, 0xFF, 0x47, 0x55}),
            page.send(job));
}

}  // namespace
