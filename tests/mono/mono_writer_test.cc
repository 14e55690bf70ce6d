// mono_writer_test.cc - the job writer against streams whose bytes are
// known: the header as edits of the golden one, whole jobs after their
// header, the band framing and the row compressor's worked examples.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "mono/copy_file.h"
#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

using namespace monotest;

constexpr std::time_t kFixedTime = 1700000000;  // Tue 14 Nov 2023 22:13:20 UTC

// The settings of the golden header changed by settings-file `lines`
// (";" between them), the raster size scaled to their resolution.
PrintSettings settingsWith(std::string lines, int width = 4960, int height = 7016) {
  std::replace(lines.begin(), lines.end(), ';', '\n');
  PrintSettings s = {};
  InputStream rc(
      "[QV]\nPaperSource=Tray1\nPaperType=A4\nMedia=PlainPaper\nCopies=1\n"
      "TonerSaveMode=OFF\n" +
      lines + "\n");
  EXPECT_EQ(0, getRcFile(rc.get(), &s));
  EXPECT_TRUE(scalePageSize(width, height, s.resolution, s.width, s.height));
  s.paperWidth = s.width;
  s.paperHeight = s.height;
  return s;
}

// flags | settings lines | edits of the golden header ("from => to; ...")
TEST(MonoHeader, SettingsAndFlagsAsEditsOfTheGoldenHeader) {
  for (const auto& row : tableRows(R"(
0 | Resolution=600 |
0 | Resolution=300 | = 600 => = 300; 600D~*t600R => 300D~*t300R
0 | Resolution=1200 | RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600 => RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=HALF; 600D~*t600R => 1200D~*t1200R
0 | Resolution=XR1200A | RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600 => RESOLUTION = 600\n@PJL SET RAS1200MODE = TRUE; 600D => 1200D
0 | Resolution=XR1200B | RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600 => RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=FULL; 600D~*t600R => 1200D~*t1200R
0 | Resolution=600x300 | @PJL SET RAS1200MODE = OFF\n =>
10 | | = 600\n => = 600\n@PJL SET XRMMODE = ON\n
20 | | @PJL SET RAS1200MODE = OFF\n =>
20 | Resolution=300 | @PJL SET RAS1200MODE = OFF\n => ; = 600 => = 300; 600D~*t600R => 300D~*t300R
0 | TonerSaveMode=ON | ECONOMODE = OFF => ECONOMODE = ON
0 | PaperSource=Manual | @PJL SET SOURCETRAY = TRAY1\n => ; t600R => t600R~&l2H
0 | PaperSource=MpTray | TRAY1 => MPTRAY
0 | PaperSource=Tray5 | TRAY1 => TRAY5
0 | PaperSource=AutoSelect | TRAY1 => AUTO; ~&l1001H =>
4 | | ~&l1001H =>
0 | Media=BondPaper | REGULAR => THICK2
0 | Media=Recycled | REGULAR => RECYCLED
0 | Media=Env.Thin |
0 | Sleep=15 | REGULAR\n => REGULAR\n@PJL DEFAULT AUTOSLEEP=ON\n@PJL DEFAULT TIMEOUTSLEEP=15\n@PJL SET AUTOSLEEP=ON\n@PJL SET TIMEOUTSLEEP=15\n
2 | | PORTRAIT\n => PORTRAIT\n@PJL SET PAPER = A4\n; ~&l4096a26a6d1E =>
0 | PaperType=CUSTOM0 | a26a => a101a
2 | PaperType=CUSTOM9 | PORTRAIT\n => PORTRAIT\n@PJL SET PAPER = CUSTOM\n; ~&l4096a26a6d1E =>
0 | Copies=3 | ~&l1X => ~&l3X
0 | Duplex=ON;DuplexType=Long | l0S => l1S
0 | Duplex=ON | l0S => l2S
0 | OutputBin=Auto | AUTO\n => AUTO\n@PJL SET OUTBIN = AUTO\n
0 | OutputBin=Outbin4 | AUTO\n => AUTO\n@PJL SET OUTBIN = OPTIONALOUTPUTBIN4\n
0 | OutputBin=Stacker | AUTO\n => AUTO\n@PJL SET OUTBIN = ALLSTACKER\n
0 | OutputBin=Sorter3 | AUTO\n => AUTO\n@PJL SET OUTBIN = ALLSORTER\n@PJL SET COPY=1\n
0 | OutputBin=Optional | AUTO\n => AUTO\n@PJL SET OUTBIN = OPTIONAL\n)")) {
    SCOPED_TRACE(row[0] + " | " + row[1]);
    std::string expected = kGoldenHeader;
    for (std::size_t at = 0; row.size() > 2 && at < row[2].size();) {
      const std::size_t end = std::min(row[2].find("; ", at), row[2].size());
      const std::string edit = row[2].substr(at, end - at);
      const std::size_t arrow = edit.find(" =>");
      const std::string from = edit.substr(0, arrow),
                        to = edit.substr(std::min(arrow + 4, edit.size()));
      ASSERT_NE(std::string::npos, expected.find(from)) << from;
      expected.replace(expected.find(from), from.size(), to);
      at = end + 2;
    }
    const auto [out, copy] = jobHeader(settingsWith(row[1]), {row[0]}, kFixedTime);
    EXPECT_EQ(expected, out);
    // Every replayed set starts with the PCL set-up: the copy file gets it.
    EXPECT_EQ(expected.substr(expected.find("\x1b"
                                            "E")),
              copy);
  }
}

