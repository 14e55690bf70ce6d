// printer_slowtest.cc - qvprinter on loopback as ipptool, cupsd and chromium see it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "decode/pwg_stream.h"
#include "tests/support/gs_pages.h"

namespace {

using qvtest::run;
using qvtest::systemTool;
using qvtest::Words;
constexpr std::size_t npos = std::string::npos;

// A loopback socket listening on a free port (port 0: the port it got) or connected; or -1.
int loopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  const bool ok = port != 0 ? ::connect(fd, any, size) == 0
                            : ::bind(fd, any, size) == 0 && ::listen(fd, 4) == 0 &&
                                  ::getsockname(fd, any, &size) == 0;
  port = ntohs(address.sin_port);
  return ok ? fd : (::close(fd), -1);
}

// An AppSocket port: a child writes connection n to <dir>/n, renamed n.end at its end.
class SocketSink {
 public:
  SocketSink(const std::string& dir) : dir_(dir + "/") {
    std::filesystem::create_directories(dir_);
    const int fd = loopback(port_);
    if ((pid_ = ::fork()) == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the suite, however that ends
      for (int n = 0, in; (in = ::accept(fd, nullptr, nullptr)) >= 0; ++n) {
        const std::string name = dir_ + std::to_string(n);
        const int out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        char buffer[1 << 16];
        for (ssize_t got; (got = ::read(in, buffer, sizeof buffer)) > 0;)
          if (::write(out, buffer, std::size_t(got)) != got) ::_exit(1);
        ::close(in);
        ::close(out);
        ::rename(name.c_str(), (name + ".end").c_str());
      }
      ::_exit(0);
    }
    ::close(fd);
  }
  ~SocketSink() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  std::size_t started() const { return qvtest::listDirectory(dir_).size(); }
  // Connection n has ended, or has received `bytes` bytes.
  bool waitEnded(std::size_t n, std::uintmax_t bytes = UINTMAX_MAX) const {
    std::error_code none;  // file_size gives -1
    const auto ended = [&] {
      return std::filesystem::exists(end(n)) ||
             std::filesystem::file_size(dir_ + std::to_string(n), none) + 1 > bytes;
    };
    return qvtest::waitUntil(ended, 300);
  }
  std::string job(std::size_t n) const { return qvtest::readFile(end(n)); }

 private:
  std::string end(std::size_t n) const { return dir_ + std::to_string(n) + ".end"; }
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

struct JobResult {
  std::string id, state, message, bytes;  // bytes: what the sink received ("" for nothing)
};

// qvprinter with printers "mono" and "colour" for the suite; clients find it by SNAP_COMMON.
struct Server {
  Server() {
    // Before the server owns its port, a client would start a private one.
    up = qvtest::waitUntil([p = port]() mutable { return ::close(loopback(p)) == 0; });
    for (const bool mono : {true, false})
      up = up &&
           run(QVPRINTER_PATH,
               {"add", "-d", name(mono), "-m", mono ? "qv-m600" : "qv-c600", "-v", sink.uri()}, env)
                   .status == 0;
  }
  ~Server() {
    server.signal(SIGTERM);  // PAPPL ends its jobs and saves its state
    server.wait();
  }
  static const char* name(bool mono) { return mono ? "mono" : "colour"; }
  std::string uri(bool mono) const {
    return "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print/" + name(mono);
  }
  std::string file(const std::string& name) const { return dir.file(name); }

