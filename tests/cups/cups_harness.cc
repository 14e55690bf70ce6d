// cups_harness.cc - set-up and comparisons shared by the slow CUPS tests.
#include "tests/cups/cups_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/unique_file.h"
#include "cups/paper_files.h"
#include "cups/pnm_reader.h"
#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"

namespace fs = std::filesystem;

namespace qvcupstest {

qvtest::ProgramResult run(const std::string& path, std::vector<std::string> args,
                          std::map<std::string, std::string> env) {
  qvtest::ProgramRun program;
  program.path = path;
  program.args = std::move(args);
  program.env = std::move(env);
  return qvtest::runProgram(program);
}

std::string systemTool(const char* name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
    if (const std::string path = std::string(dir) + "/" + name; ::access(path.c_str(), X_OK) == 0)
      return path;
  return "";
}

std::string missingPrerequisite() {
  for (const char* tool : {"gs", "ps2pdf", "cupsfilter"})
    if (systemTool(tool).empty()) return std::string(tool) + " is not installed";
  if (::geteuid() != 0) return "needs root (geometry under /opt/quarno, cupsd as root)";
  return "";
}

std::string inspectCheck(const std::string& jobPath) {
  const qvtest::ProgramResult r = run(QVINSPECT_PATH, {"--check", jobPath});
  return r.exited() && r.status == 0 ? "" : "qvinspect --check: " + r.err + r.out.substr(0, 400);
}

// CUPS runs only root-owned filters, not links into a build tree: the
// wrapper and the filters are copied, the system's filters linked.
CupsSandbox::CupsSandbox() {
  ::chmod(root().c_str(), 0755);  // the lp user runs the filters under cupsd
  serverBin_ = file("serverbin");
  const std::string filters = serverBin_ + "/filter";
  fs::create_directories(filters);
  for (const auto& entry : fs::directory_iterator("/usr/lib/cups/filter"))
    fs::create_symlink(entry.path(), filters / entry.path().filename());
  for (const char* sub : {"backend", "daemon", "monitor", "notifier", "driver"})
    if (fs::exists(std::string("/usr/lib/cups/") + sub))
      fs::create_directory_symlink(std::string("/usr/lib/cups/") + sub, serverBin_ + "/" + sub);
  for (const char* built : {QVCUPSFILTER_PATH, RAWTOQV_PATH, RASTERTOQV_PATH}) {
    const std::string to = filters + "/" + fs::path(built).filename().string();
    fs::copy_file(built, to);
    ::chmod(to.c_str(), 0755);
  }
  qvtest::writeFile(file("cups-files.conf"), "ServerBin " + serverBin_ + "\n");

  const std::string printer = "QVT" + std::to_string(::getpid());
  const std::string inf = "/opt/quarno/" + printer + "/bin/inf";
  std::error_code failed;
  fs::create_directories(inf, failed);
  if (failed) {
    error_ = "cannot create " + inf + ": " + failed.message();
    return;
  }
  geometryRoot_ = "/opt/quarno/" + printer;
  qvtest::writeFile(inf + "/ImagingArea", qvcups::imagingAreaFile());
  qvtest::writeFile(inf + "/PaperDimension", qvcups::paperDimensionFile());
  for (const std::string& dir : {geometryRoot_, geometryRoot_ + "/bin", inf, serverBin_, filters})
    ::chmod(dir.c_str(), 0755);
  for (const bool mono : {true, false}) {
    const std::string source = std::string(QV_PPD_DIR) + (mono ? "/qvm600.ppd" : "/qvc600.ppd");
    std::string text = qvtest::readFile(source);
    const std::string name = "*QVPrinterName: \"QV-C600\"";
    if (const std::size_t at = text.find(name); at != std::string::npos)
      text.replace(at, name.size(), "*QVPrinterName: \"" + printer + "\"");
    qvtest::writeFile(ppd(mono), text);
  }
}

CupsSandbox::~CupsSandbox() {
  std::error_code ignored;
  if (!geometryRoot_.empty()) fs::remove_all(geometryRoot_, ignored);
}

qvtest::ProgramResult CupsSandbox::cupsfilter(bool mono,
                                              const std::vector<std::string>& args) const {
  std::vector<std::string> all = {"-c",        file("cups-files.conf"), "-p", ppd(mono), "-e", "-m",
                                  "printer/qv"};
  all.insert(all.end(), args.begin(), args.end());
  return run(systemTool("cupsfilter"), all, {{"TMPDIR", root()}});
}

std::string makeTestPdf(const std::string& dir, int pages, int widthPoints, int heightPoints) {
  const std::string pdf = dir + "/doc" + std::to_string(pages) + ".pdf";
  const qvtest::ProgramResult r = run(
      systemTool("ps2pdf"),
      {"-dQVPAGES=" + std::to_string(pages), "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPoints),
       "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPoints), "-dFIXEDMEDIA",
       std::string(QV_FIXTURES_DIR) + "/qv_test_page.ps", pdf},
      {{"TMPDIR", dir}});
  EXPECT_EQ(0, r.status) << r.err;
  ::chmod(pdf.c_str(), 0644);
  return pdf;
}

namespace {

struct Rendering {
  std::size_t rowBytes = 0;
  long height = 0;
  std::vector<std::vector<std::uint8_t>> pages;
};

// Ghostscript's own rendering of the PDF at the job's resolution and sheet.
Rendering render(const std::string& pdf, const Expectation& expect, const std::string& scratch) {
  const std::string pnm = scratch + "/reference.pnm";
  const qvtest::ProgramResult r = run(
      systemTool("gs"),
      {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", expect.mono ? "-sDEVICE=pbmraw" : "-sDEVICE=ppmraw",
       "-r" + std::to_string(expect.xdpi) + "x" + std::to_string(expect.ydpi),
       "-g" + std::to_string(expect.width600 * expect.xdpi / 600) + "x" +
           std::to_string(expect.height600 * expect.ydpi / 600),
       "-dFIXEDMEDIA", "-sOutputFile=" + pnm, "-f", pdf},
      {{"TMPDIR", scratch}});
  EXPECT_EQ(0, r.status) << r.err;
  Rendering out;
  qv::UniqueFd fd(::open(pnm.c_str(), O_RDONLY | O_CLOEXEC));
  qvcups::PnmReader reader(fd.get());
  qvcups::PnmHeader header;
  std::string error;
  while (fd && reader.readHeader(header, error) == qvcups::PnmStatus::kPage) {
    out.rowBytes = header.rowBytes();
    out.height = header.height;
    std::vector<std::uint8_t> page(out.rowBytes * static_cast<std::size_t>(out.height));
    for (std::size_t done = 0; done < page.size();) {
      const long n = reader.readSome(page.data() + done, page.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    out.pages.push_back(std::move(page));
  }
  ::unlink(pnm.c_str());
  return out;
}

void expectLines(const std::vector<std::string>& lines, const Expectation& expect) {
  for (const std::string& line : expect.pjl)
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << "no " << line;
}

// The mono printer's cut: 1/6 inch of rows at top and bottom, a strip of
// bytes at each side, at most 8.32 inch of row; 600x300 prints rows twice.
void expectMonoPages(const qvdecode::MonoJob& job, const Rendering& ref, const Expectation& e) {
  const long top = e.ydpi / 6, twice = e.xdpi != e.ydpi ? 2 : 1;
  const std::size_t left = static_cast<std::size_t>(e.xdpi / 48);
  const std::size_t rowLen = std::min(ref.rowBytes - 2 * left, std::size_t(e.xdpi) * 832 / 800);
  for (std::size_t p = 0; p < job.pages.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "printed page " << p + 1);
    ASSERT_EQ(static_cast<std::size_t>((ref.height - 2 * top) * twice), job.pages[p].rows.size());
    const int source = e.pageOrder[p];
    for (long r = 0; r < ref.height - 2 * top; ++r) {
      const std::vector<std::uint8_t> row =
          job.pages[p].rowAt(static_cast<std::size_t>(r * twice), e.shift + rowLen);
      const std::span got = std::span(row).subspan(e.shift);
      const bool same =
          source < 0 ? std::all_of(row.begin(), row.end(), [](auto b) { return b == 0; })
                     : std::equal(got.begin(), got.end(),
                                  ref.pages.at(static_cast<std::size_t>(source)).data() +
                                      static_cast<std::size_t>(top + r) * ref.rowBytes + left);
      ASSERT_TRUE(same) << "row " << r << " differs from Ghostscript's rendering";
    }
  }
}

// The colour printer's imaging area, 100 dots in from every edge; gray as
// the printer's formula gives it, in double and in this order.
void expectColourPages(const qvdecode::ColourJob& job, const Rendering& ref, const Expectation& e) {
  const long margin = qvcups::kImagingMargin600, width = e.width600 - 2 * margin;
  for (std::size_t p = 0; p < job.pages.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "printed page " << p + 1);
    const qvdecode::PwgPage& page = job.pages[p];
    ASSERT_EQ(static_cast<std::uint32_t>(width), page.header.width);
    ASSERT_EQ(static_cast<std::uint32_t>(e.height600 - 2 * margin), page.header.height);
    const bool rotated = e.rotateEvenPages && p % 2 == 1;
    const int source = e.pageOrder[p];
    for (long y = 0; y < static_cast<long>(page.header.height); ++y) {
      const long sy = (rotated ? page.header.height - 1 - y : y) + margin;
      const std::uint8_t* got = page.pixels.data() + y * page.header.bytesPerLine;
      for (long x = 0; x < width; ++x) {
        const long sx = (rotated ? width - 1 - x : x) + margin;
        const std::uint8_t white[3] = {255, 255, 255};
        const std::uint8_t* rgb = source < 0
                                      ? white
                                      : ref.pages.at(static_cast<std::size_t>(source)).data() +
                                            sy * static_cast<long>(ref.rowBytes) + sx * 3;
        const double gray = rgb[0] * 0.3 + (rgb[2] * 0.11 + rgb[1] * 0.59);
        const bool same = e.gray ? got[x] == static_cast<std::uint8_t>(gray)
                                 : std::equal(rgb, rgb + 3, got + x * 3);
        ASSERT_TRUE(same) << "pixel (" << x << ", " << y << ") differs from Ghostscript's";
      }
    }
  }
}

}  // namespace

void expectJobMatches(const std::string& job, const std::string& pdf, const Expectation& expect,
                      const std::string& scratch) {
  const Rendering ref = render(pdf, expect, scratch);
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(job.data()), job.size());
  qvdecode::DecodeError error;
  if (expect.mono) {
    qvdecode::MonoJob decoded;
    ASSERT_EQ(0, qvdecode::decodeMonoJob(bytes, decoded, error)) << error.message;
    expectLines(decoded.pjlLines, expect);
    for (const std::string& pcl : expect.pcl)
      EXPECT_NE(std::string::npos, decoded.pcl.find(pcl)) << "PCL set-up lacks " << pcl.substr(1);
    ASSERT_EQ(expect.pageOrder.size(), decoded.pages.size());
    expectMonoPages(decoded, ref, expect);
  } else {
    qvdecode::ColourJob decoded;
    ASSERT_EQ(0, qvdecode::decodeColourJob(bytes, decoded, error)) << error.message;
    expectLines(decoded.pjlLines, expect);
    ASSERT_EQ(expect.pageOrder.size(), decoded.pages.size());
    expectColourPages(decoded, ref, expect);
  }
}

}  // namespace qvcupstest
