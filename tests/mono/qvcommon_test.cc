// tests/mono/qvcommon_test.cc - settings file and paper information file.
#include "mono/qvcommon.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "tests/support/run_program.h"

namespace {

// A read-only stream over `text`, closed when the holder goes.
class TextStream {
 public:
  explicit TextStream(std::string text) : text_(std::move(text)) {
    if (text_.empty()) text_.push_back('\0');  // fmemopen needs a byte; fgets stops at it
    file_ = fmemopen(text_.data(), text_.size(), "r");
  }
  ~TextStream() {
    if (file_ != nullptr) std::fclose(file_);
  }
  std::FILE* get() const { return file_; }

 private:
  std::string text_;
  std::FILE* file_ = nullptr;
};

struct Parsed {
  int result;
  PrintSettings settings;
};

Parsed parseSettings(const std::string& text) {
  Parsed parsed{};
  std::memset(&parsed.settings, 0, sizeof parsed.settings);
  TextStream stream(text);
  parsed.result = getRcFile(stream.get(), &parsed.settings);
  return parsed;
}

TEST(GetRcFile, AppliesKeyLines) {
  using Field = std::int32_t PrintSettings::*;
  struct Case {
    const char* why;
    std::string text;
    Field field;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"copies 0 is out of range", "[QV]\nCopies=5\nCopies=0\n", &PrintSettings::copies, 5},
      {"copies 1000 is out of range", "[QV]\nCopies=5\nCopies=1000\n", &PrintSettings::copies, 5},
      {"no digits read as 0, out of range", "[QV]\nCopies=5\nCopies=abc\n", &PrintSettings::copies,
       5},
      {"the number at the start counts", "[QV]\nCopies=12abc\n", &PrintSettings::copies, 12},
      {"999 is the largest count", "[QV]\nCopies=999\n", &PrintSettings::copies, 999},
      {"a count beyond 32 bits is out of range, not wrapped", "[QV]\nCopies=4294967298\n",
       &PrintSettings::copies, 0},
      {"PrinterDefault resets the sleep time", "[QV]\nSleep=30\nSleep=PrinterDefault\n",
       &PrintSettings::sleep, 0},
      {"sleep 100 is out of range", "[QV]\nSleep=30\nSleep=100\n", &PrintSettings::sleep, 30},
      {"an unknown paper word resets the paper type", "[QV]\nPaperType=A4\nPaperType=a4\n",
       &PrintSettings::paperType, 0},
      {"an unknown media word leaves the media", "[QV]\nMedia=Recycled\nMedia=a4\n",
       &PrintSettings::media, 10},
      {"blanks anywhere are removed", "[QV]\n Paper Type = A 4\t\n", &PrintSettings::paperType, 1},
      {"the last custom paper", "[QV]\nPaperType=CUSTOM9\n", &PrintSettings::paperType, 36},
      {"a carriage return stays part of the value", "[QV]\nResolution=600\r\n",
       &PrintSettings::resolution, 0},
      {"resolution words map to their index", "[QV]\nResolution=600x300\n",
       &PrintSettings::resolution, 6},
      {"the 'not set' word is not a value", "[QV]\nResolution=300\nResolution=NULL\n",
       &PrintSettings::resolution, 1},
      {"keys are case-sensitive", "[QV]\nresolution=300\n", &PrintSettings::resolution, 0},
      {"Duplex None is off", "[QV]\nDuplex=ON\nDuplex=None\n", &PrintSettings::duplex, 0},
      {"DuplexType None is long edge", "[QV]\nDuplexType=None\n", &PrintSettings::duplexType, 1},
      {"DuplexType Short", "[QV]\nDuplexType=Short\n", &PrintSettings::duplexType, 2},
      {"toner save OFF", "[QV]\nToner Save Mode = OFF\n", &PrintSettings::tonerSave, 1},
      {"a sorter bin", "[QV]\nOutputBin=Sorter3\n", &PrintSettings::outputBin, 9},
      {"automatic paper source is its own code", "[QV]\nPaperSource=AutoSelect\n",
       &PrintSettings::paperSource, 8},
      {"a value keeps text after a second '='", "[QV]\nCopies=3=4\n", &PrintSettings::copies, 3},
      {"unknown keys and lines without '=' are ignored", "[QV]\nColour=Red\nCopies 7\nCopies=2\n",
       &PrintSettings::copies, 2},
      {"comments may be indented", "  # Copies=9\n[QV]\n", &PrintSettings::copies, 0},
      {"a line over 1023 characters goes on as the next line",
       "[QV]\n#" + std::string(1022, 'x') + "Copies=4\n", &PrintSettings::copies, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Parsed parsed = parseSettings(c.text);
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

TEST(ParamSearch, SplitsAtTheFirstEqualsSign) {
  char value[8];
  EXPECT_EQ(6, paramSearch("Copies=3=4", value, sizeof value));
  EXPECT_STREQ("3=4", value);
  EXPECT_EQ(-1, paramSearch("Unknown=1", value, sizeof value));
  EXPECT_STREQ("1", value);
  EXPECT_EQ(-1, paramSearch("NoEquals", value, sizeof value));
  EXPECT_STREQ("", value);
  EXPECT_EQ(0, paramSearch("Resolution=1234567890", value, sizeof value));
  EXPECT_STREQ("1234567", value);  // bounded by the value buffer
}

// Numbers past 32 bits saturate, so that range checks refuse them instead
// of seeing a wrapped value (atoi and %d leave them undefined).
TEST(ReadDecimal, SaturatesInsteadOfOverflowing) {
  struct Case {
    const char* text;
    std::size_t used;
    std::int32_t value;
  };
  const Case cases[] = {
      {"99999999999", 11, INT_MAX},
      {"-99999999999", 12, INT_MIN},
      {"-2147483648", 11, INT_MIN},
      {"2147483647", 10, INT_MAX},
      {"-", 0, 99},  // a sign without digits: untouched
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t value = 99;
    EXPECT_EQ(c.used, readDecimal(c.text, value));
    EXPECT_EQ(c.value, value);
  }
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
      {"a name without its fields is no match", "Letter\t5100\n", 2, 1, -1, -1},
      {"a later complete line still matches", "Letter\nLetter\t5100\t6600\n", 2, 0, 5100, 6600},
      {"an empty width field reads as 0", "A4\t\t7016\n", 1, 0, 0, 7016},
      {"code 0 looks for NULL", "NULL\t10\t20\n", 0, 0, 10, 20},
      {"a code outside the table finds nothing", "A4\t4960\t7016\n", 37, 1, -1, -1},
      {"other lines may have any form", "garbage\n\n#A4\nCUSTOM3\t3000\t4000\n", 30, 0, 3000, 4000},
      {"an empty file", "", 1, 1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TextStream stream(c.text);
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(c.result, getPaperInf(stream.get(), c.paperType, width, height));
    EXPECT_EQ(c.width, width);
    EXPECT_EQ(c.height, height);
  }
  std::int32_t width = -1, height = -1;
  EXPECT_EQ(-1, getPaperInf(nullptr, 1, width, height));
}

// The shipped paper file must give a size for every paper name.
TEST(GetPaperInf, SampleFileCoversEveryPaper) {
  const std::string path = std::string(QV_SOURCE_DIR) + "/samples/mono/paperinf";
  for (std::int32_t code = 1; code < QV_COMMAND_VALUE_PT_COUNT; ++code) {
    SCOPED_TRACE(QV_COMMAND_VALUE_PT[code]);
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(nullptr, file);
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(0, getPaperInf(file, code, width, height));
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    if (code == 1) {  // A4 must not be shadowed by the A4L line
      EXPECT_EQ(4960, width);
      EXPECT_EQ(7016, height);
    }
    std::fclose(file);
  }
}

}  // namespace
