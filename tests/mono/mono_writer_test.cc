// mono_writer_test.cc - the job header, whole jobs, the copy file and the round trips.
#include <sys/stat.h>
#include <sys/times.h>
#include <unistd.h>

#include "mono/copy_file.h"
#include "tests/mono/mono_test_util.h"

namespace {

using namespace monotest;
using namespace std::string_literals;

constexpr std::time_t kFixedTime = 1700000000;  // Tue 14 Nov 2023 22:13:20 UTC

// flags | -offset | size | settings | left shift (int16, whole bytes) | edits "a => b; ..."
TEST(MonoHeader, SettingsFlagsPaperAndShiftAsEditsOfTheGoldenHeader) {
  for (const auto& row : tableRows(R"(
0 | 0 | 4960x7016 | Resolution=XR1200A | 0 | RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600 => RESOLUTION = 600\n@PJL SET RAS1200MODE = TRUE; 600D => 1200D
0 | 0 | 4960x7016 | Resolution=XR1200B | 0 | RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600 => RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=FULL; 600D~*t600R => 1200D~*t1200R
0 | 0 | 4960x7016 | Resolution=600x300 | 0 | @PJL SET RAS1200MODE = OFF\n =>
10 | 0 | 4960x7016 | | 0 | = 600\n => = 600\n@PJL SET XRMMODE = ON\n
20 | 0 | 4960x7016 | | 0 | @PJL SET RAS1200MODE = OFF\n =>
0 | 0 | 4960x7016 | TonerSaveMode=ON | 0 | ECONOMODE = OFF => ECONOMODE = ON
0 | 0 | 4960x7016 | PaperSource=Manual | 0 | @PJL SET SOURCETRAY = TRAY1\n => ; t600R => t600R~&l2H
0 | 0 | 4960x7016 | PaperSource=AutoSelect | 0 | TRAY1 => AUTO; ~&l1001H =>
4 | 0 | 4960x7016 | | 0 | ~&l1001H =>
0 | 0 | 4960x7016 | Media=BondPaper | 0 | REGULAR => THICK2
0 | 0 | 4960x7016 | Sleep=15 | 0 | REGULAR\n => REGULAR\n@PJL DEFAULT AUTOSLEEP=ON\n@PJL DEFAULT TIMEOUTSLEEP=15\n@PJL SET AUTOSLEEP=ON\n@PJL SET TIMEOUTSLEEP=15\n
2 | 0 | 4960x7016 | | 0 | PORTRAIT\n => PORTRAIT\n@PJL SET PAPER = A4\n; ~&l4096a26a6d1E =>
2 | 0 | 4960x7016 | PaperType=CUSTOM9 | 9 | PORTRAIT\n => PORTRAIT\n@PJL SET PAPER = CUSTOM\n; ~&l4096a26a6d1E =>
0 | 0 | 4960x7016 | Copies=3 | 0 | ~&l1X => ~&l3X
0 | 0 | 4960x7016 | Duplex=ON;DuplexType=Long | 0 | l0S => l1S
0 | 0 | 4960x7016 | Duplex=ON | 0 | l0S => l2S
0 | 0 | 4960x7016 | OutputBin=Outbin4 | 0 | AUTO\n => AUTO\n@PJL SET OUTBIN = OPTIONALOUTPUTBIN4\n
0 | 0 | 4960x7016 | OutputBin=Sorter3 | 0 | AUTO\n => AUTO\n@PJL SET OUTBIN = ALLSORTER\n@PJL SET COPY=1\n
# 8.5 x 11 inch: A4 too narrow; 4 x 6: COM10, margin 45; 7 x 10: JISB5, margin 60
0 | 0 | 5100x6600 | | 0 | a26a => a2a
0 | 0 | 2400x3600 | | 5 | a26a => a81a
0 | 0 | 4200x6000 | | 6 | a26a => a45a
# FOLIO, 3x5 and EnvYou4 only with their flags; wider than every paper: LEGAL; custom centres on LEGAL
100 | 0 | 5100x7800 | | 0 | a26a => a1038a
0 | 0 | 1800x3000 | | 33 | a26a => a80a
200 | 0 | 1800x3000 | | 0 | a26a => a1039a
0 | 0 | 2480x5500 | | 105 | a26a => a100a
400 | 0 | 2480x5500 | | 0 | a26a => a1040a
0 | 0 | 6000x9000 | | 0 | a26a => a3a
0 | 0 | 4960x7016 | PaperType=CUSTOM0 | 9 | a26a => a101a
0 | 65596 | 4960x7016 | | 6 |
0 | 2147483647 | 4960x7016 | | 0 |
0 | 14 | 4960x7016 | | 0 |
0 | 15 | 4960x7016 | | 2 |
0 | 60 | 4960x7016 | Resolution=300 | 3 | = 600 => = 300; 600D~*t600R => 300D~*t300R
0 | 60 | 4960x7016 | Resolution=1200 | 13 | RAS1200MODE = OFF\n@PJL SET RESOLUTION = 600 => RESOLUTION = 1200\n@PJL SET PAPERFEEDSPEED=HALF; 600D~*t600R => 1200D~*t1200R
0 | -100 | 4960x7016 | | 0 |)")) {
    SCOPED_TRACE(row[0] + " | " + row[1] + " | " + row[2] + " | " + row[3]);
    std::string expected = kGoldenHeader;
    for (std::size_t at = 0, end = 0; row.size() > 5 && at < row[5].size(); at = end + 2) {
      end = std::min(row[5].find("; ", at), row[5].size());
      const std::string edit = row[5].substr(at, end - at);
      const std::size_t arrow = edit.find(" =>"), from = expected.find(edit.substr(0, arrow));
      ASSERT_NE(std::string::npos, from) << edit;
      expected.replace(from, arrow, edit.substr(std::min(arrow + 4, edit.size())));
    }
    PrintSettings set = {};  // the golden header's settings file, then the row's (";" between)
    std::string lines =
        "[QV]\nPaperSource=Tray1\nPaperType=A4\nTonerSaveMode=OFF\n" + row[3] + "\n";
    std::replace(lines.begin(), lines.end(), ';', '\n');
    const qv::UniqueFile rc = fileWith(lines);
    EXPECT_TRUE(getRcFile(rc.get(), &set) == Status::kOk &&
                scalePageSize(std::stoi(row[2]), std::stoi(row[2].substr(row[2].find('x') + 1)),
                              set.resolution, set.width, set.height));
    set.paperWidth = set.width, set.paperHeight = set.height;
    const auto [out, param] = jobHeader(set, {row[0], std::stoi(row[1])}, kFixedTime);
    EXPECT_EQ(std::pair(expected, std::stoi(row[4])), std::pair(out, int{param.leftShift}));
  }
}

// owner | key | title | node | flags | clock | parts: Secure, Log, Job line, UTF-8, loGin user
TEST(MonoHeader, IdentificationPrintLogAndJobLine) {
  constexpr std::string_view kParts[] = {
      "@PJL SET REPRINT=OFF\n@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n"
      "@PJL SET HOLDKEY=1234\n@PJL SET USERNAME=\"alice\"\n"
      "@PJL SET LOGINUSER=\"alice\"\n@PJL SET JOBNAME=\"Report\"\n",
      "@PJL PRINTLOG ITEM = 1,PRINTER\n@PJL PRINTLOG ITEM = 2,Tue,14 Nov 2023 22:13:20\n"
      "@PJL PRINTLOG ITEM = 3,alice\n@PJL PRINTLOG ITEM = 4,host1\n"
      "@PJL SET JOBTIME = 20231114221320\n",
      "@PJL JOB NAME=\"Report\"\n", "@PJL SET STRINGCODESET=UTF8\n",
      "@PJL SET LOGINUSER=\"alice\"\n"};
  setenv("TZ", "UTC", 1);
  tzset();
  for (const auto& row : tableRows(R"(
alice | 1234 | Report | host1 | 0 | yes | SLJU
alice | 1234 | Report |       | 0 | yes | SJU
alice | 1234 | Report | host1 | 1 | yes | SLU
alice |      | Report | host1 | 0 | yes | GLJU
alice |      | Report | host1 | 0 | no  | G
alice |      | Report | host1 | 1 | yes | GLU
alice | 1234 |        | host1 | 0 | yes |)")) {
    SCOPED_TRACE(row[0] + row[1] + row[2] + row[3] + row[4] + row[5]);
    PrintSettings s = pageSettings(2, 4960, 7016);
    const auto put = [](auto& field, const std::string& value) {
      std::snprintf(field, sizeof field, "%s", value.c_str());
    };
    put(s.owner, row[0]), put(s.password, row[1]), put(s.jobName, row[2]), put(s.nodeName, row[3]);
    std::string expected = "\x1b%-12345X@PJL\n";
    for (const char part : row[6]) expected += kParts[std::string_view("SLJUG").find(part)];
    const std::string out =
        jobHeader(s, {row[4]}, row[5] == "yes" ? std::optional(kFixedTime) : std::nullopt).first;
    EXPECT_EQ(expected, out.substr(0, out.find("@PJL SET RAS")));
  }
}

const std::string kWorkedStream = qvtest::str(qvtest::workedMonoPage());
const std::string kSetup300 = esc("~E~&l4096a26a6d1E~&l1001H~&u300D~*t300R~&l1X~&l0S");

// flags | bin | title | size | input (P page, p page less a byte) | after the set-up
// (W page, R<n> replay of set n, N EOJ of "Report", X exit, T trailer). A size without a page
// reads no input. Names "rawtoqv_tmp_<ticks>_<pid>" planted in TMPDIR and /tmp for 3 s neither
// fail the copy file nor are touched; it leaves no name (the named way: 0600, unlinked at once).
TEST(MonoJobStream, PagesCopiesAndTrailerAmongPlantedNames) {
  const qvtest::ScopedTempDir dir;
  struct tms ticks;
  const auto now = static_cast<std::uint32_t>(::times(&ticks));
  std::vector<std::string> planted;
  for (std::uint32_t t = now; t < now + 3 * ::sysconf(_SC_CLK_TCK); ++t) {
    char name[64];
    std::snprintf(name, sizeof name, "rawtoqv_tmp_%x_%x", t, static_cast<unsigned>(::getpid()));
    for (const std::string& at : {dir.file(planted.emplace_back(name)), "/tmp/"s + name})
      qvtest::writeFile(at, "planted");
  }
  const std::vector<std::string> tmpBefore = qvtest::listDirectory("/tmp");
  std::string page(20 * 103, '\0');  // the decoder tests' worked page in printable rows 50, 51
  for (const int r : {50, 51}) page.replace(r * 20 + 6, 8, "\0\0\xFF\xFF\xFF\xFF\x12\x34", 8);
  for (const auto& row : tableRows(R"(
0 | 0 | | 160x103 | | T
0 | 0 | | 160x103 | P | W T
0 | 0 | | 160x103 | P p | W T
0 | 0 | Report | 160x103 | | X N X
1 | 0 | Report | 160x103 | | X
0 | 8 | | 160x103 | P P | W W R2 W W T
0 | 11 | | 160x103 | P P | W W R2 W W R3 W W R4 W W R5 W W T
0 | 9 | | 160x103 | | R2 R3 T
0 | 7 | | 160x103 | P | W T
0 | 0 | | 0x103 | P | T
0 | 0 | | 160x0 | P | T
0 | 0 | | 160x32768 | P | T)")) {
    SCOPED_TRACE(row[0] + " | " + row[1] + " | " + row[2] + " | " + row[3] + " | " + row[4]);
    PrintSettings settings =
        pageSettings(1, std::stoi(row[3]), std::stoi(row[3].substr(row[3].find('x') + 1)));
    settings.paperWidth = 2480, settings.paperHeight = 3508, settings.paperSource = 3;
    settings.media = settings.copies = settings.tonerSave = 1;
    settings.outputBin = std::stoi(row[1]);
    std::snprintf(settings.jobName, sizeof settings.jobName, "%s", row[2].c_str());
    std::snprintf(settings.tmpDir, sizeof settings.tmpDir, "%s", dir.path().c_str());
    std::string input;
    for (const char c : row[4]) input += c == 'P' ? page : c == 'p' ? page.substr(1) : "";
    std::string after;
    for (std::size_t at = 0; at < row[5].size(); at += 2) {
      const char c = row[5][at];
      after += c == 'W'   ? kWorkedStream
               : c == 'T' ? kTrailer
               : c == 'X' ? "\x1b%-12345X"
               : c == 'N' ? "@PJL EOJ NAME=\"Report\"\n"
                          : "\x1b%-12345X@PJL\n@PJL SET COPY=" + row[5].substr(++at, 1) +
                                "\n@PJL ENTER LANGUAGE = PCL\n" + kSetup300;
    }
    const JobRun run = runJob(settings, text(input), {row[0]});
    const std::size_t setup = run.out.find(kSetup300);
    ASSERT_NE(std::string::npos, setup) << run.out;
    EXPECT_EQ(after, run.out.substr(setup + kSetup300.size()));
    EXPECT_TRUE(monoPageFits(settings) || run.inputUsed == 0) << "input read";
  }
  for (const std::string& name : qvtest::newEntries(tmpBefore, qvtest::listDirectory("/tmp")))
    EXPECT_FALSE(name.starts_with("rawtoqv_tmp_") &&
                 name.ends_with(planted[0].substr(planted[0].rfind('_'))));
  const qv::UniqueFd fd(openCopyFile(dir.path().c_str(), false));
  struct stat status = {};
  EXPECT_TRUE(::fstat(fd.get(), &status) == 0 && status.st_nlink == 0 &&
              (status.st_mode & 0777u) == 0600u);
  EXPECT_EQ(planted.size(), qvtest::listDirectory(dir.path()).size());
  for (const std::string& name : planted)
    EXPECT_TRUE(qvtest::readFile(dir.file(name)) + qvtest::readFile("/tmp/" + name) ==
                    "plantedplanted" &&
                ::unlink(("/tmp/" + name).c_str()) == 0)
        << name;
}

TEST(MonoRoundTrip, RandomPagesAndTheirBytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a: the encoding choices are pinned too
  for (std::uint32_t seed = 1; seed <= 60 && !HasFailure(); ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    for (const char c : expectPrintableArea(randomMonoCase(rng, 140, 2)))
      hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ull;
  }
  EXPECT_EQ(0x6520f03b841a4418ull, hash);
}

}  // namespace
