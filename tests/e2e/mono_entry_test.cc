// tests/e2e/mono_entry_test.cc - rawtoqv as the spooler runs it: every way
// the entry refuses a job, with its exact message and exit status, and the
// rule that a refused job sends the printer nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

// Files every case may name: "@rc" (valid settings), "@pi" (paper file with
// A4), "@page" (one blank A4 page), "@dir" (the scratch directory itself).
class MonoEntryFiles {
 public:
  MonoEntryFiles() {
    qvtest::writeFile(dir_.file("rc"), "[QV]\nPaperType=A4\n");
    qvtest::writeFile(dir_.file("rc1200"), "[QV]\nPaperType=A4\nResolution=1200\n");
    qvtest::writeFile(dir_.file("rc300"), "[QV]\nPaperType=A4\nResolution=300\n");
    qvtest::writeFile(dir_.file("rcLetter"), "[QV]\nPaperType=Letter\n");
    qvtest::writeFile(dir_.file("rcBad"), "Copies=2\n[QV]\n");
    qvtest::writeFile(dir_.file("pi"), "A4\t4960\t7016\n");
    qvtest::writeFile(dir_.file("piZero"), "A4\t0\t7016\n");
    qvtest::writeFile(dir_.file("piTall"), "A4\t4960\t40000\n");
    qvtest::writeFile(dir_.file("page"), "");
    // A settings file whose path has exactly 254 characters.
    const std::size_t nameLength = 254 - dir_.path().size() - 1;
    longRc_ = dir_.file(std::string(nameLength, 'r'));
    qvtest::writeFile(longRc_, "[QV]\nPaperType=A4\n");
  }
  // Replaces a leading "@name" by the file's path, "@longrc" by the
  // 254-character settings path.
  std::string expand(const std::string& word) const {
    if (word == "@longrc") return longRc_;
    if (word == "@dir") return dir_.path();
    if (!word.empty() && word[0] == '@') return dir_.file(word.substr(1));
    return word;
  }
  std::string expandAll(std::string text) const {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
      std::size_t end = at + 1;
      while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
      const std::string path = expand(text.substr(at, end - at));
      text.replace(at, end - at, path);
      at += path.size();
    }
    return text;
  }

 private:
  qvtest::ScopedTempDir dir_;
  std::string longRc_;
};

