// Settings file parsing: section structure, items, numbers, odd lines.
#include "colour/qvresource.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "colour/option.h"
#include "tests/support/run_program.h"

namespace {

struct Loaded {
  unsigned int status;
  std::string err;
};

// Loads `text` as a settings file into the defaults, capturing stderr.
Loaded loadSettings(const std::string& text) {
  qvtest::ScopedTempDir dir;
  const std::string path = dir.file("qv.rc");
  qvtest::writeFile(path, text);
  ResetRcInfo();
  testing::internal::CaptureStderr();
  const unsigned int status = LoadRcFile(path.c_str(), &g_rcInfo);
  return {status, testing::internal::GetCapturedStderr()};
}

const char* word(const char* key) { return GetOption(key); }
std::int16_t number(int index) { return tblQvParams[static_cast<std::size_t>(index)].nValue; }

constexpr const char* kRcError = "Error: invalid printer name at rc-file !!\n";

TEST(LoadRcFile, SectionStructure) {
  struct Case {
    const char* why;
    std::string text;
    unsigned int status;
    const char* printerName;  // checked when status is 0
  };
  const Case cases[] = {
      {"comments and empty lines only: defaults, no printer name", "# c\n\n   \n#x=1\n", 0, ""},
      {"header then settings", "[QV-C600]\nCopies=2\n", 0, "QV-C600"},
      {"text after ] is ignored", "[QV-C600]trailing\n", 0, "QV-C600"},
      {"header without ] runs to the line end", "[QV-C600\n", 0, "QV-C600"},
      {"blanks inside the header are removed", " [ QV C600 ] \n", 0, "QVC600"},
      {"31 characters fit", "[" + std::string(31, 'n') + "]\n", 0, nullptr},
      {"32 characters do not", "[" + std::string(32, 'n') + "]\n", 5, nullptr},
      {"setting before the header, even a valid one", "Copies=2\n[QV]\n", 5, nullptr},
      {"a second header", "[QV]\n[QV2]\n", 5, nullptr},
      {"[ alone", "[\n", 5, nullptr},
      {"[] names no printer", "[]\n", 5, nullptr},
      {"a / would leave the printer directory", "[../etc]\n", 5, nullptr},
      {"a slash alone", "[a/b]\n", 5, nullptr},
      {".. inside the name", "[x..y]\n", 5, nullptr},
      {"CR LF: an empty line before the header is not empty", "\r\n[QV]\r\n", 5, nullptr},
      {"blanks before # still make a comment", "   \t# comment\n[QV]\n", 0, "QV"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Loaded loaded = loadSettings(c.text);
    EXPECT_EQ(c.status, loaded.status);
    EXPECT_EQ(c.status == 5 ? kRcError : "", loaded.err);
    if (c.status == 0 && c.printerName != nullptr) {
      EXPECT_STREQ(c.printerName, g_rcInfo.szPrinterName);
    }
  }
}

TEST(LoadRcFile, CannotOpen) {
  ResetRcInfo();
  testing::internal::CaptureStderr();
  EXPECT_EQ(1u, LoadRcFile("/nonexistent/qv.rc", &g_rcInfo));
  EXPECT_EQ("Error: /nonexistent/qv.rc :cannot open file !!\n",
            testing::internal::GetCapturedStderr());

  qvtest::ScopedTempDir dir;  // opens, but reads fail: not a file of defaults
  testing::internal::CaptureStderr();
  EXPECT_EQ(1u, LoadRcFile(dir.path().c_str(), &g_rcInfo));
  EXPECT_EQ("Error: " + dir.path() + " :cannot open file !!\n",
            testing::internal::GetCapturedStderr());
}

TEST(LoadRcFile, SettingsValues) {
  struct Case {
    const char* why;
    std::string body;  // after the header
    std::function<void()> check;
  };
  const Case cases[] = {
      {"defaults", "",
       [] {
         EXPECT_STREQ("A4", word("PageSize"));
         EXPECT_STREQ("Fine", word("QVResolution"));
         EXPECT_STREQ("OFF", word("QVSkipBlank"));
         EXPECT_EQ(1, number(kParamCopies));
       }},
      {"a blank inside the value is removed", "PageSize = JIS B5\n",
       [] { EXPECT_STREQ("JISB5", word("PageSize")); }},
      {"item words are case-sensitive", "PageSize=jisb5\n",
       [] { EXPECT_STREQ("A4", word("PageSize")); }},
      {"keys are case-sensitive", "pagesize=Letter\n",
       [] { EXPECT_STREQ("A4", word("PageSize")); }},
      {"the last accepted line wins", "QVResolution=Normal\nQVResolution=Fine\n",
       [] { EXPECT_STREQ("Fine", word("QVResolution")); }},
      {"an unknown word keeps the earlier choice", "QVResolution=Normal\nQVResolution=Best\n",
       [] { EXPECT_STREQ("Normal", word("QVResolution")); }},
      {"Language canada is item 1", "Language=canada\n",
       [] { EXPECT_EQ(1, tblQvParams[kParamLanguage].nIndex); }},
      {"CR LF: a value keeps its CR and selects nothing; a number still converts",
       "QVDuplex=DuplexTumble\r\nCopies=3\r\n",
       [] {
         EXPECT_STREQ("None", word("QVDuplex"));
         EXPECT_EQ(3, number(kParamCopies));
       }},
      {"a number stops at the first non-digit", "Copies=3x\n",
       [] { EXPECT_EQ(3, number(kParamCopies)); }},
      {"no digits store 0", "Copies=many\n", [] { EXPECT_EQ(0, number(kParamCopies)); }},
      {"a further = belongs to the value", "Copies==3\n",
       [] { EXPECT_EQ(0, number(kParamCopies)); }},
      {"negative numbers", "Brightness=-20\nContrast = - 5\n",
       [] {
         EXPECT_EQ(-20, number(kParamBrightness));
         EXPECT_EQ(-5, number(kParamContrast));
       }},
      {"numbers beyond 16 bits clamp instead of wrapping", "Copies=65537\nRedKey=-70000\n",
       [] {
         EXPECT_EQ(32767, number(kParamCopies));
         EXPECT_EQ(-32768, number(kParamRedKey));
       }},
      {"lines without = and unknown keys are ignored", "Copies\nColour=Red\nCopies=4\n",
       [] { EXPECT_EQ(4, number(kParamCopies)); }},
      {"a selection word on a numerical key changes nothing", "Copies=ON\nCollate=3\n",
       [] {
         EXPECT_EQ(0, number(kParamCopies));
         EXPECT_STREQ("OFF", word("Collate"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Loaded loaded = loadSettings("[QV]\n" + c.body);
    ASSERT_EQ(0u, loaded.status) << loaded.err;
    EXPECT_EQ("", loaded.err);
    c.check();
  }
}

// A line longer than the read buffer is one line: its tail is never read as
// a line of its own.
TEST(LoadRcFile, LongLines) {
  const std::string longComment = "#" + std::string(1500, 'c') + "Copies=7";
  Loaded loaded = loadSettings(longComment + "\n[QV]\n" + longComment + "\n");
  EXPECT_EQ(0u, loaded.status) << "the tail of a long comment before the header is no setting";
  EXPECT_EQ(1, number(kParamCopies));

  loaded = loadSettings("[QV]\nCopies=" + std::string(1100, '0') + "9\n");
  EXPECT_EQ(0u, loaded.status);
  EXPECT_EQ(1, number(kParamCopies)) << "an over-long setting is ignored, not half-read";

  loaded = loadSettings("[QV]\n" + std::string(2000, ' ') + "Copies=5\n");
  EXPECT_EQ(0u, loaded.status);
  EXPECT_EQ(5, number(kParamCopies)) << "blanks do not count towards the length";

  loaded = loadSettings(std::string(1100, 'x') + "\n[QV]\n");
  EXPECT_EQ(5u, loaded.status) << "a long setting line before the header";
}

TEST(ParamSearch, SplitsAtTheFirstEquals) {
  ResetRcInfo();
  char value[8];
  EXPECT_EQ(-2, ParamSearch("Copies", value, sizeof value));
  EXPECT_EQ(-1, ParamSearch("Copy=2", value, sizeof value));
  EXPECT_EQ(kParamQVSkipBlank, ParamSearch("QVSkipBlank=ON", value, sizeof value));
  EXPECT_STREQ("ON", value);
  EXPECT_EQ(kParamPageSize, ParamSearch("PageSize=FanFoldGermanLegal", value, sizeof value));
  EXPECT_STREQ("FanFold", value) << "the value is cut to the caller's buffer";
}

TEST(ReadLine, ReturnsPiecesOfLongLines) {
  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("f"), "abcdef\ngh");
  std::FILE* fp = std::fopen(dir.file("f").c_str(), "r");
  ASSERT_NE(nullptr, fp);
  char buf[5];
  EXPECT_STREQ("abcd", ReadLine(buf, sizeof buf, fp));
  EXPECT_STREQ("ef", ReadLine(buf, sizeof buf, fp));
  EXPECT_STREQ("gh", ReadLine(buf, sizeof buf, fp)) << "a last line without a line feed";
  EXPECT_EQ(nullptr, ReadLine(buf, sizeof buf, fp));
  std::fclose(fp);
}

// Lookups on the job's settings record.
TEST(SettingsLookup, ItemWordsAndInnerValues) {
  ASSERT_EQ(0u, loadSettings("[QV]\n").status);
  EXPECT_EQ(9, GetPjpInnerValue(kParamPageSize, &g_rcInfo));
  EXPECT_EQ(2, GetPjpInnerValue(kParamQVResolution, &g_rcInfo)) << "Fine by default";
  EXPECT_EQ(nullptr, GetOption("pagesize"));
  EXPECT_EQ(nullptr, GetOption("collate"));
  EXPECT_EQ(nullptr, GetOption("Copies")) << "a numerical setting has no item word";

  ASSERT_EQ(0u, loadSettings("[QV]\nQVMonoColor=Mono\nMediaType=BOND\nPageSize=Qv3x5\n").status);
  EXPECT_EQ(0, GetPjpInnerValue(kParamQVMonoColor, &g_rcInfo));
  EXPECT_EQ(6, GetPjpInnerValue(kParamMediaType, &g_rcInfo)) << "inner values skip 4";
  EXPECT_STREQ("Qv3x5", GetOption("PageSize"));
  EXPECT_EQ(261, GetPjpInnerValue(kParamPageSize, &g_rcInfo));
  ResetRcInfo();
}

}  // namespace
