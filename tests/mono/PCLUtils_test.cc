// PCLUtils_test.cc - paper matching, the centring left shift, the job
// parameter codes and the output primitives.
#include <gtest/gtest.h>

#include <string>

#include "tests/mono/mono_test_util.h"

namespace {

using monotest::MemoryStream;
using monotest::ScopedJobFlags;

PrintSettings pageOf(int resolution, int width, int height, int paperType = 1) {
  PrintSettings settings = {};
  settings.resolution = resolution;
  settings.paperType = paperType;
  settings.width = settings.paperWidth = width;
  settings.height = settings.paperHeight = height;
  return settings;
}

// Sizes are in dots at the job resolution; the match works in 1/120 inch.
TEST(PaperMatching, ChoosesTheNarrowestPaperThatHoldsThePage) {
  struct Case {
    const char* why;
    const char* flags;
    PrintSettings settings;
    const char* paper;
    int margin;
    int leftShift;
  };
  const Case cases[] = {
      {"A4 at 600 dpi", "0", pageOf(2, 4960, 7016), "A4", 0, 0},
      {"8.5 x 11 inch: A4 is too narrow", "0", pageOf(2, 5100, 6600), "LETTER", 0, 0},
      {"8.5 x 11 inch in 300-dpi dots", "0", pageOf(1, 2550, 3300), "LETTER", 0, 0},
      {"4 x 6 inch: MONARCH and HAGAKI too narrow, COM10 listed first", "0", pageOf(2, 2400, 3600),
       "COM10", 45, 5},
      {"7 x 10 inch", "0", pageOf(2, 4200, 6000), "JISB5", 60, 6},
      {"8.5 x 13 inch without FOLIO", "0", pageOf(2, 5100, 7800), "LEGAL", 0, 0},
      {"8.5 x 13 inch, flag 2/1 admits FOLIO", "100", pageOf(2, 5100, 7800), "FOLIO", 0, 0},
      {"3 x 5 inch without 3x5", "0", pageOf(2, 1800, 3000), "MONARCH", 315, 33},
      {"3 x 5 inch, flag 2/2 admits 3x5", "200", pageOf(2, 1800, 3000), "3x5", 0, 0},
      {"EnvYou4 size without EnvYou4", "0", pageOf(2, 2480, 5500), "B5", 1008, 105},
      {"EnvYou4 size, flag 2/4 admits EnvYou4", "400", pageOf(2, 2480, 5500), "EnvYou4", 0, 0},
      // Mended: the page is wider than any paper (the shift would be -55 bytes); a negative shift
      // cannot be sent in a row record, so the image is left unshifted.
      {"wider than every paper: LEGAL, negative shift taken as 0", "0", pageOf(2, 6000, 9000),
       "LEGAL", -540, 0},
      {"custom paper centres on the LEGAL width", "0", pageOf(2, 4960, 7016, 27), "CUSTOM", 84, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags(c.flags);
    SParam param = {};
    setSParam(param, c.settings);
    PaperMatch match;
    if (check_custom_paper(c.settings)) {
      checkSendPaper(param.paperLength120, param.paperWidth120, match);
    } else {
      checkSendPaper_custompaper(param.paperLength120, param.paperWidth120, match);
    }
    EXPECT_STREQ(c.paper, match.name);
    EXPECT_EQ(c.margin, match.margin);
    EXPECT_EQ(c.leftShift, param.leftShift);
  }
}

TEST(PaperMatching, PageSizeCommands) {
  ScopedJobFlags flags("100");
  PaperMatch match;
  checkSendPaper(1560, 1020, match);
  EXPECT_STREQ("\x1b&l4096a1038a6d1E", match.pclCommand);  // FOLIO
  checkSendPaper(1561, 1020, match);
  EXPECT_STREQ("\x1b&l4096a3a6d1E", match.pclCommand);  // LEGAL
  checkSendPaper_custompaper(0, 0, match);
  EXPECT_STREQ("\x1b&l4096a101a6d1E", match.pclCommand);
}

// X = centring margin + -offset, in 1/720 inch; an A4 page has margin 0, so
// the offset alone is X.
TEST(LeftShift, RoundsDotsToBytesAndDropsOneByte) {
  struct Case {
    const char* why;
    PrintSettings settings;
    int offset;
    int leftShift;
  };
  const PrintSettings a4At600 = pageOf(2, 4960, 7016);
  const Case cases[] = {
      {"600 dpi, X 60: 50 dots", a4At600, 60, 6},
      {"600 dpi, X 9: 7 dots, one byte, dropped", a4At600, 9, 0},
      {"600 dpi, X 14: 11 dots, still one byte", a4At600, 14, 0},
      {"600 dpi, X 15: 12 dots, two bytes", a4At600, 15, 2},
      {"600 dpi, X 24: 20 dots", a4At600, 24, 3},
      {"300 dpi, X 60: 25 dots", pageOf(1, 2480, 3508), 60, 3},
      {"1200 dpi, X 60: 100 dots", pageOf(3, 9920, 14032), 60, 13},
      {"600x300 counts as 600 across", pageOf(6, 4960, 3508), 60, 6},
      {"a negative offset past the margin is taken as 0", a4At600, -100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags("0", c.offset);
    SParam param = {};
    setSParam(param, c.settings);
    EXPECT_EQ(c.leftShift, param.leftShift);
  }
}

TEST(SetSParam, SettingCodes) {
  struct Case {
    const char* why;
    int PrintSettings::*field;
    int value;
    std::int16_t SParam::*result;
    int expected;
  };
  const Case cases[] = {
      {"resolution 0 is 600 dpi", &PrintSettings::resolution, 0, &SParam::resMode, 2},
      {"resolution out of range is 600 dpi", &PrintSettings::resolution, 9, &SParam::resMode, 2},
      {"Manual is source 6", &PrintSettings::paperSource, 1, &SParam::sourceCode, 6},
      {"MpTray is source 7", &PrintSettings::paperSource, 2, &SParam::sourceCode, 7},
      {"AutoSelect is source 0", &PrintSettings::paperSource, 8, &SParam::sourceCode, 0},
      {"no bin is -1", &PrintSettings::outputBin, 0, &SParam::binCode, -1},
      {"PlainPaper is media 0", &PrintSettings::media, 1, &SParam::mediaCode, 0},
      {"toner save ON is economy", &PrintSettings::tonerSave, 0, &SParam::economy, 1},
      {"Short binding", &PrintSettings::duplexType, 2, &SParam::duplexLong, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags("0");
    PrintSettings settings = pageOf(2, 4960, 7016);
    settings.*c.field = c.value;
    SParam param = {};
    setSParam(param, settings);
    EXPECT_EQ(c.expected, param.*c.result);
  }
}

TEST(PCLSendCommand, WritesTheCopyFirstAndSkipsEmptyRecords) {
  MemoryStream out, copy;
  EXPECT_EQ(0, PCLSendCommand(out.get(), copy.get(), PCLEnd1030));
  FixedCommand empty{};
  FixedCommand negative{};
  negative[0] = 0x80;  // -128: sends nothing
  negative[1] = 'x';
  EXPECT_EQ(0, PCLSendCommand(out.get(), copy.get(), empty));
  EXPECT_EQ(0, PCLSendCommand(out.get(), copy.get(), negative));
  EXPECT_EQ(0, PCLSendData(out.get(), nullptr, "\0\xff", 2));
  EXPECT_EQ(std::string("1030M\0\xff", 7), out.text());
  EXPECT_EQ("1030M", copy.text());
}

TEST(PCLSendCommand, ReportsAShortWrite) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(nullptr, full);
  std::setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_EQ(1, PCLSendCommand(full, nullptr, PJLEnter));
  std::fclose(full);
}

}  // namespace