TEST(MonoEntry, RefusedJobsSendNothing) {
  const MonoEntryFiles files;
  const std::string longPath = "/" + std::string(255, 'p');  // 256 characters
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int status;
    std::string err;  // "@name" stands for the file's path
  };
  const Case cases[] = {
      {"no arguments: the empty settings path cannot be opened",
       {},
       {},
       1,
       "Error:  :cannot open file !!\n"},
      {"the environment never stands in for a missing -rc",
       {},
       {{"OWNER", "alice"}, {"TITLE", "t"}, {"CHARSET", "euc-jp"}},
       1,
       "Error:  :cannot open file !!\n"},
      {"18 command-line words",
       {"-rc", "@rc", "-pi", "@pi", "-owner", "a", "-owner", "a", "-owner", "a", "-owner", "a",
        "-owner", "a", "-owner", "a", "x"},
       {},
       2,
       "Error: invalid option !!\n"},
      {"a second input file, even after an openable first",
       {"-rc", "@rc", "@page", "second"},
       {},
       2,
       "Error: second :invalid option !!\n"},
      {"the input file cannot be opened",
       {"-rc", "@rc", "@missing"},
       {},
       1,
       "Error: @missing :cannot open file !!\n"},
      {"the input is a directory",
       {"-rc", "@rc", "@dir"},
       {},
       1,
       "Error: @dir :cannot open file !!\n"},
      {"the settings file cannot be opened",
       {"-rc", "@missing"},
       {},
       1,
       "Error: @missing :cannot open file !!\n"},
      {"the settings file has a key line before its section",
       {"-rc", "@rcBad", "-pi", "@pi"},
       {},
       2,
       "Error: invalid option !!\n"},
      {"a 254-character settings path without -func",
       {"-rc", "@longrc", "-pi", "@pi"},
       {},
       2,
       "Error: invalid option !!\n"},
      {"no page size and no paper file",
       {"-rc", "@rc"},
       {},
       1,
       "Error: paperinf :cannot open file !!\n"},
      {"only a width from -ps and no paper file",
       {"-rc", "@rc", "-ps", "4960"},
       {},
       1,
       "Error: paperinf :cannot open file !!\n"},
      {"the paper file cannot be opened",
       {"-rc", "@rc", "-pi", "@missing"},
       {},
       1,
       "Error: @missing :cannot open file !!\n"},
      {"the paper type is not in the paper file",
       {"-rc", "@rcLetter", "-pi", "@pi"},
       {},
       2,
       "Error: invalid option !!\n"},
      // Mended: a value option as the last word has no value.
      {"-rc as the last word", {"-rc"}, {}, 2, "Error: -rc :invalid option !!\n"},
      {"-ps as the last word", {"-rc", "@rc", "-ps"}, {}, 2, "Error: -ps :invalid option !!\n"},
      {"-enable-euf as the last word",
       {"-rc", "@rc", "-enable-euf"},
       {},
       2,
       "Error: -enable-euf :invalid option !!\n"},
      // Mended: paths that do not fit the 255-character buffers.
      {"a 256-character -pi path",
       {"-rc", "@rc", "-pi", longPath},
       {},
       2,
       "Error: -pi :invalid option !!\n"},
      {"a 256-character -rc path", {"-rc", longPath}, {}, 2, "Error: -rc :invalid option !!\n"},
      {"a 256-character -func path",
       {"-func", longPath, "-rc", "@rc"},
       {},
       2,
       "Error: -func :invalid option !!\n"},
      // Mended: pages without rows, or taller than 16-bit row counts.
      {"a zero width from -ps",
       {"-rc", "@rc", "-ps", "0x7016"},
       {},
       2,
       "Error: -ps :invalid option !!\n"},
      {"a negative height from -ps",
       {"-rc", "@rc", "-ps", "4960x-3"},
       {},
       2,
       "Error: -ps :invalid option !!\n"},
      {"a -ps height that doubles past 32767 rows",
       {"-rc", "@rc1200", "-ps", "4960x16384"},
       {},
       2,
       "Error: -ps :invalid option !!\n"},
      {"a one-dot page vanishes at 300 dpi",
       {"-rc", "@rc300", "-ps", "1x1"},
       {},
       2,
       "Error: -ps :invalid option !!\n"},
      {"a -ps width that overflows 32 bits",
       {"-rc", "@rc", "-ps", "99999999999x7016"},
       {},
       2,
       "Error: -ps :invalid option !!\n"},
      {"a zero width from the paper file",
       {"-rc", "@rc", "-pi", "@piZero"},
       {},
       2,
       "Error: invalid option !!\n"},
      {"a paper file height above 32767 rows",
       {"-rc", "@rc", "-pi", "@piTall"},
       {},
       2,
       "Error: invalid option !!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    qvtest::ProgramRun run;
    run.path = RAWTOQV_PATH;
    for (const std::string& word : c.args) run.args.push_back(files.expand(word));
    run.env = c.env;
    run.input = std::string(620, '\0');  // a row the job would read
    const qvtest::ProgramResult result = qvtest::runProgram(run);
    ASSERT_TRUE(result.exited());
    EXPECT_EQ(c.status, result.status);
    EXPECT_EQ(files.expandAll(c.err), result.err);
    EXPECT_EQ("", result.out) << "a refused job must send the printer nothing";
  }
}

// The 253-character limit on the settings path applies only without -func.
TEST(MonoEntry, LongSettingsPathIsAcceptedWithFunc) {
  const MonoEntryFiles files;
  qvtest::ProgramRun run;
  run.path = RAWTOQV_PATH;
  run.args = {"-func", "f", "-rc", files.expand("@longrc"), "-pi", files.expand("@pi")};
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_TRUE(result.out.starts_with("\x1b%-12345X@PJL\n"));
}

}  // namespace
