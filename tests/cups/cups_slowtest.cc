// cups_slowtest.cc - cupsfilter in pairwise rows, a real cupsd, the package.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <set>

#include "cups/paper_files.h"
#include "host/paper_table.h"
#include "tests/support/gs_pages.h"

namespace fs = std::filesystem;

namespace {

using qvtest::run;
using qvtest::systemTool;
using qvtest::Words;
constexpr std::size_t npos = std::string::npos;

// A ServerBin with root-owned copies of the filters; PPDs naming our own printer.
class Sandbox : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"gs", "ps2pdf", "cupsfilter", "cupsd"})
      if (systemTool(name).empty()) GTEST_SKIP() << name << " is not installed";
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (/opt/quarno, cupsd)";
    ::chmod(root().c_str(), 0755);  // the lp user runs the filters under cupsd
    ASSERT_EQ(0, run("/bin/cp", {"-as", "/usr/lib/cups", serverBin_}).status);  // links
    for (const char* built : {QVCUPSFILTER_PATH, RAWTOQV_PATH, RASTERTOQV_PATH, QVRENDER_PATH})
      fs::copy_file(built, serverBin_ + "/filter/" + fs::path(built).filename().string());
    qvtest::writeFile(file("cups-files.conf"), "ServerBin " + serverBin_ + "\n");
    const std::string printer = "QVT" + std::to_string(::getpid());
    geometry_ += printer;
    ASSERT_TRUE(fs::create_directories(geometry_ + "/bin/inf"));
    qvtest::writeFile(geometry_ + "/bin/inf/ImagingArea", qvcups::imagingAreaFile());
    qvtest::writeFile(geometry_ + "/bin/inf/PaperDimension", qvcups::paperDimensionFile());
    for (const std::string& dir : {geometry_, geometry_ + "/bin", geometry_ + "/bin/inf",
                                   serverBin_, serverBin_ + "/filter"})
      ::chmod(dir.c_str(), 0755);
    for (const bool mono : {true, false})  // the colour PPD names the geometry's printer
      qvtest::writeFile(ppd(mono), std::regex_replace(qvtest::readFile(QV_PPD_DIR + ppdName(mono)),
                                                      std::regex("QV-C600\""), printer + "\""));
  }
  void TearDown() override { fs::remove_all(geometry_, ignored_); }

  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& root() const { return dir_.path(); }
  static std::string ppdName(bool mono) { return mono ? "/qvm600.ppd" : "/qvc600.ppd"; }
  std::string ppd(bool mono) const { return root() + ppdName(mono); }
  qvtest::ProgramResult cupsfilter(bool mono, const std::string& options,
                                   const std::string& document, Words args = {}) const {
    args.insert(args.end(),
                {"-c", file("cups-files.conf"), "-p", ppd(mono), "-e", "-m", "printer/qv"});
    std::istringstream words(options);
    for (std::string option; words >> option;) args.insert(args.end(), {"-o", option});
    args.push_back(document);
    return run(systemTool("cupsfilter"), args, {{"TMPDIR", root()}});
  }

  qvtest::ScopedTempDir dir_;
  std::string serverBin_ = dir_.file("serverbin"), geometry_ = "/opt/quarno/";
  std::error_code ignored_;
};