// owner | key | title | node | flags | clock | what comes between
// "\e%-12345X@PJL\n" and the resolution lines
TEST(MonoHeader, IdentificationPrintLogAndJobLine) {
  const std::map<std::string, std::string> parts = {
      {"secure",
       "@PJL SET REPRINT=OFF\n@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n"
       "@PJL SET HOLDKEY=1234\n@PJL SET USERNAME=\"alice\"\n"
       "@PJL SET LOGINUSER=\"alice\"\n@PJL SET JOBNAME=\"Report\"\n"},
      {"log",
       "@PJL PRINTLOG ITEM = 1,PRINTER\n@PJL PRINTLOG ITEM = 2,Tue,14 Nov 2023 22:13:20\n"
       "@PJL PRINTLOG ITEM = 3,alice\n@PJL PRINTLOG ITEM = 4,host1\n"
       "@PJL SET JOBTIME = 20231114221320\n"},
      {"job", "@PJL JOB NAME=\"Report\"\n"},
      {"utf8", "@PJL SET STRINGCODESET=UTF8\n"},
      {"login", "@PJL SET LOGINUSER=\"alice\"\n"}};
  setenv("TZ", "UTC", 1);
  tzset();
  for (const auto& row : tableRows(R"(
alice | 1234 | Report | host1 | 0 | yes | secure log job utf8
alice | 1234 | Report |       | 0 | yes | secure job utf8
alice | 1234 | Report | host1 | 0 | no  | secure job utf8
alice | 1234 | Report | host1 | 1 | yes | secure log utf8
alice |      | Report | host1 | 0 | yes | login log job utf8
alice |      | Report |       | 0 | yes | login log job utf8
alice |      | Report | host1 | 0 | no  | login
alice |      | Report | host1 | 1 | yes | login log utf8
alice | 1234 |        | host1 | 0 | yes |
      | 1234 | Report | host1 | 0 | yes |)")) {
    SCOPED_TRACE(row[0] + row[1] + row[2] + row[3] + row[4] + row[5]);
    PrintSettings s = tray1Settings(2, 4960, 7016);
    std::snprintf(s.owner, sizeof s.owner, "%s", row[0].c_str());
    std::snprintf(s.password, sizeof s.password, "%s", row[1].c_str());
    std::snprintf(s.jobName, sizeof s.jobName, "%s", row[2].c_str());
    std::snprintf(s.nodeName, sizeof s.nodeName, "%s", row[3].c_str());
    std::string expected = "\x1b%-12345X@PJL\n";
    for (std::size_t at = 0; at < row[6].size();) {
      const std::size_t end = std::min(row[6].find(' ', at), row[6].size());
      expected += parts.at(row[6].substr(at, end - at));
      at = end + 1;
    }
    if (const std::size_t node = expected.find(",host1");
        row[3].empty() && node != std::string::npos)
      expected.erase(node + 1, 5);  // an empty item 4
    const std::string out =
        jobHeader(s, {row[4]}, row[5] == "yes" ? std::optional(kFixedTime) : std::nullopt).first;
    EXPECT_EQ(expected, out.substr(0, out.find("@PJL SET RAS")));
  }
}

