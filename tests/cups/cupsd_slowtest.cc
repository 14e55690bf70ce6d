// cupsd_slowtest.cc - a real cupsd on the loopback interface, with its own
// ServerRoot, RequestRoot and logs in a scratch directory: queues for both
// models added with lpadmin, a 3-page PDF printed with lp, a second job
// cancelled while it prints, then cupsd stopped. Nothing may be left behind:
// no process, no private directory, no spooled document.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cups/cups_harness.h"

namespace fs = std::filesystem;

namespace {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

// The scheduler and its client commands, all pointed at the scratch server.
class LoopbackCups {
 public:
  explicit LoopbackCups(const qvcupstest::CupsSandbox& sandbox) : sandbox_(sandbox) {
    port_ = freeLoopbackPort();
    server_ = "127.0.0.1:" + std::to_string(port_);
    base_ = sandbox.file("cupsd");
    for (const char* sub : {"etc", "spool", "spool/tmp", "log", "cache", "state", "out"})
      fs::create_directories(base_ + "/" + sub);
    // The file device writes the job where the test can read it; the
    // filters run as lp and need to reach the spool's temporary directory.
    ::chmod((base_ + "/out").c_str(), 0777);
    ::chmod((base_ + "/spool").c_str(), 0710);
    qvtest::writeFile(base_ + "/etc/cupsd.conf",
                      "Listen " + server_ +
                          "\n"
                          "LogLevel debug\n"
                          "MaxLogSize 0\n"
                          "Browsing No\n"
                          "WebInterface No\n"
                          "PreserveJobFiles No\n"
                          "ErrorPolicy abort-job\n"
                          "DefaultAuthType None\n"
                          "JobKillDelay 10\n"
                          "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                          "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                          "    Allow all\n  </Limit>\n</Policy>\n");
    qvtest::writeFile(base_ + "/etc/cups-files.conf",
                      "ServerRoot " + base_ + "/etc\nRequestRoot " + base_ + "/spool\nTempDir " +
                          base_ + "/spool/tmp\nCacheDir " + base_ + "/cache\nStateDir " + base_ +
                          "/state\nServerBin " + sandbox.serverBin() + "\nAccessLog " + base_ +
                          "/log/access_log\nErrorLog " + base_ + "/log/error_log\nPageLog " +
                          base_ +
                          "/log/page_log\nFileDevice Yes\nUser lp\nGroup lp\n"
                          "SystemGroup root\n");
  }

  ~LoopbackCups() { stop(); }

