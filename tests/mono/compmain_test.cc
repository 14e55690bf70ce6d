// compmain_test.cc - the job driver: page loop, partial pages, sorted-copy
// replays through the temporary copy file, trailer, sizes that cannot
// describe a page, allocation failure, and cancellation by SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

using monotest::Bytes;
using monotest::bytesOf;
using monotest::InputStream;
using monotest::MemoryStream;
using monotest::ScopedJobFlags;
using monotest::operator+;

// 300 dpi raster of 160 x 103 dots (the worked page) on an A4 sheet, so the
// header is the plain A4 one and the left shift 0.
PrintSettings smallPageSettings() {
  PrintSettings settings = monotest::tray1Settings(1, 2480, 3508);
  settings.width = 160;
  settings.height = 103;
  return settings;
}

const std::string kPjlHeader =
    "\x1b%-12345X@PJL\n@PJL SET RAS1200MODE = OFF\n@PJL SET RESOLUTION = 300\n"
    "@PJL SET ECONOMODE = OFF\n@PJL SET SOURCETRAY = TRAY1\n@PJL SET MEDIATYPE = REGULAR\n"
    "@PJL SET ORIENTATION = PORTRAIT\n@PJL SET PAGEPROTECT = AUTO\n";
const std::string kEnterPcl = "@PJL ENTER LANGUAGE = PCL\n";
const std::string kPclSetup = monotest::esc("~E~&l4096a26a6d1E~&l1001H~&u300D~*t300R~&l1X~&l0S");
const std::string kTrailer = "\x1b%-12345X@PJL EOJ NAME=\"Linux print job\"\n\x1b%-12345X";

// The worked page: rows 50 and 51 hold 00 00 FF FF FF FF 12 34 after their
// six skipped bytes.
Bytes workedPage() {
  Bytes page(20 * 103, 0x00);
  const Bytes row = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  std::copy(row.begin(), row.end(), page.begin() + 50 * 20 + 6);
  std::copy(row.begin(), row.end(), page.begin() + 51 * 20 + 6);
  return page;
}

const std::string kWorkedPageStream = std::string(
    "\x1b*b1030m"
    "13w\x00\x03"
    "\x03\x01\x00\x00\x82\xFF\x01\x12\x34"
    "\x00\xFF"
    "1030M\f",
    8 + 5 + 9 + 2 + 6);

std::string runJob(const PrintSettings& settings, const Bytes& input) {
  InputStream in(input);
  MemoryStream out;
  EXPECT_EQ(kQvcompDone, qvcomp1030(in.get(), out.get(), settings));
  return out.text();
}

