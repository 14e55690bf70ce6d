// printer_slowtest.cc - qvprinter as clients no one here wrote see it: a
// server on a loopback port with a private spool, state and socket, a
// socket:// sink per model standing in for the printers, CUPS's ipptool and
// its IPP Everywhere suite, a loopback cupsd with an everywhere queue, and
// chromium for the web interface. Pages are compared with the input raster
// or with Ghostscript's own rendering.
#include <arpa/inet.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
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

#include "tests/cups/cups_harness.h"

namespace {

namespace fs = std::filesystem;
using qvcupstest::systemTool;

constexpr auto kJobTimeout = std::chrono::minutes(5);

// Listens on 127.0.0.1 as a printer's AppSocket port does: the bytes of
// connection n (from 1) go to the file <dir>/<n>.prn.
class SocketSink {
 public:
  explicit SocketSink(std::string dir) : dir_(std::move(dir)) {
    fs::create_directories(dir_);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd_, 4) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~SocketSink() {
    ::shutdown(fd_, SHUT_RDWR);  // accept() returns: the thread ends
    thread_.join();
    ::close(fd_);
  }
  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  int started() const {
    std::lock_guard lock(mutex_);
    return started_;
  }
  // Waits until connection n has ended, or has received `bytes` bytes.
  bool waitEnded(int n) {
    return waitFor([&] { return ended_ >= n; });
  }
  bool waitBytes(int n, std::size_t bytes) {
    return waitFor([&] { return ended_ >= n || (started_ == n && received_ >= bytes); });
  }
  std::string job(int n) const { return qvtest::readFile(dir_ + "/" + std::to_string(n) + ".prn"); }

 private:
  template <typename Done>
  bool waitFor(Done done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kJobTimeout, done);
  }
  void run() {
    for (;;) {
      const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) return;
      int n;
      {
        std::lock_guard lock(mutex_);
        n = ++started_;
        received_ = 0;
      }
      const int out = ::open((dir_ + "/" + std::to_string(n) + ".prn").c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      std::vector<char> buffer(1 << 20);
      for (ssize_t got; (got = ::read(connection, buffer.data(), buffer.size())) > 0;) {
        if (::write(out, buffer.data(), static_cast<std::size_t>(got)) != got) break;
        std::lock_guard lock(mutex_);
        received_ += static_cast<std::size_t>(got);
        changed_.notify_all();
      }
      ::close(out);
      ::close(connection);
      std::lock_guard lock(mutex_);
      ++ended_;
      changed_.notify_all();
    }
  }
  std::string dir_;
  int fd_ = -1, port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0, ended_ = 0;
  std::size_t received_ = 0;
  std::thread thread_;
};

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