// The worked page: 300 dpi, 160 x 103 dots (20-byte rows, 8 printable);
// printable rows 50 and 51 hold 00 00 FF FF FF FF 12 34, row 52 is blank.
const Bytes kWorkedRow = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
const Bytes kWorkedKeyRecord = {0x03, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34};
Bytes workedPage() {
  Bytes page(20 * 103, 0x00);
  std::copy(kWorkedRow.begin(), kWorkedRow.end(), page.begin() + 50 * 20 + 6);
  std::copy(kWorkedRow.begin(), kWorkedRow.end(), page.begin() + 51 * 20 + 6);
  return page;
}
const std::string kWorkedStream = std::string(
    "\x1b*b1030m13w\x00\x03\x03\x01\x00\x00\x82\xFF\x01\x12\x34\x00\xFF"
    "1030M\f",
    30);
// On an A4 sheet, so that the set-up is the A4 one and the shift 0.
PrintSettings workedSettings(int width = 160, int height = 103) {
  PrintSettings settings = tray1Settings(1, 2480, 3508);
  settings.width = width;
  settings.height = height;
  return settings;
}
const std::string kSetup300 = esc("~E~&l4096a26a6d1E~&l1001H~&u300D~*t300R~&l1X~&l0S");

// Whole jobs of the worked page, compared after their header's PCL set-up:
// flags | output bin | title | input | what follows. Input: P the page, p
// the page short of its last byte, 3 three bytes. What follows: W the page,
// R<n> the replay of sorted set n up to its set-up, N the end-of-job line
// of "Report", X a universal exit, T the trailer without a title.
TEST(MonoJobStream, PagesCopiesAndTrailer) {
  const Bytes page = workedPage();
  for (const auto& row : tableRows(R"(
0 | 0 | | | T
0 | 0 | | P | W T
0 | 0 | | P p | W T
0 | 0 | | 3 | T
0 | 0 | Report | | X N X
1 | 0 | Report | | X
0 | 8 | | P P | W W R2 W W T
0 | 11 | | P P | W W R2 W W R3 W W R4 W W R5 W W T
0 | 9 | | | R2 R3 T
0 | 7 | | P | W T)")) {
    SCOPED_TRACE(row[0] + " | " + row[1] + " | " + row[2] + " | " + row[3]);
    PrintSettings settings = workedSettings();
    settings.outputBin = std::stoi(row[1]);
    std::snprintf(settings.jobName, sizeof settings.jobName, "%s", row[2].c_str());
    Bytes input;
    for (const char c : row[3])
      input = input + (c == 'P'   ? page
                       : c == 'p' ? Bytes(page.begin(), page.end() - 1)
                       : c == '3' ? Bytes(3, 0xFF)
                                  : Bytes{});
    std::string after;
    for (std::size_t at = 0; at < row[4].size(); at += 2) {
      const char c = row[4][at];
      after += c == 'W'   ? kWorkedStream
               : c == 'T' ? kTrailer
               : c == 'X' ? "\x1b%-12345X"
               : c == 'N' ? "@PJL EOJ NAME=\"Report\"\n"
                          : "\x1b%-12345X@PJL\n@PJL SET COPY=" + row[4].substr(++at, 1) +
                                "\n@PJL ENTER LANGUAGE = PCL\n" + kSetup300;
    }
    const std::string job = runJob(settings, input, {row[0]}).out;
    const std::size_t setup = job.find(kSetup300);
    ASSERT_NE(std::string::npos, setup) << job;
    EXPECT_EQ(after, job.substr(setup + kSetup300.size()));
    // The end-of-job line appears only in the trailer.
    EXPECT_EQ(after.find("EOJ") != std::string::npos, job.find("EOJ") != std::string::npos);
  }
}

// Sizes that cannot describe a page give a job without pages, and the input
// is not read (pages of 0 bytes would be read without end).
TEST(MonoJobStream, SizesThatCannotDescribeAPage) {
  for (const auto& [width, height] :
       {std::pair{0, 103}, {-160, 103}, {160, 0}, {160, -1}, {160, 32768}}) {
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    const JobRun run = runJob(workedSettings(width, height), workedPage());
    EXPECT_TRUE(run.out.ends_with(kSetup300 + kTrailer));
    EXPECT_EQ(0, run.inputUsed);
  }
}