  // ipptool -t, timed out: a job that never ends must not hang the suite.
  qvtest::ProgramResult ipptool(bool mono, std::string test, Words args) const {
    if (test.find('/') == npos) test = QV_PRINTER_TEST_DIR "/" + test;
    args.insert(args.begin(), {"600", systemTool("ipptool"), "-t"});
    args.insert(args.end(), {uri(mono), test});
    return run(systemTool("timeout"), args);
  }
  // Its last state and message as ipptool shows them, once the job has ended.
  JobResult waitJob(bool mono, const std::string& id) const {
    JobResult result{id, "", "", ""};
    std::smatch m;
    for (std::string out = ipptool(mono, "wait.test", {"-d", "job=" + id}).out;
         std::regex_search(out, m, std::regex("job-state(-message)? \\(\\S+\\) = (.*)"));
         out = m.suffix())
      (m[1].matched ? result.message : result.state) = m[2].str();
    return result;
  }
  // Print-Job on A4; with `wait`, the job's end and what the printer received.
  JobResult print(bool mono, const std::string& file, const std::string& format,
                  const std::string& pin = "", int dpi = 600, bool wait = true) const {
    const std::size_t n = sink.started();
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
    if (sink.started() > n && sink.waitEnded(n)) result.bytes = sink.job(n);
    return result;
  }

  qvtest::ScopedTempDir dir;
  const SocketSink sink{dir.file("sink")};  // both printers' (the tests print in turn)
  const int port = [free = 0]() mutable { return ::close(loopback(free)), free; }();
  const std::map<std::string, std::string> env{{"SNAP_COMMON", dir.path()}, {"TMPDIR", dir.path()}};
  qvtest::RunningProgram server{
      {QVPRINTER_PATH,
       {"server", "-o", "server-port=" + std::to_string(port), "-o", "listen-hostname=127.0.0.1",
        "-o", "spool-directory=" + dir.path(), "-o", "log-file=" + dir.file("log"), "-o",
        "log-level=info", "-o", "server-options=no-tls", "-o", "state-file=" + dir.file("state")},
       env,
       ""}};
  bool up = false;
};

// A simulated QV printer (qvsim) on a loopback address of its own: jobs,
// PJL status and its MIB over SNMP, from the state file that set() changes.
class Simulator {
 public:
  Simulator(const std::string& dir, const std::string& address, bool mono)
      : dir_(dir),
        address_(address),
        program_({QVSIM_PATH,
                  {"--model", mono ? "mono" : "colour", "--address", address, "--out", dir},
                  {},
                  ""}) {
    // Its AppSocket port opens once its SNMP agent is up.
    up = qvtest::waitUntil([&] { return ::kill(program_.pid(), 0) == 0 && accepts(); }, 30);
  }
  ~Simulator() {
    program_.signal(SIGTERM);
    program_.wait();
  }
  bool set(Words settings) const {
    settings.insert(settings.begin(), {"set", dir_ + "/state"});
    return run(QVSIM_PATH, settings).status == 0;
  }
  std::string uri() const { return "socket://" + address_; }
  std::string jobs() const { return qvtest::readFile(dir_ + "/jobs.log"); }
  bool up = false;

