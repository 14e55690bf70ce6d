// colour_front_fixture.h - scratch settings, paper information and geometry
// files for the colour filter's front-end tests.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "tests/support/run_program.h"

namespace qvtest {

// The geometry files live at /opt/quarno/<printer>/bin/inf/. Each fixture
// takes a printer name of its own (pid and a counter, so that parallel test
// processes never share one) and removes its directory when it goes, even
// after a failed assertion. /opt/quarno itself goes too when it is left empty.
class ScopedPrinterDir {
 public:
  ScopedPrinterDir() {
    static int counter = 0;
    name_ = "qvtest-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    root_ = "/opt/quarno/" + name_;
    // Another test process may remove an empty /opt/quarno between our two
    // mkdir calls; try again then.
    for (int attempt = 0; attempt < 20; ++attempt) {
      ::mkdir("/opt", 0755);
      ::mkdir("/opt/quarno", 0755);
      if (::mkdir(root_.c_str(), 0755) == 0 || errno == EEXIST) break;
    }
    std::error_code ignored;
    std::filesystem::create_directories(root_ + "/bin/inf", ignored);
  }
  ~ScopedPrinterDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    ::rmdir("/opt/quarno");  // only succeeds when no other printer is installed
  }
  ScopedPrinterDir(const ScopedPrinterDir&) = delete;
  ScopedPrinterDir& operator=(const ScopedPrinterDir&) = delete;

  const std::string& name() const { return name_; }
  std::string imagingAreaPath() const { return root_ + "/bin/inf/ImagingArea"; }
  std::string paperDimensionPath() const { return root_ + "/bin/inf/PaperDimension"; }
  void writeImagingArea(std::string_view text) const { writeFile(imagingAreaPath(), text); }
  void writePaperDimension(std::string_view text) const { writeFile(paperDimensionPath(), text); }

  // Geometry that agrees with 600 dpi pages: A4, Letter and Legal.
  void writeStandardGeometry() const {
    writeImagingArea(
        "# name\tleft\ttop\tright\tbottom (1/600 inch)\n"
        "A4:\t100\t100\t4860\t6912\n"
        "Letter:\t100\t100\t5000\t6500\n"
        "Legal:\t100\t100\t5000\t8300\n");
    writePaperDimension(
        "# name\twidth\tlength (points)\n"
        "A4:\t595\t842\n"
        "Letter:\t612\t792\n"
        "Legal:\t612\t1008\n");
  }

 private:
  std::string name_;
  std::string root_;
};

// A paper information file of small pages (the page loop holds a whole page).
inline constexpr std::string_view kSmallPaperInf =
    "name width height dpi\n"
    "A4: 10 4\n"
    "Letter: 12 3\n"
    "Legal: 12 5\n";

}  // namespace qvtest
