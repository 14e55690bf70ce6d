// pwg_stream_test.cc - the PWG Raster decoder against hand-written pages.
#include "decode/pwg_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/decode/hand_jobs.h"

namespace {

using qvdecode::ColourJob;
using qvdecode::DecodeError;
using qvdecode::PwgPage;
using qvtest::append;
using qvtest::Bytes;

// Decodes "RaS2" + one gray page of `width` pixels and one line.
Bytes grayLine(std::size_t width, const Bytes& encodedLine) {
  Bytes stream;
  append(stream, "RaS2");
  append(stream, qvtest::pwgHeader(static_cast<std::uint32_t>(width), 1, false));
  append(stream, encodedLine);
  std::vector<PwgPage> pages;
  DecodeError error;
  EXPECT_EQ(0, qvdecode::decodePwgRaster(stream, pages, error)) << qvdecode::describeError(error);
  return pages.empty() ? Bytes{} : pages[0].pixels;
}

TEST(PwgDecoder, DecodesTheWorkedGrayLines) {
  Bytes fives(130, 5), nines(129, 9);
  struct Case {
    const char* why;
    Bytes encoded;  // line repeat byte 0, then the runs
    Bytes pixels;
  };
  const Case cases[] = {
      {"one literal of three", {0, 254, 1, 2, 3}, {1, 2, 3}},
      {"repeat of two, single", {0, 1, 1, 0, 2}, {1, 1, 2}},
      {"single, repeat of two", {0, 0, 1, 1, 2}, {1, 2, 2}},
      {"literal, repeat, single", {0, 255, 1, 2, 2, 3, 0, 4}, {1, 2, 3, 3, 3, 4}},
      {"130 equal pixels: 128 + 2", {0, 127, 5, 1, 5}, fives},
      {"129 equal pixels: 128 + 1", {0, 127, 9, 0, 9}, nines},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.pixels, grayLine(c.pixels.size(), c.encoded));
  }
}

// An all-white colour line of 600 pixels is 127 FF FF FF four times and
// 87 FF FF FF; 300 such lines come as repeat byte 255 and repeat byte 43.
TEST(PwgDecoder, DecodesFoldedWhiteColourLines) {
  Bytes page = qvtest::foldedWhiteColourPage();
  ColourJob job;
  DecodeError error;
  const Bytes bytes = qvtest::colourJob(page);
  ASSERT_EQ(0, qvdecode::decodeColourJob(bytes, job, error)) << qvdecode::describeError(error);
  ASSERT_EQ(1u, job.pages.size());
  const qvdecode::PwgHeader& header = job.pages[0].header;
  EXPECT_EQ(600u, header.width);
  EXPECT_EQ(300u, header.height);
  EXPECT_EQ(1800u, header.bytesPerLine);
  EXPECT_EQ(19u, header.colorSpace);
  EXPECT_EQ(600u, header.hwResolution[0]);
  EXPECT_EQ("auto", header.mediaType);
  EXPECT_EQ(Bytes(600 * 300 * 3, 0xFF), job.pages[0].pixels);
  EXPECT_EQ(2u, job.pages[0].lineRecords);
  EXPECT_EQ(298u, job.pages[0].repeatedLines);
  EXPECT_EQ(page.size(), job.pages[0].wireBytes);
  EXPECT_TRUE(job.hasSyncWord);
  EXPECT_EQ("@PJL ", job.pjlLines.front());
  EXPECT_EQ("@PJL ENTER LANGUAGE=PWGRASTER", job.pjlLines.back());
  EXPECT_TRUE(job.trailerLines.empty());
}

TEST(PwgDecoder, TwoPagesTitleTrailerAndJobWithoutPages) {
  Bytes pages = qvtest::grayPage();
  append(pages, qvtest::grayPage());
  Bytes bytes = qvtest::colourHeader();
  append(bytes, "RaS2");
  append(bytes, pages);
  append(bytes, "\x1b%-12345X@PJL EOJ NAME=\"report\"\n\x1b%-12345X\n");
  ColourJob job;
  DecodeError error;
  ASSERT_EQ(0, qvdecode::decodeColourJob(bytes, job, error)) << qvdecode::describeError(error);
  ASSERT_EQ(2u, job.pages.size());
  EXPECT_EQ(Bytes({1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4}), job.pages[1].pixels);
  EXPECT_EQ(std::vector<std::string>{"@PJL EOJ NAME=\"report\""}, job.trailerLines);

  Bytes empty = qvtest::colourHeader();
  append(empty, qvtest::kColourTrailer);
  ASSERT_EQ(0, qvdecode::decodeColourJob(empty, job, error)) << qvdecode::describeError(error);
  EXPECT_FALSE(job.hasSyncWord);
  EXPECT_TRUE(job.pages.empty());
}

Bytes grayJobWith(std::size_t field, std::uint32_t value) {
  Bytes page = qvtest::grayPage();
  qvtest::putU32(page, field, value);
  return qvtest::colourJob(page);
}

Bytes grayJobLines(const Bytes& lines) {
  Bytes page = qvtest::pwgHeader(6, 3, false);
  append(page, lines);
  return qvtest::colourJob(page);
}