// Pairwise rows print Ghostscript's pages of the PDF; a refused job says why, sends nothing.
TEST_F(Sandbox, CupsfilterPrintsWhatIsAskedOrSaysWhy) {
  // Model, PageSize, pages, copies, resolution, options, the pages printed, job header lines.
  const std::tuple<bool, const char*, int, int, int, int, const char*, const char*, const char*>
      rows[] = {
          // Each collated copy of an odd page count starts on a new sheet.
          {true, "Letter", 3, 2, 300, 300,
           "Resolution=300dpi Duplex=DuplexNoTumble InputSlot=Tray2", "0 1 2 -1 0 1 2",
           "@PJL SET RESOLUTION = 300|@PJL SET SOURCETRAY = TRAY2|\x1b&l1S"},
          {true, "EnvYou4", 2, 3, 1200, 1200, "Resolution=1200dpi Collate=False", "0 1",
           "@PJL SET RESOLUTION = 1200|\x1b&l4096a1040a6d1E|\x1b&l3X"},
          {true, "Legal", 1, 1, 600, 300, "Resolution=600x300dpi InputSlot=MPTray QVPin=4711", "0",
           "@PJL SET SOURCETRAY = MPTRAY|@PJL SET HOLDKEY=4711|@PJL SET HOLD=STORE"},
          {true, "Custom.360x504", 1, 1, 600, 600, "", "0", "\x1b&l4096a101a6d1E"},
          {false, "A4", 2, 1, 600, 600, "", "0 1",
           "@PJL SET PAPER=A4|@PJL SET RENDERMODE=COLOR|@PJL SET DUPLEX=OFF"},
          {false, "Letter", 2, 2, 600, 600,
           "ColorModel=Gray Collate=False cupsPrintQuality=Normal InputSlot=Tray2 MediaType=Thick",
           "0 0 1 1",
           "@PJL SET RENDERMODE=GRAYSCALE|@PJL SET APTMODE=OFF|@PJL SET MEDIATYPE=THICK"},
          {false, "A5", 3, 2, 600, 600, "Duplex=DuplexNoTumble InputSlot=Manual OutputBin=Upper",
           "0 1 2 -1 0 1 2", "@PJL SET DUPLEX=ON|@PJL SET MANUALFEED=ON|@PJL SET OUTBIN=UPPER"},
      };
  for (const auto& [mono, paper, pages, copies, xdpi, ydpi, options, order, header] : rows) {
    SCOPED_TRACE(std::string(paper) + " " + options);
    const qv::host::PaperSize* size = qv::host::findPaperSize(paper);
    long width = size ? size->width600 : 0, height = size ? size->height600 : 0;
    if (!size && std::sscanf(paper, "Custom.%ldx%ld", &width, &height) == 2)
      width = width * 600 / 72, height = height * 600 / 72;  // points
    const bool gray = std::strstr(options, "Gray"), turn = std::strstr(options, "NoTumble");
    const std::size_t shift = size ? 0 : 131;  // a custom page centred on Legal: (1020-600)x3/720"
    const qvtest::Layout e{mono, xdpi, ydpi, width, height, order, header, gray, turn, shift};
    const std::string doc =
        qvtest::makeTestPdf(root(), pages, qvcups::roundedPoints(int(e.width600)),
                            qvcups::roundedPoints(int(e.height600)));
    const qvtest::ProgramResult result =
        cupsfilter(mono, "PageSize=" + std::string(paper) + " " + options, doc,
                   {"-n", std::to_string(copies)});
    ASSERT_EQ(0, result.status) << result.err;
    qvtest::inspectJob(result.out, file("job.prn"));
    qvtest::expectJobMatches(result.out, qvtest::renderPdf(doc, e, root()), e);
  }
  const std::string doc = qvtest::makeTestPdf(root(), 1, 595, 842), corrupt = file("corrupt.pdf");
  qvtest::writeFile(corrupt, "%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>>\n%%EOF\n");
  const std::tuple<bool, const char*, const char*, const char*> refused[] = {
      {true, "job-password=12x4", "", "ERROR: The secure-print PIN"},
      {true, "", "corrupt", "ERROR: The document cannot be rendered"},
      {true, "PageSize=Custom.700x1100", "",
       "WARNING: Page size \"Custom.700x1100\" is not supported by the Quarno QV M600; "
       "printing on A4 instead."}};
  for (const auto& [mono, options, broken, message] : refused) {
    const qvtest::ProgramResult result = cupsfilter(mono, options, *broken ? corrupt : doc);
    const bool printed = message[0] == 'W';
    EXPECT_EQ(printed ? 0 : 1, result.status) << message;
    EXPECT_EQ(printed, !result.out.empty()) << message;
    EXPECT_NE(npos, result.err.find(message)) << result.err;
  }
}

