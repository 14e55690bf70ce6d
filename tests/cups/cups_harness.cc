// cups_harness.cc - set-up and comparisons shared by the CUPS tests.
#include "tests/cups/cups_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/unique_file.h"
#include "cups/paper_files.h"
#include "cups/pnm_reader.h"
#ifdef QV_HAVE_DECODERS
#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"
#endif

namespace fs = std::filesystem;

namespace qvcupstest {
namespace {

bool isExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

void copyExecutable(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  ::chmod(to.c_str(), 0755);
}

// Replaces the PPD's printer name so that the job reads the test's own
// geometry directory.
void writePpdWithPrinter(const std::string& from, const std::string& to,
                         const std::string& printer) {
  std::istringstream in(qvtest::readFile(from));
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.rfind("*QVPrinterName:", 0) == 0 && line.find("QV-C600") != std::string::npos)
      line = "*QVPrinterName: \"" + printer + "\"";
    out += line + "\n";
  }
  qvtest::writeFile(to, out);
  ::chmod(to.c_str(), 0644);
}

}  // namespace

std::string systemTool(const char* name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    const std::string path = std::string(dir) + "/" + name;
    if (isExecutable(path)) return path;
  }
  return "";
}

std::string builtProgram(const char* name) {
  const std::string want(name);
#ifdef RAWTOQV_PATH
  if (want == "rawtoqv") return RAWTOQV_PATH;
#endif
#ifdef RASTERTOQV_PATH
  if (want == "rastertoqv") return RASTERTOQV_PATH;
#endif
#ifdef QVINSPECT_PATH
  if (want == "qvinspect") return QVINSPECT_PATH;
#endif
  if (const char* dir = std::getenv("QV_TEST_FILTER_DIR")) {
    const std::string path = std::string(dir) + "/" + want;
    if (isExecutable(path)) return path;
  }
  return "";
}

std::string missingPrerequisite() {
  for (const char* tool : {"gs", "ps2pdf", "cupsfilter"})
    if (systemTool(tool).empty()) return std::string(tool) + " is not installed";
  for (const char* program : {"rawtoqv", "rastertoqv"})
    if (builtProgram(program).empty()) return std::string(program) + " is not built";
  if (::geteuid() != 0) return "needs root (geometry under /opt/quarno, cupsd as root)";
  return "";
}

CupsSandbox::CupsSandbox() {
  // Readable by the lp user that CUPS runs filters as.
  ::chmod(root().c_str(), 0755);
  serverBin_ = file("serverbin");
  const std::string filterDir = serverBin_ + "/filter";
  fs::create_directories(filterDir);
  for (const auto& entry : fs::directory_iterator("/usr/lib/cups/filter"))
    fs::create_symlink(entry.path(), filterDir + "/" + entry.path().filename().string());
  for (const char* sub : {"backend", "cgi-bin", "daemon", "monitor", "notifier", "driver"})
    if (fs::exists(std::string("/usr/lib/cups/") + sub))
      fs::create_directory_symlink(std::string("/usr/lib/cups/") + sub, serverBin_ + "/" + sub);
  copyExecutable(QVCUPSFILTER_PATH, filterDir + "/qvcupsfilter");
  for (const char* program : {"rawtoqv", "rastertoqv"}) {
    const std::string built = builtProgram(program);
    if (built.empty()) {
      error_ = std::string(program) + " is not built";
      return;
    }
    copyExecutable(built, filterDir + "/" + program);
  }
  ::chmod(serverBin_.c_str(), 0755);
  ::chmod(filterDir.c_str(), 0755);

  filesConf_ = file("cups-files.conf");
  qvtest::writeFile(filesConf_, "ServerBin " + serverBin_ + "\n");

  // The colour printer's geometry under a name of the test's own.
  const std::string printer = "QVT" + std::to_string(::getpid());
  geometryRoot_ = "/opt/quarno/" + printer;
  const std::string inf = geometryRoot_ + "/bin/inf";
  std::error_code failed;
  fs::create_directories(inf, failed);
  if (failed) {
    error_ = "cannot create " + inf + ": " + failed.message();
    geometryRoot_.clear();
    return;
  }
  qvtest::writeFile(inf + "/ImagingArea", qvcups::imagingAreaFile());
  qvtest::writeFile(inf + "/PaperDimension", qvcups::paperDimensionFile());
  for (const std::string& dir : {geometryRoot_, geometryRoot_ + "/bin", inf})
    ::chmod(dir.c_str(), 0755);
  ::chmod((inf + "/ImagingArea").c_str(), 0644);
  ::chmod((inf + "/PaperDimension").c_str(), 0644);

  writePpdWithPrinter(std::string(QV_PPD_DIR) + "/qvm600.ppd", ppd(true), printer);
  writePpdWithPrinter(std::string(QV_PPD_DIR) + "/qvc600.ppd", ppd(false), printer);
}

