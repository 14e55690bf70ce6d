// cups_harness.h - set-up shared by the slow CUPS tests: a scratch ServerBin
// with the wrapper and the filters, PPDs naming a printer of the test's own
// (its geometry under /opt/quarno for the test's lifetime), test PDFs, and a
// decoded job compared with Ghostscript's own rendering of the same PDF.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace qvcupstest {

// Runs a program to its end (runProgram with fewer words).
qvtest::ProgramResult run(const std::string& path, std::vector<std::string> args,
                          std::map<std::string, std::string> env = {});
std::string systemTool(const char* name);              // in /usr/sbin, /usr/bin, /sbin, /bin; or ""
std::string missingPrerequisite();                     // why the CUPS tests cannot run here, or ""
std::string inspectCheck(const std::string& jobPath);  // qvinspect --check: "" when it passes

class CupsSandbox {
 public:
  CupsSandbox();
  ~CupsSandbox();
  CupsSandbox(const CupsSandbox&) = delete;
  CupsSandbox& operator=(const CupsSandbox&) = delete;

  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& root() const { return dir_.path(); }
  const std::string& serverBin() const { return serverBin_; }
  std::string ppd(bool mono) const { return file(mono ? "qvm600.ppd" : "qvc600.ppd"); }
  const std::string& error() const { return error_; }
  // cupsfilter -m printer/qv with this sandbox's ServerBin and PPD.
  qvtest::ProgramResult cupsfilter(bool mono, const std::vector<std::string>& args) const;

 private:
  qvtest::ScopedTempDir dir_;
  std::string serverBin_, geometryRoot_, error_;
};

// A PDF of `pages` test pages of the given sheet size in points.
std::string makeTestPdf(const std::string& dir, int pages, int widthPoints, int heightPoints);

// What a job must hold: pages in the order of the rendering (-1: a blank
// page), the PJL lines and PCL bytes of its header.
struct Expectation {
  bool mono = true;
  int xdpi = 600, ydpi = 600;
  long width600 = 4960, height600 = 7016;  // the sheet rendered
  std::vector<int> pageOrder;
  bool gray = false;             // colour job printed as 8-bit gray
  bool rotateEvenPages = false;  // long-edge duplex on the colour printer
  std::vector<std::string> pjl, pcl;
  std::size_t shift = 0;  // bytes the mono filter centres a narrow custom page by
};
void expectJobMatches(const std::string& job, const std::string& pdf, const Expectation& expect,
                      const std::string& scratch);

}  // namespace qvcupstest
