// Settings conversion and command line: from argv and the settings file to the
// job record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "colour/rastertoqv.h"
#include "tests/colour/colour_front_fixture.h"

namespace {

// A settings file, a paper information file and the geometry of a printer of
// the test's own.
class ConvertTest : public testing::Test {
 protected:
  void SetUp() override {
    printer_.writeStandardGeometry();
    qvtest::writeFile(dir_.file("paperinf"), qvtest::kSmallPaperInf);
    ResetRcInfo();
  }
  void TearDown() override { ResetRcInfo(); }

  // Runs PrepareLPRngPrint with the given settings lines after the header.
  int prepare(const std::string& settings, PjpInfo& job) {
    qvtest::writeFile(dir_.file("qv.rc"), "[" + printer_.name() + "]\n" + settings);
    rcPath_ = dir_.file("qv.rc");
    paperPath_ = dir_.file("paperinf");
    job = PjpInfo{};
    job.pszRcFile = rcPath_.c_str();
    job.pszPaperInf = paperPath_.c_str();
    testing::internal::CaptureStderr();
    const int status = PrepareLPRngPrint(&job);
    err_ = testing::internal::GetCapturedStderr();
    return status;
  }

  qvtest::ScopedPrinterDir printer_;
  qvtest::ScopedTempDir dir_;
  std::string rcPath_, paperPath_, err_;
};

TEST_F(ConvertTest, DefaultsFillTheRecord) {
  PjpInfo job;
  ASSERT_EQ(0, prepare("", job)) << err_;
  EXPECT_EQ(9, job.wPageSize);
  EXPECT_EQ(2, job.wResolution) << "Fine";
  EXPECT_EQ(2, job.nColorMode) << "Auto";
  EXPECT_EQ(3, job.wColorMatching) << "Auto";
  EXPECT_EQ(1, job.nCopyCount) << "Copies not mentioned";
  EXPECT_EQ(0, job.nCollate);
  EXPECT_EQ(0, job.nDuplex);
  EXPECT_EQ(10, job.nWidth);
  EXPECT_EQ(4, job.nHeight);
  EXPECT_EQ(30u, job.nBytesPerLine) << "three bytes per pixel";
  EXPECT_EQ(595, job.nPaperWidth);
  EXPECT_EQ(842, job.nPaperLength);
}

TEST_F(ConvertTest, EverySettingReachesItsField) {
  PjpInfo job;
  ASSERT_EQ(0, prepare("MediaType=Glossy\nPageSize=Legal\nInputSlot=Manual\n"
                       "QVResolution=Normal\nCopies=3\nCollate=ON\nQVMonoColor=Mono\n"
                       "QVColorMatching=Vivid\nQVGray=ON\nQVEnhanceBlkPrt=ON\nTonerSaveMode=ON\n"
                       "QVImproveOutput=QVFixIntensity\nBrightness=-5\nContrast=6\nRedKey=7\n"
                       "GreenKey=-8\nBlueKey=9\nSaturation=10\nQVDuplex=DuplexNoTumble\n",
                       job))
      << err_;
  EXPECT_EQ(12, job.wMediaType);
  EXPECT_EQ(5, job.wPageSize);
  EXPECT_EQ(7, job.wInputSlot);
  EXPECT_EQ(1, job.wResolution);
  EXPECT_EQ(3, job.nCopyCount);
  EXPECT_EQ(1, job.nCollate);
  EXPECT_EQ(0, job.nColorMode);
  EXPECT_EQ(2, job.wColorMatching);
  EXPECT_EQ(1, job.wGray);
  EXPECT_EQ(1, job.wEnhanceBlack);
  EXPECT_EQ(1, job.wTonerSave);
  EXPECT_EQ(2, job.wImproveOutput);
  EXPECT_EQ(-5, job.nBrightness);
  EXPECT_EQ(6, job.nContrast);
  EXPECT_EQ(7, job.nRedKey);
  EXPECT_EQ(-8, job.nGreenKey);
  EXPECT_EQ(9, job.nBlueKey);
  EXPECT_EQ(2, job.nDuplex);
  EXPECT_EQ(12, job.nWidth) << "Legal from the paper information file";
  EXPECT_EQ(5, job.nHeight);
  EXPECT_EQ(36u, job.nBytesPerLine);
  EXPECT_EQ(612, job.nPaperWidth);
  EXPECT_EQ(1008, job.nPaperLength);
}

TEST_F(ConvertTest, FirstFailureIsReturned) {
  PjpInfo job;
  EXPECT_EQ(7, prepare("PageSize=A5\n", job)) << "A5 is not in the paper information file";
  EXPECT_EQ("Error: A5: paper info not found in paperinf !!\n", err_);

  qvtest::writeFile(dir_.file("qv.rc"), "Copies=2\n");
  job = PjpInfo{};
  job.pszRcFile = rcPath_.c_str();
  job.pszPaperInf = paperPath_.c_str();
  testing::internal::CaptureStderr();
  EXPECT_EQ(5, PrepareLPRngPrint(&job));
  EXPECT_EQ("Error: invalid printer name at rc-file !!\n", testing::internal::GetCapturedStderr());
}

struct ArgsResult {
  int status;
  std::string err;
  PjpInfo job;
};

// The record points into the argument vector, so the caller keeps `args`.
ArgsResult interpret(std::vector<std::string>& args) {
  args.insert(args.begin(), "rastertoqv");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ArgsResult r{};
  testing::internal::CaptureStderr();
  r.status = InterpretParameters(static_cast<int>(args.size()), argv.data(), &r.job);
  r.err = testing::internal::GetCapturedStderr();
  if (r.job.fpInput != nullptr && r.job.fpInput != stdin) std::fclose(r.job.fpInput);
  return r;
}

TEST(InterpretParameters, CommandLines) {
  qvtest::ScopedTempDir dir;
  const std::string input = dir.file("in.ppm");
  qvtest::writeFile(input, "P6\n1 1\n255\nabc");
  struct Case {
    const char* why;
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"paths only: stdin", {"-rc", "r", "-pi", "p"}, 0, ""},
      {"input file in any position", {input, "-pi", "p", "-rc", "r"}, 0, ""},
      {"a value that begins with -", {"-pi", "-rc", "-rc", "r"}, 0, ""},
      {"no arguments", {}, 2, "Error: invalid option !!\n"},
      {"-pi last leaves it unset", {"-rc", "r", "-pi"}, 2, "Error: invalid option !!\n"},
      {"-rc missing", {"-pi", "p"}, 2, "Error: invalid option !!\n"},
      {"options are case-sensitive: -PI is a file",
       {"-PI", "p"},
       1,
       "Error: -PI :cannot open file !!\n"},
      {"a second input file",
       {input, input, "-pi", "p", "-rc", "r"},
       2,
       "Error: " + input + " :invalid option !!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> args = c.args;
    const ArgsResult r = interpret(args);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.err, r.err);
  }

  std::vector<std::string> repeated = {"-pi", "a", "-rc", "b", "-pi", "c"};
  ArgsResult r = interpret(repeated);
  EXPECT_STREQ("c", r.job.pszPaperInf) << "a repeat replaces the earlier value";
  EXPECT_STREQ("b", r.job.pszRcFile);
  std::vector<std::string> dashValue = {"-pi", "-rc", "-rc", "r"};
  r = interpret(dashValue);
  EXPECT_STREQ("-rc", r.job.pszPaperInf);
  std::vector<std::string> pathsOnly = {"-rc", "r", "-pi", "p"};
  r = interpret(pathsOnly);
  EXPECT_EQ(stdin, r.job.fpInput);
}

}  // namespace