// Polls until `ready` holds (each call asks a real server), for at most
// a minute.
template <typename Ready>
bool waitUntil(Ready ready) {
  for (int i = 0; i < 600; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct JobResult {
  std::string state, message, bytes;  // bytes: what the sink received ("" for nothing)
};

// The server with printers "mono" and "colour", shared by the suite.
class Server {
 public:
  Server() : mono_(dir_.file("mono")), colour_(dir_.file("colour")) {
    port_ = freeLoopbackPort();
    qvtest::ProgramRun run =
        command({"server", "-o", "server-port=" + std::to_string(port_), "-o",
                 "listen-hostname=127.0.0.1", "-o", "spool-directory=" + dir_.file("spool"), "-o",
                 "log-file=" + dir_.file("log"), "-o", "log-level=info", "-o",
                 "server-options=no-tls", "-o", "state-file=" + dir_.file("state")});
    fs::create_directories(dir_.file("spool"));
    server_ = std::make_unique<qvtest::RunningProgram>(run);
    // Wait for the IPP port: a client command run before the server owns its
    // socket would start a private server of PAPPL's own.
    up_ = waitUntil([&] {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(port_));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(fd);
      return open;
    });
    for (const auto& [name, driver, sink] :
         {std::tuple{"mono", "qv-m600", &mono_}, std::tuple{"colour", "qv-c600", &colour_}})
      up_ = up_ && qvtest::runProgram(command({"add", "-d", name, "-m", driver, "-v", sink->uri()}))
                           .status == 0;
  }
  ~Server() {
    server_->signal(SIGTERM);  // PAPPL saves its state and ends
    server_->wait();
  }
  bool up() const { return up_; }
  const std::string& dir() const { return dir_.path(); }
  int port() const { return port_; }
  std::string uri(const std::string& printer) const {
    return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print/" + printer;
  }
  SocketSink& sink(bool mono) { return mono ? mono_ : colour_; }

  // qvprinter with its private socket and state (PAPPL's clients find the
  // server's socket under SNAP_COMMON).
  qvtest::ProgramRun command(std::vector<std::string> args) const {
    qvtest::ProgramRun run;
    run.path = QVPRINTER_PATH;
    run.args = std::move(args);
    run.env = {{"SNAP_COMMON", dir_.path()}, {"TMPDIR", dir_.path()}};
    return run;
  }

  // ipptool under a time limit: a job that never ends must not hang the suite.
  qvtest::ProgramResult ipptool(const std::string& printer, std::vector<std::string> args) const {
    qvtest::ProgramRun run;
    run.path = systemTool("timeout");
    args.insert(args.begin(), {"600", systemTool("ipptool"), "-t"});
    args.insert(args.end() - 1, uri(printer));
    run.args = std::move(args);
    return qvtest::runProgram(run);
  }

  // Prints with print.test, waits for the job's end, then for what the
  // printer received.
  JobResult print(bool mono, const std::string& file, const std::string& format,
                  const std::string& pin = "", const std::string& res = "600dpi") {
    const std::string printer = mono ? "mono" : "colour";
    const int before = sink(mono).started();
    const qvtest::ProgramResult submitted = ipptool(
        printer, {"-d", "format=" + format, "-d", "media=iso_a4_210x297mm", "-d", "pin=" + pin,
                  "-d", "fidelity=false", "-d", "res=" + res, "-f", file, test("print.test")});
    std::smatch id;
    if (!std::regex_search(submitted.out, id, std::regex("job-id \\(integer\\) = (\\d+)")))
      return {"not submitted", submitted.out, ""};
    JobResult result = waitJob(printer, id[1]);
    if (sink(mono).started() > before && sink(mono).waitEnded(before + 1))
      result.bytes = sink(mono).job(before + 1);
    return result;
  }

  JobResult waitJob(const std::string& printer, const std::string& job) const {
    const std::string out = ipptool(printer, {"-d", "job=" + job, test("wait.test")}).out;
    // ipptool shows the state of every poll: the last one is the job's end.
    std::string state = out, message;
    std::smatch m;
    for (std::string rest = out;
         std::regex_search(rest, m, std::regex("job-state \\(enum\\) = (\\S+)")); rest = m.suffix())
      state = m[1];
    for (std::string rest = out;
         std::regex_search(rest, m, std::regex("job-state-message \\(\\S+\\) = (.*)"));
         rest = m.suffix())
      message = m[1];
    return {state, message, ""};
  }

  static std::string test(const char* name) {
    return std::string(QV_PRINTER_TEST_DIR) + "/" + name;
  }

 private:
  qvtest::ScopedTempDir dir_;
  SocketSink mono_, colour_;
  int port_ = 0;
  bool up_ = false;
  std::unique_ptr<qvtest::RunningProgram> server_;
};

class QvPrinter : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (systemTool("ipptool").empty() || systemTool("gs").empty()) return;
    server_ = std::make_unique<Server>();
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (!server_) GTEST_SKIP() << "ipptool (cups-ipp-utils) or gs (ghostscript) missing";
    ASSERT_TRUE(server_->up()) << qvtest::readFile(server_->dir() + "/log");
  }
  // The job file, checked by qvinspect; the colour core's cancel fill
  // (zero bytes before the last page or the trailer) removed first.
  static std::string checkedJob(const std::string& bytes, const std::string& name) {
    std::string job = bytes;
    const std::string fill(5768, '\0');
    for (const char* next : {"\x1b%-12345X", "RaS2", "PwgRaster"})
      if (const std::size_t at = job.find(fill + next); at != std::string::npos)
        job.erase(at, fill.size());
    const std::string path = server_->dir() + "/" + name;
    qvtest::writeFile(path, job);
    EXPECT_EQ("", qvcupstest::inspectCheck(path)) << qvcupstest::inspectReport(path);
    return job;
  }
  static std::unique_ptr<Server> server_;
};
std::unique_ptr<Server> QvPrinter::server_;