TEST(PwgDecoder, NamesEachKindOfDamage) {
  namespace f = qvdecode::pwgfield;
  Bytes noSync = qvtest::colourHeader();
  append(noSync, qvtest::grayPage());
  append(noSync, qvtest::kColourTrailer);
  Bytes noFeed = qvtest::colourJob(qvtest::grayPage());
  noFeed.pop_back();
  Bytes extra = qvtest::colourJob(qvtest::grayPage());
  extra.push_back(0);
  struct Case {
    const char* why;
    Bytes job;
    const char* says;
  };
  const Case cases[] = {
      {"BytesPerLine of a colour width", grayJobWith(f::kBytesPerLine, 18), "BytesPerLine 18"},
      {"BitsPerPixel of colour on gray", grayJobWith(f::kBitsPerPixel, 24), "BitsPerPixel 24"},
      {"NumColors 3 on sGray", grayJobWith(f::kNumColors, 3), "NumColors 3 disagrees"},
      {"unknown ColorSpace", grayJobWith(f::kColorSpace, 99), "unknown ColorSpace 99"},
      {"BitsPerColor 7", grayJobWith(f::kBitsPerColor, 7), "BitsPerColor 7"},
      {"Width 0", grayJobWith(f::kWidth, 0), "Width 0"},
      {"Height over the cap", grayJobWith(f::kHeight, 0x7FFFFFFF), "Height 2147483647"},
      {"planar ColorOrder", grayJobWith(f::kColorOrder, 1), "ColorOrder 1"},
      {"name not PwgRaster", grayJobWith(0, 0x50574700), "\"PwgRaster\""},
      {"fewer lines than Height", grayJobLines({1, 255, 1, 2, 2, 3, 0, 4}), "page ends after 2"},
      {"more lines than Height", grayJobLines({2, 255, 1, 2, 2, 3, 0, 4, 0, 255, 1, 2, 2, 3, 0, 4}),
       "bytes after the page"},
      {"repeat past Height", grayJobLines({3, 255, 1, 2, 2, 3, 0, 4}),
       "runs past the page's Height"},
      {"run past the line end", grayJobLines({2, 255, 1, 2, 5, 3}), "passes the end"},
      {"code 128", grayJobLines({2, 128, 1, 2, 3, 3, 3, 4}), "code 128"},
      {"no RaS2", noSync, "RaS2"},
      {"trailer without its line feed", noFeed, "line feed"},
      {"bytes after the trailer", extra, "after the end of the job"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ColourJob job;
    DecodeError error;
    EXPECT_EQ(-1, qvdecode::decodeColourJob(c.job, job, error));
    EXPECT_NE(std::string::npos, error.message.find(c.says)) << qvdecode::describeError(error);
  }
}

TEST(PwgDecoder, HeaderFaultPointsAtTheField) {
  namespace f = qvdecode::pwgfield;
  const Bytes bytes = grayJobWith(f::kBytesPerLine, 18);
  ColourJob job;
  DecodeError error;
  ASSERT_EQ(-1, qvdecode::decodeColourJob(bytes, job, error));
  EXPECT_EQ(1, error.page);
  EXPECT_EQ(qvtest::colourHeader().size() + 4 + f::kBytesPerLine, error.offset);
}

TEST(PwgDecoder, EveryTruncationFailsCleanly) {
  Bytes pages = qvtest::grayPage();
  append(pages, qvtest::pwgHeader(2, 2, true));
  append(pages, {0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 9, 9, 9});
  const Bytes good = qvtest::colourJob(pages);
  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    ColourJob job;
    DecodeError error;
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(-1, qvdecode::decodeColourJob(cut, job, error));
    EXPECT_LE(error.offset, length);
    EXPECT_FALSE(error.message.empty());
  }
  ColourJob job;
  DecodeError error;
  EXPECT_EQ(0, qvdecode::decodeColourJob(good, job, error)) << qvdecode::describeError(error);
}

TEST(PwgDecoder, SurvivesRandomAndMutatedInput) {
  std::mt19937 rng(99);
  const Bytes good = qvtest::colourJob(qvtest::grayPage());
  const std::size_t raster = qvtest::colourHeader().size();
  for (int round = 0; round < 3000; ++round) {
    Bytes input = good;
    if (round % 3 == 0) {
      // Random lines behind a good header: the run decoder's paths.
      input.resize(raster + 4 + 1796);
      for (std::size_t n = rng() % 40; n > 0; --n)
        input.push_back(static_cast<std::uint8_t>(rng()));
      append(input, qvtest::kColourTrailer);
    } else {
      for (std::size_t n = rng() % 4 + 1; n > 0; --n) {
        // Mostly the fields and lines, where the checks are.
        const std::size_t at = raster + rng() % (input.size() - raster);
        input[at] = static_cast<std::uint8_t>(rng());
      }
    }
    ColourJob job;
    DecodeError error;
    const int result = qvdecode::decodeColourJob(input, job, error);
    ASSERT_TRUE(result == 0 || result == -1);
    std::vector<PwgPage> pages;
    const int bare = qvdecode::decodePwgRaster(std::span<const std::uint8_t>(input).subspan(raster),
                                               pages, error);
    ASSERT_TRUE(bare == 0 || bare == -1);
  }
}

}  // namespace
