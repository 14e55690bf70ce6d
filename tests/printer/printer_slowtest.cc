// printer_slowtest.cc - qvprinter as clients no one here wrote see it: a
// server on a loopback port with a private spool and state, a socket:// sink
// per model, CUPS's ipptool and IPP Everywhere suite, a loopback cupsd with an
// everywhere queue, and chromium for the web interface.
#include <arpa/inet.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "tests/support/gs_pages.h"

namespace {

using qvtest::run;
using qvtest::systemTool;
using Words = std::vector<std::string>;

// A loopback socket listening on a free port (port 0) or connected to
// `port`; the port, or 0 when that failed.
int loopback(int& fd, int port = 0) {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (port != 0) return ::connect(fd, any, size) == 0 ? port : 0;
  const bool ok = ::bind(fd, any, size) == 0 && ::listen(fd, 4) == 0;
  return ok && ::getsockname(fd, any, &size) == 0 ? ntohs(address.sin_port) : 0;
}

// Polls a server that offers no event to wait on, for at most a minute.
template <typename Ready>
bool waitUntil(Ready ready) {
  for (int i = 0; i < 600 && !ready(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return ready();
}

int freePort() {
  int fd = -1;
  const int port = loopback(fd);
  ::close(fd);
  return port;
}

// A printer's AppSocket port: what connection n (from 0) received is job(n).
class SocketSink {
 public:
  SocketSink() : port_(loopback(fd_)) {}
  ~SocketSink() {
    ::shutdown(fd_, SHUT_RDWR);  // accept() fails: the thread ends
    thread_.join();
    ::close(fd_);
  }
  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  std::size_t started() {
    std::lock_guard lock(mutex_);
    return jobs_.size();
  }
  // Connection n has ended, or has received `bytes` bytes.
  bool waitEnded(std::size_t n, std::size_t bytes = SIZE_MAX) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(5), [&] {
      return ended_ > n || (jobs_.size() == n + 1 && jobs_[n].size() >= bytes);
    });
  }
  std::string job(std::size_t n) {
    std::lock_guard lock(mutex_);
    return jobs_.at(n);
  }

 private:
  void serve() {
    for (int connection; (connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      std::unique_lock lock(mutex_);
      jobs_.emplace_back();
      lock.unlock();
      std::vector<char> buffer(1 << 20);
      for (ssize_t got; (got = ::read(connection, buffer.data(), buffer.size())) > 0;) {
        std::lock_guard append(mutex_);
        jobs_.back().append(buffer.data(), std::size_t(got));  // only this thread adds jobs
        changed_.notify_all();
      }
      ::close(connection);
      lock.lock();
      ++ended_;
      changed_.notify_all();
    }
  }
  int fd_ = -1, port_ = 0;
  std::size_t ended_ = 0;
  std::vector<std::string> jobs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_{[this] { serve(); }};
};

struct JobResult {
  std::string id, state, message, bytes;  // bytes: what the sink received ("" for nothing)
};

// qvprinter with printers "mono" and "colour", shared by the suite; PAPPL's
// clients find its socket under SNAP_COMMON.
class Server {
 public:
  Server() {
    const std::map<std::string, std::string> env = {{"SNAP_COMMON", file("")},
                                                    {"TMPDIR", file("")}};
    std::filesystem::create_directories(file("spool"));
    Words args{"server"};
    for (const std::string& option :
         Words{"server-port=" + std::to_string(port), "listen-hostname=127.0.0.1",
               "spool-directory=" + file("spool"), "log-file=" + file("log"), "log-level=info",
               "server-options=no-tls", "state-file=" + file("state")})
      args.insert(args.end(), {"-o", option});
    server_ =
        std::make_unique<qvtest::RunningProgram>(qvtest::ProgramRun{QVPRINTER_PATH, args, env, ""});
    // Before the server owns its port, a client would start a private one.
    up = waitUntil([&] {
      int fd = -1;
      const bool open = loopback(fd, port) != 0;
      ::close(fd);
      return open;
    });
    for (const bool mono : {true, false})
      up = up && run(QVPRINTER_PATH,
                     {"add", "-d", name(mono), "-m", mono ? "qv-m600" : "qv-c600", "-v",
                      sink(mono).uri()},
                     env)
                         .status == 0;
  }
  ~Server() {
    server_->signal(SIGTERM);  // PAPPL saves its state and ends
    server_->wait();
  }
  static const char* name(bool mono) { return mono ? "mono" : "colour"; }
  std::string uri(bool mono) const {
    return "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print/" + name(mono);
  }
  SocketSink& sink(bool mono) { return mono ? mono_ : colour_; }
  std::string file(const std::string& name) const { return dir_.file(name); }

  // ipptool -t, timed out: a job that never ends must not hang the suite.
  qvtest::ProgramResult ipptool(bool mono, std::string test, Words args) const {
    args.insert(args.begin(), {"600", systemTool("ipptool"), "-t"});
    if (test.find('/') == std::string::npos) test = QV_PRINTER_TEST_DIR "/" + test;
    args.insert(args.end(), {uri(mono), test});
    return run(systemTool("timeout"), args);
  }
  // Its last state and message as ipptool shows them, once the job has ended.
  JobResult waitJob(bool mono, const std::string& id) const {
    const std::string out = ipptool(mono, "wait.test", {"-d", "job=" + id}).out;
    JobResult result{id, "", "", ""};
    std::smatch m;
    for (std::string rest = out;
         std::regex_search(rest, m, std::regex("job-state(-message)? \\(\\S+\\) = (.*)"));
         rest = m.suffix())
      (m[1].matched ? result.message : result.state) = m[2].str();
    return result;
  }
  // Print-Job on A4; with `wait`, the job's end and what the printer received.
  JobResult print(bool mono, const std::string& file, const std::string& format,
                  const std::string& pin = "", int dpi = 600, bool wait = true) {
    const std::size_t n = sink(mono).started();
    const std::string out =
        ipptool(mono, "print.test",
                {"-d", "format=" + format, "-d", "media=iso_a4_210x297mm", "-d", "pin=" + pin, "-d",
                 "fidelity=false", "-d", "res=" + std::to_string(dpi) + "dpi", "-f", file})
            .out;
    std::smatch id;
    if (!std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)")))
      return {"", "not submitted", out, ""};
    if (!wait) return {id[1], "", "", ""};
    JobResult result = waitJob(mono, id[1]);
    if (sink(mono).started() > n && sink(mono).waitEnded(n)) result.bytes = sink(mono).job(n);
    return result;
  }

 private:
  qvtest::ScopedTempDir dir_;
  SocketSink mono_, colour_;

 public:
  const int port = freePort();
  bool up = false;

 private:
  std::unique_ptr<qvtest::RunningProgram> server_;
};

class QvPrinter : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!systemTool("ipptool").empty() && !systemTool("gs").empty())
      server_ = std::make_unique<Server>();
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (!server_) GTEST_SKIP() << "ipptool (cups-ipp-utils) or gs (ghostscript) missing";
    ASSERT_TRUE(server_->up) << qvtest::readFile(server_->file("log"));
  }
  static std::unique_ptr<Server> server_;
};
std::unique_ptr<Server> QvPrinter::server_;