// The pages of a PWG raster file, as libcups reads them.
qvcupstest::Rendering readPwg(const std::string& path) {
  qvcupstest::Rendering out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  while (raster != nullptr && cupsRasterReadHeader2(raster, &header)) {
    out.width = header.cupsWidth;
    out.height = header.cupsHeight;
    out.rowBytes = header.cupsBytesPerLine;
    out.pages.emplace_back(out.rowBytes * header.cupsHeight);
    cupsRasterReadPixels(raster, out.pages.back().data(),
                         static_cast<unsigned>(out.pages.back().size()));
  }
  cupsRasterClose(raster);
  ::close(fd);
  return out;
}

// The mono page is 8-bit gray, which the driver dithers: it is checked for
// form; the colour page must arrive pixel for pixel.
TEST_F(QvPrinter, PwgRasterPagesArriveUnchanged) {
  const std::string pdf = qvcupstest::makeTestPdf(server_->dir(), "pwg.pdf", 1, 595, 842);
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(mono ? "mono" : "colour");
    const std::string pwg = server_->dir() + (mono ? "/black.pwg" : "/rgb.pwg");
    qvtest::ProgramRun gs;
    gs.path = systemTool("gs");
    gs.args = {"-q",
               "-dSAFER",
               "-dBATCH",
               "-dNOPAUSE",
               "-sDEVICE=pwgraster",
               "-r600",
               "-g4960x7016",
               "-dFIXEDMEDIA",
               mono ? "-dcupsColorSpace=18" : "-dcupsColorSpace=19",
               "-dcupsBitsPerColor=8",
               "-sOutputFile=" + pwg,
               pdf};
    ASSERT_EQ(0, qvtest::runProgram(gs).status);
    const JobResult job = server_->print(mono, pwg, "image/pwg-raster");
    EXPECT_EQ("completed", job.state) << job.message;
    qvcupstest::Expectation expect;
    expect.mono = mono;
    expect.pageOrder = {0};
    // PAPPL's A4 at 600 dpi is 7015 lines (297 mm): a raster of that size
    // passes through unscaled; the core's page (7016) ends in a blank row.
    qvcupstest::Rendering input = readPwg(pwg);
    for (; input.height < 7016; ++input.height)
      for (auto& page : input.pages) page.resize(page.size() + input.rowBytes, mono ? 0 : 255);
    const std::string checked = checkedJob(job.bytes, "pwg.prn");
    if (!mono) qvcupstest::expectJobMatches(checked, input, expect);
  }
}

TEST_F(QvPrinter, PdfPagesAreGhostscriptsRendering) {
  const std::string pdf = qvcupstest::makeTestPdf(server_->dir(), "two.pdf", 2, 595, 842);
  for (const auto& [mono, dpi] :
       {std::pair{true, 600}, std::pair{true, 300}, std::pair{false, 600}}) {
    SCOPED_TRACE(testing::Message() << (mono ? "mono " : "colour ") << dpi);
    const JobResult job =
        server_->print(mono, pdf, "application/pdf", "", std::to_string(dpi) + "dpi");
    EXPECT_EQ("completed", job.state) << job.message;
    qvcupstest::Expectation expect;
    expect.mono = mono;
    expect.xdpi = expect.ydpi = dpi;
    expect.pageOrder = {0, 1};
    const auto rendering = qvcupstest::renderWithGhostscript(pdf, mono, dpi, dpi, 4960L * dpi / 600,
                                                             7016L * dpi / 600, server_->dir());
    qvcupstest::expectJobMatches(checkedJob(job.bytes, "pdf.prn"), rendering, expect);
  }
}

TEST_F(QvPrinter, JpegPrintsOnePage) {
  const std::string jpeg = server_->dir() + "/photo.jpg";
  qvtest::ProgramRun gs;
  gs.path = systemTool("gs");
  gs.args = {"-q",
             "-dSAFER",
             "-dBATCH",
             "-dNOPAUSE",
             "-sDEVICE=jpeg",
             "-r50",
             "-sOutputFile=" + jpeg,
             std::string(QV_FIXTURES_DIR) + "/qv_test_page.ps"};
  ASSERT_EQ(0, qvtest::runProgram(gs).status);
  for (const bool mono : {true, false}) {
    const JobResult job = server_->print(mono, jpeg, "image/jpeg");
    EXPECT_EQ("completed", job.state) << job.message;
    checkedJob(job.bytes, "jpeg.prn");
    EXPECT_NE(std::string::npos,
              qvcupstest::inspectReport(server_->dir() + "/jpeg.prn").find(", 1 page"));
  }
}

