// cups_harness.h - shared set-up of the CUPS tests: a scratch CUPS
// ServerBin with the wrapper and the filters, PPDs that name a printer of
// the test's own (its geometry installed under /opt/quarno and removed
// afterwards), test PDFs made from tests/fixtures/qv_test_page.ps, and the
// comparison of a decoded job with Ghostscript's own rendering.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace qvcupstest {

// An executable in the usual system directories, or "" when absent.
std::string systemTool(const char* name);

// The built filter or inspector: the path CMake gave the tests, else
// $QV_TEST_FILTER_DIR/<name> (for running against filters built elsewhere),
// else "".
std::string builtProgram(const char* name);

// Why the CUPS tests cannot run here ("" when they can).
std::string missingPrerequisite();

// A scratch CUPS ServerBin: filter/ holds copies of qvcupsfilter, rawtoqv
// and rastertoqv (CUPS insists that filters be root-owned, not links into a
// build tree) next to links to the system's filters. The PPDs name the
// printer "QVT<pid>", whose geometry is installed for the test's lifetime.
class CupsSandbox {
 public:
  CupsSandbox();
  ~CupsSandbox();
  CupsSandbox(const CupsSandbox&) = delete;
  CupsSandbox& operator=(const CupsSandbox&) = delete;

  const std::string& root() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& serverBin() const { return serverBin_; }
  const std::string& filesConf() const { return filesConf_; }  // cups-files.conf for cupsfilter
  std::string ppd(bool mono) const { return dir_.file(mono ? "qvm600.ppd" : "qvc600.ppd"); }
  const std::string& error() const { return error_; }

 private:
  qvtest::ScopedTempDir dir_;
  std::string serverBin_, filesConf_, geometryRoot_, error_;
};

// Makes a PDF of `pages` pages of the test page at the given sheet size.
std::string makeTestPdf(const std::string& dir, const std::string& name, int pages, int widthPoints,
                        int heightPoints);

// Ghostscript's own rendering of the PDF, the way the wrapper asks for it.
struct Rendering {
  long width = 0, height = 0;
  std::size_t rowBytes = 0;
  std::vector<std::vector<std::uint8_t>> pages;  // raster bytes, no header
};
Rendering renderWithGhostscript(const std::string& pdf, bool mono, int xdpi, int ydpi, long width,
                                long height, const std::string& scratch);

// What a job should hold, and the check against its decoded pages.
struct Expectation {
  bool mono = true;
  int xdpi = 600, ydpi = 600;
  std::vector<int> pageOrder;    // index into the rendering per printed page
  bool gray = false;             // colour job printed as 8-bit gray
  bool rotateEvenPages = false;  // DuplexNoTumble on the colour printer
  std::vector<std::string> pjl;  // lines the job header must carry
  std::vector<std::string> pcl;  // byte strings the mono PCL set-up must hold
};
void expectJobMatches(const std::string& job, const Rendering& rendering,
                      const Expectation& expect);

// qvinspect --check on the job file; an empty string when it passes.
std::string inspectCheck(const std::string& jobPath);

// qvinspect's report on the job, for the test log ("" when not built).
std::string inspectReport(const std::string& jobPath);

}  // namespace qvcupstest
