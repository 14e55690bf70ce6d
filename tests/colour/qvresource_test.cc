// Settings file parsing: section structure, items, numbers, odd lines.
#include "colour/qvresource.h"

#include <gtest/gtest.h>

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
      {"a / would leave the printer directory", "[a/b]\n", 5, nullptr},
      {".. would leave it too", "[..]\n", 5, nullptr},
      {"dots inside a name are harmless", "[x..y]\n", 0, "x..y"},
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

// Every case loads "[QV]" and its lines, then looks at one parameter: the
// chosen item word of a selection, or the value of a number.
TEST(LoadRcFile, SettingsValues) {
  struct Case {
    const char* why;
    std::string body;
    const char* key;
    const char* word;  // null: the parameter is numerical
    int number = 0;
  };
  const Case cases[] = {
      {"default page size", "", "PageSize", "A4"},
      {"default resolution", "", "QVResolution", "Fine"},
      {"Copies not mentioned", "", "Copies", nullptr, 1},
      {"a blank inside the value is removed", "PageSize = JIS B5\n", "PageSize", "JISB5"},
      {"item words are case-sensitive", "PageSize=jisb5\n", "PageSize", "A4"},
      {"keys are case-sensitive", "pagesize=Letter\n", "PageSize", "A4"},
      {"the last accepted line wins", "QVResolution=Normal\nQVResolution=Fine\n", "QVResolution",
       "Fine"},
      {"an unknown word keeps the earlier choice", "QVResolution=Normal\nQVResolution=Best\n",
       "QVResolution", "Normal"},
      {"Language canada", "Language=canada\n", "Language", "canada"},
      {"CR LF: a value keeps its CR and selects nothing", "QVDuplex=DuplexTumble\r\n", "QVDuplex",
       "None"},
      {"CR LF: a number still converts", "Copies=3\r\n", "Copies", nullptr, 3},
      {"a number stops at the first non-digit", "Copies=3x\n", "Copies", nullptr, 3},
      {"no digits store 0", "Copies=many\n", "Copies", nullptr, 0},
      {"a further = belongs to the value", "Copies==3\n", "Copies", nullptr, 0},
      {"a negative number", "Brightness=-20\n", "Brightness", nullptr, -20},
      {"a blank between sign and digits is removed", "Contrast = - 5\n", "Contrast", nullptr, -5},
      {"65537 keeps its low 16 bits", "Copies=65537\n", "Copies", nullptr, 1},
      {"40000 keeps its low 16 bits", "BlueKey=40000\n", "BlueKey", nullptr, -25536},
      {"-70000 keeps its low 16 bits", "RedKey=-70000\n", "RedKey", nullptr, -4464},
      {"lines without = and unknown keys are ignored", "Copies\nColour=Red\nCopies=4\n", "Copies",
       nullptr, 4},
      {"a word on a numerical key stores 0", "Copies=ON\n", "Copies", nullptr, 0},
      {"a number on a selection key changes nothing", "Collate=1\n", "Collate", "OFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Loaded loaded = loadSettings("[QV]\n" + c.body);
    ASSERT_EQ(0u, loaded.status) << loaded.err;
    EXPECT_EQ("", loaded.err);
    char value[8];
    const int index = ParamSearch((std::string(c.key) + "=").c_str(), value, sizeof value);
    if (c.word != nullptr)
      EXPECT_STREQ(c.word, GetOption(c.key));
    else
      EXPECT_EQ(c.number, tblQvParams[static_cast<std::size_t>(index)].nValue);
  }
}

// A line longer than 1023 characters is read in pieces of 1023, and every
// piece is a line of its own, blanks and all.
TEST(LoadRcFile, LongLinesArePieces) {
  const std::string filler(1022, 'c');  // "#" + filler fill the first piece
  struct Case {
    const char* why;
    std::string text;
    unsigned int status;
    int copies;
  };
  const Case cases[] = {
      {"the tail of a long comment is read as a setting", "[QV]\n#" + filler + "Copies=7\n", 0, 7},
      {"a tail that begins with # stays a comment", "[QV]\n#" + filler + "#Copies=7\n", 0, 1},
      {"a tail before the header fails", "#" + filler + "tail\n[QV]\n", 5, 1},
      {"blanks count towards the length", "[QV]\nCopies=" + std::string(1016, ' ') + "5\n", 0, 0},
      {"a tail that names no key is ignored", "[QV]\nCopies=4" + std::string(1015, ' ') + "=9\n", 0,
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Loaded loaded = loadSettings(c.text);
    EXPECT_EQ(c.status, loaded.status);
    EXPECT_EQ(c.copies, number(kParamCopies));
  }
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

}  // namespace