// A document without a page is refused with our reason; a long job is cancelled while it prints.
TEST_F(Sandbox, CupsdRefusesAndCancels) {
  const std::string pdfLong = qvtest::makeTestPdf(root(), 400, 595, 842), empty = file("empty.pdf");
  qvtest::writeFile(empty,
                    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages"
                    "/Kids[]/Count 0>>endobj\ntrailer<</Root 1 0 R/Size 3>>\n%%EOF\n");
  ::chmod(empty.c_str(), 0644);
  const std::string base = file("cupsd/");
  fs::create_directories(base + "out");
  ::chmod((base + "out").c_str(), 0777);  // the file device writes as lp
  const qvtest::Cupsd cupsd(base,
                            "LogLevel debug\nMaxLogSize 0\nPreserveJobFiles No\n<Policy default>\n"
                            "<Limit All>\nAllow all\n</Limit>\n</Policy>\n",
                            "ServerBin " + serverBin_ + "\nFileDevice Yes\nUser lp\nGroup lp\n");
  ASSERT_TRUE(cupsd.up) << cupsd.log();
  const auto submit = [&](Words args) {  // "request id is qvmono-1 (1 file(s))"
    const std::string out = cupsd.client("lp", args).out;
    const std::size_t at = out.find("request id is ") + 14;
    return at < 14 ? "" : out.substr(at, out.find(' ', at) - at);
  };
  for (const bool mono : {true, false}) {
    const std::string queue = mono ? "qvmono" : "qvcolour", output = base + "out/" + queue;
    const qvtest::ProgramResult added =
        cupsd.client("lpadmin", {"-p", queue, "-E", "-v", "file://" + output, "-P", ppd(mono)});
    ASSERT_EQ(0, added.status) << added.err;
    const std::string refused = submit({"-d", queue, empty});
    const std::string tag = "[Job " + refused.substr(refused.find('-') + 1) + "] ";
    ASSERT_TRUE(qvtest::waitUntil([&] { return cupsd.log().find(tag + "Job stopped") != npos; }));
    const std::string text = cupsd.log(), set = tag + "Set job-printer-state-message to \"";
    const std::size_t at = text.rfind(set) + set.size();
    EXPECT_EQ("The document cannot be rendered: Ghostscript found no page in it",
              text.substr(at, text.find('"', at) - at));
    EXPECT_EQ("", qvtest::readFile(output));
    cupsd.client("cancel", {refused});
    // Cancelled (400 pages: never done first), the job ends with its trailer;
    // no job process, scratch file or document stays.
    const std::string id = submit({"-d", queue, "-t", "To be cancelled", pdfLong});
    const auto printing = [&] {  // a few pages in; -1: none
      return fs::file_size(output, ignored_) + 1 > (mono ? 100001u : 2000001u);
    };
    ASSERT_TRUE(qvtest::waitUntil(printing)) << cupsd.log();
    EXPECT_EQ(0, cupsd.client("cancel", {id}).status);
    const auto ended = [&] {  // its trailer near the end, and no longer listed
      const std::string partial = qvtest::readFile(output),
                        trailer = "@PJL EOJ NAME=\"To be cancelled\"\n\x1b%-12345X";
      return partial.find(trailer, partial.size() - 64) != npos &&
             cupsd.client("lpstat", {"-W", "not-completed", "-o"}).out.find(id + " ") == npos;
    };
    ASSERT_TRUE(qvtest::waitUntil(ended)) << mono;
    EXPECT_NE(npos,
              qvtest::readFile(output).find(mono ? "\x1b*b1030m" : "@PJL SET RENDERMODE=COLOR\n"));
  }
  const auto left = [&] {  // job processes, scratch files and spooled documents
    std::vector<std::string> names = qvtest::listDirectory(base + "spool/tmp");
    for (const std::string& name : qvtest::listDirectory(base + "spool"))
      if (name[0] == 'd') names.push_back(name);
    for (const auto& process : fs::directory_iterator("/proc")) {
      const std::string exe = fs::read_symlink(process.path() / "exe", ignored_);
      if (exe.starts_with(serverBin_)) names.push_back(exe);
    }
    return names;
  };
  EXPECT_TRUE(qvtest::waitUntil([&] { return left().empty(); })) << left().at(0);
}