TEST_F(QvPrinter, BadPinIsRefusedBeforeTheFirstByte) {
  const std::string pdf = qvcupstest::makeTestPdf(server_->dir(), "pin.pdf", 1, 595, 842);
  for (const bool mono : {true, false}) {
    const JobResult job = server_->print(mono, pdf, "application/pdf", "12a4");
    EXPECT_EQ("aborted", job.state);
    EXPECT_EQ("The secure-print PIN must be exactly 4 digits; the job was not printed.",
              job.message);
    EXPECT_EQ("", job.bytes);
  }
}

TEST_F(QvPrinter, CancelMidJobEndsTheStreamWithTheTrailer) {
  const std::string pdf = qvcupstest::makeTestPdf(server_->dir(), "long.pdf", 20, 595, 842);
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(mono ? "mono" : "colour");
    const std::string printer = mono ? "mono" : "colour";
    SocketSink& sink = server_->sink(mono);
    const int n = sink.started() + 1;
    const std::string out =
        server_
            ->ipptool(printer, {"-d", "format=application/pdf", "-d", "media=iso_a4_210x297mm",
                                "-d", "pin=", "-d", "fidelity=false", "-d", "res=600dpi", "-f", pdf,
                                Server::test("print.test")})
            .out;
    std::smatch id;
    ASSERT_TRUE(std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)"))) << out;
    ASSERT_TRUE(sink.waitBytes(n, 20000));  // the header and the first page are on their way
    server_->ipptool(printer, {"-d", "job=" + id[1].str(), Server::test("cancel.test")});
    EXPECT_EQ("canceled", server_->waitJob(printer, id[1]).state);
    ASSERT_TRUE(sink.waitEnded(n));
    const std::string job = checkedJob(sink.job(n), "cancel.prn");
    EXPECT_NE(std::string::npos, job.find("\x1b%-12345X", job.size() - 16));  // the trailer
    EXPECT_EQ(std::string::npos,
              qvcupstest::inspectReport(server_->dir() + "/cancel.prn").find(", 20 pages"));
  }
}

