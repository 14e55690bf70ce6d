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
#include <regex>
#include <set>

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

// An AppSocket port: a child writes connection n to <dir>/n, renamed n.end at its end
// (or once it has `limit` bytes: it then closes the connection, as a printer that fails).
class SocketSink {
 public:
  SocketSink(const std::string& dir, std::size_t limit = SIZE_MAX) : dir_(dir + "/") {
    std::filesystem::create_directories(dir_);
    const int fd = loopback(port_);
    if ((pid_ = ::fork()) == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the suite, however that ends
      for (int n = 0, in; (in = ::accept(fd, nullptr, nullptr)) >= 0; ++n) {
        const std::string name = dir_ + std::to_string(n);
        const int out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        char buffer[1 << 16];
        for (std::size_t total = 0; total < limit;) {
          const ssize_t got = ::read(in, buffer, std::min(sizeof buffer, limit - total));
          if (got <= 0) break;
          if (::write(out, buffer, std::size_t(got)) != got) ::_exit(1);
          total += std::size_t(got);
        }
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
  // A stopped sink takes no connection and reads nothing: the printer's writes block.
  void pause(bool stopped) const { ::kill(pid_, stopped ? SIGSTOP : SIGCONT); }
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
    up = start();
    for (const bool mono : {true, false})
      up = up &&
           run(QVPRINTER_PATH,
               {"add", "-d", name(mono), "-m", mono ? "qv-m600" : "qv-c600", "-v", sink.uri()}, env)
                   .status == 0;
  }
  ~Server() {
    server->signal(SIGTERM);  // PAPPL ends its jobs and saves its state
    server->wait();
  }
  // Starts qvprinter on the suite's port, state file and spool; once it listens.
  bool start() {
    server = std::make_unique<qvtest::RunningProgram>(qvtest::ProgramRun{
        QVPRINTER_PATH,
        {"server", "-o", "server-port=" + std::to_string(port), "-o", "listen-hostname=127.0.0.1",
         "-o", "spool-directory=" + dir.file("spool"), "-o", "log-file=" + dir.file("log"), "-o",
         "log-level=info", "-o", "server-options=no-tls", "-o", "state-file=" + dir.file("state")},
        env,
        ""});
    // Before the server owns its port, a client would start a private one.
    return qvtest::waitUntil([p = port]() mutable { return ::close(loopback(p)) == 0; });
  }
  // The server has exited within `seconds` (a zombie until reaped).
  bool exitsWithin(int seconds) const {
    const std::string stat = "/proc/" + std::to_string(server->pid()) + "/stat";
    return qvtest::waitUntil([&] { return qvtest::readFile(stat).find(") Z ") != npos; }, seconds);
  }
  static const char* name(bool mono) { return mono ? "mono" : "colour"; }
  std::string uri(bool mono) const {
    return "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print/" + name(mono);
  }
  std::string file(const std::string& name) const { return dir.file(name); }

  // ipptool -t, timed out: a job that never ends must not hang the suite.
  qvtest::ProgramResult ipptool(bool mono, std::string test, Words args) const {
    return run(systemTool("timeout"), ipptoolArgs(uri(mono), std::move(test), std::move(args)));
  }
  Words ipptoolArgs(const std::string& printerUri, std::string test, Words args) const {
    if (test.find('/') == npos) test = QV_PRINTER_TEST_DIR "/" + test;
    args.insert(args.begin(), {"600", systemTool("ipptool"), "-t"});
    args.insert(args.end(), {printerUri, test});
    return args;
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
  std::unique_ptr<qvtest::RunningProgram> server;
  bool up = false;
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

// A connection's bytes as the jobs PAPPL sent on it one after another (it keeps the
// device open between jobs): each opens with a UEL and @PJL, has one JOB line and ends
// with EOJ and a UEL. Empty unless the bytes are exactly such jobs back to back.
std::vector<std::string> wholeJobs(const std::string& stream) {
  const std::string uel = "\x1b%-12345X", eoj = uel + "@PJL EOJ";
  std::vector<std::string> jobs;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t end = stream.find(eoj, at);
    const std::size_t last = end == npos ? npos : stream.find(uel, end + eoj.size());
    if (stream.compare(at, uel.size() + 4, uel + "@PJL") != 0 || last == npos) return {};
    std::string job = stream.substr(at, last + uel.size() - at);
    if (job.find("\n@PJL JOB ") != job.rfind("\n@PJL JOB ")) return {};  // two jobs' starts
    jobs.push_back(std::move(job));
    at = last + uel.size();
  }
  return jobs;
}

// 20 clients at once, four times, each time on a printer just added: every job
// completes, and the printer receives them whole, one after another. Then 20 PWG
// raster streams at once, which PAPPL prints from the connection or refuses as busy:
// only the completed ones reach the printer, whole.
TEST_F(QvPrinter, BurstsOfJobsPrintWholeOneAfterAnother) {
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 1, 595, 842);
  const std::string pwg = server_->file("burst.pwg");
  ASSERT_EQ(0, run(systemTool("gs"), {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pwgraster",
                                      "-r300", "-g2480x3508", "-dFIXEDMEDIA", "-dcupsColorSpace=18",
                                      "-dcupsBitsPerColor=8", "-sOutputFile=" + pwg, pdf})
                   .status);
  const SocketSink sink(server_->file("burst-sink"));
  constexpr int kBursts = 5, kJobs = 20;
  int completed = 0;
  for (int burst = 0; burst < kBursts; ++burst) {
    const bool stream = burst == kBursts - 1;
    const std::string name = "burst" + std::to_string(burst);
    ASSERT_EQ(
        0, run(QVPRINTER_PATH, {"add", "-d", name, "-m", "qv-m600", "-v", sink.uri()}, server_->env)
               .status);
    const std::string uri =
        "ipp://127.0.0.1:" + std::to_string(server_->port) + "/ipp/print/" + name;
    std::vector<std::unique_ptr<qvtest::RunningProgram>> clients;
    for (int i = 0; i < kJobs; ++i)
      clients.push_back(std::make_unique<qvtest::RunningProgram>(qvtest::ProgramRun{
          systemTool("timeout"),
          server_->ipptoolArgs(uri, "print.test",
                               {"-d", stream ? "format=image/pwg-raster" : "format=application/pdf",
                                "-d", "media=iso_a4_210x297mm", "-d", "pin=", "-d",
                                "fidelity=false", "-d", "res=300dpi", "-f", stream ? pwg : pdf}),
          {},
          ""}));
    for (auto& client : clients) {
      const std::string out = client->wait().out;
      std::smatch id;
      if (stream && out.find("server-error-busy") != npos) continue;
      ASSERT_TRUE(std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)"))) << out;
      const std::string state =
          run(systemTool("timeout"),
              server_->ipptoolArgs(uri, "wait.test", {"-d", "job=" + id[1].str()}))
              .out;
      const bool done = state.find("job-state (enum) = completed") != npos;
      EXPECT_TRUE(done || (stream && state.find("Currently printing another job") != npos))
          << name << " " << state;
      completed += done;
    }
  }
  // The device closes once its printer has no job left.
  ASSERT_TRUE(qvtest::waitUntil([&] {
    for (std::size_t n = 0; n < sink.started(); ++n)
      if (!std::filesystem::exists(server_->file("burst-sink/" + std::to_string(n) + ".end")))
        return false;
    return true;
  }));
  int jobs = 0;
  for (std::size_t n = 0; n < sink.started(); ++n) {
    const std::vector<std::string> parts = wholeJobs(sink.job(n));
    EXPECT_FALSE(parts.empty()) << "connection " << n << " holds interleaved or partial jobs";
    for (const std::string& job : parts) {
      const std::string report = qvtest::inspectJob(job, server_->file("burst.prn"));
      EXPECT_NE(npos, report.find(", 1 page")) << report;
      ++jobs;
    }
  }
  EXPECT_GE(completed, (kBursts - 1) * kJobs + 1);
  EXPECT_EQ(completed, jobs);
}

// The state file's line for job `id` ("" while it has none).
std::string stateLine(const Server& server, const std::string& id) {
  const std::string state = qvtest::readFile(server.file("state"));
  std::smatch line;
  const std::regex job("\nJob [^\n]* id=\"" + id + "\"[^\n]*");
  return std::regex_search(state, line, job) ? line[0].str() : "";
}

// Job `id`'s files in the spool directory (its document and attributes).
Words spoolFiles(const Server& server, const std::string& id) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "j%09d-", std::stoi(id));
  Words files;
  for (const std::string& name : qvtest::listDirectory(server.file("spool")))
    if (name.find(tag) != npos) files.push_back(name);
  return files;
}