 private:
  bool accepts() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{AF_INET, htons(9100), {}, {}};
    const bool ok = ::inet_pton(AF_INET, address_.c_str(), &where.sin_addr) == 1 &&
                    ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    ::close(fd);
    return ok;
  }
  std::string dir_, address_;
  qvtest::RunningProgram program_;
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

qvtest::Pages readPwg(const std::string& path) {
  const std::string bytes = qvtest::readFile(path);
  std::vector<qvdecode::PwgPage> pages;
  qvdecode::DecodeError error;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  EXPECT_EQ(0, qvdecode::decodePwgRaster({data, bytes.size()}, pages, error));
  const qvdecode::PwgPage& page = pages.at(0);
  return {page.header.bytesPerLine, page.header.height, {{page.pixels.begin(), page.pixels.end()}}};
}

// Jobs pass qvinspect --check with the input's or Ghostscript's pages (mono PWG: dithered).
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
  const std::string pwgFormat = "image/pwg-raster", pdfFormat = "application/pdf";
  const std::string corrupt = dir + "corrupt.pdf";  // Ghostscript renders no page, exits 0
  qvtest::writeFile(corrupt, "%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>>\n%%EOF\n");
  const std::tuple<bool, std::string, std::string, std::string, int> jobs[] = {
      {true, pwg(true), pwgFormat, "", 600}, {false, pwg(false), pwgFormat, "", 600},
      {true, pdf, pdfFormat, "", 600},       {true, pdf, pdfFormat, "", 300},
      {false, pdf, pdfFormat, "4711", 600},  {true, jpeg, "image/jpeg", "", 600},
      {false, jpeg, "image/jpeg", "", 600},  {true, pdf, pdfFormat, "12a4", 600},
      {false, pdf, pdfFormat, "123", 600},   {true, corrupt, pdfFormat, "", 600},
      {false, corrupt, pdfFormat, "", 600}};
  for (const auto& [mono, file, format, pin, dpi] : jobs) {
    SCOPED_TRACE(format + (mono ? " mono " : " colour ") + std::to_string(dpi) + pin);
    const JobResult job = server_->print(mono, file, format, pin, dpi);
    if (pin == "12a4" || pin == "123") {  // refused, nothing sent
      EXPECT_EQ("aborted: The secure-print PIN must be exactly 4 digits; the job was not printed.",
                job.state + ": " + job.message + job.bytes);
      continue;
    }
    if (file == corrupt) {
      EXPECT_EQ("aborted: The document cannot be rendered: Ghostscript found no page in it.",
                job.state + ": " + job.message + job.bytes);
      continue;
    }
    EXPECT_EQ("completed", job.state) << job.message;
    const std::string report = qvtest::inspectJob(job.bytes, dir + "job.prn");
    EXPECT_NE(npos, report.find(file == pdf ? ", 2 pages" : ", 1 page"));
    const std::string order = file == pdf ? "0 1" : "0", hold = "@PJL SET HOLDKEY=" + pin;
    const qvtest::Layout layout{mono, dpi, dpi, 4960, 7016, order, pin.empty() ? "" : hold};
    if (file == pdf)
      qvtest::expectJobMatches(job.bytes, qvtest::renderPdf(pdf, layout, dir), layout);
    else if (format == "image/pwg-raster" && !mono)
      qvtest::expectJobMatches(job.bytes, readPwg(file), layout);
  }
}

// Cancelled mid-job: the stream ends in the trailer, short of the last page.
TEST_F(QvPrinter, CancelMidJobEndsTheStreamWithTheTrailer) {
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 20, 595, 842);
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(Server::name(mono));
    const SocketSink& sink = server_->sink;
    const std::size_t n = sink.started();
    const JobResult job = server_->print(mono, pdf, "application/pdf", "", 600, false);
    ASSERT_NE("", job.id) << job.message;
    ASSERT_TRUE(sink.waitEnded(n, 20000));  // the header and the first page are on their way
    server_->ipptool(mono, "cancel.test", {"-d", "job=" + job.id});
    EXPECT_EQ("canceled", server_->waitJob(mono, job.id).state);
    ASSERT_TRUE(sink.waitEnded(n));
    const std::string bytes = sink.job(n);
    EXPECT_NE(npos, bytes.find("\x1b%-12345X", bytes.size() - 16));
    EXPECT_EQ(npos, qvtest::inspectJob(bytes, server_->file("cancel.prn")).find(", 20 pages"));
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
    EXPECT_NE(npos, page.out.find(text)) << text << "\n" << page.out;
}

