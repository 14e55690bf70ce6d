// tests/mono/qvcommon_test.cc - settings file and paper information file.
#include "mono/qvcommon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

using TextStream = monotest::InputStream;

struct Parsed {
  int result;
  PrintSettings settings;
};

Parsed parseSettings(const std::string& text) {
  Parsed parsed{};
  std::memset(&parsed.settings, 0, sizeof parsed.settings);
  TextStream stream(monotest::bytesOf(text));
  parsed.result = getRcFile(stream.get(), &parsed.settings);
  return parsed;
}

TEST(GetRcFile, AppliesKeyLines) {
  using S = PrintSettings;
  using Field = std::int32_t S::*;
  struct Case {
    const char* why;
    std::string text;
    Field field;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"copies 0 is out of range", "Copies=5\nCopies=0\n", &S::copies, 5},
      {"copies 1000 is out of range", "Copies=5\nCopies=1000\n", &S::copies, 5},
      {"no digits read as 0, out of range", "Copies=5\nCopies=abc\n", &S::copies, 5},
      {"the number at the start counts", "Copies=12abc\n", &S::copies, 12},
      {"a count beyond 32 bits is out of range, not wrapped", "Copies=4294967298\n", &S::copies, 0},
      {"PrinterDefault resets the sleep time", "Sleep=30\nSleep=PrinterDefault\n", &S::sleep, 0},
      {"sleep 100 is out of range", "Sleep=30\nSleep=100\n", &S::sleep, 30},
      {"an unknown paper word resets the paper type", "PaperType=A4\nPaperType=a4\n", &S::paperType,
       0},
      {"an unknown media word leaves the media", "Media=Recycled\nMedia=a4\n", &S::media, 10},
      {"blanks anywhere are removed", " Paper Type = A 4\t\n", &S::paperType, 1},
      {"a carriage return stays part of the value", "Resolution=600\r\n", &S::resolution, 0},
      {"the 'not set' word is not a value", "Resolution=300\nResolution=NULL\n", &S::resolution, 1},
      {"keys are case-sensitive", "resolution=300\n", &S::resolution, 0},
      {"Duplex None is off", "Duplex=ON\nDuplex=None\n", &S::duplex, 0},
      {"DuplexType None is long edge", "DuplexType=None\n", &S::duplexType, 1},
      {"a value keeps text after a second '='", "Copies=3=4\n", &S::copies, 3},
      {"unknown keys and lines without '=' are ignored", "Colour=Red\nCopies 7\nCopies=2\n",
       &S::copies, 2},
      {"comments may be indented", "  # Copies=9\n", &S::copies, 0},
      {"a line over 1023 characters goes on as the next line",
       "#" + std::string(1022, 'x') + "Copies=4\n", &S::copies, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Parsed parsed = parseSettings("[QV]\n" + c.text);
    ASSERT_EQ(0, parsed.result);
    EXPECT_EQ(c.expected, parsed.settings.*c.field);
  }
}

TEST(GetRcFile, RejectsFilesWithoutAUsableSection) {
  struct Case {
    const char* why;
    std::string text;
    int result;
  };
  const Case cases[] = {
      {"comments and blank lines need no section", "# printer\n\n   \n\t# more\n", 0},
      {"a key line before the section line", "Copies=2\n[QV]\n", -1},
      {"two section lines, even identical ones", "[QV]\n[QV]\n", -1},
      {"a lone '[' names no section", "[\nCopies=2\n", -1},
      {"an empty name is a section", "[]\nCopies=2\n", 0},
      {"a CR-only line is not empty, so it counts as a key line", "\r\n[QV]\n", -1},
      {"an empty file", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.result, parseSettings(c.text).result);
  }
}

TEST(GetRcFile, CommentsOnlyLeaveEveryCodeZero) {
  const Parsed parsed = parseSettings("# nothing set\n");
  ASSERT_EQ(0, parsed.result);
  PrintSettings zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(0, std::memcmp(&zero, &parsed.settings, sizeof zero));  // tonerSave 0 is "ON"
}