// kill -9 while a job prints, then a restart on the same state and spool: that job
// ends aborted without its files, the queued jobs print by themselves, the state
// loads without a complaint; SIGTERM, and `shutdown` with a job stuck, end the server.
TEST(QvPrinterRestart, KilledMidJobRestartsWithoutLossOrLimbo) {
  if (systemTool("ipptool").empty() || systemTool("gs").empty())
    GTEST_SKIP() << "ipptool (cups-ipp-utils) or gs (ghostscript) missing";
  Server server;
  ASSERT_TRUE(server.up) << qvtest::readFile(server.file("log"));
  // Far more than the connection buffers: with the sink stopped the job blocks mid-way.
  const std::string big = qvtest::makeTestPdf(server.file(""), 200, 595, 842);
  const std::string small = qvtest::makeTestPdf(server.file(""), 1, 595, 842);
  const auto printBlocked = [&] {
    server.sink.pause(true);
    const JobResult job = server.print(true, big, "application/pdf", "", 600, false);
    EXPECT_TRUE(qvtest::waitUntil([&] {
      const std::string jobs = run(QVPRINTER_PATH, {"jobs", "-d", "mono"}, server.env).out;
      return std::regex_search(jobs, std::regex("(^|\\n)" + job.id + " +processing "));
    })) << job.id
        << ": " << job.message;
    return job;
  };
  const JobResult printing = printBlocked();
  JobResult queued[2];
  for (JobResult& job : queued) {
    job = server.print(true, small, "application/pdf", "", 600, false);
    ASSERT_TRUE(qvtest::waitUntil([&] {
      return stateLine(server, job.id).find("state=\"3\"") != npos;
    })) << job.id
        << ": " << job.message;
  }
  EXPECT_FALSE(spoolFiles(server, printing.id).empty());
  server.server->signal(SIGKILL);
  server.server->wait();
  server.sink.pause(false);

  const std::size_t logStart = qvtest::readFile(server.file("log")).size();
  ASSERT_TRUE(server.start());
  const JobResult interrupted = server.waitJob(true, printing.id);
  EXPECT_EQ("aborted", interrupted.state);
  EXPECT_NE(npos, interrupted.message.find("not printed again")) << interrupted.message;
  EXPECT_EQ(Words{}, spoolFiles(server, printing.id));
  for (const JobResult& job : queued) EXPECT_EQ("completed", server.waitJob(true, job.id).state);
  const std::string log = qvtest::readFile(server.file("log")).substr(logStart);
  const std::regex complaint(
      "\n[WE] [^\n]*(Unknown|Bad Job|Error creating job|Unable to open|Dropping printer)[^\n]*");
  std::smatch found;
  EXPECT_FALSE(std::regex_search(log, found, complaint)) << found[0];
  server.server->signal(SIGTERM);
  EXPECT_TRUE(server.exitsWithin(10));
  server.server->wait();

  // `shutdown` while a job's printer takes no more bytes.
  ASSERT_TRUE(server.start());
  printBlocked();
  EXPECT_EQ(0, run(QVPRINTER_PATH, {"shutdown"}, server.env).status);
  EXPECT_TRUE(server.exitsWithin(15)) << qvtest::readFile(server.file("log")).substr(logStart);
  server.server->wait();
  server.sink.pause(false);
}

