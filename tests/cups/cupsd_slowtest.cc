// cupsd_slowtest.cc - a real cupsd on a socket of its own, with its own ServerRoot,
// spool and logs in a scratch directory: a queue per model added with
// lpadmin, a 3-page PDF printed on each with lp, a long colour job cancelled
// while it prints. Nothing may be left: no process, no private directory,
// no spooled document, no scratch file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/cups/cups_harness.h"

namespace fs = std::filesystem;

namespace {

// Polls `done` every 50 ms for up to `seconds`: the scheduler offers no
// event to wait on but its own state.
template <typename Predicate>
bool waitFor(Predicate done, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// Processes other than `except` whose command line mentions `root`.
int processesUnder(const std::string& root, pid_t except) {
  int found = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (const pid_t pid = std::stoi(name); pid == ::getpid() || pid == except) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), {});
    if (cmdline.find(root) != std::string::npos) ++found;
  }
  return found;
}

TEST(Cupsd, PrintsAndCancelsThroughARealScheduler) {
  if (const std::string missing = qvcupstest::missingPrerequisite(); !missing.empty())
    GTEST_SKIP() << missing;
  if (qvcupstest::systemTool("cupsd").empty()) GTEST_SKIP() << "cupsd is not installed";
  qvcupstest::CupsSandbox sandbox;
  ASSERT_EQ("", sandbox.error());
  const std::string pdf3 = qvcupstest::makeTestPdf(sandbox.root(), 3, 595, 842);
  const std::string pdfLong = qvcupstest::makeTestPdf(sandbox.root(), 40, 595, 842);

  const std::string base = sandbox.file("cupsd"), server = base + "/cupsd.sock";
  for (const char* sub : {"etc", "spool/tmp", "log", "cache", "state", "out"})
    fs::create_directories(base + "/" + sub);
  ::chmod((base + "/out").c_str(), 0777);  // the file device writes as lp
  ::chmod((base + "/spool").c_str(), 0710);
  qvtest::writeFile(base + "/etc/cupsd.conf",
                    "Listen " + server + "\nLogLevel debug\nMaxLogSize 0\nBrowsing No\n" +
                        "PreserveJobFiles No\nWebInterface No\nDefaultAuthType None\n" +
                        "<Location />\nAllow all\n</Location>\n<Policy default>\n" +
                        "<Limit All>\nAllow all\n</Limit>\n</Policy>\n");
  qvtest::writeFile(base + "/etc/cups-files.conf",
                    "ServerRoot " + base + "/etc\nRequestRoot " + base + "/spool\nTempDir " + base +
                        "/spool/tmp\nCacheDir " + base + "/cache\nStateDir " + base +
                        "/state\nServerBin " + sandbox.serverBin() + "\nErrorLog " + base +
                        "/log/error_log\nFileDevice Yes\nUser lp\nGroup lp\n");
  qvtest::ProgramRun scheduler;
  scheduler.path = qvcupstest::systemTool("cupsd");
  scheduler.args = {"-f", "-c", base + "/etc/cupsd.conf", "-s", base + "/etc/cups-files.conf"};
  qvtest::RunningProgram cupsd(scheduler);
  const auto client = [&](const char* tool, std::vector<std::string> args) {
    args.insert(args.begin(), {"-h", server});
    return qvcupstest::run(qvcupstest::systemTool(tool), args, {{"TMPDIR", sandbox.root()}});
  };
  const auto log = [&] { return qvtest::readFile(base + "/log/error_log"); };
  const auto submit = [&](std::vector<std::string> args) {
    const std::string out = client("lp", args).out;  // "request id is qvmono-1 (1 file(s))"
    const std::size_t at = out.find("request id is ");
    return at == std::string::npos ? "" : out.substr(at + 14, out.find(' ', at + 14) - at - 14);
  };
  const auto finished = [&](const std::string& id) {
    return client("lpstat", {"-W", "not-completed", "-o"}).out.find(id + " ") == std::string::npos;
  };
  ASSERT_TRUE(waitFor(
      [&] { return client("lpstat", {"-r"}).out.find("is running") != std::string::npos; }, 10))
      << log();
  for (const bool mono : {true, false}) {
    const std::string queue = mono ? "qvmono" : "qvcolour";
    const qvtest::ProgramResult added = client(
        "lpadmin",
        {"-p", queue, "-E", "-v", "file://" + base + "/out/" + queue, "-P", sandbox.ppd(mono)});
    ASSERT_EQ(0, added.status) << added.err;
  }

  // A 3-page PDF with options on each queue; the title and the PIN reach
  // the printer, as does cupsd's own print-color-mode for ColorModel=Gray.
  struct Job {
    bool mono;
    std::vector<std::string> options;
    std::vector<std::string> pjl;
  };
  const Job jobs[] = {
      {true,
       {"-o", "InputSlot=Tray2", "-o", "Duplex=DuplexNoTumble", "-o", "QVPin=4711"},
       {"@PJL SET SOURCETRAY = TRAY2", "@PJL SET HOLDKEY=4711", "@PJL SET HOLD=STORE"}},
      {false,
       {"-o", "ColorModel=Gray", "-o", "MediaType=Thick"},
       {"@PJL SET RENDERMODE=GRAYSCALE", "@PJL SET MEDIATYPE=THICK",
        "@PJL SET JOBNAME=\"Loopback 3 pages\""}},
  };
  for (const Job& job : jobs) {
    const std::string queue = job.mono ? "qvmono" : "qvcolour";
    SCOPED_TRACE(queue);
    std::vector<std::string> args = {"-d", queue, "-t", "Loopback 3 pages"};
    args.insert(args.end(), job.options.begin(), job.options.end());
    args.push_back(pdf3);
    const std::string id = submit(args);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(waitFor([&] { return finished(id); }, 120)) << log();
    const std::string output = base + "/out/" + queue;
    EXPECT_EQ("", qvcupstest::inspectCheck(output));
    qvcupstest::Expectation expect{job.mono,  600,       600,   4960,    7016,
                                   {0, 1, 2}, !job.mono, false, job.pjl, {}};
    qvcupstest::expectJobMatches(qvtest::readFile(output), pdf3, expect, sandbox.root());
  }

  // A document without a page to render: nothing reaches either printer,
  // and our reason, the job's first error, is its state message.
  const std::string empty = sandbox.file("empty.pdf");
  qvtest::writeFile(empty,
                    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages"
                    "/Kids[]/Count 0>>endobj\ntrailer<</Root 1 0 R/Size 3>>\n%%EOF\n");
  ::chmod(empty.c_str(), 0644);
  for (const char* queue : {"qvmono", "qvcolour"}) {
    ::truncate((base + "/out/" + queue).c_str(), 0);
    const std::string id = submit({"-d", queue, empty});
    const std::string job = "[Job " + id.substr(id.find('-') + 1) + "] ";
    ASSERT_TRUE(waitFor([&] { return log().find(job + "Job stopped") != std::string::npos; }, 60));
    const std::string text = log(), set = job + "Set job-printer-state-message to \"";
    const std::size_t at = text.rfind(set) + set.size();
    EXPECT_EQ("The document cannot be rendered: Ghostscript found no page in it",
              text.substr(at, text.find('"', at) - at));
    EXPECT_EQ("", qvtest::readFile(base + "/out/" + queue));
    client("cancel", {id});
  }

  // A long colour job cancelled once the printer stream has begun: the
  // filter ends the page in progress its own way and the job its trailer.
  const std::string output = base + "/out/qvcolour";
  const std::string id = submit({"-d", "qvcolour", "-t", "To be cancelled", pdfLong});
  ASSERT_TRUE(waitFor(
      [&] {
        struct stat info {};
        return ::stat(output.c_str(), &info) == 0 && info.st_size > 2000000;
      },
      60))
      << log();
  EXPECT_EQ(0, client("cancel", {id}).status);
  ASSERT_TRUE(waitFor([&] { return finished(id); }, 60)) << log();
  // The scheduler forgets a cancelled job while its processes still write.
  ASSERT_TRUE(waitFor([&] { return processesUnder(sandbox.root(), cupsd.pid()) == 0; }, 60));
  const std::string partial = qvtest::readFile(output);
  EXPECT_NE(std::string::npos, partial.find("@PJL SET RENDERMODE=COLOR\n"));
  const std::string trailer = "@PJL EOJ NAME=\"To be cancelled\"\n\x1b%-12345X";
  EXPECT_NE(std::string::npos, partial.find(trailer, partial.size() - 64))
      << "ends with its trailer";

  // The spool's temporary directory is every job process's TMPDIR: it
  // must be empty, and no spooled document ("d...") may stay.
  cupsd.signal(SIGTERM);
  cupsd.wait();
  EXPECT_EQ(0, processesUnder(sandbox.root(), 0));
  EXPECT_EQ(std::vector<std::string>{}, qvtest::listDirectory(base + "/spool/tmp"));
  for (const std::string& name : qvtest::listDirectory(base + "/spool"))
    EXPECT_NE('d', name[0]) << "spooled document left: " << name;
}

}  // namespace