TEST(Qvcomp1030, PagesAndTheirEnds) {
  struct Case {
    const char* why;
    Bytes input;
    std::string pages;
  };
  const Bytes page = workedPage();
  const Case cases[] = {
      {"empty input: header and trailer, no form feed", {}, ""},
      {"one page", page, kWorkedPageStream},
      {"one byte short of two pages: the partial page is dropped",
       Bytes(page + Bytes(page.begin(), page.end() - 1)), kWorkedPageStream},
      {"two pages", page + page, kWorkedPageStream + kWorkedPageStream},
      {"less than a row", Bytes(3, 0xFF), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags("0");
    EXPECT_EQ(kPjlHeader + kEnterPcl + kPclSetup + c.pages + kTrailer,
              runJob(smallPageSettings(), c.input));
  }
}

TEST(Qvcomp1030, Trailer) {
  struct Case {
    const char* why;
    const char* flags;
    const char* jobName;
    std::string trailer;
  };
  const Case cases[] = {
      {"no job name: the generic end-of-job line", "0", "", kTrailer},
      {"job name in the end-of-job line", "0", "Report",
       "\x1b%-12345X@PJL EOJ NAME=\"Report\"\n\x1b%-12345X"},
      {"flag 0/1: a single universal exit", "1", "Report", "\x1b%-12345X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags(c.flags);
    PrintSettings settings = smallPageSettings();
    std::snprintf(settings.jobName, sizeof settings.jobName, "%s", c.jobName);
    const std::string job = runJob(settings, {});
    ASSERT_GE(job.size(), c.trailer.size());
    EXPECT_EQ(c.trailer, job.substr(job.size() - c.trailer.size()));
    // The end-of-job line appears only in the trailer (never in the header).
    EXPECT_EQ(c.trailer.find("EOJ") != std::string::npos, job.find("EOJ") != std::string::npos);
  }
}

// Copy files of process `pid` left in /tmp ("rawtoqv_tmp_<ticks>_<pid>").
std::vector<std::string> copyFilesOf(pid_t pid) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%x", static_cast<unsigned>(pid));
  std::vector<std::string> found;
  for (const std::string& name : qvtest::listDirectory("/tmp"))
    if (name.starts_with("rawtoqv_tmp_") && name.ends_with(suffix)) found.push_back(name);
  return found;
}

// Sorted copies: the job's PCL stream (set-up and pages) is sent once more
// per further set, each after its own PJL lines, and the copy file is gone.
TEST(Qvcomp1030, SortedCopiesReplayThePclStream) {
  const std::string sorter = "@PJL SET OUTBIN = ALLSORTER\n@PJL SET COPY=1\n";
  struct Case {
    const char* why;
    int outputBin, pages;
    std::string binLines;
    int sets;
  };
  const Case cases[] = {
      {"Sorter2: two sets", 8, 2, sorter, 2},
      {"Sorter3: three sets", 9, 2, sorter, 3},
      {"Sorter5: five sets", 11, 2, sorter, 5},
      {"an empty job replays its set-up", 8, 0, sorter, 2},
      {"Stacker: one set, no copy file", 7, 2, "@PJL SET OUTBIN = ALLSTACKER\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags("0");
    PrintSettings settings = smallPageSettings();
    settings.outputBin = c.outputBin;
    std::string pcl = kPclSetup;
    Bytes input;
    for (int p = 0; p < c.pages; ++p) {
      pcl += kWorkedPageStream;
      input = input + workedPage();
    }
    std::string expected = kPjlHeader + c.binLines + kEnterPcl + pcl;
    for (int set = 2; set <= c.sets; ++set)
      expected += "\x1b%-12345X@PJL\n@PJL SET COPY=" + std::to_string(set) + "\n" + kEnterPcl + pcl;
    EXPECT_EQ(expected + kTrailer, runJob(settings, input));
    EXPECT_EQ(std::vector<std::string>{}, copyFilesOf(::getpid()));
  }
}

// Mended: sizes that cannot describe a page give a job without pages, and
// the input is not read (pages of 0 bytes would be read without end).
TEST(Qvcomp1030, SizesThatCannotDescribeAPage) {
  struct Case {
    const char* why;
    int width, height;
  };
  const Case cases[] = {
      {"width 0", 0, 103},          {"negative width", -160, 103},           {"height 0", 160, 0},
      {"negative height", 160, -1}, {"height above 32767 rows", 160, 32768},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScopedJobFlags flags("0");
    PrintSettings settings = smallPageSettings();
    settings.width = c.width;
    settings.height = c.height;
    InputStream in(workedPage());
    MemoryStream out;
    EXPECT_EQ(kQvcompDone, qvcomp1030(in.get(), out.get(), settings));
    EXPECT_EQ(kPjlHeader + kEnterPcl + kPclSetup + kTrailer, out.text());
    EXPECT_EQ(0, std::ftell(in.get()));
  }
}

// Mended: a copy file that cannot take the whole stream (a full /tmp, here
// a file-size limit) would replay a cut raster sequence; the replays then
// carry only their PJL commands. Run in a child so that the limit stays
// there.
TEST(Qvcomp1030, IncompleteCopyFileIsNotReplayed) {
  const Bytes page = workedPage();
  InputStream in(page + page);  // written before the limit applies
  std::fflush(nullptr);
  int pipeFds[2];
  ASSERT_EQ(0, ::pipe(pipeFds));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    const struct rlimit limit = {64, 64};  // the set-up fits, the first page does not
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
    std::FILE* out = ::fdopen(pipeFds[1], "w");
    PrintSettings settings = smallPageSettings();
    settings.outputBin = 9;
    const int result = qvcomp1030(in.get(), out, settings);
    std::fclose(out);
    ::_exit(result);
  }
  ::close(pipeFds[1]);
  std::string job;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    job.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kQvcompDone);

  const std::string replay = "\x1b%-12345X@PJL\n@PJL SET COPY=";
  EXPECT_EQ(kPjlHeader + "@PJL SET OUTBIN = ALLSORTER\n@PJL SET COPY=1\n" + kEnterPcl + kPclSetup +
                kWorkedPageStream + kWorkedPageStream + replay + "2\n" + kEnterPcl + replay +
                "3\n" + kEnterPcl + kTrailer,
            job);
  EXPECT_EQ(std::vector<std::string>{}, copyFilesOf(child));
}

#ifdef RAWTOQV_PATH
// Mended: a job ended by a signal while the copy file exists removes it,
// and still ends by that signal, as the spooler expects of a cancelled
// filter (SIGTERM), a closed output pipe (SIGPIPE) or a terminal.
TEST(Qvcomp1030, EndingSignalRemovesTheCopyFile) {
  for (int sig : {SIGTERM, SIGPIPE, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    qvtest::ScopedTempDir dir;
    qvtest::writeFile(dir.file("rc"), "[QV]\nResolution=600\nPaperType=A4\nOutputBin=Sorter3\n");
    qvtest::ProgramRun run;
    run.path = RAWTOQV_PATH;
    run.args = {"-rc", dir.file("rc"), "-ps", "4960x7016"};
    qvtest::RunningProgram program(run);
    auto copyFiles = [&] { return copyFilesOf(program.pid()); };

    // Half a page: the filter waits for the rest with its copy file open.
    ASSERT_TRUE(program.writeInput(std::string(620 * 3000, '\0')));
    for (int wait = 0; wait < 500 && copyFiles().empty(); ++wait) program.pump(10);
    ASSERT_EQ(1u, copyFiles().size());
    // It holds the customer's page: readable by the job's user alone.
    struct stat status = {};
    ASSERT_EQ(0, ::lstat(("/tmp/" + copyFiles()[0]).c_str(), &status));
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(0600u, status.st_mode & 0777u);

    program.signal(sig);
    const qvtest::ProgramResult result = program.wait();
    EXPECT_EQ(sig, result.termSignal);
    EXPECT_EQ(std::vector<std::string>{}, copyFiles());
  }
}
#endif

}  // namespace