// A cupsd everywhere queue prints the pixels of the PDF that CUPS's own filters make for it.
TEST_F(QvPrinter, CupsEverywhereQueuePrintsThroughQvprinter) {
  for (const char* tool : {"cupsd", "lpadmin", "lp", "cupsfilter"})
    if (systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  ::chmod(server_->file("").c_str(), 0755);
  const qvtest::Cupsd cupsd(server_->file("cupsd/"), "", "");
  ASSERT_TRUE(cupsd.up) << cupsd.log();
  ASSERT_EQ(
      0, cupsd.client("lpadmin", {"-p", "qv", "-E", "-v", server_->uri(false), "-m", "everywhere"})
             .status);
  const std::size_t n = server_->sink.started();
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 1, 595, 842);
  const qvtest::ProgramResult lp = cupsd.client("lp", {"-d", "qv", "-o", "media=A4", pdf});
  ASSERT_EQ(0, lp.status) << lp.err;
  ASSERT_TRUE(server_->sink.waitEnded(n)) << cupsd.log();
  const std::string report = qvtest::inspectJob(server_->sink.job(n), server_->file("cups.prn"));
  EXPECT_NE(npos, report.find(", 1 page")) << report;
  EXPECT_NE(npos, report.find("SET PAPER=A4")) << report;
  const std::string sent = server_->file("sent.pdf");
  qvtest::writeFile(
      sent, run(systemTool("cupsfilter"), {"-p", server_->file("cupsd/ppd/qv.ppd"), "-m",
                                           "application/vnd.cups-pdf", "-o", "media=A4", pdf})
                .out);
  const qvtest::Layout layout{false};
  qvtest::expectJobMatches(server_->sink.job(n), qvtest::renderPdf(sent, layout, server_->file("")),
                           layout);
}

// Last (its jobs may outlive it). All passes but PAPPL 1.3's own choices (held jobs, overrides).
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