// A printer that drops the connection mid-job: the job ends aborted, never completed,
// and the next job prints.
TEST_F(QvPrinter, JobCutOffByThePrinterIsAborted) {
  const SocketSink cut(server_->file("cut-sink"), 20000);
  ASSERT_EQ(
      0, run(QVPRINTER_PATH, {"add", "-d", "cut", "-m", "qv-m600", "-v", cut.uri()}, server_->env)
             .status);
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 20, 595, 842);
  const std::string uri = "ipp://127.0.0.1:" + std::to_string(server_->port) + "/ipp/print/cut";
  const std::string out =
      run(systemTool("timeout"),
          server_->ipptoolArgs(
              uri, "print.test",
              {"-d", "format=application/pdf", "-d", "media=iso_a4_210x297mm", "-d", "pin=", "-d",
               "fidelity=false", "-d", "res=600dpi", "-f", pdf}))
          .out;
  std::smatch id;
  ASSERT_TRUE(std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)"))) << out;
  const std::string state =
      run(systemTool("timeout"),
          server_->ipptoolArgs(uri, "wait.test", {"-d", "job=" + id[1].str()}))
          .out;
  EXPECT_NE(npos, state.find("job-state (enum) = aborted")) << state;
  EXPECT_NE(npos, state.find("connection was lost")) << state;
  EXPECT_EQ("completed", server_->print(true, pdf, "application/pdf").state);
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
