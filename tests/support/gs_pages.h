// gs_pages.h - the slow suites' tools, test PDF, cupsd, and jobs against Ghostscript's pages.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"

namespace qvtest {

using Words = std::vector<std::string>;
ProgramResult run(const std::string& path, Words args, std::map<std::string, std::string> env = {});
std::string systemTool(const char* name);  // under /usr/sbin, /usr/bin, /sbin, /bin; or ""
// <dir>/doc<pages>.pdf: numbered test pages of the given sheet in points.
std::string makeTestPdf(const std::string& dir, int pages, int widthPoints, int heightPoints);
// Writes the job to `path`, expects qvinspect --check to pass; its report.
std::string inspectJob(const std::string& job, const std::string& path);

// Polls a server that offers no event to wait on.
template <typename Ready>
bool waitUntil(Ready ready, int seconds = 60) {
  for (int i = 0; i < seconds * 20 && !ready(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return ready();
}

// A cupsd under `base` ("/" at the end); more cupsd.conf and cups-files.conf lines.
class Cupsd {
 public:
  Cupsd(const std::string& base, const std::string& conf, const std::string& files);
  ~Cupsd();
  ProgramResult client(const char* tool, Words args) const;  // lp, lpadmin, lpstat, cancel
  std::string log() const { return readFile(base_ + "log/error_log"); }
  bool up = false;

 private:
  std::string base_;
  std::unique_ptr<RunningProgram> cupsd_;
};

// Pages of one size: 1-bit rows (mono, 1 is black) or 8-bit RGB rows.
struct Pages {
  std::size_t rowBytes = 0;
  long height = 0;
  std::vector<std::string> pages;
};

// `order`: each printed page's source (-1 blank); `header`: "|"-separated PJL and PCL (ESC).
struct Layout {
  bool mono = true;
  int xdpi = 600, ydpi = 600;
  long width600 = 4960, height600 = 7016;
  std::string order = "0", header = "";
  bool gray = false, turnEven = false;
  std::size_t shift = 0;  // bytes the mono filter centres a narrow custom page by
};
// Mono cuts 1/6 inch rows, side strips, beyond 8.32 inch; colour keeps the area 100 dots in.
void expectJobMatches(const std::string& job, const Pages& source, const Layout& e);
// Ghostscript's pages of the PDF at the job's resolution and sheet.
Pages renderPdf(const std::string& pdf, const Layout& e, const std::string& scratch);

}  // namespace qvtest
