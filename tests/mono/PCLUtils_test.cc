// PCLUtils_test.cc - paper matching, the centring left shift, the job
// parameter codes and the output primitives.
#include <gtest/gtest.h>

#include <string>

#include "tests/mono/mono_test_util.h"

namespace {

using monotest::MemoryStream;
using monotest::ScopedJobFlags;

using monotest::pageSettings;

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
      {"A4 at 600 dpi", "0", pageSettings(2, 4960, 7016), "A4", 0, 0},
      {"8.5 x 11 inch: A4 is too narrow", "0", pageSettings(2, 5100, 6600), "LETTER", 0, 0},
      {"8.5 x 11 inch in 300-dpi dots", "0", pageSettings(1, 2550, 3300), "LETTER", 0, 0},
      {"4 x 6 inch: MONARCH and HAGAKI too narrow, COM10 listed first", "0",
       pageSettings(2, 2400, 3600), "COM10", 45, 5},
      {"7 x 10 inch", "0", pageSettings(2, 4200, 6000), "JISB5", 60, 6},
      {"8.5 x 13 inch without FOLIO", "0", pageSettings(2, 5100, 7800), "LEGAL", 0, 0},
      {"8.5 x 13 inch, flag 2/1 admits FOLIO", "100", pageSettings(2, 5100, 7800), "FOLIO", 0, 0},
      {"3 x 5 inch without 3x5", "0", pageSettings(2, 1800, 3000), "MONARCH", 315, 33},
      {"3 x 5 inch, flag 2/2 admits 3x5", "200", pageSettings(2, 1800, 3000), "3x5", 0, 0},
      {"EnvYou4 size without EnvYou4", "0", pageSettings(2, 2480, 5500), "B5", 1008, 105},
      {"EnvYou4 size, flag 2/4 admits EnvYou4", "400", pageSettings(2, 2480, 5500), "EnvYou4", 0,
       0},
      // Mended: the page is wider than any paper (the shift would be -55 bytes); a negative shift
      // cannot be sent in a row record, so the image is left unshifted.
      {"wider than every paper: LEGAL, negative shift taken as 0", "0", pageSettings(2, 6000, 9000),
       "LEGAL", -540, 0},
      {"custom paper centres on the LEGAL width", "0", pageSettings(2, 4960, 7016, 27), "CUSTOM",
       84, 9},
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
  const PrintSettings a4At600 = pageSettings(2, 4960, 7016);
  const Case cases[] = {
      {"600 dpi, X 60: 50 dots", a4At600, 60, 6},
      {"600 dpi, X 9: 7 dots, one byte, dropped", a4At600, 9, 0},
      {"600 dpi, X 14: 11 dots, still one byte", a4At600, 14, 0},
      {"600 dpi, X 15: 12 dots, two bytes", a4At600, 15, 2},
      {"600 dpi, X 24: 20 dots", a4At600, 24, 3},
      {"300 dpi, X 60: 25 dots", pageSettings(1, 2480, 3508), 60, 3},
      {"1200 dpi, X 60: 100 dots", pageSettings(3, 9920, 14032), 60, 13},
      {"600x300 counts as 600 across", pageSettings(6, 4960, 3508), 60, 6},
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

}  // namespace
