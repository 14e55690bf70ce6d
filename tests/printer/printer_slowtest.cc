// printer_slowtest.cc - qvprinter on loopback as ipptool, cupsd, chromium and a fuzzer see it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "decode/pwg_stream.h"
#include "tests/decode/job_bytes.h"
#include "tests/printer/ipp_fuzz.h"
#include "tests/support/gs_pages.h"

namespace {

using qvtest::run;
using qvtest::systemTool;
using qvtest::Words;
constexpr std::size_t npos = std::string::npos;

// A loopback socket listening on a free port (port 0: the port it got) or connected; or -1.
// `window`: a fixed receive buffer for the connections it accepts (0: the kernel's, which grows).
int loopback(int& port, int window = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (window != 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
  sockaddr_in address{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  const bool ok = port != 0 ? ::connect(fd, any, size) == 0
                            : ::bind(fd, any, size) == 0 && ::listen(fd, 4) == 0 &&
                                  ::getsockname(fd, any, &size) == 0;
  port = ntohs(address.sin_port);
  return ok ? fd : (::close(fd), -1);
}

// An AppSocket port: a child writes connection n to <dir>/n, renamed n.end at its end (or once
// it has `limit` bytes: it then closes the connection, as a printer that fails). Its window is
// 64 KiB, as a printer's: held, it holds back a job with megabytes left to send.
class SocketSink {
 public:
  SocketSink(const std::string& dir, std::uintmax_t limit = UINTMAX_MAX) : dir_(dir + "/") {
    std::filesystem::create_directories(dir_);
    const int fd = loopback(port_, 1 << 16);
    if ((pid_ = ::fork()) == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the suite, however that ends
      for (int n = 0, in; (in = ::accept(fd, nullptr, nullptr)) >= 0; ++n) {
        const std::string name = dir_ + std::to_string(n);
        const int out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        std::uintmax_t hold = std::strtoull(qvtest::readFile(holdFile()).c_str(), nullptr, 10);
        std::filesystem::remove(holdFile(), ignored_);
        char buffer[1 << 16];
        for (std::uintmax_t total = 0; total < limit;) {
          const ssize_t got = ::read(
              in, buffer, std::size_t(std::min<std::uintmax_t>(sizeof buffer, limit - total)));
          if (got <= 0) break;
          if (::write(out, buffer, std::size_t(got)) != got) ::_exit(1);
          total += std::size_t(got);
          if (hold != 0 && (hold -= std::min<std::uintmax_t>(hold, std::size_t(got))) == 0)
            ::raise(SIGSTOP);  // held: the test sees it stopped, and resumes it
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
  // The next connection stops reading once it has `bytes` bytes; waitHeld() sees it stop.
  void holdNextAt(std::uintmax_t bytes) const {
    qvtest::writeFile(holdFile(), std::to_string(bytes));
  }
  bool waitHeld() const {
    int status = 0;
    bool held = false;  // waitpid reports a stop once
    return qvtest::waitUntil([&] {
      return held = held ||
                    (::waitpid(pid_, &status, WNOHANG | WUNTRACED) == pid_ && WIFSTOPPED(status));
    });
  }
  void resume() const { ::kill(pid_, SIGCONT); }

 private:
  std::string holdFile() const { return dir_ + "../sink.hold"; }
  std::error_code ignored_;
  std::string end(std::size_t n) const { return dir_ + std::to_string(n) + ".end"; }
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

struct JobResult {
  std::string id, state, message, bytes;  // bytes: what the sink received ("" for nothing)
};

// qvprinter with printers "mono" and "colour"; clients find it by SNAP_COMMON. `options`: the
// server's own (listening, TLS, auth); `wrap`: a command that runs the server's command line.
struct Server {
  explicit Server(Words options = {"-o", "listen-hostname=127.0.0.1", "-o",
                                   "server-options=no-tls"},
                  Words wrap = {})
      : options_(std::move(options)), wrap_(std::move(wrap)) {
    up = start();
    for (const bool mono : {true, false})
      up = up &&
           run(QVPRINTER_PATH,
               {"add", "-d", name(mono), "-m", mono ? "qv-m600" : "qv-c600", "-v", sink.uri()}, env)
                   .status == 0;
    // qvprinter asks a new printer how its state is read (SNMP, else PJL status on its print
    // port): the sink's connection for that comes before any test's.
    up = up && qvtest::waitUntil([&] {
           const std::string log = qvtest::readFile(file("log"));
           return log.find("Device status: ", log.find("Device status: ") + 1) != npos;
         });
  }
  ~Server() {
    server->signal(SIGTERM);  // PAPPL ends its jobs and saves its state
    server->wait();
  }
  // Starts qvprinter on the suite's port, state file and spool; once it listens.
  bool start() {
    server = std::make_unique<qvtest::RunningProgram>(command(options_, wrap_));
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
  // Print-Job of A4 while the test goes on (a streamed raster job answers at its end).
  std::unique_ptr<qvtest::RunningProgram> submit(bool mono, const std::string& file,
                                                 const std::string& format) const {
    Words args = printArgs(file, format);
    args.insert(args.begin(), {"600", systemTool("ipptool"), "-t"});
    args.insert(args.end(), {uri(mono), QV_PRINTER_TEST_DIR "/print.test"});
    return std::make_unique<qvtest::RunningProgram>(
        qvtest::ProgramRun{systemTool("timeout"), args, {}, ""});
  }
  // The id of the printer's job in state processing, else "".
  std::string processingJob(bool mono) const {
    const std::string out = ipptool(mono, "jobs.test", {}).out;
    std::smatch m;
    if (out.find("job-state (enum) = processing") == npos ||
        !std::regex_search(out, m, std::regex("job-id \\(integer\\) = (\\d+)")))
      return "";
    return m[1];
  }

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
  static Words printArgs(const std::string& file, const std::string& format,
                         const std::string& pin = "", int dpi = 600) {
    return {"-d", "format=" + format,
            "-d", "media=iso_a4_210x297mm",
            "-d", "pin=" + pin,
            "-d", "fidelity=false",
            "-d", "res=" + std::to_string(dpi) + "dpi",
            "-f", file};
  }
  // Print-Job on A4; with `wait`, the job's end and what the printer received.
  JobResult print(bool mono, const std::string& file, const std::string& format,
                  const std::string& pin = "", int dpi = 600, bool wait = true) const {
    return submit(mono, "print.test", printArgs(file, format, pin, dpi), wait);
  }
  // The job an ipptool file submits, as print() gives it.
  JobResult submit(bool mono, const std::string& test, Words args, bool wait = true) const {
    const std::size_t n = sink.started();
    const std::string out = ipptool(mono, test, std::move(args)).out;
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
  qvtest::ProgramRun command(Words options, Words wrap) const {
    Words args = {QVPRINTER_PATH, "server",
                  "-o",           "server-port=" + std::to_string(port),
                  "-o",           "spool-directory=" + dir.file("spool"),
                  "-o",           "log-file=" + dir.file("log"),
                  "-o",           "log-level=debug",
                  "-o",           "state-file=" + dir.file("state")};
    args.insert(args.end(), options.begin(), options.end());
    wrap.insert(wrap.end(), args.begin(), args.end());
    return {wrap.front(), {wrap.begin() + 1, wrap.end()}, env, ""};
  }
  Words options_, wrap_;
  std::unique_ptr<qvtest::RunningProgram> server;
  bool up = false;
};

// A simulated QV printer (qvsim) on a loopback address of its own: jobs,
// PJL status and (unless `snmp` is false) its MIB over SNMP, from the state
// file that set() changes.
class Simulator {
 public:
  Simulator(const std::string& dir, const std::string& address, bool mono, bool snmp = true)
      : dir_(dir),
        address_(address),
        program_({QVSIM_PATH,
                  {"--model", mono ? "mono" : "colour", "--address", address, "--out", dir,
                   "--snmp-port", snmp ? "161" : "0"},
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

// Ghostscript with its quiet batch options; `out`.
std::string gs(const std::string& out, Words args) {
  args.insert(args.begin(), {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sOutputFile=" + out});
  EXPECT_EQ(0, run(systemTool("gs"), args).status) << out;
  return out;
}

qvtest::Pages readPwg(const std::string& path) {
  const std::string bytes = qvtest::readFile(path);
  std::vector<qvdecode::PwgPage> pages;
  qvdecode::DecodeError error;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  EXPECT_EQ(0, qvdecode::decodePwgRaster({data, bytes.size()}, pages, error));
  qvtest::Pages all{pages.at(0).header.bytesPerLine, pages.at(0).header.height, {}};
  for (const qvdecode::PwgPage& page : pages)
    all.pages.emplace_back(page.pixels.begin(), page.pixels.end());
  return all;
}

// Jobs pass qvinspect --check with the input's or Ghostscript's pages (mono PWG: dithered).
TEST_F(QvPrinter, DocumentsPrintAsTheirSourcePages) {
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 2, 595, 842);
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
    if (pin == "12a4" || pin == "123") {  // refused at submission
      EXPECT_EQ("not submitted", job.state);
      EXPECT_NE(npos, job.message.find("PIN must be exactly 4 digits")) << job.message;
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

// Types the drivers do not print, and bytes not of the declared type, are refused at submission
// by Print-Job, Send-Document and Validate-Job, with fidelity or without, and by `qvprinter
// submit` on the local socket; no job is made of them and the server goes on printing.
TEST_F(QvPrinter, UnprintableDocumentsAreRefusedAtSubmission) {
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 1, 595, 842);
  const std::string notes = dir + "notes.txt", ps = dir + "page.ps";
  qvtest::writeFile(notes, "Shopping list\n- milk\n");
  qvtest::writeFile(ps,
                    "%!PS\n/Helvetica findfont 20 scalefont setfont 72 720 moveto (QV) show\n"
                    "showpage\n");
  const JobResult before = server_->print(true, pdf, "application/pdf");
  ASSERT_EQ("completed", before.state) << before.message;
  const std::pair<std::string, std::string> refused[] = {{"text/plain", notes},
                                                         {"Text/Plain", notes},
                                                         {"application/octet-stream", notes},
                                                         {"application/postscript", ps},
                                                         {"application/pdf", ps}};
  int cancelled = 0;  // refuse.test's Create-Job
  for (const std::string fidelity : {"true", "false"}) {
    for (const auto& [format, file] : refused) {
      SCOPED_TRACE(format + " " + file + " fidelity=" + fidelity);
      Words args{"-d", "format=" + format, "-d", "fidelity=" + fidelity, "-f", file};
      if (format != "application/octet-stream" && format != "application/pdf")
        args.insert(args.end(), {"-d", "validate=1"});  // refused without the bytes
      const qvtest::ProgramResult result = server_->ipptool(true, "refuse.test", args);
      EXPECT_EQ(0, result.status) << result.out << result.err;
      ++cancelled;
    }
  }
  const qvtest::ProgramResult submit =
      run(QVPRINTER_PATH, {"submit", "-d", Server::name(true), notes}, server_->env);
  EXPECT_NE(0, submit.status);
  EXPECT_NE(npos, submit.err.find("The document is not PDF")) << submit.err;
  const JobResult after = server_->print(true, pdf, "Application/PDF");  // read in lower case
  EXPECT_EQ("completed", after.state) << after.message;
  EXPECT_EQ(std::to_string(std::stoi(before.id) + cancelled + 1), after.id);
}

// A PIN matches the panel as typed (HOLDKEY=0042) from job-password, qv-secure-pin and
// `qvprinter submit`; anything but four digits is refused at submission on every path. No
// client, the owner included, reads it back, and neither the debug log nor the spool holds it.
TEST_F(QvPrinter, SecurePinIsWriteOnly) {
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 1, 595, 842);
  const std::string pin = "0042", holdKey = "@PJL SET HOLDKEY=0042";
  const SocketSink& sink = server_->sink;
  const auto submit = [&](const std::string& value, Words more = {}) {
    Words args{"submit", "-d", Server::name(true), "-o", "qv-secure-pin=" + value};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(pdf);
    return run(QVPRINTER_PATH, args, server_->env);
  };
  const JobResult text = server_->print(false, pdf, "application/pdf", pin);
  EXPECT_EQ("completed", text.state) << text.message;
  EXPECT_NE(npos, text.bytes.find(holdKey));
  std::size_t n = sink.started();
  const qvtest::ProgramResult password =
      server_->ipptool(true, "secure_pin.test", {"-d", "pin=" + pin, "-f", pdf});
  EXPECT_EQ(0, password.status) << password.out;
  ASSERT_TRUE(sink.waitEnded(n));
  EXPECT_NE(npos, sink.job(n).find(holdKey));
  n = sink.started();
  const qvtest::ProgramResult submitted = submit(pin);
  ASSERT_EQ(0, submitted.status) << submitted.err;
  ASSERT_TRUE(sink.waitEnded(n));
  EXPECT_NE(npos, sink.job(n).find(holdKey));

  for (const std::string bad : {"12ab", "123", "12345"}) {
    SCOPED_TRACE(bad);
    const qvtest::ProgramResult ipp = server_->ipptool(
        true, "secure_pin.test", {"-d", "pin=" + bad, "-d", "refused=1", "-f", pdf});
    EXPECT_EQ(0, ipp.status) << ipp.out;
    const qvtest::ProgramResult refused = submit(bad);
    EXPECT_NE(0, refused.status);
    EXPECT_NE(npos, refused.err.find("PIN must be exactly 4 digits")) << refused.err;
  }

  // A held job keeps its attributes in the spool until it is released or cancelled.
  const qvtest::ProgramResult held = submit(pin, {"-o", "job-hold-until=indefinite"});
  ASSERT_EQ(0, held.status) << held.err;
  std::smatch heldId;
  ASSERT_TRUE(std::regex_search(held.out, heldId, std::regex("-(\\d+)"))) << held.out;
  const std::regex attributeFile("p[0-9]+j0*" + heldId[1].str() + "-.*\\.ipp");
  EXPECT_TRUE(qvtest::waitUntil([&, port = server_->port]() mutable {
    ::close(loopback(port));  // PAPPL saves its state when a connection wakes its main loop
    const std::vector<std::string> names = qvtest::listDirectory(dir + "spool");
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
      return std::regex_match(name, attributeFile);
    });
  }));
  const std::regex pinToken("(^|[^0-9A-Fa-f])" + pin + "([^0-9A-Fa-f]|$)");
  for (const std::string user : {"qvtest", "mallory"}) {
    const qvtest::ProgramResult jobs = server_->ipptool(
        false, "job_secrets.test", {"-v", "-d", "job=" + text.id, "-d", "who=" + user});
    EXPECT_EQ(0, jobs.status) << jobs.out;
    EXPECT_FALSE(std::regex_search(jobs.out, pinToken)) << user << "\n" << jobs.out;
  }
  for (const char* name : {"log", "state"})
    EXPECT_FALSE(std::regex_search(qvtest::readFile(dir + name), pinToken)) << name;
  for (const std::string& name : qvtest::listDirectory(dir + "spool"))
    EXPECT_FALSE(std::regex_search(qvtest::readFile(dir + "spool/" + name), pinToken)) << name;
  server_->ipptool(true, "cancel.test", {"-d", "job=" + heldId[1].str()});
}

std::string bigEndian32(std::uint32_t value) {
  return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}
void patch32(std::string& bytes, std::size_t at, std::uint32_t value) {
  bytes.replace(at, 4, bigEndian32(value));
}
std::string pngChunk(const std::string& type, const std::string& data) {
  std::uint32_t crc = ~0u;
  for (const unsigned char byte : type + data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return bigEndian32(std::uint32_t(data.size())) + type + data + bigEndian32(~crc);
}
std::string cut(const std::string& file, std::size_t bytes, const std::string& to) {
  qvtest::writeFile(to, qvtest::readFile(file).substr(0, bytes));
  return to;
}
// Overwrites 8 bytes `before` bytes from the end (inside a PNG's last IDAT).
std::string damage(const std::string& file, std::size_t before, const std::string& to) {
  const std::string bytes = qvtest::readFile(file);
  qvtest::writeFile(to, std::string(bytes).replace(bytes.size() - before, 8, "damaged!"));
  return to;
}

// Each ends at once, aborted with its reason; only the cut PWG page's first page reaches the
// printer, and the next job prints.
TEST_F(QvPrinter, OversizedAndDamagedDocumentsAbortWithTheirReason) {
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 2, 595, 842);
  const std::string png = gs(dir + "page.png", {"-sDEVICE=png16m", "-r50", "-dLastPage=1", pdf});
  const std::string jpeg = gs(dir + "page.jpg", {"-sDEVICE=jpeg", "-r50", "-dLastPage=1", pdf});
  const std::string pwg =
      gs(dir + "pages.pwg", {"-sDEVICE=pwgraster", "-r600", "-g4960x7016", "-dFIXEDMEDIA",
                             "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", pdf});
  // 74 bytes: the signature, IHDR of 60000 x 60000 RGB, an IDAT of 17 bytes, IEND.
  const std::string hugePng = dir + "huge.png";
  qvtest::writeFile(hugePng, "\x89PNG\r\n\x1a\n" +
                                 pngChunk("IHDR", bigEndian32(60000) + bigEndian32(60000) +
                                                      std::string("\x08\x02\0\0\0", 5)) +
                                 pngChunk("IDAT", std::string(17, 'x')) + pngChunk("IEND", ""));
  std::string bytes = qvtest::readFile(jpeg);  // SOF0: length, precision, lines, samples a line
  const std::size_t sof = bytes.find("\xff\xc0");
  ASSERT_NE(npos, sof);
  bytes.replace(sof + 5, 4, "\xea\x60\xea\x60");
  const std::string hugeJpeg = dir + "huge.jpg";
  qvtest::writeFile(hugeJpeg, bytes);
  bytes = qvtest::readFile(pwg).substr(0, 4 + 1796);  // sync word and the first page's header
  patch32(bytes, 4 + 372, 100000);                    // cupsWidth
  patch32(bytes, 4 + 376, 100000);                    // cupsHeight
  patch32(bytes, 4 + 392, 100000);                    // cupsBytesPerLine
  const std::string hugePwg = dir + "huge.pwg";
  qvtest::writeFile(hugePwg, bytes + std::string(100, '\0'));
  const std::string tooBig =
      " pixels; images of up to 16384 pixels a side and 50 million pixels "
      "are printed. The job was not printed.";
  const std::size_t pwgSize = qvtest::readFile(pwg).size();
  struct Case {
    const char* why;
    bool mono;
    std::string file, format, message;  // a regular expression
    bool sent = false;                  // the printer received something
  };
  const Case cases[] = {
      {"a 74-byte PNG declaring 60000 x 60000", true, hugePng, "image/png",
       "The image is 60000 x 60000" + tooBig},
      {"a JPEG declaring 60000 x 60000", false, hugeJpeg, "image/jpeg",
       "The image is 60000 x 60000" + tooBig},
      {"a PNG with damaged data", false, damage(png, 200, dir + "damaged.png"), "image/png",
       "The PNG image cannot be read: .+; the job was not printed\\."},
      {"a JPEG cut short", true, cut(jpeg, 2000, dir + "cut.jpg"), "image/jpeg",
       "The JPEG image cannot be read: .+; the job was not printed\\."},
      {"a PWG document cut in its second page", true, cut(pwg, pwgSize * 3 / 4, dir + "cut.pwg"),
       "image/pwg-raster", "Page 2 of the raster document ends after \\d+ of 7016 lines\\.", true},
      {"a PWG page of 100000 x 100000 with 100 bytes", true, hugePwg, "image/pwg-raster",
       "Page 1 of the raster document is 100000 x 100000 pixels, larger than the job's paper "
       "\\(iso_a4_210x297mm, 4960 x 7016 at 600 dpi\\)\\."},
      {"the next job prints", true, png, "image/png", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto start = std::chrono::steady_clock::now();
    const JobResult job = server_->print(c.mono, c.file, c.format);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    if (c.message.empty()) {
      EXPECT_EQ("completed", job.state) << job.message;
      EXPECT_NE(npos, qvtest::inspectJob(job.bytes, dir + "next.prn").find(", 1 page"));
      continue;
    }
    EXPECT_EQ("aborted", job.state);
    EXPECT_TRUE(std::regex_match(job.message, std::regex(c.message))) << job.message;
    EXPECT_EQ(c.sent, !job.bytes.empty());
  }
}

// Cancelled mid-job while the printer reads nothing (so the job cannot finish first): once the
// printer reads again, the job ends within seconds and its stream in the trailer.
TEST_F(QvPrinter, CancelEndsEveryKindOfJobWithinSeconds) {
  const std::string dir = server_->file("");
  // Three pages of gray noise at 300 dpi: megabytes a page for either printer.
  const int width = 2480, height = 3508;
  std::string noise = "%!PS\n";
  std::mt19937 random(1);
  for (int page = 0; page < 3; ++page) {
    noise += "<< /PageSize [595 842] >> setpagedevice 595 842 scale " + std::to_string(width) +
             " " + std::to_string(height) + " 8 [" + std::to_string(width) + " 0 0 -" +
             std::to_string(height) + " 0 " + std::to_string(height) + "] currentfile image\n";
    for (int i = 0; i < width * height; ++i) noise += char(random() & 0xFF);
    noise += "\nshowpage\n";
  }
  qvtest::writeFile(dir + "noise.ps", noise);
  const std::string pdf = dir + "noise.pdf";
  ASSERT_EQ(0, run(systemTool("ps2pdf"), {dir + "noise.ps", pdf}, {{"TMPDIR", dir}}).status);
  const std::string jpeg =
      gs(dir + "noise.jpg", {"-sDEVICE=jpeggray", "-r300", "-dLastPage=1", pdf});
  // Six pages: the mono job (6.5 MB) is more than the kernel's largest send buffer (4 MiB)
  // can hold, so that the cancel finds pages still to send.
  const std::string pwg =
      gs(dir + "noise.pwg", {"-sDEVICE=pwgraster", "-r300", "-g2480x3508", "-dFIXEDMEDIA",
                             "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", pdf, pdf});
  const std::tuple<bool, std::string, std::string, std::string> jobs[] = {
      {true, pdf, "application/pdf", ", 3 pages"},
      {false, pdf, "application/pdf", ", 3 pages"},
      {true, pwg, "image/pwg-raster", ", 6 pages"},  // streamed: the request is still being read
      {false, jpeg, "image/jpeg", ""},               // one page: the cancel's last page may be it
  };
  const SocketSink& sink = server_->sink;
  for (const auto& [mono, file, format, whole] : jobs) {
    SCOPED_TRACE(format + (mono ? " mono" : " colour"));
    const std::size_t n = sink.started();
    sink.holdNextAt(20000);  // the header and the first page on their way
    const std::unique_ptr<qvtest::RunningProgram> client = server_->submit(mono, file, format);
    ASSERT_TRUE(sink.waitHeld());
    std::string id;
    const bool running =
        qvtest::waitUntil([&] { return !(id = server_->processingJob(mono)).empty(); });
    if (running) server_->ipptool(mono, "cancel.test", {"-d", "job=" + id});
    const auto cancelled = std::chrono::steady_clock::now();
    sink.resume();
    ASSERT_TRUE(running);
    EXPECT_EQ("canceled", server_->waitJob(mono, id).state);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(5));
    client->wait();
    ASSERT_TRUE(sink.waitEnded(n));
    const std::string bytes = sink.job(n);
    EXPECT_NE(npos, bytes.find("\x1b%-12345X", bytes.size() - 16));
    const std::string report = qvtest::inspectJob(bytes, dir + "cancel.prn");
    if (!whole.empty()) {
      EXPECT_EQ(npos, report.find(whole)) << report;
    }
  }
}

// The page at `path` on the suite's server as headless chromium builds it.
qvtest::ProgramResult chromiumDom(const Server& server, const std::string& path) {
  return run(systemTool("timeout"),
             {"120", systemTool("chromium"), "--headless", "--no-sandbox", "--disable-gpu",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--no-first-run", "--user-data-dir=" + server.file("chromium"), "--dump-dom",
              "http://127.0.0.1:" + std::to_string(server.port) + path},
             {{"HOME", server.file("")}});
}

// curl's HTTP status for `args` (options and URL), run by `prefix` (e.g. in a namespace); the
// body in `body`.
std::string httpStatus(Words args, std::string* body = nullptr, Words prefix = {}) {
  args.insert(args.begin(), {"-s", "-k", "--max-time", "120", "-w", "\n%{http_code}"});
  args.insert(args.begin(), systemTool("curl"));
  prefix.insert(prefix.end(), args.begin(), args.end());
  const std::string out = run(prefix.front(), {prefix.begin() + 1, prefix.end()}).out;
  const std::size_t end = out.rfind('\n');
  if (body != nullptr) *body = out.substr(0, end == npos ? 0 : end);
  return end == npos ? out : out.substr(end + 1);
}

// The CSRF token of a web page's form ("" for none).
std::string formSession(const std::string& page) {
  std::smatch session;
  std::regex_search(page, session, std::regex("name=\"session\" value=\"(\\w+)\""));
  return session[1].str();
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
          server_->ipptoolArgs(
              uri, "print.test",
              Server::printArgs(stream ? pwg : pdf, stream ? "image/pwg-raster" : "application/pdf",
                                "", 300)),
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
  // The device closes once its printer has no job left. Once idle, qvprinter asks each new
  // printer for its PJL status on a connection of its own (the sink answers nothing).
  ASSERT_TRUE(qvtest::waitUntil([&] {
    const std::string log = qvtest::readFile(server_->file("log"));
    for (int burst = 0; burst < kBursts; ++burst)
      if (log.find("[Printer burst" + std::to_string(burst) + "] Device status: ") == npos)
        return false;
    for (std::size_t n = 0; n < sink.started(); ++n)
      if (!std::filesystem::exists(server_->file("burst-sink/" + std::to_string(n) + ".end")))
        return false;
    return true;
  }));
  int jobs = 0;
  for (std::size_t n = 0; n < sink.started(); ++n) {
    if (sink.job(n) == "\x1b%-12345X@PJL INFO STATUS\r\n\x1b%-12345X") continue;
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

// Jobs queued behind a printing one print in the order they came (PAPPL 1.3 alone starts
// the newest first): a 1-, 2- and 3-page job sent while the printer holds a first one.
TEST_F(QvPrinter, QueuedJobsPrintInTheOrderTheyCame) {
  const SocketSink& sink = server_->sink;
  const std::size_t n = sink.started();
  const std::string first = qvtest::makeTestPdf(server_->file(""), 8, 595, 842);
  sink.pause(true);
  ASSERT_NE("", server_->print(true, first, "application/pdf", "", 600, false).id);
  ASSERT_TRUE(qvtest::waitUntil([&] { return server_->processingJob(true) != ""; }));
  std::vector<std::string> ids;
  for (int pages = 1; pages <= 3; ++pages) {
    const std::string pdf = qvtest::makeTestPdf(server_->file(""), pages, 595, 842);
    ids.push_back(server_->print(true, pdf, "application/pdf", "", 600, false).id);
  }
  sink.pause(false);
  for (const std::string& id : ids) EXPECT_EQ("completed", server_->waitJob(true, id).state);
  std::vector<std::string> jobs;
  for (std::size_t c = n; c < sink.started(); ++c) {
    ASSERT_TRUE(sink.waitEnded(c));
    for (std::string& job : wholeJobs(sink.job(c))) jobs.push_back(std::move(job));
  }
  ASSERT_EQ(4u, jobs.size());
  for (int pages = 1; pages <= 3; ++pages) {
    const std::string report = qvtest::inspectJob(jobs[std::size_t(pages)], server_->file("q.prn"));
    EXPECT_NE(npos, report.find(", " + std::to_string(pages) + (pages == 1 ? " page" : " pages")))
        << "job " << pages << " of the queue: " << report;
  }
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
          server_->ipptoolArgs(uri, "print.test", Server::printArgs(pdf, "application/pdf")))
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
  if (systemTool("chromium").empty()) GTEST_SKIP() << "chromium is not installed";
  const qvtest::ProgramResult page = chromiumDom(*server_, "/");
  ASSERT_EQ(0, page.status) << page.err;
  for (const char* text :
       {"href=\"/mono/\"", "href=\"/colour/\"", "Quarno QV M600", "Quarno QV C600"})
    EXPECT_NE(npos, page.out.find(text)) << text << "\n" << page.out;
}

bool avahiDaemonRuns() {
  for (const auto& process : std::filesystem::directory_iterator("/proc"))
    if (qvtest::readFile(process.path() / "comm") == "avahi-daemon\n") return true;
  return false;
}

// Without an avahi-daemon (a server's or a container's usual case) discovery says so instead of
// aborting, and the web "Add Printer" page renders and adds a socket:// printer.
TEST_F(QvPrinter, AddPrinterWorksWithoutAvahiDaemon) {
  for (const char* tool : {"chromium", "curl"})
    if (systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  const qvtest::ProgramResult devices =
      run(systemTool("timeout"), {"120", QVPRINTER_PATH, "devices"}, server_->env);
  EXPECT_EQ(0, devices.status) << devices.err;
  if (!avahiDaemonRuns()) {
    EXPECT_NE(npos, devices.out.find("DNS-SD discovery is unavailable")) << devices.out;
  }
  const qvtest::ProgramResult page = chromiumDom(*server_, "/addprinter");
  ASSERT_EQ(0, page.status) << page.err;
  for (const char* text : {"name=\"printer_name\"", "value=\"socket\"", "name=\"hostname\""})
    EXPECT_NE(npos, page.out.find(text)) << text << "\n" << page.out;
  const std::string base = "http://127.0.0.1:" + std::to_string(server_->port);
  std::string form;
  ASSERT_EQ("200", httpStatus({base + "/addprinter"}, &form));
  const std::string device = server_->sink.uri().substr(std::string("socket://").size());
  EXPECT_EQ("302", httpStatus({"--data-urlencode", "session=" + formSession(form),
                               "--data-urlencode", "printer_name=web", "--data-urlencode",
                               "device_uri=socket", "--data-urlencode", "hostname=" + device,
                               "--data-urlencode", "driver_name=qv-m600", base + "/addprinter"}));
  EXPECT_EQ("200", httpStatus({base + "/web/"}));
  EXPECT_EQ(0, run(QVPRINTER_PATH, {"delete", "-d", "web"}, server_->env).status);
  EXPECT_EQ("404", httpStatus({base + "/web/"}));
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
  const qvtest::Pages pages = qvtest::renderPdf(sent, layout, server_->file(""));
  qvtest::expectJobMatches(server_->sink.job(n), pages, layout);
  // Two collated copies two-sided: each on a sheet of its own, the back left blank.
  const qvtest::ProgramResult copies =
      cupsd.client("lp", {"-d", "qv", "-n", "2", "-o", "collate=true", "-o",
                          "sides=two-sided-long-edge", "-o", "media=A4", pdf});
  ASSERT_EQ(0, copies.status) << copies.err;
  ASSERT_TRUE(server_->sink.waitEnded(n + 1)) << cupsd.log();
  const qvtest::Layout sheets{false, 600, 600, 4960, 7016, "0 -1 0", "", false, true};
  qvtest::expectJobMatches(server_->sink.job(n + 1), pages, sheets);
}

// A 3-page PDF's copies: collated (each copy on new sheets: a blank back after an odd page count
// two-sided), uncollated (mono: the printer's copies of each page), and a page range.
TEST_F(QvPrinter, CopiesAreCollatedAsAskedAndPageRangesHonoured) {
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 3, 595, 842);
  const qvtest::Pages pages[2] = {qvtest::renderPdf(pdf, qvtest::Layout{false}, dir),
                                  qvtest::renderPdf(pdf, qvtest::Layout{true}, dir)};
  // Model, copies, handling, sides, page-ranges, the pages printed, job header lines.
  const std::tuple<bool, int, std::string, std::string, const char*, const char*, const char*>
      jobs[] = {{true, 2, "collated", "one-sided", "1-99", "0 1 2 0 1 2", "\x1b&l1X"},
                {true, 2, "uncollated", "one-sided", "1-99", "0 1 2", "\x1b&l2X"},
                {true, 2, "collated", "two-sided-long-edge", "1-99", "0 1 2 -1 0 1 2", "\x1b&l1S"},
                {true, 1, "collated", "one-sided", "2-3", "1 2", ""},
                {false, 2, "collated", "two-sided-long-edge", "1-99", "0 1 2 -1 0 1 2",
                 "@PJL SET DUPLEX=ON"},
                {false, 2, "uncollated", "one-sided", "1-99", "0 0 1 1 2 2", ""},
                {false, 1, "collated", "one-sided", "2-3", "1 2", ""}};
  const auto submit = [](bool mono, const std::string& file, const char* format, int copies,
                         const std::string& handling, const std::string& sides,
                         const std::string& ranges) {
    return server_->submit(
        mono, "copies.test",
        {"-d", std::string("format=") + format, "-d", "copies=" + std::to_string(copies), "-d",
         "handling=separate-documents-" + handling + "-copies", "-d", "sides=" + sides, "-d",
         "ranges=" + ranges, "-f", file});
  };
  for (const auto& [mono, copies, handling, sides, ranges, order, header] : jobs) {
    SCOPED_TRACE(std::string(Server::name(mono)) + " " + handling + " " + sides + " " + ranges);
    const JobResult job = submit(mono, pdf, "application/pdf", copies, handling, sides, ranges);
    ASSERT_EQ("completed", job.state) << job.message;
    qvtest::inspectJob(job.bytes, dir + "copies.prn");
    const bool turn = !mono && sides != "one-sided";  // the colour printer turns long-edge backs
    const qvtest::Layout layout{mono, 600, 600, 4960, 7016, order, header, false, turn};
    qvtest::expectJobMatches(job.bytes, pages[mono], layout);
  }
  // Raster as PAPPL streams it: the range dropped page by page, the copies sent line by line.
  const std::string pwg = dir + "copies.pwg";
  ASSERT_EQ(0, run(systemTool("gs"), {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pwgraster",
                                      "-r600", "-g4960x7016", "-dFIXEDMEDIA", "-dcupsColorSpace=19",
                                      "-dcupsBitsPerColor=8", "-sOutputFile=" + pwg, pdf})
                   .status);
  const JobResult job = submit(false, pwg, "image/pwg-raster", 2, "collated", "one-sided", "2-3");
  ASSERT_EQ("completed", job.state) << job.message;
  const qvtest::Layout raster{false, 600, 600, 4960, 7016, "1 2 1 2"};
  qvtest::expectJobMatches(job.bytes, readPwg(pwg), raster);
}

// The command line: submit -n, the options the drivers take, the printers and their jobs.
TEST_F(QvPrinter, CommandLineSubmitsCopiesListsOptionsAndShowsJobs) {
  const auto cli = [](Words args) { return run(QVPRINTER_PATH, std::move(args), server_->env); };
  const std::string dir = server_->file(""), pdf = qvtest::makeTestPdf(dir, 1, 595, 842);
  const std::size_t n = server_->sink.started();
  const qvtest::ProgramResult submitted = cli({"submit", "-d", "mono", "-n", "2", pdf});
  ASSERT_EQ(0, submitted.status) << submitted.err;
  ASSERT_TRUE(server_->sink.waitEnded(n));
  const qvtest::Layout twice{true, 600, 600, 4960, 7016, "0 0"};
  qvtest::expectJobMatches(server_->sink.job(n), qvtest::renderPdf(pdf, twice, dir), twice);

  const qvtest::ProgramResult options = cli({"options", "-d", "mono"});
  ASSERT_EQ(0, options.status) << options.err;
  for (const char* line :
       {"-n COPIES", "-o sides=two-sided-long-edge", "-o output-bin=mailbox-1",
        "-o media-source=tray-2", "-o media-type=envelope", "-o printer-resolution=1200dpi",
        "-o qv-toner-save=true", "-o job-password=NNNN", "-o qv-secure-pin=NNNN"})
    EXPECT_NE(npos, options.out.find(line)) << line << "\n" << options.out;
  EXPECT_EQ(npos, options.out.find("-c ")) << options.out;

  const qvtest::ProgramResult held =
      cli({"submit", "-d", "colour", "-o", "job-hold-until=indefinite", pdf});
  std::smatch id;
  ASSERT_TRUE(std::regex_search(held.out, id, std::regex("colour-(\\d+)"))) << held.out << held.err;
  const qvtest::ProgramResult status = cli({"status"});
  cli({"cancel", "-d", "colour", "-j", id[1]});
  EXPECT_EQ(0, status.status) << status.err;
  for (const std::string& line :
       Words{"mono: idle", "colour: ", "job " + id[1].str() + ": pending-held"})
    EXPECT_NE(npos, status.out.find(line)) << line << "\n" << status.out;
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

// A network namespace joined to this one by a veth pair: 198.18.0.1/30 on this side,
// 198.18.0.2/30 in it (the benchmarking range). `up` is false where that is not permitted. One
// at a time on the machine (tests run in parallel processes; the addresses are always these).
class VethNamespace {
 public:
  VethNamespace() {
    const auto locked = [this] { return ::flock(lock_, LOCK_EX | LOCK_NB) == 0; };
    if (lock_ < 0 || !qvtest::waitUntil(locked, 900)) return;
    if (ip_.empty() || qvtest::run(ip_, {"netns", "add", name_}).status != 0) return;
    added_ = true;
    const std::string here = name_ + "h", there = name_ + "n";
    const Words steps[] = {{"link", "add", here, "type", "veth", "peer", "name", there},
                           {"link", "set", there, "netns", name_},
                           {"addr", "add", "198.18.0.1/30", "dev", here},
                           {"link", "set", here, "up"},
                           {"-n", name_, "addr", "add", "198.18.0.2/30", "dev", there},
                           {"-n", name_, "link", "set", there, "up"}};
    up = std::ranges::all_of(steps,
                             [&](const Words& step) { return qvtest::run(ip_, step).status == 0; });
  }
  ~VethNamespace() {
    if (added_) {
      qvtest::run(ip_, {"link", "del", name_ + "h"});  // both ends, wherever the other one is
      qvtest::run(ip_, {"netns", "del", name_});
    }
    if (lock_ >= 0) ::close(lock_);  // and the lock with it
  }
  VethNamespace(const VethNamespace&) = delete;
  VethNamespace& operator=(const VethNamespace&) = delete;
  Words prefix() const { return {systemTool("timeout"), "300", ip_, "netns", "exec", name_}; }
  qvtest::ProgramResult run(const char* tool, const Words& args) const {
    Words command = prefix();
    command.push_back(systemTool(tool));
    command.insert(command.end(), args.begin(), args.end());
    return qvtest::run(command.front(), {command.begin() + 1, command.end()});
  }
  bool up = false;

 private:
  const int lock_ = ::open("/tmp/qvtest-veth-198.18.0.0.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const std::string ip_ = systemTool("ip"), name_ = "qvt" + std::to_string(::getpid());
  bool added_ = false;
};

// Two servers listening on every interface, one after the other; clients in a namespace of the
// test's own are another machine.
class AdminAccess : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"ipptool", "curl", "gs", "unshare"})
      if (systemTool(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    if (!ns_.up) GTEST_SKIP() << "no network namespace with a veth pair (ip netns add refused)";
  }
  static std::string systemUri(const Server& server, const std::string& scheme, bool remote) {
    return scheme + (remote ? "198.18.0.1:" : "127.0.0.1:") + std::to_string(server.port) +
           "/ipp/system";
  }
  // admin.test at `uri`, from the namespace when `remote`: with `create`, printer `name` is
  // created, changed and deleted; else the server's "mono" (id 1) is changed and deleted. Each
  // operation's outcome: PASS or the status it got.
  std::vector<std::string> admin(const Server& server, const std::string& uri, bool remote,
                                 bool create, const std::string& name = "intruder") const {
    Words args = {"-I", "-t",
                  "-d", "name=" + name,
                  "-d", "printer=" + (create ? name : "mono"),
                  "-d", "device=" + server.sink.uri()};
    if (!create) args.insert(args.end(), {"-d", "id=1"});
    args.insert(args.end(), {uri, QV_PRINTER_TEST_DIR "/admin.test"});
    const std::string out =
        remote ? ns_.run("ipptool", args).out : run(systemTool("ipptool"), args).out;
    std::vector<std::string> outcomes;
    const std::regex line(
        "(Create-Printer|Set-Printer-Attributes|Delete-Printer) +\\[(\\w+)\\]"
        "(\\s+RECEIVED[^\\n]*\\n\\s+status-code = (\\S+))?");
    std::smatch m;
    for (std::string rest = out; std::regex_search(rest, m, line); rest = m.suffix())
      outcomes.push_back(m[4].matched ? m[4].str() : m[2].str());
    return outcomes;
  }
  // A PDF printed on "mono" from the namespace, without credentials: the job's end state.
  std::string printRemotely(const Server& server) const {
    const std::string pdf = qvtest::makeTestPdf(server.file(""), 1, 595, 842);
    const std::string out =
        ns_.run("ipptool", {"-t", "-d", "format=application/pdf", "-d", "media=iso_a4_210x297mm",
                            "-d", "pin=", "-d", "fidelity=false", "-d", "res=600dpi", "-f", pdf,
                            "ipp://198.18.0.1:" + std::to_string(server.port) + "/ipp/print/mono",
                            QV_PRINTER_TEST_DIR "/print.test"})
            .out;
    std::smatch id;
    if (!std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)"))) return out;
    return server.waitJob(true, id[1]).state;
  }
  std::string web(const Server& server, Words args, bool remote, const std::string& scheme,
                  const std::string& path) const {
    args.push_back(scheme + (remote ? "198.18.0.1:" : "127.0.0.1:") + std::to_string(server.port) +
                   path);
    return httpStatus(args, nullptr, remote ? ns_.prefix() : Words{});
  }

  const VethNamespace ns_;
};

const std::vector<std::string> kAllPass = {"PASS", "PASS", "PASS"};

// unshare: the server in a mount table of its own, with etc/ssl (its TLS keys, which a root server
// keeps in /etc/cups/ssl) and etc/pam.d, if there is one, mounted over the machine's.
Words privateEtc(const qvtest::ScopedTempDir& etc) {
  std::filesystem::create_directories(etc.file("ssl"));
  std::string script = "mount --bind \"$1/ssl\" /etc/cups/ssl && shift && exec \"$@\"";
  if (std::filesystem::is_directory(etc.file("pam.d")))
    script = "mount --bind \"$1/pam.d\" /etc/pam.d && " + script;
  return {systemTool("unshare"),
          "--mount",
          "--propagation",
          "private",
          "--",
          "/bin/sh",
          "-c",
          script,
          "sh",
          etc.path()};
}

// No auth service: printing from elsewhere works, administration from elsewhere is refused over
// IPP and the web (a plain form POST included), and works from the machine itself.
TEST_F(AdminAccess, WithoutAnAuthServiceOnlyThisMachineAdministers) {
  const Server server({"-o", "server-options=no-tls"});
  ASSERT_TRUE(server.up) << qvtest::readFile(server.file("log"));
  EXPECT_EQ("completed", printRemotely(server));
  const std::string forbidden = "client-error-forbidden";
  EXPECT_EQ(std::vector<std::string>(3, forbidden),
            admin(server, systemUri(server, "ipp://", true), true, false));
  EXPECT_EQ("403", web(server, {}, true, "http://", "/addprinter"));
  EXPECT_EQ("403", web(server, {"-d", "x=1"}, true, "http://", "/mono/delete"));
  EXPECT_EQ("403", web(server, {"-d", "location=x"}, true, "http://", "/config"));
  EXPECT_EQ("200", web(server, {}, false, "http://", "/mono/"));  // not deleted
  EXPECT_EQ("200", web(server, {}, false, "http://", "/addprinter"));
  EXPECT_EQ(kAllPass, admin(server, systemUri(server, "ipp://", false), false, true, "local"));
}

// With an auth service (PAM, here a throwaway service in a mount namespace of the server's own):
// remote administrators sign in over TLS and must be in the admin group; printing still needs
// nothing; this machine administers without signing in.
TEST_F(AdminAccess, WithAnAuthServiceAdministratorsSignInOverTls) {
  const passwd* nobody = ::getpwnam("nobody");
  const group* nobodyGroup = nobody != nullptr ? ::getgrgid(nobody->pw_gid) : nullptr;
  if (nobodyGroup == nullptr || nobody->pw_gid == 0 ||
      !std::filesystem::is_directory("/etc/cups/ssl"))
    GTEST_SKIP() << "no user nobody with a group of its own, or no /etc/cups/ssl";
  const std::string group = nobodyGroup->gr_name;
  const qvtest::ScopedTempDir etc;
  std::filesystem::create_directories(etc.file("pam.d"));
  qvtest::writeFile(etc.file("check"), "#!/bin/sh\nread -r password\n[ \"$password\" = s3cret ]\n");
  ::chmod(etc.file("check").c_str(), 0755);
  qvtest::writeFile(etc.file("pam.d/qvprinter"),
                    "auth required pam_exec.so expose_authtok quiet " + etc.file("check") +
                        "\nauth required pam_permit.so\naccount required pam_permit.so\n");
  const Server server({"-o", "auth-service=qvprinter", "-o", "admin-group=" + group},
                      privateEtc(etc));
  ASSERT_TRUE(server.up) << qvtest::readFile(server.file("log"));
  EXPECT_EQ("completed", printRemotely(server));
  EXPECT_EQ(std::vector<std::string>(3, "client-error-not-authenticated"),
            admin(server, systemUri(server, "ipp://", true), true, false));
  EXPECT_EQ(std::vector<std::string>(3, "client-error-forbidden"),  // not in the group
            admin(server, systemUri(server, "ipps://root:s3cret@", true), true, false));
  EXPECT_EQ(kAllPass,
            admin(server, systemUri(server, "ipps://nobody:s3cret@", true), true, true, "remote"));
  EXPECT_EQ("301", web(server, {}, true, "http://", "/addprinter"));  // to https://
  EXPECT_EQ("401", web(server, {}, true, "https://", "/addprinter"));
  EXPECT_EQ("401", web(server, {"-u", "nobody:wrong"}, true, "https://", "/addprinter"));
  EXPECT_EQ("200", web(server, {"-u", "nobody:s3cret"}, true, "https://", "/addprinter"));
  EXPECT_EQ(kAllPass, admin(server, systemUri(server, "ipp://", false), false, true, "local"));
  EXPECT_EQ("200", web(server, {}, false, "http://", "/addprinter"));
}

// No auth service, an access password set on this machine: other machines get the web pages
// after signing in over TLS (http:// is sent to https://); IPP administration stays refused.
TEST_F(AdminAccess, AnAccessPasswordOpensTheWebPagesOverTls) {
  if (!std::filesystem::is_directory("/etc/cups/ssl")) GTEST_SKIP() << "no /etc/cups/ssl";
  const qvtest::ScopedTempDir etc;
  const Server server({}, privateEtc(etc));
  ASSERT_TRUE(server.up) << qvtest::readFile(server.file("log"));
  const std::string local = "http://127.0.0.1:" + std::to_string(server.port) + "/security";
  std::string page;
  ASSERT_EQ("200", httpStatus({local}, &page));
  ASSERT_EQ("200", httpStatus({"--data-urlencode", "session=" + formSession(page),
                               "--data-urlencode", "new_password=Secret123", "--data-urlencode",
                               "new_password2=Secret123", local}));
  EXPECT_EQ("301", web(server, {}, true, "http://", "/addprinter"));
  const std::string remote = "https://198.18.0.1:" + std::to_string(server.port) + "/addprinter";
  ASSERT_EQ("200", httpStatus({remote}, &page, ns_.prefix()));  // the login form
  EXPECT_EQ(npos, page.find("name=\"printer_name\""));
  const Words login = {"--data-urlencode", "session=" + formSession(page), "--data-urlencode"};
  for (const char* password : {"Wrong1234", "Secret123"}) {
    Words args = login;
    args.insert(args.end(), {std::string("password=") + password, remote});
    ASSERT_EQ("200", httpStatus(args, &page, ns_.prefix()));
    EXPECT_EQ(password == std::string("Secret123"), page.find("name=\"printer_name\"") != npos)
        << password;
  }
  EXPECT_EQ(std::vector<std::string>(3, "client-error-forbidden"),
            admin(server, systemUri(server, "ipp://", true), true, false));
}

using Ipp = std::unique_ptr<ipp_t, void (*)(ipp_t*)>;

// A request to one of the server's printers, from user "fuzz".
Ipp ippRequest(const Server& server, ipp_op_t op, bool mono) {
  Ipp ipp(ippNewRequest(op), ippDelete);
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               server.uri(mono).c_str());
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "fuzz");
  return ipp;
}

// Sends `ipp` unchanged; its answer's status (-1: none), and its job-id if it has one.
int ippDo(const Server& server, bool mono, Ipp ipp, int* jobId = nullptr) {
  const std::unique_ptr<http_t, void (*)(http_t*)> http(
      httpConnect2("127.0.0.1", server.port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000,
                   nullptr),
      httpClose);
  if (!http) return -1;
  const std::string resource = "/ipp/print/" + std::string(Server::name(mono));
  const Ipp answer(cupsDoRequest(http.get(), ipp.release(), resource.c_str()), ippDelete);
  if (jobId != nullptr)
    *jobId = ippGetInteger(ippFindAttribute(answer.get(), "job-id", IPP_TAG_INTEGER), 0);
  return answer ? static_cast<int>(ippGetStatusCode(answer.get())) : -1;
}

// The job attributes of a print request: media by collection, both sides, a resolution.
void addJobAttributes(ipp_t* ipp) {
  ippAddInteger(ipp, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 2);
  ippAddString(ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "sides", nullptr, "two-sided-long-edge");
  ippAddResolution(ipp, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 600, 600);
  ippAddInteger(ipp, IPP_TAG_JOB, IPP_TAG_ENUM, "print-quality", IPP_QUALITY_HIGH);
  const Ipp size(ippNew(), ippDelete), col(ippNew(), ippDelete);
  ippAddInteger(size.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21000);
  ippAddInteger(size.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 29700);
  ippAddCollection(col.get(), IPP_TAG_ZERO, "media-size", size.get());
  ippAddString(col.get(), IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "auto");
  ippAddCollection(ipp, IPP_TAG_JOB, "media-col", col.get());
}

// Thousands of damaged requests (a fixed seed; QV_IPP_FUZZ_SEED and QV_IPP_FUZZ_COUNT replay
// others) to both printers, paused so that the jobs they create wait (PAPPL 1.3 still prints a
// PWG Print-Job at once, streamed): every request is answered or closed within 5 s, and
// afterwards the server answers and prints as before.
TEST_F(QvPrinter, MutatedIppRequestsLeaveTheServerServing) {
  const Server& server = *server_;
  const std::string pdfPath = qvtest::makeTestPdf(server.file(""), 1, 595, 842);
  const std::string pdf = qvtest::readFile(pdfPath);
  const std::string pwg = "RaS2" + qvtest::str(qvtest::grayPage());
  for (const bool mono : {true, false})
    ASSERT_EQ(IPP_STATUS_OK, ippDo(server, mono, ippRequest(server, IPP_OP_PAUSE_PRINTER, mono)));
  // Mutations that ended the server, refused now: a setting of the wrong syntax, and media-col
  // members that a job's thread would read as a string or as a size (were the printer not paused).
  const auto refused = [&](bool mono, ipp_op_t op, const auto& build) {
    Ipp ipp = ippRequest(server, op, mono);
    build(ipp.get());
    return ippDo(server, mono, std::move(ipp)) == IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES;
  };
  EXPECT_TRUE(refused(false, IPP_OP_SET_PRINTER_ATTRIBUTES, [](ipp_t* ipp) {
    ippAddInteger(ipp, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-geo-location", 1);
  }));
  for (const char* member : {"media-type", "media-size"}) {
    EXPECT_TRUE(refused(true, IPP_OP_CREATE_JOB, [&](ipp_t* ipp) {
      const Ipp col(ippNew(), ippDelete);
      ippAddInteger(col.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, member, 0);
      ippAddCollection(ipp, IPP_TAG_JOB, "media-col", col.get());
    })) << member;
  }
  int jobId = 0;  // of the job that Send-Document, Cancel-Job and Get-Job-Attributes name
  ASSERT_EQ(IPP_STATUS_OK,
            ippDo(server, true, ippRequest(server, IPP_OP_CREATE_JOB, true), &jobId));

  std::vector<qvtest::IppRequest> seeds;
  const auto seed = [&](bool mono, ipp_op_t op, const auto& build, std::string document = "") {
    const Ipp ipp = ippRequest(server, op, mono);
    build(ipp.get());
    seeds.push_back({"/ipp/print/" + std::string(Server::name(mono)), qvtest::encodeIpp(ipp.get()),
                     std::move(document)});
    ASSERT_FALSE(seeds.back().message.empty());
  };
  const auto format = [](ipp_t* ipp, const char* type) {
    ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, type);
  };
  const auto job = [&](ipp_t* ipp) {
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  };
  seed(
      true, IPP_OP_PRINT_JOB,
      [&](ipp_t* ipp) {
        ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "fuzz");
        format(ipp, "application/pdf");
        ippAddBoolean(ipp, IPP_TAG_OPERATION, "ipp-attribute-fidelity", 1);
        addJobAttributes(ipp);
      },
      pdf);
  seed(
      false, IPP_OP_PRINT_JOB,
      [&](ipp_t* ipp) {
        format(ipp, "image/pwg-raster");
        ippAddOctetString(ipp, IPP_TAG_JOB, "job-password", "1234", 4);
        ippAddString(ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-password-encryption", nullptr, "none");
        ippAddString(ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "color");
        ippAddString(ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, "iso_a4_210x297mm");
      },
      pwg);
  seed(true, IPP_OP_GET_PRINTER_ATTRIBUTES, [](ipp_t* ipp) {
    const char* const names[] = {"all", "media-col-database"};
    ippAddStrings(ipp, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  names);
  });
  seed(false, IPP_OP_GET_JOBS, [](ipp_t* ipp) {
    ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", 10);
    ippAddBoolean(ipp, IPP_TAG_OPERATION, "my-jobs", 1);
  });
  seed(true, IPP_OP_CREATE_JOB, addJobAttributes);
  seed(
      true, IPP_OP_SEND_DOCUMENT,
      [&](ipp_t* ipp) {
        job(ipp);
        format(ipp, "application/pdf");
        ippAddBoolean(ipp, IPP_TAG_OPERATION, "last-document", 1);
      },
      pdf);
  seed(false, IPP_OP_SET_PRINTER_ATTRIBUTES, [](ipp_t* ipp) {
    ippAddString(ipp, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, "fuzz lab");
    ippAddString(ipp, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-geo-location", nullptr,
                 "geo:46.5,6.6");
    ippAddString(ipp, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-organization", nullptr, "QV");
  });
  seed(true, IPP_OP_VALIDATE_JOB, [&](ipp_t* ipp) {
    format(ipp, "image/pwg-raster");
    addJobAttributes(ipp);
  });
  seed(false, IPP_OP_CANCEL_JOB, job);
  seed(true, IPP_OP_GET_JOB_ATTRIBUTES, job);

  const char* seedText = std::getenv("QV_IPP_FUZZ_SEED");
  const char* countText = std::getenv("QV_IPP_FUZZ_COUNT");
  const auto fuzzSeed = static_cast<std::uint32_t>(seedText ? std::stoul(seedText) : 20261207);
  const std::size_t count = countText ? std::stoul(countText) : 3000;
  std::printf("IPP fuzz: seed %u, %zu requests\n", fuzzSeed, count);
  qvtest::IppMutator mutator(
      fuzzSeed, {IPP_OP_PRINT_JOB, IPP_OP_VALIDATE_JOB, IPP_OP_CREATE_JOB, IPP_OP_SEND_DOCUMENT,
                 IPP_OP_CANCEL_JOB, IPP_OP_GET_JOB_ATTRIBUTES, IPP_OP_GET_JOBS,
                 IPP_OP_GET_PRINTER_ATTRIBUTES, IPP_OP_SET_PRINTER_ATTRIBUTES, IPP_OP_HOLD_JOB,
                 IPP_OP_RELEASE_JOB, IPP_OP_CLOSE_JOB, IPP_OP_GET_PRINTER_SUPPORTED_VALUES});
  std::map<std::string, int> outcomes;
  // The last requests sent: a server that dies in a job thread dies after the request that
  // started it was answered. Kept for a replay with curl or nc when the server is gone.
  std::deque<std::pair<std::string, std::string>> recent;
  const auto keep = [](const std::string& what, const std::string& body) {
    const std::string dir = QV_BINARY_DIR "/ipp-fuzz";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/request-" + what.substr(8, what.find(' ', 8) - 8) + ".bin";
    qvtest::writeFile(path, body);
    return what + "\n    kept in " + path + "\n";
  };
  for (std::size_t i = 0; i < count; ++i) {
    const qvtest::IppRequest& request = seeds[i % seeds.size()];
    std::string what;
    const std::string body = mutator.mutate(request, what);
    what = "request " + std::to_string(i) + " to " + request.resource + ": " + what;
    int http = 0, ipp = 0;
    const qvtest::PostOutcome outcome =
        qvtest::postIpp(server.port, request.resource, body, 5.0, http, ipp);
    if (outcome == qvtest::PostOutcome::kNoConnection) {
      std::string kept;
      for (const auto& [earlier, bytes] : recent) kept += keep(earlier, bytes);
      const std::string log = qvtest::readFile(server.file("log"));
      ADD_FAILURE() << "the server is gone (seed " << fuzzSeed << ") after\n"
                    << kept << "its log ends:\n"
                    << log.substr(log.size() - std::min<std::size_t>(log.size(), 1500));
      break;
    }
    EXPECT_NE(qvtest::PostOutcome::kTimedOut, outcome)
        << "no answer in 5 s (seed " << fuzzSeed << ") to " << keep(what, body);
    outcomes[outcome == qvtest::PostOutcome::kClosed     ? "closed without an answer"
             : outcome == qvtest::PostOutcome::kTimedOut ? "timed out"
             : http != HTTP_STATUS_OK                    ? "HTTP " + std::to_string(http)
             : ipp < 0x100
                 ? "IPP successful"
                 : "IPP " + std::string(ippErrorString(static_cast<ipp_status_t>(ipp)))] += 1;
    recent.emplace_back(what, body);
    if (recent.size() > 4) recent.pop_front();
  }
  for (const auto& [outcome, n] : outcomes) std::printf("  %5d %s\n", n, outcome.c_str());

  // No job of the run prints; then both printers answer and print a normal job.
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(Server::name(mono));
    EXPECT_EQ(IPP_STATUS_OK, ippDo(server, mono, ippRequest(server, IPP_OP_CANCEL_JOBS, mono)));
    EXPECT_EQ(IPP_STATUS_OK, ippDo(server, mono, ippRequest(server, IPP_OP_RESUME_PRINTER, mono)));
    EXPECT_EQ(IPP_STATUS_OK,
              ippDo(server, mono, ippRequest(server, IPP_OP_GET_PRINTER_ATTRIBUTES, mono)));
    const JobResult printed = server.print(mono, pdfPath, "application/pdf");
    EXPECT_EQ("completed", printed.state) << printed.message;
    EXPECT_NE(npos, qvtest::inspectJob(printed.bytes, server.file("after.prn")).find(", 1 page"));
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
  // `monoSnmp` false: the mono printer answers PJL status only.
  void startSimulators(int pair, bool monoSnmp = true) {
    pair_ = pair;
    for (const bool mono : {true, false}) {
      auto& sim = sims_[mono];
      sim = std::make_unique<Simulator>(server_->file(name(mono)), address(mono), mono,
                                        monoSnmp || !mono);
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
  std::string address(bool mono) const {
    return "127.0.0." + std::to_string(2 * pair_ + (mono ? 0 : 1));
  }
  // Print-Job of `pdf` on A4; the job's id ("" when refused).
  std::string print(bool mono, const std::string& pdf) const {
    const std::string out =
        ipptool(mono, "print.test", Server::printArgs(pdf, "application/pdf")).out;
    std::smatch id;
    return std::regex_search(out, id, std::regex("job-id \\(integer\\) = (\\d+)")) ? id[1].str()
                                                                                   : "";
  }
  qvtest::ProgramResult ipptool(bool mono, const std::string& test, Words args = {}) const {
    args.insert(args.begin(), {"60", systemTool("ipptool"), "-t"});
    args.insert(args.end(),
                {"ipp://127.0.0.1:" + std::to_string(server_->port) + "/ipp/print/" + name(mono),
                 std::string(QV_PRINTER_TEST_DIR) + "/" + test});
    return run(systemTool("timeout"), args);
  }
  // The printer's reasons and marker levels once they are `reasons` (in
  // any order) and `levels` ("reached": "yes"), or what they were at the
  // deadline. qvprinter asks the printer within seconds of a client asking it.
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
    shown["reached"] = reached() ? "yes" : "no";
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
  std::unique_ptr<qvtest::Cupsd> cupsd;
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
    // A CUPS everywhere queue on the mono printer shows the same once its job (which waits
    // for paper) has asked; that job is the one the printer prints.
    if (mono && !systemTool("cupsd").empty()) {
      ::chmod(server_->file("").c_str(), 0755);
      cupsd = std::make_unique<qvtest::Cupsd>(server_->file("cupsd-sim/"), "LogLevel info\n", "");
      ASSERT_TRUE(cupsd->up) << cupsd->log();
      const std::string queue =
          "ipp://127.0.0.1:" + std::to_string(server_->port) + "/ipp/print/" + name(mono);
      ASSERT_EQ(
          0, cupsd->client("lpadmin", {"-p", "qv", "-E", "-v", queue, "-m", "everywhere"}).status);
      ASSERT_EQ(0, cupsd->client("lp", {"-d", "qv", "-o", "media=A4", pdf}).status);
      std::string cups;
      EXPECT_TRUE(qvtest::waitUntil([&] {
        cups = cupsd->client("lpstat", {"-l", "-p", "qv"}).out +
               run(systemTool("ipptool"),
                   {"-T", "30", "-t",
                    "ipp://" +
                        std::regex_replace(server_->file("cupsd-sim/cupsd.sock"), std::regex("/"),
                                           "%2F") +
                        "/printers/qv",
                    QV_PRINTER_TEST_DIR "/status.test"})
                   .out;
        return cups.find("toner-low") != npos && cups.find("marker-levels (integer) = 5") != npos;
      })) << cups
          << cupsd->log();
    }
    ASSERT_TRUE(sim.set({"paper=100", "toner=80"}));
    shown = waitForState(mono, {"none"}, full);
    EXPECT_EQ("none", shown["printer-state-reasons"]);
    EXPECT_TRUE(loaded("tray-1") && loaded("tray-2")) << shown["media-col-ready"];

    if (!mono || !cupsd) print(mono, pdf);
    const std::string job =
        std::string("job 1: OK: ") + (mono ? "mono" : "colour") + " job, 1 page\n";
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find(job) != npos; }, 120))
        << sim.jobs() << ipptool(mono, "jobs.test").out << [&] {
             const std::string log = qvtest::readFile(server_->file("log"));
             return log.substr(log.size() - std::min<std::size_t>(log.size(), 20000));
           }();
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
    auto shown = waitForState(mono, reasons, levels);
    EXPECT_EQ("yes", shown["reached"]) << shown["printer-state-reasons"] << shown["marker-levels"];
    ASSERT_TRUE(sims_[mono]->set({"door=closed", "jam=no", "toner=80", "online=yes", "paper=100",
                                  "output=ok", "tray-missing=no"}));
    EXPECT_EQ(
        "none",
        waitForState(mono, {"none"}, mono ? "80" : "80,80,80,80").at("printer-state-reasons"));
  }
}

// The test page (the web page's button for one model, `qvprinter testpage`
// for the other) and the Identify Printer button reach the printer: a test
// page the decoders pass, a panel message.
TEST_F(QvPrinterDevice, TestPageAndIdentifyReachThePrinter) {
  startSimulators(2);
  if (HasFatalFailure()) return;
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(name(mono));
    const Simulator& sim = *sims_[mono];
    if (mono)
      EXPECT_NE(npos, pressButton(mono, "print-test-page").find("Test page printed."));
    else
      EXPECT_EQ(0, run(QVPRINTER_PATH, {"testpage", "-d", name(mono)}, server_->env).status);
    const std::string job =
        std::string("job 1: OK: ") + (mono ? "mono" : "colour") + " job, 1 page\n";
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find(job) != npos; }, 120)) << sim.jobs();
    // Identify takes the print connection, which the test page holds to its end.
    EXPECT_TRUE(qvtest::waitUntil(
        [&] { return ipptool(mono, "jobs.test").out.find("job-state") == npos; }));
    pressButton(mono, "identify-printer");
    // PAPPL's web page asks for the message "Hello.".
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find("panel: Hello.") != npos; }, 60))
        << sim.jobs();
  }
}

// A job sent to a printer that is out of paper, jammed or not listening
// waits, saying why, and prints whole when the printer is ready again. The
// mono printer answers PJL status only (SNMP off): its state is read over
// its print connection, by the job itself while the job holds it.
TEST_F(QvPrinterDevice, JobsWaitWhileThePrinterCannotPrint) {
  startSimulators(3, false);
  if (HasFatalFailure()) return;
  const std::string pdf = qvtest::makeTestPdf(server_->file(""), 2, 595, 842);
  const auto printedWhole = [&](bool mono, const std::string& id, const Simulator& sim,
                                const std::string& nth = "1", const std::string& pages = "2") {
    const std::string job = ipptool(mono, "wait.test", {"-d", "job=" + id}).out;
    EXPECT_NE(npos, job.find("job-state (enum) = completed")) << job;
    const std::string done =
        "job " + nth + ": OK: " + (mono ? "mono" : "colour") + " job, " + pages + " pages\n";
    EXPECT_TRUE(qvtest::waitUntil([&] { return sim.jobs().find(done) != npos; }, 60)) << sim.jobs();
  };
  // Whether job `id` waits, with `why` in its message; its attributes in `job`.
  std::string job;
  const auto waits = [&](bool mono, const std::string& id, const std::string& why) {
    return qvtest::waitUntil(
        [&] {
          job = ipptool(mono, "job.test", {"-d", "job=" + id}).out;
          return job.find("printer-stopped") != npos && job.find(why) != npos;
        },
        60);
  };
  for (const auto& [mono, condition, reason, cleared] :
       {std::tuple{true, "paper=out", "media-empty", "paper=100"},
        std::tuple{false, "jam=yes", "media-jam", "jam=no"}}) {
    SCOPED_TRACE(name(mono));
    const Simulator& sim = *sims_[mono];
    const std::string levels = mono ? "-1" : "80,80,80,80";  // PJL tells no levels
    ASSERT_TRUE(sim.set({condition}));
    ASSERT_EQ(reason, waitForState(mono, {reason}, levels)["printer-state-reasons"]);
    const std::string id = print(mono, pdf);
    ASSERT_TRUE(waits(mono, id, std::string("Waiting: the printer reports ") + reason)) << job;
    EXPECT_NE(npos, job.find("job-state (enum) = processing")) << job;
    EXPECT_EQ(npos, sim.jobs().find("job ")) << sim.jobs();
    ASSERT_TRUE(sim.set({cleared}));
    printedWhole(mono, id, sim);
    EXPECT_EQ("none", waitForState(mono, {"none"}, levels)["printer-state-reasons"]);
  }
  // Paper runs out while a long job's bytes go to the PJL-only mono printer,
  // which stops reading them: the printer and the job show it meanwhile.
  const std::string longId = print(true, qvtest::makeTestPdf(server_->file(""), 20, 595, 842));
  ASSERT_TRUE(qvtest::waitUntil([&] {
    return ipptool(true, "job.test", {"-d", "job=" + longId}).out.find("= processing") != npos;
  }));
  ASSERT_TRUE(sims_[true]->set({"paper=out"}));
  ASSERT_TRUE(waits(true, longId, "Waiting: the printer reports media-empty")) << job;
  EXPECT_NE(npos, job.find("job-state (enum) = processing")) << job;
  EXPECT_EQ("media-empty", waitForState(true, {"media-empty"}, "-1")["printer-state-reasons"]);
  ASSERT_TRUE(sims_[true]->set({"paper=100"}));
  printedWhole(true, longId, *sims_[true], "2", "20");
  EXPECT_NE(npos, ipptool(true, "job.test", {"-d", "job=" + longId}).out.find("Printed.")) << job;
  // A printer that refuses the connection: the job waits, the printer shows
  // that it is connecting, and the job prints once the printer listens.
  sims_[false].reset();
  const std::string id = print(false, pdf);
  ASSERT_TRUE(waits(false, id, "Waiting: the printer cannot be reached")) << job;
  EXPECT_TRUE(qvtest::waitUntil(
      [&] { return ipptool(false, "status.test").out.find("connecting-to-device") != npos; }));
  sims_[false] = std::make_unique<Simulator>(server_->file("colour-back"), address(false), false);
  ASSERT_TRUE(sims_[false]->up);
  printedWhole(false, id, *sims_[false]);
  EXPECT_EQ("none", waitForState(false, {"none"}, "80,80,80,80")["printer-state-reasons"]);
}