// The pages of a PWG raster file, as libcups reads them.
qvtest::Pages readPwg(const std::string& path) {
  qvtest::Pages out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  for (cups_page_header2_t h; raster != nullptr && cupsRasterReadHeader2(raster, &h);) {
    out.rowBytes = h.cupsBytesPerLine;
    out.height = h.cupsHeight;
    out.pages.emplace_back(out.rowBytes * h.cupsHeight, '\0');
    cupsRasterReadPixels(raster, reinterpret_cast<unsigned char*>(out.pages.back().data()),
                         h.cupsBytesPerLine * h.cupsHeight);
  }
  cupsRasterClose(raster);
  ::close(fd);
  return out;
}

// A PWG raster page, a PDF at each mono resolution and in colour, a JPEG:
// each job passes qvinspect --check with its pages, which are the input's or
// Ghostscript's rendering (the mono PWG page is 8-bit gray, which the driver
// dithers, so it is checked for form). A bad PIN is refused, nothing sent.
TEST_F(QvPrinter, DocumentsPrintAsTheirSourcePages) {
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 2, 595, 842);
  const auto gs = [&](const std::string& out, Words args) {
    args.insert(args.begin(), {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sOutputFile=" + out});
    EXPECT_EQ(0, run(systemTool("gs"), args).status) << out;
    return out;
  };
  const std::string jpeg = gs(dir + "photo.jpg", {"-sDEVICE=jpeg", "-r50", pdf});
  const auto pwg = [&](bool mono) {
    return gs(dir + (mono ? "gray.pwg" : "rgb.pwg"),
              {"-sDEVICE=pwgraster", "-r600", "-g4960x7016", "-dFIXEDMEDIA", "-dLastPage=1",
               mono ? "-dcupsColorSpace=18" : "-dcupsColorSpace=19", "-dcupsBitsPerColor=8", pdf});
  };
  const struct {
    bool mono;
    std::string file, format, pin;
    int dpi;
    const char* pages;  // in qvinspect's report
  } jobs[] = {{true, pwg(true), "image/pwg-raster", "", 600, ", 1 page"},
              {false, pwg(false), "image/pwg-raster", "", 600, ", 1 page"},
              {true, pdf, "application/pdf", "", 600, ", 2 pages"},
              {true, pdf, "application/pdf", "", 300, ", 2 pages"},
              {false, pdf, "application/pdf", "4711", 600, ", 2 pages"},
              {true, jpeg, "image/jpeg", "", 600, ", 1 page"},
              {false, jpeg, "image/jpeg", "", 600, ", 1 page"},
              {true, pdf, "application/pdf", "12a4", 600, ""},
              {false, pdf, "application/pdf", "123", 600, ""}};
  for (const auto& e : jobs) {
    SCOPED_TRACE(e.format + (e.mono ? " mono " : " colour ") + std::to_string(e.dpi) + e.pin);
    const JobResult job = server_->print(e.mono, e.file, e.format, e.pin, e.dpi);
    if (!*e.pages) {
      EXPECT_EQ("aborted", job.state);
      EXPECT_EQ("The secure-print PIN must be exactly 4 digits; the job was not printed.",
                job.message);
      EXPECT_EQ("", job.bytes);
      continue;
    }
    EXPECT_EQ("completed", job.state) << job.message;
    EXPECT_NE(std::string::npos, qvtest::inspectJob(job.bytes, dir + "job.prn").find(e.pages));
    qvtest::Layout layout;
    layout.mono = e.mono;
    layout.xdpi = layout.ydpi = e.dpi;
    layout.order = e.file == pdf ? "0 1" : "0";
    layout.header = e.pin.empty() ? "" : "@PJL SET HOLDKEY=" + e.pin;
    if (e.file == pdf)
      qvtest::expectJobMatches(
          job.bytes, qvtest::renderPdf(pdf, e.mono, e.dpi, e.dpi, 4960, 7016, dir), layout);
    else if (e.format == "image/pwg-raster" && !e.mono)
      qvtest::expectJobMatches(job.bytes, readPwg(e.file), layout);
  }
}

// Cancelled mid-job: the stream ends in the trailer, short of the last page.
TEST_F(QvPrinter, CancelMidJobEndsTheStreamWithTheTrailer) {
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 20, 595, 842);
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(Server::name(mono));
    SocketSink& sink = server_->sink(mono);
    const std::size_t n = sink.started();
    const JobResult job = server_->print(mono, pdf, "application/pdf", "", 600, false);
    ASSERT_NE("", job.id) << job.message;
    ASSERT_TRUE(sink.waitEnded(n, 20000));  // the header and the first page are on their way
    server_->ipptool(mono, "cancel.test", {"-d", "job=" + job.id});
    EXPECT_EQ("canceled", server_->waitJob(mono, job.id).state);
    ASSERT_TRUE(sink.waitEnded(n));
    const std::string bytes = sink.job(n);
    EXPECT_NE(std::string::npos, bytes.find("\x1b%-12345X", bytes.size() - 16));
    EXPECT_EQ(std::string::npos,
              qvtest::inspectJob(bytes, server_->file("cancel.prn")).find(", 20 pages"));
  }
}

