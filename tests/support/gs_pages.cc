// gs_pages.cc - Ghostscript's pages and a QV job compared with them.
#include "tests/support/gs_pages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <regex>

#include "decode/m1030_stream.h"
#include "decode/pwg_stream.h"
#include "host/paper_table.h"

namespace qvtest {

ProgramResult run(const std::string& path, Words args, std::map<std::string, std::string> env) {
  return runProgram({path, std::move(args), std::move(env), ""});
}

std::string systemTool(const char* name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
    if (const std::string path = std::string(dir) + "/" + name; ::access(path.c_str(), X_OK) == 0)
      return path;
  return "";
}

std::string makeTestPdf(const std::string& dir, int pages, int widthPoints, int heightPoints) {
  const std::string out = dir + "/doc" + std::to_string(pages) + ".pdf";
  const ProgramResult r = run(
      systemTool("ps2pdf"),
      {"-dQVPAGES=" + std::to_string(pages), "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPoints),
       "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPoints), "-dFIXEDMEDIA",
       std::string(QV_FIXTURES_DIR) + "/qv_test_page.ps", out},
      {{"TMPDIR", dir}});
  EXPECT_EQ(0, r.status) << r.err;
  ::chmod(out.c_str(), 0644);
  return out;
}

Cupsd::Cupsd(const std::string& base, const std::string& conf, const std::string& files)
    : base_(base) {
  for (const char* sub : {"spool/tmp", "log", "cache", "state"})
    std::filesystem::create_directories(base + sub);
  ::chmod((base + "spool").c_str(), 0710);
  ::chmod((base + "spool/tmp").c_str(), 01777);
  writeFile(base + "cupsd.conf",
            "Listen " + base + "cupsd.sock\nBrowsing No\nWebInterface No\n" +
                "DefaultAuthType None\n<Location />\nAllow all\n</Location>\n" + conf);
  const std::string paths =
      "ServerRoot @\nRequestRoot @spool\nTempDir @spool/tmp\nCacheDir @cache\n"
      "StateDir @state\nErrorLog @log/error_log\n";
  writeFile(base + "cups-files.conf", std::regex_replace(paths, std::regex("@"), base) + files);
  cupsd_ = std::make_unique<RunningProgram>(
      ProgramRun{systemTool("cupsd"),
                 {"-f", "-c", base + "cupsd.conf", "-s", base + "cups-files.conf"},
                 {},
                 ""});
  up = waitUntil(
      [&] { return client("lpstat", {"-r"}).out.find("is running") != std::string::npos; });
}

Cupsd::~Cupsd() {
  cupsd_->signal(SIGTERM);
  cupsd_->wait();
}

ProgramResult Cupsd::client(const char* tool, Words args) const {
  args.insert(args.begin(), {"-h", base_ + "cupsd.sock"});
  return run(systemTool(tool), args, {{"TMPDIR", base_}});
}

std::string inspectJob(const std::string& job, const std::string& path) {
  writeFile(path, job);
  const ProgramResult check = run(QVINSPECT_PATH, {"--check", path});
  EXPECT_EQ(0, check.status) << check.err << check.out.substr(0, 400);
  return run(QVINSPECT_PATH, {path}).out;
}

Pages renderPdf(const std::string& pdf, const Layout& e, const std::string& scratch) {
  const bool mono = e.mono;
  const ProgramResult gs = run(systemTool("gs"),
                               {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sstdout=%stderr",
                                mono ? "-sDEVICE=pbmraw" : "-sDEVICE=ppmraw",
                                "-r" + std::to_string(e.xdpi) + "x" + std::to_string(e.ydpi),
                                "-g" + std::to_string(e.width600 * e.xdpi / 600) + "x" +
                                    std::to_string(e.height600 * e.ydpi / 600),
                                "-dFIXEDMEDIA", "-sOutputFile=-", "-f", pdf},
                               {{"TMPDIR", scratch}});
  long width = 0;  // pages of one size back to back, after a comment line
  int skip = 0;
  Pages out;
  EXPECT_EQ(
      2, std::sscanf(gs.out.c_str(), mono ? "P4 #%*[^\n] %ld %ld%n" : "P6 #%*[^\n] %ld %ld 255%n",
                     &width, &out.height, &skip))
      << gs.err;
  out.rowBytes = std::size_t(mono ? (width + 7) / 8 : width * 3);
  const std::size_t head = std::size_t(skip + 1), size = out.rowBytes * std::size_t(out.height);
  for (std::size_t at = 0; size > 0 && at + head + size <= gs.out.size(); at += head + size)
    out.pages.push_back(gs.out.substr(at + head, size));
  return out;
}

void expectJobMatches(const std::string& job, const Pages& source, const Layout& e) {
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(job.data()), job.size());
  qvdecode::DecodeError failed;
  qvdecode::MonoJob mono;
  qvdecode::ColourJob colour;
  ASSERT_EQ(0, e.mono ? qvdecode::decodeMonoJob(bytes, mono, failed)
                      : qvdecode::decodeColourJob(bytes, colour, failed))
      << failed.message;
  const std::vector<std::string>& lines = e.mono ? mono.pjlLines : colour.pjlLines;
  std::istringstream header(e.header), printed(e.order);
  for (std::string want; std::getline(header, want, '|');)
    EXPECT_TRUE(want[0] == '\x1b' ? mono.pcl.find(want) != std::string::npos
                                  : std::find(lines.begin(), lines.end(), want) != lines.end())
        << "no " << want.substr(want[0] == '\x1b');
  const std::vector<int> order{std::istream_iterator<int>(printed), {}};
  ASSERT_EQ(order.size(), e.mono ? mono.pages.size() : colour.pages.size());
  const std::size_t rowBytes = source.rowBytes;
  for (std::size_t p = 0; p < order.size(); ++p) {
    SCOPED_TRACE(testing::Message() << "printed page " << p + 1);
    ASSERT_LT(order[p], long(source.pages.size()));
    const auto* from = reinterpret_cast<const std::uint8_t*>(
        order[p] < 0 ? nullptr : source.pages[std::size_t(order[p])].data());
    if (e.mono) {
      const long top = e.ydpi / 6, twice = e.xdpi != e.ydpi ? 2 : 1, rows = source.height - 2 * top;
      const std::size_t left = std::size_t(e.xdpi / 48);
      const std::size_t len = std::min(rowBytes - 2 * left, std::size_t(e.xdpi) * 832 / 800);
      ASSERT_EQ(std::size_t(rows * twice), mono.pages[p].rows.size());
      for (long y = 0; y < rows; ++y) {
        const std::vector<std::uint8_t> row =
            mono.pages[p].rowAt(std::size_t(y * twice), e.shift + len);
        const bool same = from ? std::equal(row.begin() + long(e.shift), row.end(),
                                            from + std::size_t(top + y) * rowBytes + left)
                               : std::all_of(row.begin(), row.end(), [](auto b) { return b == 0; });
        ASSERT_TRUE(same) << "row " << y << " differs from the source";
      }
      continue;
    }
    const long margin = qv::host::kImagingMargin600, cut = e.width600 - 2 * margin;
    const qvdecode::PwgPage& page = colour.pages[p];
    ASSERT_EQ(std::uint32_t(cut), page.header.width);
    ASSERT_EQ(std::uint32_t(e.height600 - 2 * margin), page.header.height);
    const bool turned = e.turnEven && p % 2 == 1;
    for (long y = 0; y < long(page.header.height); ++y) {
      const std::uint8_t* got = page.pixels.data() + y * page.header.bytesPerLine;
      for (long x = 0; x < cut; ++x) {
        const long sy = (turned ? page.header.height - 1 - y : y) + margin;
        const long sx = (turned ? cut - 1 - x : x) + margin;
        const std::uint8_t white[3] = {255, 255, 255};
        const std::uint8_t* rgb = from ? from + sy * long(rowBytes) + sx * 3 : white;
        const double luma = rgb[0] * 0.3 + (rgb[2] * 0.11 + rgb[1] * 0.59);  // in this order
        ASSERT_TRUE(e.gray ? got[x] == static_cast<std::uint8_t>(luma)
                           : std::equal(rgb, rgb + 3, got + x * 3))
            << "pixel (" << x << ", " << y << ") differs from the source";
      }
    }
  }
}

}  // namespace qvtest