// A copy file that cannot take the whole stream (a full disk, here a
// file-size limit) would replay a cut raster sequence; the replays then
// carry only their PJL commands. Run in a child so that the limit stays there.
TEST(MonoJobStream, IncompleteCopyFileIsNotReplayed) {
  const Bytes page = workedPage();
  InputStream in(page + page);  // written before the limit applies
  std::fflush(nullptr);
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    const struct rlimit limit = {64, 64};  // the set-up fits, the first page does not
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
    std::string out;
    PrintSettings settings = workedSettings();
    settings.outputBin = 9;
    const int result = qvcomp1030(in.get(), stringSink(out), settings);
    ::_exit(::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? result
                                                                                        : 99);
  }
  ::close(fds[1]);
  std::string job;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    job.append(buffer, static_cast<std::size_t>(got));
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == qv::kMonoOk);
  const std::string replay = "\x1b%-12345X@PJL\n@PJL SET COPY=";
  EXPECT_TRUE(job.ends_with(kSetup300 + kWorkedStream + kWorkedStream + replay + "2\n" +
                            "@PJL ENTER LANGUAGE = PCL\n" + replay + "3\n" +
                            "@PJL ENTER LANGUAGE = PCL\n" + kTrailer));
}

// The worked page through the band pipeline alone, unshifted and shifted:
// the shift is part of the delta record only. (Blocks that close for size
// are in the round trips and their bytes.)
TEST(MonoBand, WorkedPageAndKeyRows) {
  const Bytes tail = {0x00, 0xFF};  // the repeat and the blank record
  EXPECT_EQ(kStart1030 + block(3, kWorkedKeyRecord + tail),
            BandJob(1, 0).sendPage(workedPage(), 20));
  const Bytes shiftedKey = {0x04, 0x80, 0x00, 0x01, 0x00, 0x00, 0x82, 0xFF, 0x01, 0x12, 0x34};
  EXPECT_EQ(kStart1030 + block(3, shiftedKey + tail), BandJob(1, 2).sendPage(workedPage(), 20));

  // A row equal to the one before is a repeat record, except where a group
  // of 128 records starts: there it is a key row, sent whole again.
  Bytes page(32 * 330, 0);
  for (int r = 100; r < 230; ++r)
    std::copy(kWorkedRow.begin(), kWorkedRow.end(), page.begin() + r * 32 + 12);
  BandJob job(2, 0);
  EXPECT_EQ(kStart1030 + block(128, kWorkedKeyRecord + Bytes(127, 0x00)) +
                block(2, kWorkedKeyRecord + Bytes{0x00}),
            job.sendPage(page, 32));
}

