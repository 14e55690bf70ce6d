// tests/mono/rawtoqv_test.cc - command line, environment, job title and page
// size, as the entry hands them to the job writer. The messages and exit
// statuses of the same paths are checked on the real binary in
// tests/e2e/mono_entry_test.cc.
#include "mono/rawtoqv.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

class RawtoqvEntry : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(cflags, '0', sizeof cflags);
    arg_offset = 0;
    for (const char* name : qvtest::kFilterVariables) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
      ::unsetenv(name);
    }
    setSettings("[QV]\nPaperType=A4\n");
    qvtest::writeFile(dir_.file("pi"), "A4\t4960\t7016\n");
  }
  void TearDown() override {
    for (const char* name : qvtest::kFilterVariables) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

  void setSettings(const std::string& text) { qvtest::writeFile(dir_.file("rc"), text); }

  // Runs the entry with the sample settings and paper files plus `args`;
  // `env` is set for the call. The result lands in settings_.
  int prepare(std::vector<std::string> args, const std::map<std::string, std::string>& env = {}) {
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<std::string> words = {"rawtoqv", "-rc", dir_.file("rc"), "-pi", dir_.file("pi")};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    qv::UniqueFile inputOwner;
    std::FILE* in = stdin;
    testing::internal::CaptureStderr();  // failures print their message
    const int status =
        prepareRawtoqvJob(static_cast<int>(words.size()), argv.data(), settings_, inputOwner, in);
    stderr_ = testing::internal::GetCapturedStderr();
    for (const auto& [name, value] : env) ::unsetenv(name.c_str());
    return status;
  }

  qvtest::ScopedTempDir dir_;
  PrintSettings settings_{};
  std::string stderr_;
  std::map<std::string, std::string> saved_;
};

TEST_F(RawtoqvEntry, Password) {
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* password;
  };
  const Case cases[] = {
      {"two digits get two zeros", {"-password", "12"}, {}, "1200"},
      {"letters become zeros, characters after the fourth go", {"-password", "1a3456"}, {}, "1034"},
      {"an empty value is four zeros", {"-password", ""}, {}, "0000"},
      {"the variable is taken as it is, 7 characters", {}, {{"PASSWORD", "abcdefgh"}}, "abcdefg"},
      {"the option wins over the variable", {"-password", "12"}, {{"PASSWORD", "9999"}}, "1200"},
      {"the variable stops at a line feed", {}, {{"PASSWORD", "ab\ncd"}}, "ab"},
      {"no password at all", {}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(0, prepare(c.args, c.env));
    EXPECT_STREQ(c.password, settings_.password);
  }
}

TEST_F(RawtoqvEntry, FlagsAreStoredReversed) {
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string cflagsStart;  // the first entries of cflags
  };
  const Case cases[] = {
      {"one digit sets digit 0 only", {"-flags", "1"}, "1000"},
      {"0008 sets digit 0 to 8 and digits 1-3 to 0", {"-flags", "0008"}, "8000"},
      {"f000 sets digit 3", {"-flags", "f000"}, "000f"},
      {"a shorter second value keeps the rest", {"-flags", "123", "-flags", "4"}, "4210"},
      {"40 digits: the first 32, reversed",
       {"-flags", "0123456789abcdef0123456789ABCDEF01234567"},
       "FEDCBA9876543210fedcba9876543210"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::memset(cflags, '0', sizeof cflags);
    ASSERT_EQ(0, prepare(c.args));
    EXPECT_EQ(c.cflagsStart, std::string(cflags, c.cflagsStart.size()));
  }
}