// The package holds what cmake installs, lintian is silent, cupstestppd passes its PPDs.
TEST_F(Sandbox, PackageFilesLintianPpdsAndAColourJob) {
  for (const char* name : {"dpkg-deb", "cupstestppd", "lintian"})
    if (systemTool(name).empty()) GTEST_SKIP() << name << " is not installed";
  qvtest::ScopedTempDir scratch;
  const qvtest::ProgramResult built = run(QV_CPACK_COMMAND,
                                          {"-G", "DEB", "-B", scratch.file("cpack"), "--config",
                                           std::string(QV_BINARY_DIR) + "/CPackConfig.cmake"},
                                          {{"TMPDIR", scratch.path()}});
  ASSERT_EQ(0, built.status) << built.out << built.err;
  std::string deb;
  for (const auto& entry : fs::directory_iterator(scratch.file("cpack")))
    if (entry.path().extension() == ".deb") deb = entry.path();
  const std::string dpkgDeb = systemTool("dpkg-deb"), root = scratch.file("root");
  ASSERT_EQ(0, run(dpkgDeb, {"-x", deb, root}).status) << built.out;
  std::istringstream listing(run(dpkgDeb, {"-c", deb}).out);
  std::set<std::string> files;  // by name
  for (std::string mode, owner, size, date, time, path;
       listing >> mode >> owner >> size >> date >> time >> path;)
    if (mode[0] == '-') files.insert(path.substr(path.rfind('/') + 1));
  EXPECT_EQ((std::set<std::string>{"ImagingArea",       "PaperDimension", "README.md",
                                   "changelog.gz",      "copyright",      "qv-printer-driver",
                                   "qvc600.ppd",        "qvcupsfilter",   "qvcupsfilter.8.gz",
                                   "qvinspect",         "qvinspect.1.gz", "qvm600.ppd",
                                   "qvprinter",         "qvprinter.8.gz", "qvprinter.conf",
                                   "qvprinter.service", "qvrender",       "qvsim",
                                   "qvsim.1.gz",        "rastertoqv",     "rastertoqv.1.gz",
                                   "rawtoqv",           "rawtoqv.1.gz"}),
            files);
  const qvtest::ProgramResult lintian = run(systemTool("lintian"), {deb});
  EXPECT_EQ(0, lintian.status);
  EXPECT_EQ("", lintian.out);
  EXPECT_NE(npos, run(dpkgDeb, {"-f", deb, "Depends"}).out.find("libcups2"));
  // qvprinter.service: its PAM service a conffile; its user made from the sysusers file (here in
  // a scratch root); the unit as systemd reads it, with its man page.
  EXPECT_EQ("/etc/pam.d/qvprinter\n", run(dpkgDeb, {"-I", deb, "conffiles"}).out);
  EXPECT_NE(npos, qvtest::readFile(root + "/etc/pam.d/qvprinter").find("@include common-auth"));
  if (const std::string sysusers = systemTool("systemd-sysusers"); !sysusers.empty()) {
    fs::create_directories(scratch.file("users/etc"));
    EXPECT_EQ(0, run(sysusers, {"--root=" + scratch.file("users"),
                                root + "/usr/lib/sysusers.d/qvprinter.conf"})
                     .status);
    EXPECT_TRUE(
        std::regex_search(qvtest::readFile(scratch.file("users/etc/passwd")),
                          std::regex("(^|\n)qvprinter:x:\\d+:\\d+:[^:]*:/var/lib/qvprinter:")));
  }
  if (const std::string analyze = systemTool("systemd-analyze"); !analyze.empty()) {
    const std::string unit = scratch.file("qvprinter.service");  // the program where it is now
    qvtest::writeFile(
        unit,
        std::regex_replace(qvtest::readFile(root + "/usr/lib/systemd/system/qvprinter.service"),
                           std::regex("/usr/bin/qvprinter"), root + "/usr/bin/qvprinter"));
    const qvtest::ProgramResult verify =
        run(analyze, {"verify", unit}, {{"MANPATH", root + "/usr/share/man"}});
    EXPECT_EQ(0, verify.status) << verify.out << verify.err;
  }
  for (const char* ppd : {"qvm600.ppd", "qvc600.ppd"})  // -R: filters under the package's root
    EXPECT_EQ(
        0,
        run(systemTool("cupstestppd"), {"-R", root, root + "/usr/share/ppd/quarno/" + ppd}).status);
  // The installed wrapper finds the installed qvrender, wherever the package's root is.
  const qvtest::ProgramResult job = run(
      root + "/usr/lib/cups/filter/qvcupsfilter",
      {"1", "alice", "title", "1", "PageSize=A4", qvtest::makeTestPdf(this->root(), 1, 595, 842)},
      {{"PPD", ppd(false)}, {"TMPDIR", this->root()}});
  EXPECT_TRUE(job.status == 0 && job.out.find("@PJL EOJ") != npos) << job.err;
}

}  // namespace