  bool start() {
    qvtest::ProgramRun run;
    run.path = qvcupstest::systemTool("cupsd");
    run.args = {"-f", "-c", base_ + "/etc/cupsd.conf", "-s", base_ + "/etc/cups-files.conf"};
    cupsd_ = std::make_unique<qvtest::RunningProgram>(run);
    for (int i = 0; i < 100; ++i) {
      if (client("lpstat", {"-r"}).out.find("is running") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  void stop() {
    if (!cupsd_) return;
    cupsd_->signal(SIGTERM);
    cupsd_->wait();
    cupsd_.reset();
  }

  // A client command (lpadmin, lp, lpstat, cancel) against this server.
  qvtest::ProgramResult client(const char* tool, std::vector<std::string> args) const {
    qvtest::ProgramRun run;
    run.path = qvcupstest::systemTool(tool);
    args.insert(args.begin(), {"-h", server_});
    run.args = std::move(args);
    run.env = {{"CUPS_SERVER", server_}, {"TMPDIR", sandbox_.root()}};
    return qvtest::runProgram(run);
  }

  // Waits until the job is no longer pending or printing.
  bool waitUntilDone(const std::string& jobId, int seconds = 180) const {
    for (int i = 0; i < seconds * 5; ++i) {
      const std::string active = client("lpstat", {"-W", "not-completed", "-o"}).out;
      if (active.find(jobId + " ") == std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
  }

  std::string out(const std::string& name) const { return base_ + "/out/" + name; }
  const std::string& base() const { return base_; }
  const std::string& server() const { return server_; }
  pid_t schedulerPid() const { return cupsd_ ? cupsd_->pid() : -1; }
  std::string errorLog() const { return qvtest::readFile(base_ + "/log/error_log"); }

 private:
  const qvcupstest::CupsSandbox& sandbox_;
  int port_ = 0;
  std::string server_, base_;
  std::unique_ptr<qvtest::RunningProgram> cupsd_;
};

// "request id is qvmono-1 (1 file(s))" -> "qvmono-1".
std::string requestId(const std::string& lpOutput) {
  const std::string marker = "request id is ";
  const std::size_t at = lpOutput.find(marker);
  if (at == std::string::npos) return "";
  const std::size_t start = at + marker.size();
  return lpOutput.substr(start, lpOutput.find(' ', start) - start);
}

// Processes whose command line mentions the scratch tree: a filter, a
// Ghostscript or a wrapper that outlived its job.
std::vector<std::string> processesUnder(const std::string& root) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (std::stoi(name) == ::getpid()) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(root) != std::string::npos) found.push_back(name + ": " + cmdline);
  }
  return found;
}

// A cancelled job leaves the scheduler's list of unfinished jobs at once,
// while the wrapper and the filter are still writing the job's last bytes:
// waits until no process but the scheduler itself works in the scratch tree.
bool waitForJobProcesses(const std::string& root, pid_t scheduler, int seconds) {
  const std::string schedulerPrefix = std::to_string(scheduler) + ":";
  for (int i = 0; i < seconds * 10; ++i) {
    bool busy = false;
    for (const std::string& process : processesUnder(root))
      if (process.rfind(schedulerPrefix, 0) != 0) busy = true;
    if (!busy) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// The colour filter's own cancel writes 5768 zero bytes and then ends the
// job: the last complete page not yet sent, then the trailer. So the fill
// stands where a page header, "RaS2" or the trailer would begin. Without it
// the job must be well formed.
std::string withoutCancelPadding(const std::string& job) {
  const std::string fill(5768, '\0');
  for (const char* next : {"\x1b%-12345X", "RaS2", "PwgRaster"}) {
    const std::size_t at = job.find(fill + next);
    if (at != std::string::npos) return job.substr(0, at) + job.substr(at + fill.size());
  }
  return job;
}

TEST(CupsdLoopback, PrintsAndCancelsThroughARealScheduler) {
  if (const std::string missing = qvcupstest::missingPrerequisite(); !missing.empty())
    GTEST_SKIP() << missing;
  for (const char* tool : {"cupsd", "lpadmin", "lp", "lpstat", "cancel"})
    if (qvcupstest::systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  const std::vector<std::string> tmpBefore = qvtest::listDirectory("/tmp");

  qvcupstest::CupsSandbox sandbox;
  ASSERT_EQ("", sandbox.error());
  const std::string pdf3 = qvcupstest::makeTestPdf(sandbox.root(), "three.pdf", 3, 595, 842);
  const std::string pdfLong = qvcupstest::makeTestPdf(sandbox.root(), "long.pdf", 40, 595, 842);
  ::chmod(pdf3.c_str(), 0644);
  ::chmod(pdfLong.c_str(), 0644);
  {
    LoopbackCups cups(sandbox);
    ASSERT_TRUE(cups.start()) << cups.errorLog();
    std::printf("cupsd listening on %s\n", cups.server().c_str());

    // One queue per model, as an administrator adds them.
    for (const auto& [queue, mono] : {std::pair{"qvmono", true}, std::pair{"qvcolour", false}}) {
      const qvtest::ProgramResult added = cups.client(
          "lpadmin", {"-p", queue, "-E", "-v", "file://" + cups.out(std::string(queue) + ".prn"),
                      "-P", sandbox.ppd(mono)});
      ASSERT_EQ(0, added.status) << added.err;
      std::printf("$ lpadmin -p %s -E -v file://%s -P %s\n%s", queue,
                  cups.out(std::string(queue) + ".prn").c_str(), sandbox.ppd(mono).c_str(),
                  added.err.c_str());
    }

    // A 3-page PDF with options on each queue.
    struct Job {
      const char* queue;
      std::vector<std::string> options;
      std::vector<std::string> pjl;
      bool mono;
    };
    const Job jobs[] = {
        {"qvmono",
         {"-o", "InputSlot=Tray2", "-o", "Duplex=DuplexNoTumble", "-o", "QVPin=4711"},
         {"@PJL SET SOURCETRAY = TRAY2", "@PJL SET HOLDKEY=4711", "@PJL SET HOLD=STORE"},
         true},
        {"qvcolour",
         {"-o", "ColorModel=Gray", "-o", "MediaType=Thick", "-o", "InputSlot=Tray1"},
         {"@PJL SET RENDERMODE=GRAYSCALE", "@PJL SET MEDIATYPE=THICK", "@PJL SET SOURCETRAY=TRAY1",
          "@PJL SET JOBNAME=\"Loopback 3 pages\""},
         false},
    };
    for (const Job& job : jobs) {
      SCOPED_TRACE(job.queue);
      std::vector<std::string> args = {"-d", job.queue, "-t", "Loopback 3 pages"};
      args.insert(args.end(), job.options.begin(), job.options.end());
      args.push_back(pdf3);
      const qvtest::ProgramResult submitted = cups.client("lp", args);
      ASSERT_EQ(0, submitted.status) << submitted.err;
      const std::string id = requestId(submitted.out);
      ASSERT_FALSE(id.empty()) << submitted.out;
      std::printf("$ lp");
      for (const std::string& arg : args) std::printf(" %s", arg.c_str());
      std::printf("\n%s", submitted.out.c_str());
      ASSERT_TRUE(cups.waitUntilDone(id)) << cups.errorLog();

      const std::string output = cups.out(std::string(job.queue) + ".prn");
      const std::string bytes = qvtest::readFile(output);
      ASSERT_FALSE(bytes.empty()) << cups.errorLog();
      EXPECT_EQ("", qvcupstest::inspectCheck(output));
      qvcupstest::Expectation expect;
      expect.mono = job.mono;
      expect.pageOrder = {0, 1, 2};
      expect.gray = !job.mono;
      expect.pjl = job.pjl;
      if (job.mono) expect.pcl = {"\x1b&l1S"};
      const qvcupstest::Rendering rendering =
          qvcupstest::renderWithGhostscript(pdf3, job.mono, 600, 600, 4960, 7016, sandbox.root());
      qvcupstest::expectJobMatches(bytes, rendering, expect);
      std::printf("%s: %zu bytes, qvinspect --check passed\n$ qvinspect %s\n%s", output.c_str(),
                  bytes.size(), output.c_str(), qvcupstest::inspectReport(output).c_str());
    }

    // A long job on each queue, cancelled once the printer stream has begun.
    // The colour filter ends a page in progress its own way; the mono filter
    // sees its input end and drops the unfinished page.
    struct CancelCase {
      const char* queue;
      std::vector<std::string> options;
      long startedBytes;
      const char* headerLine;  // a job without colour options must print in colour
    };
    const CancelCase cancels[] = {
        {"qvcolour", {}, 2000000, "@PJL SET RENDERMODE=COLOR\n"},
        {"qvmono", {"-o", "Resolution=1200dpi"}, 300000, "@PJL SET RESOLUTION = 1200\n"}};
    for (const CancelCase& c : cancels) {
      SCOPED_TRACE(c.queue);
      const std::string output = cups.out(std::string(c.queue) + ".prn");
      std::vector<std::string> args = {"-d", c.queue, "-t", "To be cancelled"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      args.push_back(pdfLong);
      const qvtest::ProgramResult submitted = cups.client("lp", args);
      ASSERT_EQ(0, submitted.status) << submitted.err;
      const std::string id = requestId(submitted.out);
      bool printing = false;
      for (int i = 0; i < 1200 && !printing; ++i) {
        struct stat info {};
        printing = ::stat(output.c_str(), &info) == 0 && info.st_size > c.startedBytes;
        if (!printing) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      ASSERT_TRUE(printing) << "the job never started printing\n" << cups.errorLog();
      const qvtest::ProgramResult cancel = cups.client("cancel", {id});
      EXPECT_EQ(0, cancel.status) << cancel.err;
      std::printf("$ lp -d %s -t 'To be cancelled' ... long.pdf (40 pages)\n%s$ cancel %s\n",
                  c.queue, submitted.out.c_str(), id.c_str());
      ASSERT_TRUE(cups.waitUntilDone(id, 60)) << cups.errorLog();
      ASSERT_TRUE(waitForJobProcesses(sandbox.root(), cups.schedulerPid(), 60))
          << "the cancelled job's processes never ended\n"
          << cups.errorLog();
      const std::string partial = qvtest::readFile(output);
      EXPECT_NE(std::string::npos, partial.find(c.headerLine)) << c.headerLine;
      const std::string trimmed = withoutCancelPadding(partial);
      const std::string trimmedPath = sandbox.file("cancelled.prn");
      qvtest::writeFile(trimmedPath, trimmed);
      EXPECT_EQ("", qvcupstest::inspectCheck(trimmedPath));
      const std::string trailer = "@PJL EOJ NAME=\"To be cancelled\"\n\x1b%-12345X";
      EXPECT_NE(std::string::npos,
                partial.find(trailer, partial.size() - std::min<std::size_t>(partial.size(), 64)))
          << "the cancelled job still ends with its trailer";
      std::printf(
          "cancelled %s job: %zu bytes%s, ends with its trailer\n%s", c.queue, partial.size(),
          trimmed.size() != partial.size() ? " (page in progress ended by 5768 zero bytes)" : "",
          qvcupstest::inspectReport(trimmedPath).c_str());
      ::unlink(trimmedPath.c_str());
    }

    // The wrapper's private directories and the spooled documents are gone.
    for (const auto& entry : fs::directory_iterator(cups.base() + "/spool/tmp"))
      EXPECT_EQ(std::string::npos, entry.path().filename().string().find("qvcups-"))
          << "left behind: " << entry.path();
    for (const auto& entry : fs::directory_iterator(cups.base() + "/spool"))
      EXPECT_NE('d', entry.path().filename().string()[0])
          << "spooled document left: " << entry.path();
    cups.stop();
  }
  EXPECT_TRUE(processesUnder(sandbox.root()).empty());
  // Other tests may use /tmp meanwhile (ctest -j): an entry counts as left
  // behind only if it is still there a moment later. The wrapper under cupsd
  // works in the scheduler's TempDir; the colour filter's page files and the
  // mono filter's copy file are the names that could land in /tmp.
  std::vector<std::string> suspects;
  for (const std::string& name : qvtest::newEntries(tmpBefore, qvtest::listDirectory("/tmp")))
    for (const char* prefix : {"qvcups-", "ec_tmppage_", "rawtoqv_tmp_"})
      if (name.rfind(prefix, 0) == 0) suspects.push_back(name);
  if (!suspects.empty()) std::this_thread::sleep_for(std::chrono::seconds(2));
  for (const std::string& name : suspects)
    EXPECT_FALSE(fs::exists("/tmp/" + name)) << "left in /tmp: " << name;
}

}  // namespace