// Printers "mono-sim<n>" and "colour-sim<n>" on two simulated QV printers
// of the test's own (127.0.0.<2n> and 127.0.0.<2n+1>, so that tests run
// side by side), whose SNMP agents listen on port 161, where qvprinter asks.
class QvPrinterDevice : public QvPrinter {
 protected:
  void SetUp() override {
    QvPrinter::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (::getuid() != 0)
      GTEST_SKIP() << "the simulated printers' SNMP agents bind port 161, which needs root";
    if (systemTool("snmpd").empty()) GTEST_SKIP() << "snmpd is not installed";
  }
  void startSimulators(int pair) {
    pair_ = pair;
    for (const bool mono : {true, false}) {
      auto& sim = sims_[mono];
      sim = std::make_unique<Simulator>(
          server_->file(name(mono)), "127.0.0." + std::to_string(2 * pair + (mono ? 0 : 1)), mono);
      ASSERT_TRUE(sim->up) << name(mono);
      ASSERT_EQ(0,
                run(QVPRINTER_PATH,
                    {"add", "-d", name(mono), "-m", mono ? "qv-m600" : "qv-c600", "-v", sim->uri()},
                    server_->env)
                    .status);
    }
  }
  std::string name(bool mono) const {
    return (mono ? "mono-sim" : "colour-sim") + std::to_string(pair_);
  }
  qvtest::ProgramResult ipptool(bool mono, const std::string& test, Words args = {}) const {
    args.insert(args.begin(), {"60", systemTool("ipptool"), "-t"});
    args.insert(args.end(),
                {"ipp://127.0.0.1:" + std::to_string(server_->port) + "/ipp/print/" + name(mono),
                 std::string(QV_PRINTER_TEST_DIR) + "/" + test});
    return run(systemTool("timeout"), args);
  }
  // The printer's reasons and marker levels once they are `reasons` (in
  // any order) and `levels`, or what they were at the deadline. qvprinter
  // asks the printer within seconds of a client asking it.
  std::map<std::string, std::string> waitForState(bool mono, const std::set<std::string>& reasons,
                                                  const std::string& levels) const {
    std::map<std::string, std::string> shown;
    const auto reached = [&] {
      shown.clear();
      std::smatch m;
      const std::regex line("\\n\\s+([a-z-]+) \\([^)]*\\) = ([^\\n]*)");
      for (std::string out = ipptool(mono, "status.test").out; std::regex_search(out, m, line);
           out = m.suffix())
        shown[m[1]] = m[2];
      std::set<std::string> now;
      std::stringstream list(shown["printer-state-reasons"]);
      for (std::string reason; std::getline(list, reason, ',');) now.insert(reason);
      return now == reasons && shown["marker-levels"] == levels;
    };
    for (int i = 0; i < 120 && !reached(); ++i)  // 60 s at most
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return shown;
  }
  // An HTTP/1.0 exchange with the web interface; the whole response.
  std::string http(const std::string& request) const {
    int port = server_->port;
    const int fd = loopback(port);
    std::string response;
    if (fd < 0 || ::write(fd, request.data(), request.size()) != std::ssize(request))
      return response;
    char buffer[1 << 14];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
      response.append(buffer, std::size_t(got));
    ::close(fd);
    return response;
  }
  // Presses a button of the printer's web page ("print-test-page",
  // "identify-printer"); PAPPL's answer.
  std::string pressButton(bool mono, const std::string& action) const {
    const std::string page = http("GET /" + name(mono) + "/ HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    std::smatch session;
    if (!std::regex_search(page, session, std::regex("name=\"session\" value=\"([0-9a-f]+)\"")))
      return "no session in the page: " + page;
    const std::string form = "session=" + session[1].str() + "&action=" + action;
    return http("POST /" + name(mono) + "/ HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(form.size()) + "\r\n\r\n" + form);
  }
  int pair_ = 1;
  std::unique_ptr<Simulator> sims_[2];  // [true]: mono
};

// The printer's conditions reach printer-state-reasons and the marker
// attributes, and leave them when cleared; both models; the simulated
// printers' decoders pass the jobs they receive.
TEST_F(QvPrinterDevice, StateAndSuppliesFollowThePrinter) {
  startSimulators(1);
  if (HasFatalFailure()) return;
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 1, 595, 842);
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(name(mono));
    const Simulator& sim = *sims_[mono];
    const std::string full = mono ? "80" : "80,80,80,80", low = mono ? "5" : "5,5,5,5";
    auto shown = waitForState(mono, {"none"}, full);
    EXPECT_EQ(full, shown["marker-levels"]);
    EXPECT_EQ(mono ? "#000000" : "#000000,#00FFFF,#FF00FF,#FFFF00", shown["marker-colors"]);
    EXPECT_EQ(mono ? "Black Toner" : "Black Toner,Cyan Toner,Magenta Toner,Yellow Toner",
              shown["marker-names"]);
    // The simulated printer's two trays are tray-1 and tray-2.
    const auto loaded = [&](const char* tray) {
      return shown["media-col-ready"].find(std::string("media-source=") + tray) != npos;
    };
    EXPECT_TRUE(loaded("tray-1") && loaded("tray-2") && loaded("tray-3"))
        << shown["media-col-ready"];
    ASSERT_TRUE(sim.set({"paper=out", "toner=5"}));
    shown = waitForState(mono, {"media-empty", "toner-low"}, low);
    EXPECT_EQ("media-empty,toner-low", shown["printer-state-reasons"]);
    EXPECT_EQ(low, shown["marker-levels"]);
    EXPECT_TRUE(!loaded("tray-1") && !loaded("tray-2") && loaded("tray-3"))
        << shown["media-col-ready"];
    ASSERT_TRUE(sim.set({"paper=100", "toner=80"}));
    shown = waitForState(mono, {"none"}, full);
    EXPECT_EQ("none", shown["printer-state-reasons"]);
    EXPECT_TRUE(loaded("tray-1") && loaded("tray-2")) << shown["media-col-ready"];

    ipptool(mono, "print.test",
            {"-d", "format=application/pdf", "-d", "media=iso_a4_210x297mm", "-d", "pin=", "-d",
             "fidelity=false", "-d", "res=600dpi", "-f", pdf});
    const std::string job =
        std::string("job 1: OK: ") + (mono ? "mono" : "colour") + " job, 1 page\n";
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find(job) != npos; }, 120)) << sim.jobs();
  }
  // Every other condition, split between the models, and back.
  const std::tuple<bool, Words, std::set<std::string>, std::string> conditions[] = {
      {true, {"door=open", "jam=yes", "toner=0"}, {"door-open", "media-jam", "toner-empty"}, "0"},
      {false,
       {"online=no", "paper=low", "output=full", "tray-missing=yes", "cyan=missing"},
       {"offline", "media-low", "output-area-full", "input-tray-missing", "marker-supply-missing"},
       "80,-1,80,80"}};
  for (const auto& [mono, settings, reasons, levels] : conditions) {
    SCOPED_TRACE(name(mono));
    ASSERT_TRUE(sims_[mono]->set(settings));
    const auto shown = waitForState(mono, reasons, levels);
    EXPECT_EQ(levels, shown.at("marker-levels"));
    std::set<std::string> now;
    std::stringstream list(shown.at("printer-state-reasons"));
    for (std::string reason; std::getline(list, reason, ',');) now.insert(reason);
    EXPECT_EQ(reasons, now);
    ASSERT_TRUE(sims_[mono]->set({"door=closed", "jam=no", "toner=80", "online=yes", "paper=100",
                                  "output=ok", "tray-missing=no"}));
    EXPECT_EQ(
        "none",
        waitForState(mono, {"none"}, mono ? "80" : "80,80,80,80").at("printer-state-reasons"));
  }
}