TEST_F(QvPrinter, WebInterfaceListsBothPrinters) {
  const std::string chromium = systemTool("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  const qvtest::ProgramResult page =
      run(systemTool("timeout"),
          {"120", chromium, "--headless", "--no-sandbox", "--disable-gpu",
           "--disable-background-networking", "--disable-component-update", "--disable-sync",
           "--no-first-run", "--user-data-dir=" + server_->file("chromium"), "--dump-dom",
           "http://127.0.0.1:" + std::to_string(server_->port) + "/"},
          {{"HOME", server_->file("")}});
  ASSERT_EQ(0, page.status) << page.err;
  for (const char* text :
       {"href=\"/mono/\"", "href=\"/colour/\"", "Quarno QV M600", "Quarno QV C600"})
    EXPECT_NE(std::string::npos, page.out.find(text)) << text << "\n" << page.out;
}

// A real CUPS client: an everywhere queue on a loopback cupsd prints a PDF
// through qvprinter: the pixels are those of the PDF that CUPS's own filters
// make of it for the queue (pdftopdf places the page on the paper).
TEST_F(QvPrinter, CupsEverywhereQueuePrintsThroughQvprinter) {
  for (const char* tool : {"cupsd", "lpadmin", "lp", "cupsfilter"})
    if (systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  const std::string base = server_->file("cupsd/");
  for (const char* sub : {"spool/tmp", "log", "cache", "state"})
    std::filesystem::create_directories(base + sub);
  ::chmod(server_->file("").c_str(), 0755);
  ::chmod((base + "spool").c_str(), 0710);
  ::chmod((base + "spool/tmp").c_str(), 01777);
  const std::string server = "127.0.0.1:" + std::to_string(freePort());
  qvtest::writeFile(base + "cupsd.conf", "Listen " + server +
                                             "\nBrowsing No\nWebInterface No\nDefaultAuthType "
                                             "None\n<Location />\n  Allow all\n</Location>\n");
  qvtest::writeFile(base + "cups-files.conf",
                    "ServerRoot " + base + "\nRequestRoot " + base + "spool\nTempDir " + base +
                        "spool/tmp\nCacheDir " + base + "cache\nStateDir " + base +
                        "state\nErrorLog " + base + "log/error_log\n");
  qvtest::RunningProgram cupsd({systemTool("cupsd"),
                                {"-f", "-c", base + "cupsd.conf", "-s", base + "cups-files.conf"},
                                {},
                                ""});
  const auto client = [&](const char* tool, Words args) {
    args.insert(args.begin(), {"-h", server});
    return run(systemTool(tool), args);
  };
  ASSERT_TRUE(waitUntil(
      [&] { return client("lpstat", {"-r"}).out.find("is running") != std::string::npos; }));
  ASSERT_EQ(
      0,
      client("lpadmin", {"-p", "qv", "-E", "-v", server_->uri(false), "-m", "everywhere"}).status);
  const std::size_t n = server_->sink(false).started();
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 1, 595, 842);
  const qvtest::ProgramResult lp = client("lp", {"-d", "qv", "-o", "media=A4", pdf});
  ASSERT_EQ(0, lp.status) << lp.err;
  ASSERT_TRUE(server_->sink(false).waitEnded(n)) << qvtest::readFile(base + "log/error_log");
  const std::string report =
      qvtest::inspectJob(server_->sink(false).job(n), server_->file("cups.prn"));
  EXPECT_NE(std::string::npos, report.find(", 1 page")) << report;
  EXPECT_NE(std::string::npos, report.find("SET PAPER=A4")) << report;
  // The page is the PDF that CUPS's filters made for the queue.
  const std::string sent = server_->file("sent.pdf");
  qvtest::writeFile(
      sent, run(systemTool("cupsfilter"), {"-p", base + "ppd/qv.ppd", "-m",
                                           "application/vnd.cups-pdf", "-o", "media=A4", pdf})
                .out);
  qvtest::Layout layout;
  layout.mono = false;
  qvtest::expectJobMatches(server_->sink(false).job(n),
                           qvtest::renderPdf(sent, false, 600, 600, 4960, 7016, server_->file("")),
                           layout);
  cupsd.signal(SIGTERM);
  cupsd.wait();
}

// Last: its jobs may still print when it ends. Every test of CUPS's IPP
// Everywhere suite (with ipp-1.1 and ipp-2.0) passes but two that PAPPL
// 1.3 decides: a Print-Job response without "job-state-reasons" for a held
// job, and no "overrides-supported" (PAPPL has no page overrides).
TEST_F(QvPrinter, IppEverywhereSuitePasses) {
  const std::string dir = server_->file("ipptool");
  ASSERT_EQ(0, run(std::string(QV_PRINTER_TEST_DIR) + "/ipptool_dir.sh", {dir}).status);
  const std::set<std::string> argued = {
      "Print-Job with job-hold-until",
      "PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes",
      "EXPECTED: job-state-reasons", "EXPECTED: overrides-supported"};
  const std::regex line("\\n\\s+(.*?)\\s*\\[(PASS|FAIL|SKIP)\\]|\\n\\s+(EXPECTED: \\S+)");
  for (const bool mono : {true, false}) {
    const qvtest::ProgramResult result = server_->ipptool(mono, dir + "/ipp-everywhere.test",
                                                          {"-I", "-f", dir + "/document-a4.pdf"});
    std::map<std::string, int> counts;
    std::smatch m;
    for (std::string out = result.out; std::regex_search(out, m, line); out = m.suffix()) {
      ++counts[m[3].matched ? "EXPECTED" : m[2].str()];
      const std::string name = (m[3].matched ? m[3] : m[1]).str();
      EXPECT_TRUE(m[2] == "PASS" || m[2] == "SKIP" || argued.count(name))
          << Server::name(mono) << ": " << name;
    }
    std::printf("ipp-everywhere.test on %s: %d passed, %d failed, %d skipped\n", Server::name(mono),
                counts["PASS"], counts["FAIL"], counts["SKIP"]);
    EXPECT_GT(counts["PASS"], 60) << result.out << result.err;
  }
}

}  // namespace
