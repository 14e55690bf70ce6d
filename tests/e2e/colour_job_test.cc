// colour_job_test.cc - rastertoqv end to end: the PJL job header and trailer,
// and the page loop's results on stdout, stderr and the exit status (copies,
// short and empty pages, blank pages, duplex rotation, gray jobs, page files).
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/colour_roundtrip.h"

namespace colourtest {
namespace {

const std::string kReady = "INFO: The printer is ready to print.\n";
const std::string kPrintPhase = "Error: error occurred at print phase !!\n";

// The header of a job with default settings (A4, colour Auto, toner saving
// off, Fine, no duplex, plain paper, auto tray, matching Auto) and no
// environment.
const std::string kDefaultHeader =
    kUel +
    "@PJL \n@PJL SET HOLD=OFF\n@PJL SET STRINGCODESET=UTF8\n@PJL SET PAPER=A4\n"
    "@PJL SET RENDERMODE=COLOR\n@PJL SET COLORADAPT=ON\n@PJL SET ECONOPRINT=OFF\n"
    "@PJL SET APTMODE=ON\n@PJL SET DUPLEX=OFF\n@PJL SET MEDIATYPE=REGULAR\n"
    "@PJL SET MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n@PJL SET LESSPAPERCURL=OFF\n"
    "@PJL SET FIXINTENSITYUP=OFF\n@PJL SET COLORMODE=AUTO\n@PJL SET FIDELITY=TRUE\n" +
    kEnterPwg;

// 4 x 3 pages: a solid page encodes as one line (4 equal pixels) repeated 3
// times: repeat byte 2, run byte 3, the pixel.
std::string solidPage(int r, int g, int b) { return ppmPage(4, 3, solidPixels(4, 3, r, g, b)); }
std::string solidPwg(int r, int g, int b) {
  return pageHeader(4, 3, false) + bytes({2, 3, r, g, b});
}

TEST(ColourJob, DefaultJobByteForByte) {
  TestPrinter printer(4, 3);
  const qvtest::ProgramResult r = qvtest::runProgram(printer.run(solidPage(255, 0, 0)));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(kReady, r.err);
  EXPECT_EQ(kDefaultHeader + "RaS2" + solidPwg(255, 0, 0) + kTrailer, r.out);
  // The binary's own failure path; the others run in process (colour_front_test).
  qvtest::ProgramRun run = printer.run("");
  run.args.clear();
  const qvtest::ProgramResult bad = qvtest::runProgram(run);
  EXPECT_EQ(2, bad.status);
  EXPECT_EQ("Error: invalid option !!\n", bad.err);
  EXPECT_EQ("", bad.out);
}

TEST(ColourJob, PjlHeaderLines) {
  struct Case {
    const char* why;
    std::string settings;
    std::string env;       // NAME=value, separated by "|"
    std::string from, to;  // the default header with `from` replaced by `to`
  };
  const std::string hold = "@PJL SET HOLD=OFF\n";
  const std::string names = "@PJL SET STRINGCODESET";
  const std::string matching = "@PJL SET COLORMODE=AUTO\n";
  const Case cases[] = {
      {"an empty PASSWORD is none", "", "PASSWORD=", hold, hold},
      {"PASSWORD selects secure print", "", "PASSWORD=1234", hold,
       "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=1234\n"},
      {"a password stops at a line feed", "", "PASSWORD=12\n@PJL", hold,
       "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=12\n"},
      {"a password is cut at 255 bytes", "", "PASSWORD=" + std::string(300, '7'), hold,
       "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=" + std::string(255, '7') +
           "\n"},
      {"owner and title are cut at 255 bytes, between UTF-8 characters", "",
       "OWNER=" + std::string(254, 'a') + "\xc3\xa9|TITLE=" + std::string(255, 'b') + "c", names,
       "@PJL SET USERNAME=\"" + std::string(254, 'a') + "\"\n@PJL SET JOBNAME=\"" +
           std::string(255, 'b') + "\"\n@PJL SET LOGINUSER=\"" + std::string(254, 'a') +
           "\"\n@PJL JOB NAME=\"" + std::string(255, 'b') + "\"\n" + names},
      {"owner and title: four name lines in order", "", "OWNER=ann|TITLE=report", names,
       "@PJL SET USERNAME=\"ann\"\n@PJL SET JOBNAME=\"report\"\n@PJL SET LOGINUSER=\"ann\"\n"
       "@PJL JOB NAME=\"report\"\n" +
           names},
      {"a title cannot end the line or start a universal exit", "",
       "TITLE=a\x1b%-12345X@PJL RESET|OWNER=b\r\n@PJL X", names,
       "@PJL SET USERNAME=\"b\"\n@PJL SET JOBNAME=\"a\"\n@PJL SET LOGINUSER=\"b\"\n"
       "@PJL JOB NAME=\"a\"\n" +
           names},
      {"QVREDVAL 500 is entry 168", "", "QVREDVAL=500", names,
       "@PJL SET SPECIALRED=0x009F9F\n" + names},
      {"QVREDVAL -3 is entry 0", "", "QVREDVAL=-3", names,
       "@PJL SET SPECIALRED=0x00FFFF\n" + names},
      {"QVREDVAL 14 steps both bytes", "", "QVREDVAL=14", names,
       "@PJL SET SPECIALRED=0x00F7F7\n" + names},
      {"QVREDVAL 1 steps the high byte", "", "QVREDVAL=1", names,
       "@PJL SET SPECIALRED=0x00F7FF\n" + names},
      {"QVREDVAL 13 steps the low byte", "", "QVREDVAL=13", names,
       "@PJL SET SPECIALRED=0x00FFF7\n" + names},
      {"QVREDVAL without digits is entry 0", "", "QVREDVAL=red", names,
       "@PJL SET SPECIALRED=0x00FFFF\n" + names},
      {"Mono", "QVMonoColor=Mono\n", "", "RENDERMODE=COLOR\n@PJL SET COLORADAPT=ON",
       "RENDERMODE=GRAYSCALE\n@PJL SET COLORADAPT=OFF"},
      {"FullColor", "QVMonoColor=FullColor\n", "", "COLORADAPT=ON", "COLORADAPT=OFF"},
      {"toner saving on says ECONOMODE", "TonerSaveMode=ON\n", "", "ECONOPRINT=OFF",
       "ECONOMODE=ON"},
      {"resolution Normal", "QVResolution=Normal\n", "", "APTMODE=ON", "APTMODE=OFF"},
      {"DuplexTumble", "QVDuplex=DuplexTumble\n", "", "DUPLEX=OFF", "DUPLEX=ON"},
      {"DuplexNoTumble", "QVDuplex=DuplexNoTumble\n", "", "DUPLEX=OFF", "DUPLEX=ON"},
      {"paper Letter (1)", "PageSize=Letter\n", "", "PAPER=A4", "PAPER=LETTER"},
      {"paper Qv3x5 (261)", "PageSize=Qv3x5\n", "", "PAPER=A4", "PAPER=P3X5"},
      {"paper ISOB5 (13) is B5", "PageSize=ISOB5\n", "", "PAPER=A4", "PAPER=B5"},
      {"media BOND is code 6", "MediaType=BOND\n", "", "REGULAR", "BOND"},
      {"media Thicker", "MediaType=Thicker\n", "", "REGULAR", "THICK2"},
      {"media Glossy", "MediaType=Glossy\n", "", "REGULAR", "GLOSSY"},
      {"manual feed: no tray line", "InputSlot=Manual\n", "",
       "MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n", "MANUALFEED=ON\n"},
      {"MP tray", "InputSlot=MPTray\n", "", "TRAY=AUTO", "TRAY=MPTRAY"},
      {"OUTPUTTRAY OFF", "", "OUTPUTTRAY=OFF", "@PJL SET LESSPAPERCURL",
       "@PJL SET OUTBIN=UPPER\n@PJL SET FINISH=NONE\n@PJL SET LESSPAPERCURL"},
      {"OUTPUTTRAY off in lower case", "", "OUTPUTTRAY=off", "@PJL SET LESSPAPERCURL",
       "@PJL SET OUTBIN=AUTO\n@PJL SET LESSPAPERCURL"},
      {"less paper curl", "QVImproveOutput=QVLessPaperCurl\n", "", "CURL=OFF", "CURL=ON"},
      {"fix intensity", "QVImproveOutput=QVFixIntensity\n", "", "UP=OFF", "UP=ON"},
      {"matching Normal with brightness -5", "QVColorMatching=Normal\nBrightness=-5\n", "",
       matching,
       "@PJL SET COLORMODE=NORMAL\n@PJL SET IMPROVEGRAY=OFF\n@PJL SET UCRGCRFORIMAGE=OFF\n"
       "@PJL SET BRIGHTNESS=-5\n@PJL SET CONTRAST=0\n@PJL SET DENSITYRED=0\n"
       "@PJL SET DENSITYGREEN=0\n@PJL SET DENSITYBLUE=0\n"},
      {"matching Vivid, gray and black on, numbers keep their low 16 bits",
       "QVColorMatching=Vivid\nQVGray=ON\nQVEnhanceBlkPrt=ON\nContrast=20\nRedKey=-32768\n"
       "GreenKey=40000\nBlueKey=65537\nSaturation=9\n",
       "", matching,
       "@PJL SET COLORMODE=VIVID\n@PJL SET IMPROVEGRAY=ON\n@PJL SET UCRGCRFORIMAGE=ON\n"
       "@PJL SET BRIGHTNESS=0\n@PJL SET CONTRAST=20\n@PJL SET DENSITYRED=-32768\n"
       "@PJL SET DENSITYGREEN=-25536\n@PJL SET DENSITYBLUE=1\n"},
      {"matching None", "QVColorMatching=None\n", "", matching,
       "@PJL SET COLORMODE=NONE\n@PJL SET IMPROVEGRAY=OFF\n@PJL SET UCRGCRFORIMAGE=OFF\n"
       "@PJL SET BRIGHTNESS=0\n@PJL SET CONTRAST=0\n@PJL SET DENSITYRED=0\n"
       "@PJL SET DENSITYGREEN=0\n@PJL SET DENSITYBLUE=0\n"},
  };
  TestPrinter printer(4, 3);
  // Two more papers, each with its own page size: the PWG header follows them.
  qvtest::writeFile(printer.piPath(),
                    qvtest::readFile(printer.piPath()) + "Qv3x5: 4 3\nISOB5: 4 3\n");
  for (const char* file : {"ImagingArea", "PaperDimension"})
    printer.writeGeometry(file, qvtest::readFile(printer.geometryPath(file)) +
                                    "Qv3x5:\t1\t1\t1\t1\nISOB5:\t1\t1\t1\t1\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    printer.writeSettings(c.settings);
    qvtest::ProgramRun run = printer.run(solidPage(1, 2, 3));
    for (std::size_t at = 0; at < c.env.size();) {
      const std::size_t end = std::min(c.env.find('|', at), c.env.size());
      const std::size_t equals = c.env.find('=', at);
      run.env[c.env.substr(at, equals - at)] = c.env.substr(equals + 1, end - equals - 1);
      at = end + 1;
    }
    const qvtest::ProgramResult r = qvtest::runProgram(run);
    ASSERT_EQ(0, r.status) << r.err;
    std::string expected = kDefaultHeader;
    const std::size_t at = expected.find(c.from);
    ASSERT_NE(std::string::npos, at) << c.from;
    expected.replace(at, c.from.size(), c.to);
    EXPECT_EQ(expected, r.out.substr(0, r.out.size() - afterHeader(r.out).size()));
  }
}

TEST(ColourJob, TrailerNamesTheJobByItsTitle) {
  TestPrinter printer(4, 3);
  qvtest::ProgramRun run = printer.run(solidPage(1, 2, 3));
  run.env["TITLE"] = "report\r\nX";
  const qvtest::ProgramResult r = qvtest::runProgram(run);
  const std::string trailer = kUel + "@PJL EOJ NAME=\"report\"\n" + kUel + "\n";
  EXPECT_EQ(trailer, r.out.substr(r.out.size() - trailer.size()));
}

struct JobCase {
  const char* why;
  std::string settings;
  std::string input;
  std::string afterPjl;  // everything after "@PJL ENTER LANGUAGE=PWGRASTER\n"
  std::string err = kReady;
};

// Runs each case on a printer of `width` x `height` pages with TMPDIR in its
// scratch directory: the copies file must not stay there.
void expectJobs(int width, int height, std::initializer_list<JobCase> cases) {
  for (const JobCase& c : cases) {
    SCOPED_TRACE(c.why);
    TestPrinter printer(width, height, c.settings);
    qvtest::ProgramRun run = printer.run(c.input);
    run.env["TMPDIR"] = printer.dir().path();
    const qvtest::ProgramResult r = qvtest::runProgram(run);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(0u, r.out.find(kUel + "@PJL \n"));
    EXPECT_EQ(c.afterPjl, afterHeader(r.out));
    EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());  // rc and pi only
  }
}

TEST(ColourJob, PagesCopiesAndBlankPages) {
  const std::string red = solidPage(255, 0, 0), green = solidPage(0, 255, 0);
  const std::string white = solidPage(255, 255, 255);
  const std::string p1 = solidPwg(255, 0, 0), p2 = solidPwg(0, 255, 0);
  expectJobs(
      4, 3,
      {
          {"two pages in order", "", red + green, "RaS2" + p1 + p2 + kTrailer},
          {"malformed second header", "", red + "P7\n4 3\n255\n", "RaS2" + p1 + kTrailer,
           kPrintPhase + kReady},
          {"a line feed after the last page", "", red + "\n", "RaS2" + p1 + kTrailer,
           kPrintPhase + kReady},
          {"surplus pixel bytes are read as the next header", "", red + "\xff\xff",
           "RaS2" + p1 + kTrailer, kPrintPhase + kReady},
          {"short page: missing lines are zero", "",
           ppmPage(4, 3, solidPixels(4, 1, 255, 0, 0) + "\x01"),
           "RaS2" + pageHeader(4, 3, false) + bytes({0, 3, 255, 0, 0}) +
               bytes({0, 0, 1, 0, 0, 2, 0, 0, 0}) + bytes({0, 3, 0, 0, 0}) + kTrailer},
          {"second page without pixel data", "", red + ppmPage(4, 3, ""), "RaS2" + p1 + kTrailer,
           "ERROR:   Reading pixels failed\n" + kReady},
          {"first page without pixel data: header and trailer only", "", ppmPage(4, 3, ""),
           kTrailer, "ERROR:   Reading pixels failed\n" + kReady},
          {"3 copies, collate off: 1,1,1,2,2,2", "Copies=3\nCollate=OFF\n", red + green,
           "RaS2" + p1 + p1 + p1 + p2 + p2 + p2 + kTrailer},
          {"3 copies, collate on: each page once", "Copies=3\nCollate=ON\n", red + green,
           "RaS2" + p1 + p2 + kTrailer},
          {"copies 0: each page once", "Copies=0\n", red + green, "RaS2" + p1 + p2 + kTrailer},
          {"copies 65537 keep their low 16 bits: once", "Copies=65537\n", red,
           "RaS2" + p1 + kTrailer},
          {"skipping off prints white pages", "", white + red,
           "RaS2" + solidPwg(255, 255, 255) + p1 + kTrailer},
          {"a white page between two pages disappears", "QVSkipBlank=ON\n", red + white + red,
           "RaS2" + p1 + p1 + kTrailer},
          {"near white is printed", "QVSkipBlank=ON\n", solidPage(255, 255, 254),
           "RaS2" + solidPwg(255, 255, 254) + kTrailer},
          {"all pages blank: RaS2 alone", "QVSkipBlank=ON\n", white + white, "RaS2" + kTrailer},
          {"every copy of a blank page is skipped", "QVSkipBlank=ON\nCopies=2\n", white + red,
           "RaS2" + p1 + p1 + kTrailer},
          {"a mono job writes gray lines: pure red is 76", "QVMonoColor=Mono\n", red,
           "RaS2" + pageHeader(4, 3, true) + bytes({2, 3, 76}) + kTrailer},
      });
}

TEST(ColourJob, DuplexNoTumbleTurnsEvenPrintedPages) {
  // 2 x 2 page: line 0 = A B, line 1 = C C. Turned: C C, then B A.
  const std::string page = ppmPage(2, 2, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9}));
  const std::string upright =
      pageHeader(2, 2, false) + bytes({0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 7, 8, 9});
  const std::string turned =
      pageHeader(2, 2, false) + bytes({0, 1, 7, 8, 9, 0, 255, 4, 5, 6, 1, 2, 3});
  const std::string white = ppmPage(2, 2, solidPixels(2, 2, 255, 255, 255));
  expectJobs(
      2, 2,
      {
          {"pages 1 and 3 upright, page 2 turned", "QVDuplex=DuplexNoTumble\n", page + page + page,
           "RaS2" + upright + turned + upright + kTrailer},
          {"a skipped blank page shifts the parity", "QVDuplex=DuplexNoTumble\nQVSkipBlank=ON\n",
           page + white + page + page, "RaS2" + upright + turned + upright + kTrailer},
          {"DuplexTumble turns nothing", "QVDuplex=DuplexTumble\n", page + page,
           "RaS2" + upright + upright + kTrailer},
      });
}