TEST_F(QvPrinter, WebInterfaceListsBothPrinters) {
  const std::string chromium = systemTool("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  qvtest::ProgramRun run;
  run.path = systemTool("timeout");
  run.args = {"120",
              chromium,
              "--headless",
              "--no-sandbox",
              "--disable-gpu",
              "--disable-background-networking",
              "--disable-component-update",
              "--disable-sync",
              "--no-first-run",
              "--user-data-dir=" + server_->dir() + "/chromium",
              "--dump-dom",
              "http://127.0.0.1:" + std::to_string(server_->port()) + "/"};
  run.env = {{"HOME", server_->dir()}};
  const qvtest::ProgramResult page = qvtest::runProgram(run);
  ASSERT_EQ(0, page.status) << page.err;
  for (const char* text :
       {"href=\"/mono/\"", "href=\"/colour/\"", "Quarno QV M600", "Quarno QV C600"})
    EXPECT_NE(std::string::npos, page.out.find(text)) << text << "\n" << page.out;
}

TEST_F(QvPrinter, CupsEverywhereQueuePrintsThroughQvprinter) {
  for (const char* tool : {"cupsd", "lpadmin", "lp"})
    if (systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  const std::string base = server_->dir() + "/cupsd";
  for (const char* sub : {"", "/spool", "/spool/tmp", "/log", "/cache", "/state"})
    fs::create_directories(base + sub);
  ::chmod(server_->dir().c_str(), 0755);
  ::chmod((base + "/spool").c_str(), 0710);
  ::chmod((base + "/spool/tmp").c_str(), 01777);
  const std::string server = "127.0.0.1:" + std::to_string(freeLoopbackPort());
  qvtest::writeFile(base + "/cupsd.conf",
                    "Listen " + server +
                        "\nBrowsing No\nWebInterface No\nDefaultAuthType None\nLogLevel debug\n"
                        "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
  qvtest::writeFile(base + "/cups-files.conf",
                    "ServerRoot " + base + "\nRequestRoot " + base + "/spool\nTempDir " + base +
                        "/spool/tmp\nCacheDir " + base + "/cache\nStateDir " + base +
                        "/state\nErrorLog " + base + "/log/error_log\nAccessLog " + base +
                        "/log/access_log\nPageLog " + base + "/log/page_log\n");
  qvtest::ProgramRun run;
  run.path = systemTool("cupsd");
  run.args = {"-f", "-c", base + "/cupsd.conf", "-s", base + "/cups-files.conf"};
  qvtest::RunningProgram cupsd(run);
  const auto client = [&](const char* tool, std::vector<std::string> args) {
    qvtest::ProgramRun command;
    command.path = systemTool(tool);
    args.insert(args.begin(), {"-h", server});
    command.args = std::move(args);
    return qvtest::runProgram(command);
  };
  ASSERT_TRUE(waitUntil(
      [&] { return client("lpstat", {"-r"}).out.find("is running") != std::string::npos; }));
  const qvtest::ProgramResult added =
      client("lpadmin", {"-p", "qv", "-E", "-v", server_->uri("colour"), "-m", "everywhere"});
  ASSERT_EQ(0, added.status) << added.err;
  const std::string pdf = qvcupstest::makeTestPdf(server_->dir(), "cups.pdf", 1, 595, 842);
  ::chmod(pdf.c_str(), 0644);
  const int n = server_->sink(false).started() + 1;
  const qvtest::ProgramResult lp = client("lp", {"-d", "qv", "-o", "media=A4", pdf});
  ASSERT_EQ(0, lp.status) << lp.err;
  ASSERT_TRUE(server_->sink(false).waitEnded(n)) << qvtest::readFile(base + "/log/error_log");
  // The page arrives whole and well formed. Open: its pixels are not
  // Ghostscript's rendering of the PDF from pixel (45, 45) on (CUPS's
  // driverless chain places the page itself).
  checkedJob(server_->sink(false).job(n), "cups.prn");
  const std::string report = qvcupstest::inspectReport(server_->dir() + "/cups.prn");
  EXPECT_NE(std::string::npos, report.find(", 1 page")) << report;
  EXPECT_NE(std::string::npos, report.find("SET PAPER=A4")) << report;
  cupsd.signal(SIGTERM);
  cupsd.wait();
}

// Last: its jobs may still print when it ends. Every test of CUPS's IPP
// Everywhere suite (with ipp-1.1 and ipp-2.0) passes but two that PAPPL
// 1.3 decides: a Print-Job response without "job-state-reasons" for a held
// job, and no "overrides-supported" (PAPPL has no page overrides).
TEST_F(QvPrinter, IppEverywhereSuitePasses) {
  const std::string dir = server_->dir() + "/ipptool";
  qvtest::ProgramRun make;
  make.path = Server::test("ipptool_dir.sh");
  make.args = {dir};
  ASSERT_EQ(0, qvtest::runProgram(make).status);
  const std::set<std::string> argued = {"Print-Job with job-hold-until",
                                        "PWG 5100.14 section 5.1/5.2 - Required Operations and "
                                        "Attributes",
                                        "EXPECTED: job-state-reasons",
                                        "EXPECTED: overrides-supported"};
  for (const char* printer : {"mono", "colour"}) {
    const qvtest::ProgramResult run = server_->ipptool(
        printer, {"-I", "-f", dir + "/document-a4.pdf", dir + "/ipp-everywhere.test"});
    std::smatch m;
    int counts[3] = {0, 0, 0};
    for (std::string out = run.out; std::regex_search(
             out, m, std::regex("\\n\\s+(.*?)\\s*\\[(PASS|FAIL|SKIP)\\]|\\n\\s+(EXPECTED: \\S+)"));
         out = m.suffix()) {
      if (m[3].matched) {
        EXPECT_TRUE(argued.count(m[3])) << printer << ": " << m[3];
        continue;
      }
      ++counts[m[2] == "PASS" ? 0 : m[2] == "FAIL" ? 1 : 2];
      if (m[2] == "FAIL") {
        EXPECT_TRUE(argued.count(m[1])) << printer << ": " << m[1];
      }
    }
    std::printf("ipp-everywhere.test on %s: %d passed, %d failed, %d skipped\n", printer, counts[0],
                counts[1], counts[2]);
    EXPECT_GT(counts[0], 60) << run.out << run.err;
  }
}

}  // namespace
