// tests/e2e/mono_entry_test.cc - rawtoqv as the spooler runs it: every way
// the entry refuses a job, with its exact message and exit status, and the
// rule that a refused job sends the printer nothing.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

// Files a case may name as "@name": settings files rc, rc1200, rc300,
// rcLetter, rcBad; paper files pi, piZero, piTall, piWide; "@dir" is the
// scratch directory, "@longrc" a settings file whose path has 254
// characters, "@long" a 256-character path.
class MonoEntryFiles {
 public:
  MonoEntryFiles() {
    const std::map<std::string, std::string> files = {
        {"rc", "[QV]\nPaperType=A4\n"},
        {"rc1200", "[QV]\nPaperType=A4\nResolution=1200\n"},
        {"rc300", "[QV]\nPaperType=A4\nResolution=300\n"},
        {"rcLetter", "[QV]\nPaperType=Letter\n"},
        {"rcBad", "Copies=2\n[QV]\n"},
        {"pi", "A4\t4960\t7016\n"},
        {"piZero", "A4\t0\t7016\n"},
        {"piTall", "A4\t4960\t40000\n"},
        {"piWide", "A4\t32768\t7016\n"},
        {"piNoFields", "A4\t4960\nA4L\t6614\t4677\n"},
    };
    for (const auto& [name, text] : files) qvtest::writeFile(dir_.file(name), text);
    longRc_ = dir_.file(std::string(254 - dir_.path().size() - 1, 'r'));
    qvtest::writeFile(longRc_, "[QV]\nPaperType=A4\n");
  }
  std::string expand(const std::string& word) const {
    if (word == "@longrc") return longRc_;
    if (word == "@long") return "/" + std::string(255, 'p');
    if (word == "@dir") return dir_.path();
    return word.starts_with('@') ? dir_.file(word.substr(1)) : word;
  }
  // The run of `args` (words separated by blanks, "@name" expanded).
  qvtest::ProgramResult run(const std::string& args,
                            std::map<std::string, std::string> env = {}) const {
    qvtest::ProgramRun run;
    run.path = RAWTOQV_PATH;
    for (const std::string& word : monotest::words(args)) run.args.push_back(expand(word));
    run.env = std::move(env);
    run.input = std::string(620, '\0');  // a row the job would read
    return qvtest::runProgram(run);
  }

 private:
  qvtest::ScopedTempDir dir_;
  std::string longRc_;
};

TEST(MonoEntry, RefusedJobsSendNothing) {
  const MonoEntryFiles files;
  struct Case {
    const char* why;
    std::string args;
    int status;
    std::string err;  // "@name" in a subject stands for the file's path
  };
  const Case cases[] = {
      {"no arguments: the empty settings path", "", 1, "Error:  :cannot open file !!\n"},
      {"18 command-line words",
       "-rc @rc -pi @pi -owner a -owner a -owner a -owner a -owner a -owner a x", 2,
       "Error: invalid option !!\n"},
      {"a second input file after an openable one", "-rc @rc @pi second", 2,
       "Error: second :invalid option !!\n"},
      {"the input file cannot be opened", "-rc @rc @missing", 1,
       "Error: @missing :cannot open file !!\n"},
      {"the input is a directory", "-rc @rc @dir", 1, "Error: @dir :cannot open file !!\n"},
      {"the settings file cannot be opened", "-rc @missing", 1,
       "Error: @missing :cannot open file !!\n"},
      {"a key line before the section", "-rc @rcBad -pi @pi", 2, "Error: invalid option !!\n"},
      {"a 254-character settings path without -func", "-rc @longrc -pi @pi", 2,
       "Error: invalid option !!\n"},
      {"no page size and no paper file", "-rc @rc", 1, "Error: paperinf :cannot open file !!\n"},
      {"only a width from -ps, no paper file", "-rc @rc -ps 4960", 1,
       "Error: paperinf :cannot open file !!\n"},
      {"the paper file cannot be opened", "-rc @rc -pi @missing", 1,
       "Error: @missing :cannot open file !!\n"},
      {"the paper type is not in the paper file", "-rc @rcLetter -pi @pi", 2,
       "Error: invalid option !!\n"},
      {"the paper's first line lacks its height", "-rc @rc -pi @piNoFields", 2,
       "Error: invalid option !!\n"},
      // Mended: a value option as the last word; paths past 255 characters.
      {"-rc as the last word", "-rc", 2, "Error: -rc :invalid option !!\n"},
      {"-enable-euf as the last word", "-rc @rc -enable-euf", 2,
       "Error: -enable-euf :invalid option !!\n"},
      {"a 256-character -pi path", "-rc @rc -pi @long", 2, "Error: -pi :invalid option !!\n"},
      {"a 256-character -rc path", "-rc @long", 2, "Error: -rc :invalid option !!\n"},
      {"a 256-character -func path", "-func @long -rc @rc", 2, "Error: -func :invalid option !!\n"},
      // Mended: pages without rows, or beyond the writer's 16-bit counts.
      {"a zero width from -ps", "-rc @rc -ps 0x7016", 2, "Error: -ps :invalid option !!\n"},
      {"a negative height from -ps", "-rc @rc -ps 4960x-3", 2, "Error: -ps :invalid option !!\n"},
      {"a height that doubles past 32767", "-rc @rc1200 -ps 4960x16384", 2,
       "Error: -ps :invalid option !!\n"},
      {"a one-dot page vanishes at 300 dpi", "-rc @rc300 -ps 1x1", 2,
       "Error: -ps :invalid option !!\n"},
      {"a -ps width past 32 bits", "-rc @rc -ps 99999999999x7016", 2,
       "Error: -ps :invalid option !!\n"},
      {"a zero width from the paper file", "-rc @rc -pi @piZero", 2, "Error: invalid option !!\n"},
      {"a paper file height past 32767", "-rc @rc -pi @piTall", 2, "Error: invalid option !!\n"},
      {"a paper file width past 32767", "-rc @rc -pi @piWide", 2, "Error: invalid option !!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const qvtest::ProgramResult result = files.run(c.args);
    ASSERT_TRUE(result.exited());
    EXPECT_EQ(c.status, result.status);
    std::string err = c.err;
    if (const std::size_t at = err.find('@'); at != std::string::npos) {
      const std::size_t end = err.find(' ', at);
      err.replace(at, end - at, files.expand(err.substr(at, end - at)));
    }
    EXPECT_EQ(err, result.err);
    EXPECT_EQ("", result.out) << "a refused job must send the printer nothing";
  }
  // The environment never stands in for a missing -rc.
  EXPECT_EQ("Error:  :cannot open file !!\n",
            files.run("", {{"OWNER", "alice"}, {"TITLE", "t"}, {"CHARSET", "euc-jp"}}).err);
}

// The 253-character limit on the settings path applies only without -func.
TEST(MonoEntry, LongSettingsPathIsAcceptedWithFunc) {
  const qvtest::ProgramResult result = MonoEntryFiles().run("-func f -rc @longrc -pi @pi");
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_TRUE(result.out.starts_with("\x1b%-12345X@PJL\n"));
}

}  // namespace