TEST(ColourJob, LostPagesAndLostOutputFailTheJob) {
  TestPrinter printer(200, 100, "Copies=2\n");
  std::mt19937 rng(3);
  std::string input;  // noise pages: each encodes to more than a pipe holds
  for (int p = 0; p < 3; ++p) input += ppmPage(200, 100, randomPage(rng, 200, 100));
  struct Case {
    const char* why;
    std::string shell, tmpdir, input, err, out;  // @dir, @pid: the test's
    int status;
  };
  const std::string sent = "ERROR: Unable to send print data: ";
  const Case cases[] = {
    {"a full disk behind the output", "exec \"$0\" \"$@\" >/dev/full", "", input,
     sent + "No space left on device\n", "", 1},
    // The reader goes away: the filter stops instead of converting on.
    {"a reader that is gone", "{ \"$0\" \"$@\"; echo exit $? >&2; } | :", "", input,
     sent + "Broken pipe\nexit 1\n", "", 0},
    {"no page files in a missing TMPDIR", "exec \"$0\" \"$@\"", "/missing", input,
     "ERROR: Unable to create a temporay file\nERROR: Unable to create page file @dir/missing/"
     "ec_tmppage_@pid_1_: No such file or directory\n",
     kTrailer, 1},
#if !defined(__SANITIZE_ADDRESS__)
    // The largest page the paper files allow (7200 x 32767 pixels, 707 MB)
    // under a 256 MB address-space limit.
    {"a page buffer that cannot be had", "ulimit -v 262144; exec \"$0\" \"$@\"", "",
     "P6\n7200 32767\n255\n", "ERROR: Insufficient memory!\n", kTrailer, 1},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.input.size() < 100) qvtest::writeFile(printer.piPath(), "h e a d\nA4: 7200 32767\n");
    qvtest::ProgramRun run = printer.run(c.input);
    run.env["TMPDIR"] = printer.dir().path() + c.tmpdir;
    run.args.insert(run.args.begin(), {"-c", c.shell, run.path});
    run.path = "/bin/sh";
    qvtest::RunningProgram program(run);
    program.writeInput(c.input);
    program.closeInput();
    const qvtest::ProgramResult r = program.wait();
    std::string err = c.err;
    for (const auto& [from, to] : {std::pair(std::string("@dir"), printer.dir().path()),
                                   std::pair(std::string("@pid"), std::to_string(program.pid()))})
      if (const std::size_t at = err.find(from); at != std::string::npos) err.replace(at, 4, to);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(err, r.err);
    EXPECT_EQ(c.out, afterHeader(r.out));
    EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());  // rc and pi only
  }
}

TEST(ColourJob, PlantedScratchNamesChangeNothing) {
  // Names of the old patterns, planted in /tmp and in the private TMPDIR.
  TestPrinter printer(4, 3, "Copies=2\n");
  qvtest::RunningProgram program(printer.run(""));
  std::vector<std::string> planted;
  for (const std::string& dir : {std::string("/tmp"), printer.dir().path()})
    for (const char* suffix : {"_1", "_2", "_1_"}) {
      planted.push_back(dir + "/ec_tmppage_" + std::to_string(program.pid()) + suffix);
      qvtest::writeFile(planted.back(), "planted");
    }
  ASSERT_TRUE(program.writeInput(solidPage(255, 0, 0) + solidPage(0, 0, 255)));
  program.closeInput();
  const qvtest::ProgramResult r = program.wait();
  for (const std::string& name : planted) {
    EXPECT_EQ("planted", qvtest::readFile(name));
    std::filesystem::remove(name);
  }
  EXPECT_EQ(kReady, r.err);
  const std::string red = solidPwg(255, 0, 0), blue = solidPwg(0, 0, 255);
  EXPECT_EQ("RaS2" + red + red + blue + blue + kTrailer, afterHeader(r.out));
}

}  // namespace
}  // namespace colourtest
