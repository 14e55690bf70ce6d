// Mfunc_test.cc - the PJL job header and trailer, line by line.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "colour/Mfunc.h"
#include "colour/send.h"

namespace {

constexpr const char* kVariables[] = {"PASSWORD", "OWNER", "TITLE", "QVREDVAL", "OUTPUTTRAY"};

// Sets the job's environment for one test and puts the caller's back.
class ScopedJobEnvironment {
 public:
  explicit ScopedJobEnvironment(const std::map<std::string, std::string>& values) {
    for (const char* name : kVariables) {
      if (const char* old = std::getenv(name)) saved_[name] = old;
      ::unsetenv(name);
    }
    for (const auto& [name, value] : values) ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~ScopedJobEnvironment() {
    for (const char* name : kVariables) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::map<std::string, std::string> saved_;
};

// Everything the writer sends while `write` runs, caught in a memory file.
std::string captureOutput(const std::function<void()>& write) {
  const int fd = ::memfd_create("qv-output", 0);
  setOutputFd(fd);
  write();
  setOutputFd(1);
  std::string bytes;
  char chunk[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(got));
  ::close(fd);
  return bytes;
}

// The record a settings file without settings gives: A4, colour Auto, toner
// saving off, Fine, no duplex, plain paper, auto tray, matching Auto.
PjpInfo defaultJob() {
  PjpInfo job{};
  job.wPageSize = 9;
  job.nColorMode = 2;
  job.wResolution = 2;
  job.wColorMatching = 3;
  job.nWidth = 4;
  job.nHeight = 3;
  job.nBytesPerLine = 12;
  return job;
}

std::string header(const PjpInfo& job, const std::map<std::string, std::string>& env = {}) {
  ScopedJobEnvironment scoped(env);
  PjpInfo copy = job;
  SendInfo send{};
  DevModeBlock dev{7, 7};
  send.pdev = &dev;
  return captureOutput([&] { MBeginJob(&copy, &send); });
}

const std::string kStart = "\x1b%-12345X@PJL \n";
const std::string kDefaultTail =
    "@PJL SET STRINGCODESET=UTF8\n@PJL SET PAPER=A4\n"
    "@PJL SET RENDERMODE=COLOR\n@PJL SET COLORADAPT=ON\n@PJL SET ECONOPRINT=OFF\n"
    "@PJL SET APTMODE=ON\n@PJL SET DUPLEX=OFF\n@PJL SET MEDIATYPE=REGULAR\n"
    "@PJL SET MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n@PJL SET LESSPAPERCURL=OFF\n"
    "@PJL SET FIXINTENSITYUP=OFF\n@PJL SET COLORMODE=AUTO\n@PJL SET FIDELITY=TRUE\n"
    "@PJL ENTER LANGUAGE=PWGRASTER\n";

TEST(PjlJobHeader, DefaultSettingsWithoutEnvironment) {
  EXPECT_EQ(kStart + "@PJL SET HOLD=OFF\n" + kDefaultTail, header(defaultJob()));
}

TEST(PjlJobHeader, SetsUpTheSendState) {
  PjpInfo job = defaultJob();
  SendInfo send{};
  DevModeBlock dev{7, 7};
  send.pdev = &dev;
  job.nCollate = 1;
  captureOutput([&] { MBeginJob(&job, &send); });
  EXPECT_EQ(3, send.nBandLines);
  EXPECT_EQ(1, send.nBandCount);
  EXPECT_EQ(3, send.nLastBandLines);
  EXPECT_EQ(4, send.nWidth);
  EXPECT_EQ(4, send.nBandWidth);
  EXPECT_EQ(12, send.wLineBytes);
  EXPECT_EQ(1, send.nCollate);
  EXPECT_EQ(0u, dev.nTempPageNo);
  EXPECT_EQ(0u, dev.nPrintedPages);
}

TEST(PjlJobHeader, EnvironmentLines) {
  struct Case {
    const char* why;
    std::map<std::string, std::string> env;
    std::string lines;  // between "@PJL \n" and the STRINGCODESET line
  };
  const Case cases[] = {
      {"empty PASSWORD is no password", {{"PASSWORD", ""}}, "@PJL SET HOLD=OFF\n"},
      {"PASSWORD selects secure print",
       {{"PASSWORD", "1234"}},
       "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=1234\n"},
      {"owner and title: four name lines in order",
       {{"OWNER", "ann"}, {"TITLE", "report"}},
       "@PJL SET HOLD=OFF\n@PJL SET USERNAME=\"ann\"\n@PJL SET JOBNAME=\"report\"\n"
       "@PJL SET LOGINUSER=\"ann\"\n@PJL JOB NAME=\"report\"\n"},
      {"a title cannot end the line or start a universal exit",
       {{"TITLE", "a\x1b%-12345X@PJL RESET"}, {"OWNER", "b\r\n@PJL X"}},
       "@PJL SET HOLD=OFF\n@PJL SET USERNAME=\"b\"\n@PJL SET JOBNAME=\"a\"\n"
       "@PJL SET LOGINUSER=\"b\"\n@PJL JOB NAME=\"a\"\n"},
      {"a password stops at a line feed",
       {{"PASSWORD", "12\n@PJL"}},
       "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=12\n"},
      {"QVREDVAL above 168 is entry 168",
       {{"QVREDVAL", "500"}},
       "@PJL SET HOLD=OFF\n@PJL SET SPECIALRED=0x009F9F\n"},
      {"QVREDVAL below 0 is entry 0",
       {{"QVREDVAL", "-3"}},
       "@PJL SET HOLD=OFF\n@PJL SET SPECIALRED=0x00FFFF\n"},
      {"QVREDVAL 14: one step in both bytes",
       {{"QVREDVAL", "14"}},
       "@PJL SET HOLD=OFF\n@PJL SET SPECIALRED=0x00F7F7\n"},
      {"QVREDVAL 1 steps the high byte",
       {{"QVREDVAL", "1"}},
       "@PJL SET HOLD=OFF\n@PJL SET SPECIALRED=0x00F7FF\n"},
      {"QVREDVAL 13 steps the low byte",
       {{"QVREDVAL", "13"}},
       "@PJL SET HOLD=OFF\n@PJL SET SPECIALRED=0x00FFF7\n"},
      {"QVREDVAL without digits is entry 0",
       {{"QVREDVAL", "red"}},
       "@PJL SET HOLD=OFF\n@PJL SET SPECIALRED=0x00FFFF\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(kStart + c.lines + kDefaultTail, header(defaultJob(), c.env));
  }
}

// Replaces `from` in the default header by `to`.
std::string defaultWith(const std::string& from, const std::string& to) {
  std::string text = kStart + "@PJL SET HOLD=OFF\n" + kDefaultTail;
  const std::size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  return text.replace(at, from.size(), to);
}

TEST(PjlJobHeader, SettingLines) {
  struct Case {
    const char* why;
    std::function<void(PjpInfo&)> change;
    std::map<std::string, std::string> env;
    std::string from, to;
  };
  const Case cases[] = {
      {"Mono",
       [](PjpInfo& j) { j.nColorMode = 0; },
       {},
       "RENDERMODE=COLOR\n@PJL SET COLORADAPT=ON",
       "RENDERMODE=GRAYSCALE\n@PJL SET COLORADAPT=OFF"},
      {"FullColor", [](PjpInfo& j) { j.nColorMode = 1; }, {}, "COLORADAPT=ON", "COLORADAPT=OFF"},
      {"toner saving on uses ECONOMODE",
       [](PjpInfo& j) { j.wTonerSave = 1; },
       {},
       "ECONOPRINT=OFF",
       "ECONOMODE=ON"},
      {"resolution Normal", [](PjpInfo& j) { j.wResolution = 1; }, {}, "APTMODE=ON", "APTMODE=OFF"},
      {"DuplexTumble", [](PjpInfo& j) { j.nDuplex = 1; }, {}, "DUPLEX=OFF", "DUPLEX=ON"},
      {"DuplexNoTumble", [](PjpInfo& j) { j.nDuplex = 2; }, {}, "DUPLEX=OFF", "DUPLEX=ON"},
      {"paper Letter", [](PjpInfo& j) { j.wPageSize = 1; }, {}, "PAPER=A4", "PAPER=LETTER"},
      {"paper Qv3x5", [](PjpInfo& j) { j.wPageSize = 261; }, {}, "PAPER=A4", "PAPER=P3X5"},
      {"paper ISOB5", [](PjpInfo& j) { j.wPageSize = 13; }, {}, "PAPER=A4", "PAPER=B5"},
      {"unknown paper code", [](PjpInfo& j) { j.wPageSize = 2; }, {}, "PAPER=A4", "PAPER=LETTER"},
      {"media BOND (6)", [](PjpInfo& j) { j.wMediaType = 6; }, {}, "REGULAR", "BOND"},
      {"media Thicker (3)", [](PjpInfo& j) { j.wMediaType = 3; }, {}, "REGULAR", "THICK2"},
      {"media Glossy (12)", [](PjpInfo& j) { j.wMediaType = 12; }, {}, "REGULAR", "GLOSSY"},
      {"media code 4 has no word", [](PjpInfo& j) { j.wMediaType = 4; }, {}, "REGULAR", "REGULAR"},
      {"media code 13", [](PjpInfo& j) { j.wMediaType = 13; }, {}, "REGULAR", "REGULAR"},
      {"manual feed: no tray line",
       [](PjpInfo& j) { j.wInputSlot = 7; },
       {},
       "MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n",
       "MANUALFEED=ON\n"},
      {"MP tray", [](PjpInfo& j) { j.wInputSlot = 6; }, {}, "TRAY=AUTO", "TRAY=MPTRAY"},
      {"tray code 8", [](PjpInfo& j) { j.wInputSlot = 8; }, {}, "TRAY=AUTO", "TRAY=AUTO"},
      {"OUTPUTTRAY OFF",
       [](PjpInfo&) {},
       {{"OUTPUTTRAY", "OFF"}},
       "@PJL SET LESSPAPERCURL",
       "@PJL SET OUTBIN=UPPER\n@PJL SET FINISH=NONE\n@PJL SET LESSPAPERCURL"},
      {"OUTPUTTRAY off in lower case",
       [](PjpInfo&) {},
       {{"OUTPUTTRAY", "off"}},
       "@PJL SET LESSPAPERCURL",
       "@PJL SET OUTBIN=AUTO\n@PJL SET LESSPAPERCURL"},
      {"less paper curl",
       [](PjpInfo& j) { j.wImproveOutput = 1; },
       {},
       "LESSPAPERCURL=OFF",
       "LESSPAPERCURL=ON"},
      {"fix intensity",
       [](PjpInfo& j) { j.wImproveOutput = 2; },
       {},
       "FIXINTENSITYUP=OFF",
       "FIXINTENSITYUP=ON"},
      {"matching Normal with brightness -5",
       [](PjpInfo& j) {
         j.wColorMatching = 1;
         j.nBrightness = -5;
       },
       {},
       "COLORMODE=AUTO\n",
       "COLORMODE=NORMAL\n@PJL SET IMPROVEGRAY=OFF\n@PJL SET UCRGCRFORIMAGE=OFF\n"
       "@PJL SET BRIGHTNESS=-5\n@PJL SET CONTRAST=0\n@PJL SET DENSITYRED=0\n"
       "@PJL SET DENSITYGREEN=0\n@PJL SET DENSITYBLUE=0\n"},
      {"matching Vivid, gray and black on, numbers",
       [](PjpInfo& j) {
         j.wColorMatching = 2;
         j.wGray = 1;
         j.wEnhanceBlack = 1;
         j.nContrast = 20;
         j.nRedKey = -32768;
         j.nGreenKey = 32767;
         j.nBlueKey = 1;
       },
       {},
       "COLORMODE=AUTO\n",
       "COLORMODE=VIVID\n@PJL SET IMPROVEGRAY=ON\n@PJL SET UCRGCRFORIMAGE=ON\n"
       "@PJL SET BRIGHTNESS=0\n@PJL SET CONTRAST=20\n@PJL SET DENSITYRED=-32768\n"
       "@PJL SET DENSITYGREEN=32767\n@PJL SET DENSITYBLUE=1\n"},
      {"matching None",
       [](PjpInfo& j) { j.wColorMatching = 0; },
       {},
       "COLORMODE=AUTO\n",
       "COLORMODE=NONE\n@PJL SET IMPROVEGRAY=OFF\n@PJL SET UCRGCRFORIMAGE=OFF\n"
       "@PJL SET BRIGHTNESS=0\n@PJL SET CONTRAST=0\n@PJL SET DENSITYRED=0\n"
       "@PJL SET DENSITYGREEN=0\n@PJL SET DENSITYBLUE=0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    PjpInfo job = defaultJob();
    c.change(job);
    EXPECT_EQ(defaultWith(c.from, c.to), header(job, c.env));
  }
}

TEST(PjlJobTrailer, WithAndWithoutTitle) {
  {
    ScopedJobEnvironment env(std::map<std::string, std::string>{});
    EXPECT_EQ("\x1b%-12345X\x1b%-12345X\n", captureOutput([] { writeJobTrailer(); }));
  }
  {
    ScopedJobEnvironment env(std::map<std::string, std::string>{{"TITLE", "report\r\nX"}});
    EXPECT_EQ("\x1b%-12345X@PJL EOJ NAME=\"report\"\n\x1b%-12345X\n",
              captureOutput([] { writeJobTrailer(); }));
  }
}

TEST(PjlJobTrailer, JobEndWithoutAPageFileStillWritesTheTrailer) {
  ScopedJobEnvironment env(std::map<std::string, std::string>{});
  SendInfo send{};
  EXPECT_EQ("\x1b%-12345X\x1b%-12345X\n", captureOutput([&] { MEndJob(&send); }));
}

TEST(RedToCMYTable, Entries) {
  EXPECT_EQ(0x00FFFFu, RedToCMYTable[0]);
  EXPECT_EQ(0x00F7FFu, RedToCMYTable[1]);
  EXPECT_EQ(0x00FFF7u, RedToCMYTable[13]);
  EXPECT_EQ(0x009F9Fu, RedToCMYTable[168]);
}

}  // namespace