TEST(GetRcFile, SectionName) {
  EXPECT_STREQ("QV-Mono", parseSettings("[ QV-Mono ]extra\n").settings.sectionName);
  EXPECT_STREQ("NoClose", parseSettings("[NoClose\n").settings.sectionName);
  // A long name is a label no one reads: cut to the record's 23 characters.
  EXPECT_STREQ(std::string(23, 'n').c_str(),
               parseSettings("[" + std::string(40, 'n') + "]\n").settings.sectionName);
}

TEST(GetRcFile, RefusesMissingStreamAndUnreadableFile) {
  PrintSettings settings{};
  EXPECT_EQ(-1, getRcFile(nullptr, &settings));
  // A directory opens for reading on Linux but every read fails: that must
  // not pass for an empty settings file.
  const qvtest::ScopedTempDir dir;
  std::FILE* directory = std::fopen(dir.path().c_str(), "r");
  ASSERT_NE(nullptr, directory);
  EXPECT_EQ(-1, getRcFile(directory, &settings));
  std::fclose(directory);
}

TEST(GetPaperInf, LooksUpThePaperByName) {
  struct Case {
    const char* why;
    std::string text;
    std::int32_t paperType;
    int result;
    std::int32_t width, height;  // -1: unchanged
  };
  const Case cases[] = {
      {"names are compared as prefixes: A4L matches A4", "A4L\t6614\t4677\nA4\t4960\t7016\n", 1, 0,
       6614, 4677},
      {"the first matching line wins", "A4\t4960\t7016\nA4L\t6614\t4677\n", 1, 0, 4960, 7016},
      {"text after the height is ignored", "A4\t4960\t7016   \tx y\n", 1, 0, 4960, 7016},
      {"blanks before a number are skipped", "A4\t 4960\t  7016\n", 1, 0, 4960, 7016},
      {"names are case-sensitive", "letter\t5100\t6600\n", 2, 1, -1, -1},
      {"the first match lacks its height: not found", "Letter\t5100\n", 2, 1, -1, -1},
      {"a later line may not stand in for a broken first", "A4\nA4L\t6614\t4677\n", 1, 1, -1, -1},
      {"an empty width field reads as 0", "A4\t\t7016\n", 1, 0, 0, 7016},
      {"code 0 looks for NULL", "NULL\t10\t20\n", 0, 0, 10, 20},
      {"a code outside the table finds nothing", "A4\t4960\t7016\n", 37, 1, -1, -1},
      {"other lines may have any form", "garbage\n\n#A4\nCUSTOM3\t3000\t4000\n", 30, 0, 3000, 4000},
      {"an empty file", "", 1, 1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TextStream stream(monotest::bytesOf(c.text));
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(c.result, getPaperInf(stream.get(), c.paperType, width, height));
    EXPECT_EQ(c.width, width);
    EXPECT_EQ(c.height, height);
  }
  std::int32_t width = -1, height = -1;
  EXPECT_EQ(-1, getPaperInf(nullptr, 1, width, height));
}

// The shipped paper file must give a size for every paper name, and A4
// must not be shadowed by the A4L line.
TEST(GetPaperInf, SampleFileCoversEveryPaper) {
  for (std::int32_t code = 1; code < QV_COMMAND_VALUE_PT_COUNT; ++code) {
    SCOPED_TRACE(QV_COMMAND_VALUE_PT[code]);
    const qv::UniqueFile file(std::fopen(QV_SOURCE_DIR "/samples/mono/paperinf", "r"));
    ASSERT_TRUE(file);
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(0, getPaperInf(file.get(), code, width, height));
    EXPECT_TRUE(width > 0 && height > 0);
    if (code == 1) {
      EXPECT_EQ(std::make_pair(4960, 7016), std::make_pair(width, height));
    }
  }
}

}  // namespace