CupsSandbox::~CupsSandbox() {
  if (!geometryRoot_.empty()) {
    std::error_code ignored;
    fs::remove_all(geometryRoot_, ignored);
  }
}

std::string makeTestPdf(const std::string& dir, const std::string& name, int pages, int widthPoints,
                        int heightPoints) {
  const std::string pdf = dir + "/" + name;
  qvtest::ProgramRun run;
  run.path = systemTool("ps2pdf");
  run.args = {"-dQVPAGES=" + std::to_string(pages),
              "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPoints),
              "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPoints),
              "-dFIXEDMEDIA",
              std::string(QV_FIXTURES_DIR) + "/qv_test_page.ps",
              pdf};
  run.env = {{"TMPDIR", dir}};
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  EXPECT_EQ(0, result.status) << result.err;
  return pdf;
}

Rendering renderWithGhostscript(const std::string& pdf, bool mono, int xdpi, int ydpi, long width,
                                long height, const std::string& scratch) {
  Rendering out;
  const std::string pnm = scratch + "/reference.pnm";
  qvtest::ProgramRun run;
  run.path = systemTool("gs");
  run.args = {"-q",
              "-dSAFER",
              "-dBATCH",
              "-dNOPAUSE",
              mono ? "-sDEVICE=pbmraw" : "-sDEVICE=ppmraw",
              "-r" + std::to_string(xdpi) + "x" + std::to_string(ydpi),
              "-g" + std::to_string(width) + "x" + std::to_string(height),
              "-dFIXEDMEDIA",
              "-sOutputFile=" + pnm,
              "-f",
              pdf};
  run.env = {{"TMPDIR", scratch}};
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  EXPECT_EQ(0, result.status) << result.err;
  qv::UniqueFd fd(::open(pnm.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    ADD_FAILURE() << "no Ghostscript output";
    return out;
  }
  qvcups::PnmReader reader(fd.get());
  for (;;) {
    qvcups::PnmHeader header;
    std::string error;
    const qvcups::PnmStatus status = reader.readHeader(header, error);
    if (status == qvcups::PnmStatus::kEnd) break;
    if (status != qvcups::PnmStatus::kPage) {
      ADD_FAILURE() << "reference rendering: " << error;
      break;
    }
    out.width = header.width;
    out.height = header.height;
    out.rowBytes = header.rowBytes();
    std::vector<std::uint8_t> page(out.rowBytes * static_cast<std::size_t>(out.height));
    std::size_t done = 0;
    while (done < page.size()) {
      const long n = reader.readSome(page.data() + done, page.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(page.size(), done);
    out.pages.push_back(std::move(page));
  }
  ::unlink(pnm.c_str());
  return out;
}

std::string inspectCheck(const std::string& jobPath) {
  const std::string inspector = builtProgram("qvinspect");
  if (inspector.empty()) return "";  // reported once by the caller
  qvtest::ProgramRun run;
  run.path = inspector;
  run.args = {"--check", jobPath};
  const qvtest::ProgramResult result = qvtest::runProgram(run);
  if (result.exited() && result.status == 0) return "";
  return "qvinspect --check: status " + std::to_string(result.status) + ": " + result.err +
         result.out.substr(0, 400);
}

std::string inspectReport(const std::string& jobPath) {
  const std::string inspector = builtProgram("qvinspect");
  if (inspector.empty()) return "";
  qvtest::ProgramRun run;
  run.path = inspector;
  run.args = {jobPath};
  return qvtest::runProgram(run).out;
}

#ifdef QV_HAVE_DECODERS
namespace {

// The mono printer's cut of a page: 1/6 inch of rows at top and bottom, a
// strip of bytes at each side, and a row of at most 8.32 inch.
struct MonoCut {
  long topSkip;
  std::size_t leftSkip, maxRowBytes;
  bool doubledRows;  // 600 x 300: each row is printed twice
};
MonoCut monoCut(int xdpi, int ydpi) {
  if (xdpi == 300) return {50, 6, 312, false};
  if (xdpi == 1200) return {200, 25, 1248, false};
  if (ydpi == 300) return {50, 12, 624, true};
  return {100, 12, 624, false};
}

// The colour printer's gray: in double, in this order, truncated.
std::uint8_t grayOf(const std::uint8_t* rgb) {
  double t = rgb[1] * 0.59;
  t = rgb[2] * 0.11 + t;
  t = rgb[0] * 0.3 + t;
  return static_cast<std::uint8_t>(t);
}

void expectMonoPages(const qvdecode::MonoJob& job, const Rendering& rendering,
                     const Expectation& expect) {
  const MonoCut cut = monoCut(expect.xdpi, expect.ydpi);
  const std::size_t rowLen = std::min(rendering.rowBytes - 2 * cut.leftSkip, cut.maxRowBytes);
  const long printable = rendering.height - 2 * cut.topSkip;
  ASSERT_EQ(expect.pageOrder.size(), job.pages.size());
  for (std::size_t p = 0; p < job.pages.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "printed page " << p + 1);
    const qvdecode::MonoPage& page = job.pages[p];
    const std::vector<std::uint8_t>& source =
        rendering.pages.at(static_cast<std::size_t>(expect.pageOrder[p]));
    ASSERT_EQ(static_cast<std::size_t>(printable) * (cut.doubledRows ? 2 : 1), page.rows.size());
    long mismatches = 0;
    for (long r = 0; r < printable && mismatches < 5; ++r) {
      const std::uint8_t* want = source.data() +
                                 static_cast<std::size_t>(cut.topSkip + r) * rendering.rowBytes +
                                 cut.leftSkip;
      const std::size_t printed = static_cast<std::size_t>(r) * (cut.doubledRows ? 2 : 1);
      for (std::size_t copy = 0; copy < (cut.doubledRows ? 2u : 1u); ++copy) {
        const std::vector<std::uint8_t> got = page.rowAt(printed + copy, rowLen);
        if (!std::equal(got.begin(), got.end(), want)) {
          ADD_FAILURE() << "row " << r << " differs from Ghostscript's rendering";
          ++mismatches;
        }
      }
    }
  }
}

void expectColourPages(const qvdecode::ColourJob& job, const Rendering& rendering,
                       const Expectation& expect) {
  const long width = rendering.width - 2 * qvcups::kImagingMargin600;
  const long height = rendering.height - 2 * qvcups::kImagingMargin600;
  const long margin = qvcups::kImagingMargin600;
  ASSERT_EQ(expect.pageOrder.size(), job.pages.size());
  for (std::size_t p = 0; p < job.pages.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "printed page " << p + 1);
    const qvdecode::PwgPage& page = job.pages[p];
    ASSERT_EQ(static_cast<std::uint32_t>(width), page.header.width);
    ASSERT_EQ(static_cast<std::uint32_t>(height), page.header.height);
    const int channels = expect.gray ? 1 : 3;
    ASSERT_EQ(static_cast<std::uint32_t>(width * channels), page.header.bytesPerLine);
    const bool rotated = expect.rotateEvenPages && (p + 1) % 2 == 0;
    const std::vector<std::uint8_t>& source =
        rendering.pages.at(static_cast<std::size_t>(expect.pageOrder[p]));
    long mismatches = 0;
    for (long y = 0; y < height && mismatches < 5; ++y) {
      const long sy = rotated ? height - 1 - y : y;
      const std::uint8_t* sourceRow =
          source.data() + static_cast<std::size_t>(sy + margin) * rendering.rowBytes;
      const std::uint8_t* got =
          page.pixels.data() + static_cast<std::size_t>(y) * page.header.bytesPerLine;
      for (long x = 0; x < width; ++x) {
        const long sx = (rotated ? width - 1 - x : x) + margin;
        const std::uint8_t* rgb = sourceRow + sx * 3;
        const bool same =
            expect.gray ? got[x] == grayOf(rgb) : std::equal(rgb, rgb + 3, got + x * 3);
        if (!same) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") differs from Ghostscript's";
          ++mismatches;
          break;
        }
      }
    }
  }
}

void expectLines(const std::vector<std::string>& lines, const std::vector<std::string>& want) {
  for (const std::string& line : want)
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line))
        << "job header lacks \"" << line << "\"";
}

}  // namespace
#endif

void expectJobMatches(const std::string& job, const Rendering& rendering,
                      const Expectation& expect) {
#ifdef QV_HAVE_DECODERS
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(job.data()),
                                            job.size());
  qvdecode::DecodeError error;
  if (expect.mono) {
    qvdecode::MonoJob decoded;
    ASSERT_EQ(0, qvdecode::decodeMonoJob(bytes, decoded, error))
        << "offset " << error.offset << ": " << error.message;
    expectLines(decoded.pjlLines, expect.pjl);
    for (const std::string& pcl : expect.pcl)
      EXPECT_NE(std::string::npos, decoded.pcl.find(pcl)) << "PCL set-up lacks a command";
    expectMonoPages(decoded, rendering, expect);
  } else {
    qvdecode::ColourJob decoded;
    ASSERT_EQ(0, qvdecode::decodeColourJob(bytes, decoded, error))
        << "offset " << error.offset << ": " << error.message;
    expectLines(decoded.pjlLines, expect.pjl);
    expectColourPages(decoded, rendering, expect);
  }
#else
  (void)job;
  (void)rendering;
  (void)expect;
  GTEST_SKIP() << "the job decoders are not built in this tree";
#endif
}

}  // namespace qvcupstest
