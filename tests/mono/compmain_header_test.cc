// compmain_header_test.cc - the PJL job header and PCL set-up, byte for
// byte, with the print-log time fixed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

#include "tests/mono/mono_test_util.h"

namespace {

using monotest::MemoryStream;
using monotest::ScopedJobFlags;

// The example job: 600 dpi, Tray1, A4 (4960 x 7016 dots), plain paper, one
// copy, toner save off, simplex, no bin, no owner.
PrintSettings exampleSettings() { return monotest::tray1Settings(2, 4960, 7016); }

// Tuesday 14 November 2023, 22:13:20 UTC.
constexpr std::time_t kFixedTime = 1700000000;

struct Header {
  std::string out;
  std::string copy;
};

Header writeHeader(const PrintSettings& settings, std::optional<std::time_t> now = kFixedTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  SParam param = {};
  sParam = &param;
  setSParam(param, settings);
  MemoryStream out, copy;
  BeginSendData(out.get(), copy.get(), settings, now);
  sParam = nullptr;
  return {out.text(), copy.text()};
}

const std::string kPclExample = monotest::esc("~E~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l0S");

TEST(BeginSendData, WorkedExample) {
  ScopedJobFlags flags("0");
  const Header header = writeHeader(exampleSettings());
  EXPECT_EQ(
      "\x1b%-12345X@PJL\n@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600\n"
      "@PJL SET ECONOMODE = OFF\n@PJL SET SOURCETRAY = TRAY1\n@PJL SET MEDIATYPE = REGULAR\n"
      "@PJL SET ORIENTATION = PORTRAIT\n@PJL SET PAGEPROTECT = AUTO\n"
      "@PJL ENTER LANGUAGE = PCL\n" +
          kPclExample,
      header.out);
  // The sorted-copy file gets the PCL set-up only: every replayed set
  // starts with it, after its own PJL lines.
  EXPECT_EQ(kPclExample, header.copy);
}

// What comes between "\e%-12345X@PJL\n" and the resolution lines.
TEST(BeginSendData, IdentificationPrintLogAndJobLine) {
  const std::string secure =
      "@PJL SET REPRINT=OFF\n@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n"
      "@PJL SET HOLDKEY=1234\n@PJL SET USERNAME=\"alice\"\n@PJL SET LOGINUSER=\"alice\"\n"
      "@PJL SET JOBNAME=\"Report\"\n";
  const std::string log =
      "@PJL PRINTLOG ITEM = 1,PRINTER\n@PJL PRINTLOG ITEM = 2,Tue,14 Nov 2023 22:13:20\n"
      "@PJL PRINTLOG ITEM = 3,alice\n@PJL PRINTLOG ITEM = 4,host1\n"
      "@PJL SET JOBTIME = 20231114221320\n";
  std::string logNoNode = log;
  logNoNode.replace(logNoNode.find("host1"), 5, "");
  const std::string job = "@PJL JOB NAME=\"Report\"\n";
  const std::string utf8 = "@PJL SET STRINGCODESET=UTF8\n";
  const std::string login = "@PJL SET LOGINUSER=\"alice\"\n";

  struct Case {
    const char* why;
    const char* owner;
    const char* password;
    const char* jobName;
    const char* nodeName;
    const char* flags;
    bool clock;
    std::string expected;
  };
  const Case cases[] = {
      {"secure print with node and clock", "alice", "1234", "Report", "host1", "0", true,
       secure + log + job + utf8},
      {"secure print without node: no print log", "alice", "1234", "Report", "", "0", true,
       secure + job + utf8},
      {"secure print without clock keeps job and code set", "alice", "1234", "Report", "host1", "0",
       false, secure + job + utf8},
      {"secure print, flag 0/1: no job line", "alice", "1234", "Report", "host1", "1", true,
       secure + log + utf8},
      {"ordinary with clock", "alice", "", "Report", "host1", "0", true, login + log + job + utf8},
      {"ordinary without node: empty item 4", "alice", "", "Report", "", "0", true,
       login + logNoNode + job + utf8},
      {"ordinary without clock: login only", "alice", "", "Report", "host1", "0", false, login},
      {"ordinary, flag 0/1: no job line", "alice", "", "Report", "host1", "1", true,
       login + log + utf8},
      {"owner without job name: nothing", "alice", "1234", "", "host1", "0", true, ""},
      {"job name without owner: nothing", "", "1234", "Report", "host1", "0", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags(c.flags);
    PrintSettings settings = exampleSettings();
    std::snprintf(settings.owner, sizeof settings.owner, "%s", c.owner);
    std::snprintf(settings.password, sizeof settings.password, "%s", c.password);
    std::snprintf(settings.jobName, sizeof settings.jobName, "%s", c.jobName);
    std::snprintf(settings.nodeName, sizeof settings.nodeName, "%s", c.nodeName);
    const Header header =
        writeHeader(settings, c.clock ? std::optional<std::time_t>(kFixedTime) : std::nullopt);
    const std::string start = "\x1b%-12345X@PJL\n";
    const std::size_t end = header.out.find("@PJL SET RAS1200MODE");
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(start + c.expected, header.out.substr(0, end));
  }
}

// The parts of the header that settings and flags change, each row against
// the worked example: resolution lines, economy, tray, media, sleep, paper
// name, bin, and the PCL set-up ("~" is ESC).
TEST(BeginSendData, SettingsAndFlags) {
  const std::string res600 = "@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600\n";
  struct Expect {
    std::string resolution = "", economy = "OFF", tray = "TRAY1", media = "REGULAR", sleep = "",
                paper = "", bin = "", pcl = "~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l0S";
  };
  struct Case {
    const char* why;
    const char* flags;
    std::function<void(PrintSettings&)> change;
    Expect expect;
  };
  auto at = [](int resolution, int width, int height) {
    return [=](PrintSettings& s) {
      s.resolution = resolution;
      s.width = s.paperWidth = width;
      s.height = s.paperHeight = height;
    };
  };
  using S = PrintSettings&;
  const char* const pcl1200 = "~&l4096a26a6d1E~&l1001H~&u1200D~*t1200R~&l1X~&l0S";
  const Case cases[] = {
      {"300 dpi",
       "0",
       at(1, 2480, 3508),
       {.resolution = "@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 300\n",
        .pcl = "~&l4096a26a6d1E~&l1001H~&u300D~*t300R~&l1X~&l0S"}},
      {"1200 dpi at half feed speed",
       "0",
       at(3, 9920, 14032),
       {.resolution = "@PJL SET RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=HALF\n",
        .pcl = pcl1200}},
      {"XR1200A: 600 dpi rows in 1200 units",
       "0",
       at(4, 9920, 14032),
       {.resolution = "@PJL SET RESOLUTION = 600\n@PJL SET RAS1200MODE = TRUE\n",
        .pcl = "~&l4096a26a6d1E~&l1001H~&u1200D~*t600R~&l1X~&l0S"}},
      {"XR1200B at full feed speed",
       "0",
       at(5, 9920, 14032),
       {.resolution = "@PJL SET RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=FULL\n",
        .pcl = pcl1200}},
      {"600x300", "0", at(6, 4960, 3508), {.resolution = "@PJL SET RESOLUTION = 600\n"}},
      {"no resolution counts as 600", "0", at(0, 4960, 7016), {}},
      {"flag 1/1: XRM mode at 600 dpi",
       "10",
       nullptr,
       {.resolution = res600 + "@PJL SET XRMMODE = ON\n"}},
      {"flag 1/2: no RAS1200MODE line",
       "20",
       nullptr,
       {.resolution = "@PJL SET RESOLUTION = 600\n"}},
      {"toner save on", "0", [](S s) { s.tonerSave = 0; }, {.economy = "ON"}},
      {"manual feed: no tray line, manual input after the resolution",
       "0",
       [](S s) { s.paperSource = 1; },
       {.tray = "", .pcl = "~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l2H~&l1X~&l0S"}},
      {"multi-purpose tray", "0", [](S s) { s.paperSource = 2; }, {.tray = "MPTRAY"}},
      {"automatic tray: no tray hold in PCL",
       "0",
       [](S s) { s.paperSource = 8; },
       {.tray = "AUTO", .pcl = "~&l4096a26a6d1E~&u600D~*t600R~&l1X~&l0S"}},
      {"flag 0/4: no tray hold in PCL",
       "4",
       nullptr,
       {.pcl = "~&l4096a26a6d1E~&u600D~*t600R~&l1X~&l0S"}},
      {"bond paper is THICK2", "0", [](S s) { s.media = 5; }, {.media = "THICK2"}},
      {"Env.Thin is sent as regular paper", "0", [](S s) { s.media = 9; }, {}},
      {"sleep 15 minutes",
       "0",
       [](S s) { s.sleep = 15; },
       {.sleep = "@PJL DEFAULT AUTOSLEEP=ON\n@PJL DEFAULT TIMEOUTSLEEP=15\n"
                 "@PJL SET AUTOSLEEP=ON\n@PJL SET TIMEOUTSLEEP=15\n"}},
      {"flag 0/2: paper by name, no page-size command",
       "2",
       nullptr,
       {.paper = "A4", .pcl = "~&l1001H~&u600D~*t600R~&l1X~&l0S"}},
      {"custom paper",
       "0",
       [](S s) { s.paperType = 27; },
       {.pcl = "~&l4096a101a6d1E~&l1001H~&u600D~*t600R~&l1X~&l0S"}},
      {"custom paper by name",
       "2",
       [](S s) { s.paperType = 36; },
       {.paper = "CUSTOM", .pcl = "~&l1001H~&u600D~*t600R~&l1X~&l0S"}},
      {"copies 0 count as 1", "0", [](S s) { s.copies = 0; }, {}},
      {"three copies",
       "0",
       [](S s) { s.copies = 3; },
       {.pcl = "~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l3X~&l0S"}},
      {"duplex, long edge",
       "0",
       [](S s) { s.duplex = s.duplexType = 1; },
       {.pcl = "~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l1S"}},
      {"duplex without a type binds on the short edge",
       "0",
       [](S s) { s.duplex = 1; },
       {.pcl = "~&l4096a26a6d1E~&l1001H~&u600D~*t600R~&l1X~&l2S"}},
      {"bin Stacker", "0", [](S s) { s.outputBin = 7; }, {.bin = "ALLSTACKER\n"}},
      {"bin Sorter3: the first set is copy 1",
       "0",
       [](S s) { s.outputBin = 9; },
       {.bin = "ALLSORTER\n@PJL SET COPY=1\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags(c.flags);
    PrintSettings settings = exampleSettings();
    if (c.change) c.change(settings);
    const Expect& e = c.expect;
    auto line = [](const char* key, const std::string& value) {
      return value.empty() ? "" : "@PJL SET " + std::string(key) + value + "\n";
    };
    const std::string pcl = monotest::esc("~E" + e.pcl);
    const std::string expected =
        "\x1b%-12345X@PJL\n" + (e.resolution.empty() ? res600 : e.resolution) +
        line("ECONOMODE = ", e.economy) + line("SOURCETRAY = ", e.tray) +
        line("MEDIATYPE = ", e.media) + e.sleep + "@PJL SET ORIENTATION = PORTRAIT\n" +
        line("PAPER = ", e.paper) + "@PJL SET PAGEPROTECT = AUTO\n" +
        (e.bin.empty() ? "" : "@PJL SET OUTBIN = " + e.bin) + "@PJL ENTER LANGUAGE = PCL\n" + pcl;
    const Header header = writeHeader(settings);
    EXPECT_EQ(expected, header.out);
    EXPECT_EQ(pcl, header.copy);
  }
}

}  // namespace
