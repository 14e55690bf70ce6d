// rawtoqv_test.cc - the entry in process: refused jobs and job settings.
#include "mono/rawtoqv.h"

#include <map>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

class RawtoqvEntry : public testing::Test {
 protected:
  RawtoqvEntry() {
    for (const auto& row : monotest::tableRows(R"(
rc | [QV]\nPaperType=A4\n
rc1200 | [QV]\nPaperType=A4\nResolution=1200\n
rc300 | [QV]\nPaperType=A4\nResolution=300\n
rc600x300 | [QV]\nPaperType=A4\nResolution=600x300\n
rcXR | [QV]\nPaperType=A4\nResolution=XR1200B\n
rcOdd | [QV]\nPaperType=A4\nResolution=NoSuchMode\n
rcLetter | [QV]\nPaperType=Letter\n
rcBad | Copies=2\n[QV]\n
pi | A4\t4960\t7016\n
piZero | A4\t0\t7016\n
piTall | A4\t4960\t40000\n
piWide | A4\t32768\t7016\n
piNoFields | A4\t4960\nA4L\t6614\t4677\n)"))
      qvtest::writeFile(dir_.file(row[0]), row[1]);
    qvtest::writeFile(expand("@longrc"), "[QV]\nPaperType=A4\n");
  }
  ~RawtoqvEntry() override {
    for (const char* name : qvtest::kFilterVariables) ::unsetenv(name);
  }

  // "@name" is a file of the scratch directory; "@longrc" a settings file
  // with a 254-character path, "@long" a 256-character path; "@<n>x<text>"
  // is <text> n times.
  std::string expand(const std::string& word) const {
    if (word == "@longrc") return dir_.file(std::string(254 - dir_.path().size() - 1, 'r'));
    if (word == "@long") return "/" + std::string(255, 'p');
    if (word.size() > 2 && word[0] == '@' && std::isdigit(word[1])) {
      std::string out;
      for (int n = std::stoi(word.substr(1)); n > 0; --n) out += word.substr(word.find('x') + 1);
      return out;
    }
    return word.starts_with('@') ? dir_.file(word.substr(1)) : word;
  }

  // The entry (or its settings part) on blank-separated `args` ("-" is an
  // empty word; NAME=value sets a variable); stdout in out_, stderr in err_.
  int run(const std::string& args, bool prepareOnly = false) {
    for (const char* name : qvtest::kFilterVariables) ::unsetenv(name);
    std::vector<std::string> words = {"rawtoqv"};
    for (std::size_t at = 0, end = 0; at < args.size(); at = end + 1) {
      end = std::min(args.find(' ', at), args.size());
      const std::string word = args.substr(at, end - at);
      if (const std::size_t equals = word.find('=');
          word[0] >= 'A' && word[0] <= 'Z' && equals != std::string::npos)
        ::setenv(word.substr(0, equals).c_str(), expand(word.substr(equals + 1)).c_str(), 1);
      else if (!word.empty())
        words.push_back(word == "-" ? "" : expand(word));
    }
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    qv::UniqueFile in = monotest::fileWith(std::string(620, '\0')), out(std::tmpfile()), owner;
    std::FILE* input = in.get();
    const int argc = static_cast<int>(words.size());
    testing::internal::CaptureStderr();
    const int status = prepareOnly ? prepareRawtoqvJob(argc, argv.data(), settings_, owner, input)
                                   : runRawtoqv(argc, argv.data(), in.get(), out.get());
    err_ = testing::internal::GetCapturedStderr();
    std::fflush(out.get());
    out_ = monotest::contents(out.get());
    return status;
  }

  qvtest::ScopedTempDir dir_;
  std::string err_, out_;
  PrintSettings settings_{};
};

// args | exit status | message ("@name" in it is the file's path)
TEST_F(RawtoqvEntry, RefusedJobsSendNothing) {
  for (const auto& row : monotest::tableRows(R"(
# no arguments: the empty settings path; the environment never stands in
 | 1 | Error:  :cannot open file !!
-rc @rc -pi @pi -owner a -owner a -owner a -owner a -owner a -owner a x | 2 | Error: invalid option !!
-rc @rc @pi second | 2 | Error: second :invalid option !!
-rc @rc @missing | 1 | Error: @missing :cannot open file !!
-rc @missing | 1 | Error: @missing :cannot open file !!
-rc @rcBad -pi @pi | 2 | Error: invalid option !!
-rc @longrc -pi @pi | 2 | Error: invalid option !!
-rc @rc | 1 | Error: paperinf :cannot open file !!
-rc @rcLetter -pi @pi | 2 | Error: invalid option !!
-rc @rc -pi @piNoFields | 2 | Error: invalid option !!
-rc | 2 | Error: -rc :invalid option !!
-rc @rc -enable-euf | 2 | Error: -enable-euf :invalid option !!
-rc @rc -pi @long | 2 | Error: -pi :invalid option !!
-rc @long | 2 | Error: -rc :invalid option !!
-func @long -rc @rc | 2 | Error: -func :invalid option !!
-rc @rc -ps 0x7016 | 2 | Error: -ps :invalid option !!
-rc @rc1200 -ps 4960x16384 | 2 | Error: -ps :invalid option !!
-rc @rc300 -ps 1x1 | 2 | Error: -ps :invalid option !!
-rc @rc -pi @piZero | 2 | Error: invalid option !!
-rc @rc -pi @piTall | 2 | Error: invalid option !!
-rc @rc -pi @piWide | 2 | Error: invalid option !!)")) {
    SCOPED_TRACE(row[0]);
    EXPECT_EQ(std::stoi(row[1]), run(row[0] + " OWNER=alice TITLE=t"));
    std::string err = row[2];
    if (const std::size_t at = err.find('@'); at != std::string::npos) {
      const std::size_t end = err.find(' ', at);
      err.replace(at, end - at, expand(err.substr(at, end - at)));
    }
    EXPECT_EQ(err + "\n", err_);
    EXPECT_EQ("", out_) << "a refused job must send the printer nothing";
  }
  // The 253-character limit on the settings path applies only without -func; 17 words pass.
  EXPECT_EQ(0, run("-func f -rc @longrc -pi @pi -owner a -owner a -owner a -owner a -owner a"));
  EXPECT_TRUE(out_.starts_with("\x1b%-12345X@PJL\n"));
}

// args | environment | field | value
TEST_F(RawtoqvEntry, WhatTheCommandLineAndEnvironmentSet) {
  for (const auto& row : monotest::tableRows(R"(
# the key: four digits, missing or non-digits as 0; the variable as it is
-password 12 | | password | 1200
-password 1a3456 | | password | 1034
 | PASSWORD=abcdefgh | password | abcdefg
 | PASSWORD=ab\ncd | password | ab
-flags 123 -flags 4 | | flags | 42100000000000000000000000000000
-flags 0123456789abcdef0123456789ABCDEF01234567 | | flags | FEDCBA9876543210fedcba9876543210
# texts: the option wins, an empty one lets the variable fill; cut lengths; they stop at CR, LF
# or ESC; UTF-8 titles end at whole characters; EUC titles are converted with -enable-euf or flag 3/1
-owner @100xo | | owner | @63xo
 | NODENAME=@300xo | node | @78xo
-jobname @300xo | | title | @78xo
-owner alice | OWNER=bob | owner | alice
 | TITLE=minutes | title | minutes
 | TMPDIR=/var/spool/q | tmpdir | /var/spool/q
-owner alice\rbob | | owner | alice
-jobname R~%-12345X | | title | R
 | TITLE=a\n@PJL | title | a
 | CHARSET=@100xo | charset | @63xo
-jobname @30xあ | | title | @26xあ
-jobname abc\xffdef | | title | abc
-jobname abあ\xe3\x81 | | title | abあ
-jobname abc\xff | CHARSET=UTF-8 | title | abc\xff
-enable-euf YeS | CHARSET=euc-jp TITLE=\xa4\xa2\xa4\xa4 | title | あい
-flags f000 | CHARSET=euc-jp TITLE=\xa4\xa2\xa4\xa4 | title | あい
-offset 65596 | | offset | 65596
-offset 99999999999 | | offset | 2147483647
-ps 4962x7016 | | size | 4962x7016 4962x7016
-ps 4962 | | size | 4960x7016 4960x7016
# sizes from -ps, else from the paper file, scaled to the resolution
-rc @rc300 -ps 4961x7017 | | size | 2480x3508 2480x3508
-rc @rc600x300 | | size | 4960x3508 4960x3508
-rc @rcOdd | | size | 4960x7016 4960x7016
-rc @rc1200 -ps 16383x16383 | | size | 32766x32766 32766x32766)")) {
    SCOPED_TRACE(row[0] + " | " + row[1]);
    ASSERT_EQ(0, run("-rc @rc -pi @pi " + row[0] + " " + row[1], true));
    const PrintSettings& s = settings_;
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height) + " " +
                             std::to_string(s.paperWidth) + "x" + std::to_string(s.paperHeight);
    const std::string offset = std::to_string(s.offset), flags(s.flags, sizeof s.flags);
    const std::map<std::string, std::string> fields = {
        {"password", s.password}, {"owner", s.owner},     {"title", s.jobName},
        {"node", s.nodeName},     {"charset", s.charset}, {"tmpdir", s.tmpDir},
        {"size", size},           {"offset", offset},     {"flags", flags}};
    EXPECT_EQ(expand(row.size() > 3 ? row[3] : ""), fields.at(row[2]));
  }
}

}  // namespace