// Bytes in hex; "N*HH" is N bytes HH: "3*00 AA" is 00 00 00 AA.
Bytes hex(const std::string& text) {
  Bytes out;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const std::size_t star = word.find('*');
    const int count = star == std::string::npos ? 1 : std::stoi(word);
    word.erase(0, star == std::string::npos ? 0 : star + 1);
    for (int n = 0; n < count; ++n)
      for (std::size_t i = 0; i + 1 < word.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(word.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// shift | row (against a zero seed) | its record. Worked encodings; the
// escape values of every field are swept by the round trips.
TEST(MonoCompressor, WorkedRows) {
  for (const auto& row : tableRows(R"(
# a run, two literals, the last with an offset
0 | 0000FFFFFFFF1234 000000800000 0000 | 03 C2FF 011234 1880
# literal offset 20 = 15 + 5; run offset 3 and count 37 both escape; literal of 10 = 8 + 2
0 | 20*00 AA 19*00 | 01 7805AA
0 | 3*00 37*11 | 01 FF000411
0 | 0102030405060708090A 30*00 | 01 0702 0102030405060708090A
# a literal stops before a run of three; offset 525 = 15 + 255 + 255 + 0
0 | AAAAAABBCCDDDDDD | 03 81AA 01BBCC 81DD
0 | 525*00 42 74*00 | 01 78FFFF0042
# two equal bytes and another are one literal; a seed byte ends a would-be run
0 | AAAABB 5*00 | 01 02AAAABB
0 | 3333003333 33 | 02 013333 A133
# an empty row: the count byte, and the shift; a shift of 40 escapes its count
0 | | 00
2 | | 01 8000
40 | 01 | 02 9F0700 0001)")) {
    SCOPED_TRACE(row[0] + " | " + row[1]);
    BandJob job(2, std::stoi(row[0]));
    EXPECT_EQ(hex(row[2]), job.encode(hex(row[1]), Bytes(hex(row[1]).size(), 0x00)));
  }
  // A row equal to its seed needs no record, not even the shift.
  for (int shift : {0, 2, 300})
    EXPECT_EQ(Bytes{}, BandJob(2, shift).encode(hex("7*00 12 32*00"), hex("7*00 12 32*00")));
}

// Every second byte differing: one literal per byte until 253 commands,
// then the rest of the row as one literal, seed-equal bytes included. The
// count byte ends at 254, never at 0xFF (the blank record); the shift
// command counts towards the limit.
TEST(MonoCompressor, CommandCountStopsAt254) {
  Bytes row(1000, 0x00);
  for (std::size_t i = 0; i < row.size(); i += 2) row[i] = 0x11;
  for (const auto& [shift, head, restFrom, rest] :
       {std::tuple{0, Bytes{0xFE, 0x00, 0x11}, 505, Bytes{0x07, 0xFF, 0xE8}},
        std::tuple{2, Bytes{0xFE, 0x80, 0x00, 0x00, 0x11}, 503, Bytes{0x07, 0xFF, 0xEA}}}) {
    Bytes expected = head;
    for (int i = 2; i < restFrom; i += 2) expected = expected + Bytes{0x08, 0x11};
    expected = expected + rest + Bytes(row.begin() + restFrom, row.end());
    BandJob job(2, shift);
    EXPECT_EQ(expected, job.encode(row, Bytes(row.size(), 0x00))) << shift;
  }
}

// flags | offset | settings lines | size at 600 dpi | page-size command |
// left shift in bytes. X = centring margin + -offset in 1/720 inch, turned
// into whole bytes at the job resolution; a one-byte shift is dropped, a
// negative one is 0.
TEST(MonoPaper, MatchAndLeftShift) {
  for (const auto& row : tableRows(R"(
0 | 0 | | 4960x7016 | a26a | 0
# 8.5 x 11 inch: A4 too narrow; 4 x 6: COM10, margin 45; 7 x 10: JISB5, margin 60
0 | 0 | | 5100x6600 | a2a | 0
0 | 0 | Resolution=300 | 5100x6600 | a2a | 0
0 | 0 | | 2400x3600 | a81a | 5
0 | 0 | | 4200x6000 | a45a | 6
# FOLIO, 3x5 and EnvYou4 only with their flags
0 | 0 | | 5100x7800 | a3a | 0
100 | 0 | | 5100x7800 | a1038a | 0
0 | 0 | | 1800x3000 | a80a | 33
200 | 0 | | 1800x3000 | a1039a | 0
0 | 0 | | 2480x5500 | a100a | 105
400 | 0 | | 2480x5500 | a1040a | 0
# wider than every paper: LEGAL, no shift; custom paper centres on LEGAL
0 | 0 | | 6000x9000 | a3a | 0
0 | 0 | PaperType=CUSTOM0 | 4960x7016 | a101a | 9
0 | 60 | | 4960x7016 | a26a | 6
# margin + offset is kept as a signed 16-bit value: 65596 and -65476 act as 60
0 | 65596 | | 4960x7016 | a26a | 6
0 | -65476 | | 4960x7016 | a26a | 6
0 | 2147483647 | | 4960x7016 | a26a | 0
0 | 9 | | 4960x7016 | a26a | 0
0 | 14 | | 4960x7016 | a26a | 0
0 | 15 | | 4960x7016 | a26a | 2
0 | 24 | | 4960x7016 | a26a | 3
0 | 60 | Resolution=300 | 4960x7016 | a26a | 3
0 | 60 | Resolution=1200 | 4960x7016 | a26a | 13
0 | 60 | Resolution=600x300 | 4960x7016 | a26a | 6
0 | -100 | | 4960x7016 | a26a | 0)")) {
    SCOPED_TRACE(row[0] + " | " + row[1] + " | " + row[2] + " | " + row[3]);
    const PrintSettings s =
        settingsWith(row[2], std::stoi(row[3]), std::stoi(row[3].substr(row[3].find('x') + 1)));
    const Flags flags{row[0], std::stoi(row[1])};
    EXPECT_EQ(std::stoi(row[5]), jobParam(s, flags).leftShift);
    const std::string header = jobHeader(s, flags, std::nullopt).first;
    EXPECT_NE(std::string::npos, header.find("\x1b&l4096" + row[4] + "6d1E")) << header;
  }
}

// Entries of /tmp not in `before` that are copy files of process `pid`.
std::vector<std::string> copyFilesLeft(const std::vector<std::string>& before, pid_t pid) {
  char part[32];
  std::snprintf(part, sizeof part, "_%x", static_cast<unsigned>(pid));
  std::vector<std::string> left;
  for (const std::string& name : qvtest::newEntries(before, qvtest::listDirectory("/tmp")))
    if (name.starts_with("rawtoqv_tmp_") && name.find(part) != std::string::npos)
      left.push_back(name);
  return left;
}

// Names of the old pattern "rawtoqv_tmp_<ticks>_<pid>" for this process
// over the next three seconds, planted in the private TMPDIR and in /tmp as
// another user could: the copy file must neither fail on them (dropping
// the replays' pages) nor touch them, and must leave no name of its own.
TEST(MonoCopyFile, PlantedNamesDropNothingAndNothingIsLeft) {
  const qvtest::ScopedTempDir dir;
  struct tms ticks;
  const auto now = static_cast<std::uint32_t>(::times(&ticks));
  std::vector<std::string> planted;
  for (std::uint32_t t = now; t < now + 3 * ::sysconf(_SC_CLK_TCK); ++t) {
    char name[64];
    std::snprintf(name, sizeof name, "rawtoqv_tmp_%x_%x", t, static_cast<unsigned>(::getpid()));
    planted.push_back(name);
    qvtest::writeFile(dir.file(name), "planted");
    qvtest::writeFile("/tmp/" + std::string(name), "planted");
  }
  const std::vector<std::string> tmpBefore = qvtest::listDirectory("/tmp");
  PrintSettings settings = workedSettings();
  settings.outputBin = 8;  // Sorter2
  std::snprintf(settings.tmpDir, sizeof settings.tmpDir, "%s", dir.path().c_str());
  const std::string job = runJob(settings, workedPage()).out;
  EXPECT_TRUE(
      job.ends_with("\n@PJL ENTER LANGUAGE = PCL\n" + kSetup300 + kWorkedStream + kTrailer));
  EXPECT_EQ(std::vector<std::string>{}, copyFilesLeft(tmpBefore, ::getpid()));
  // The named way too: a file of its own, 0600, whose name is gone at once.
  const qv::UniqueFd fd(qv::openCopyFile(dir.path().c_str(), false));
  struct stat status = {};
  ASSERT_EQ(0, ::fstat(fd.get(), &status));
  EXPECT_EQ(0600u, status.st_mode & 0777u);
  EXPECT_EQ(0u, status.st_nlink);
  EXPECT_EQ(planted.size(), qvtest::listDirectory(dir.path()).size());
  for (const std::string& name : planted) {
    EXPECT_EQ("planted", qvtest::readFile(dir.file(name)));
    EXPECT_EQ("planted", qvtest::readFile("/tmp/" + name));
    ::unlink(("/tmp/" + name).c_str());
  }
}

// A job ended by any signal, SIGKILL included, while its copy file is open
// leaves nothing in its TMPDIR or in /tmp.
TEST(MonoCopyFile, NothingIsLeftAfterASignal) {
  for (int sig : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    const qvtest::ScopedTempDir dir;
    qvtest::writeFile(dir.file("rc"), "[QV]\nPaperType=A4\nOutputBin=Sorter3\n");
    const std::vector<std::string> tmpBefore = qvtest::listDirectory("/tmp");
    qvtest::ProgramRun run;
    run.path = RAWTOQV_PATH;
    run.args = {"-rc", dir.file("rc"), "-ps", "4960x7016"};
    run.env = {{"TMPDIR", dir.path()}};
    qvtest::RunningProgram program(run);
    // Half a page: the filter waits for the rest with its copy file open.
    ASSERT_TRUE(program.writeInput(std::string(620 * 3000, '\0')));
    const auto copyFileOpen = [&] {
      const std::string fds = "/proc/" + std::to_string(program.pid()) + "/fd/";
      for (const std::string& fd : qvtest::listDirectory(fds)) {
        char target[4096] = {};
        if (::readlink((fds + fd).c_str(), target, sizeof target - 1) > 0 &&
            std::string(target).starts_with(dir.path() + "/"))
          return true;
      }
      return false;
    };
    for (int wait = 0; wait < 500 && !copyFileOpen(); ++wait) program.pump(10);
    ASSERT_TRUE(copyFileOpen()) << "no copy file in TMPDIR";
    program.signal(sig);
    EXPECT_EQ(sig, program.wait().termSignal);
    EXPECT_EQ(std::vector<std::string>{"rc"}, qvtest::listDirectory(dir.path()));
    EXPECT_EQ(std::vector<std::string>{}, copyFilesLeft(tmpBefore, program.pid()));
  }
}

}  // namespace
