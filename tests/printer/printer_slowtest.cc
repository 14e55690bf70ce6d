// printer_slowtest.cc - qvprinter on loopback as ipptool, cupsd, chromium and a fuzzer see it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <regex>
#include <set>

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