TEST_F(RawtoqvEntry, OwnerTitleAndNodeName) {
  using Field = char(PrintSettings::*)[144];
  const Field owner = &PrintSettings::owner, title = &PrintSettings::jobName,
              node = &PrintSettings::nodeName;
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    Field field;
    std::string expected;
  };
  auto o = [](std::size_t n) { return std::string(n, 'o'); };
  const Case cases[] = {
      {"a 100-character owner keeps 63", {"-owner", o(100)}, {}, owner, o(63)},
      {"a 200-character node name ends at 78", {"-nodename", o(200)}, {}, node, o(78)},
      {"a long variable is cut the same way", {}, {{"NODENAME", o(300)}}, node, o(78)},
      {"a long ASCII title ends at 78 bytes", {"-jobname", o(300)}, {}, title, o(78)},
      {"the option wins over OWNER", {"-owner", "alice"}, {{"OWNER", "bob"}}, owner, "alice"},
      {"an empty option lets OWNER fill", {"-owner", ""}, {{"OWNER", "bob"}}, owner, "bob"},
      {"the option wins over TITLE", {"-jobname", "report"}, {{"TITLE", "x"}}, title, "report"},
      {"TITLE fills an absent title", {}, {{"TITLE", "minutes"}}, title, "minutes"},
      {"the option wins over NODENAME", {"-nodename", "h1"}, {{"NODENAME", "h2"}}, node, "h1"},
      // Mended: texts that reach PJL lines stop at CR, LF or ESC.
      {"an owner stops at a carriage return", {"-owner", "alice\rbob"}, {}, owner, "alice"},
      {"a title cannot carry a universal exit", {"-jobname", "R\x1b%-12345X"}, {}, title, "R"},
      {"a title variable stops at a line feed", {}, {{"TITLE", "a\n@PJL"}}, title, "a"},
      {"a node name that starts with ESC is empty", {"-nodename", "\x1b*"}, {}, node, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(0, prepare(c.args, c.env));
    EXPECT_EQ(c.expected, std::string(settings_.*c.field));
  }
}

TEST_F(RawtoqvEntry, CharsetDefaultsToUtf8AndKeeps63Characters) {
  ASSERT_EQ(0, prepare({}));
  EXPECT_STREQ("utf-8", settings_.charset);
  ASSERT_EQ(0, prepare({}, {{"CHARSET", std::string(100, 'c')}}));
  EXPECT_EQ(std::string(63, 'c'), settings_.charset);
}

// "あい" in EUC-JP and in UTF-8.
const std::string kEucJp = "\xa4\xa2\xa4\xa4";
const std::string kUtf8 = "\xe3\x81\x82\xe3\x81\x84";