// The web page's Print Test Page and Identify Printer buttons reach the
// printer: a test page the decoders pass, a panel message.
TEST_F(QvPrinterDevice, TestPageAndIdentifyReachThePrinter) {
  startSimulators(2);
  if (HasFatalFailure()) return;
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(name(mono));
    const Simulator& sim = *sims_[mono];
    EXPECT_NE(npos, pressButton(mono, "print-test-page").find("Test page printed."));
    const std::string job =
        std::string("job 1: OK: ") + (mono ? "mono" : "colour") + " job, 1 page\n";
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find(job) != npos; }, 120)) << sim.jobs();
    pressButton(mono, "identify-printer");
    // PAPPL's web page asks for the message "Hello.".
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find("panel: Hello.") != npos; }, 60))
        << sim.jobs();
  }
}

// A job sent to a printer that is out of paper or jammed waits, saying why,
// and prints whole when the printer is ready again.
TEST_F(QvPrinterDevice, JobsWaitWhileThePrinterCannotPrint) {
  startSimulators(3);
  if (HasFatalFailure()) return;
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 2, 595, 842);
  for (const auto& [mono, condition, reason, cleared] :
       {std::tuple{true, "paper=out", "media-empty", "paper=100"},
        std::tuple{false, "jam=yes", "media-jam", "jam=no"}}) {
    SCOPED_TRACE(name(mono));
    const Simulator& sim = *sims_[mono];
    const std::string full = mono ? "80" : "80,80,80,80";
    ASSERT_TRUE(sim.set({condition}));
    ASSERT_EQ(reason, waitForState(mono, {reason}, full)["printer-state-reasons"]);
    const std::string out =
        ipptool(mono, "print.test",
                {"-d", "format=application/pdf", "-d", "media=iso_a4_210x297mm", "-d", "pin=", "-d",
                 "fidelity=false", "-d", "res=600dpi", "-f", pdf})
            .out;
    std::smatch id;
    ASSERT_TRUE(std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)"))) << out;
    std::string job;
    const auto waiting = [&] {
      job = ipptool(mono, "job.test", {"-d", "job=" + id[1].str()}).out;
      return job.find("printer-stopped") != npos;
    };
    ASSERT_TRUE(qvtest::waitUntil(waiting, 60)) << job;
    EXPECT_NE(npos, job.find("job-state (enum) = processing")) << job;
    EXPECT_NE(npos, job.find(std::string("Waiting: the printer reports ") + reason)) << job;
    EXPECT_EQ(npos, sim.jobs().find("job ")) << sim.jobs();
    ASSERT_TRUE(sim.set({cleared}));
    job = ipptool(mono, "wait.test", {"-d", "job=" + id[1].str()}).out;
    EXPECT_NE(npos, job.find("job-state (enum) = completed")) << job;
    const std::string done =
        std::string("job 1: OK: ") + (mono ? "mono" : "colour") + " job, 2 pages\n";
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find(done) != npos; }, 60)) << sim.jobs();
  }
}