std::string converted(const std::string& title, const char* charset, bool euc) {
  char jobName[144];
  std::memset(jobName, 'Z', sizeof jobName);
  convertTitle(title.c_str(), charset, euc, jobName);
  return jobName;
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(ConvertTitle, CutsAtWholeCharactersWithin78Bytes) {
  struct Case {
    const char* why;
    std::string title;
    const char* charset;
    bool euc;
    std::string expected;
  };
  const std::string kana = "\xe3\x81\x82";       // 3 bytes
  const std::string eAcute = "\xc3\xa9";         // 2 bytes
  const std::string emoji = "\xf0\x9f\x96\xa8";  // 4 bytes
  const Case cases[] = {
      {"30 three-byte characters keep 26 (78 bytes)", repeat(kana, 30), "utf-8", false,
       repeat(kana, 26)},
      {"40 two-byte characters keep 39", repeat(eAcute, 40), "utf-8", false, repeat(eAcute, 39)},
      {"20 four-byte characters keep 19 (76 bytes)", repeat(emoji, 20), "utf-8", false,
       repeat(emoji, 19)},
      {"an invalid UTF-8 byte ends the title",
       "abc\xff"
       "def",
       "utf-8", false, "abc"},
      {"a character cut off at the end is dropped", "ab\xe3\x81", "utf-8", false, "ab"},
      {"charset names are case-sensitive", repeat(kana, 30), "UTF-8", false,
       repeat(kana, 30).substr(0, 78)},
      {"an unknown charset copies 78 bytes", std::string(100, 'x'), "latin1", true,
       std::string(78, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.expected, converted(c.title, c.charset, c.euc));
  }
}

TEST_F(RawtoqvEntry, EucConversionIsEnabledByOptionOrFlag) {
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {"-enable-euf in any letter case", {"-enable-euf", "YeS"}, kUtf8},
      {"flag digit 3 bit 1", {"-flags", "f000"}, kUtf8},
      {"another word leaves it off", {"-enable-euf", "no"}, kEucJp},
      {"off by default", {}, kEucJp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::memset(cflags, '0', sizeof cflags);
    ASSERT_EQ(0, prepare(c.args, {{"CHARSET", "euc-jp"}, {"TITLE", kEucJp}}));
    EXPECT_EQ(c.expected, settings_.jobName);
  }
}

TEST_F(RawtoqvEntry, PageSizeScalesToTheResolution) {
  struct Case {
    const char* resolution;
    std::vector<std::string> args;
    std::int32_t width, height;
  };
  const Case cases[] = {
      {"300", {"-ps", "4960x7016"}, 2480, 3508},
      {"600", {"-ps", "4960x7016"}, 4960, 7016},
      {"600x300", {"-ps", "4960x7016"}, 4960, 3508},
      {"1200", {"-ps", "4960x7016"}, 9920, 14032},
      {"XR1200A", {"-ps", "4960x7016"}, 9920, 14032},
      {"XR1200B", {"-ps", "4960x7016"}, 9920, 14032},
      {"NoSuchMode", {"-ps", "4960x7016"}, 4960, 7016},
      {"300", {"-ps", "4961x7017"}, 2480, 3508},            // truncated
      {"600", {"-ps", "4960"}, 4960, 7016},                 // no height: the paper file gives both
      {"600", {"-ps", "100x200", "-ps", "300"}, 300, 200},  // a missing part keeps its value
      {"600", {"-ps", "x200"}, 4960, 7016},                 // no width: the paper file
      {"600", {}, 4960, 7016},
      {"1200", {"-ps", "16383x16383"}, 32766, 32766},  // the largest page that fits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.resolution << " " << testing::PrintToString(c.args));
    setSettings(std::string("[QV]\nPaperType=A4\nResolution=") + c.resolution + "\n");
    ASSERT_EQ(0, prepare(c.args));
    EXPECT_EQ(c.width, settings_.width);
    EXPECT_EQ(c.height, settings_.height);
    EXPECT_EQ(c.width, settings_.paperWidth);
    EXPECT_EQ(c.height, settings_.paperHeight);
  }
}

// The refusals themselves are checked on the binary (mono_entry_test.cc);
// here the arithmetic that must not overflow on the way there.
TEST(ScalePageSize, RefusesWithoutOverflowAndKeepsTheLargestPage) {
  std::int32_t width = 7, height = 8;
  EXPECT_FALSE(scalePageSize(INT_MAX, INT_MAX, 4, width, height));
  EXPECT_EQ(7, width);
  EXPECT_TRUE(scalePageSize(5, 65534, 1, width, height));  // 300 dpi halves the rows
  EXPECT_EQ(32767, height);
}

TEST_F(RawtoqvEntry, Offset) {
  ASSERT_EQ(0, prepare({"-offset", "-36"}));
  EXPECT_EQ(-36, arg_offset);
  ASSERT_EQ(0, prepare({"-offset", "abc"}));  // not a number: left as it was
  EXPECT_EQ(-36, arg_offset);
  // Offsets beyond 16 bits are bounded, so that margin + offset cannot
  // overflow in the writer.
  ASSERT_EQ(0, prepare({"-offset", "99999999999"}));
  EXPECT_EQ(32767, arg_offset);
  ASSERT_EQ(0, prepare({"-offset", "-2147483648"}));
  EXPECT_EQ(-32768, arg_offset);
}

}  // namespace
