// colour_job_support.h - a printer of the test's own under /opt/quarno, its
// settings and paper files, PPM pages, and the pieces of an expected job.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "colour/Mfunc.h"
#include "tests/support/run_program.h"

namespace colourtest {

// The geometry files of a printer named "qvtest-<pid>-<n>", removed with the
// fixture, and a scratch directory with the settings and paper files.
class TestPrinter {
 public:
  // `settings`: lines after the section header. The page is width x height
  // pixels for PageSize A4.
  TestPrinter(int width, int height, const std::string& settings = "") {
    static int serial = 0;
    name_ = "qvtest-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    root_ = "/opt/quarno/" + name_;
    std::filesystem::create_directories(root_ + "/bin/inf");
    qvtest::writeFile(root_ + "/bin/inf/ImagingArea", "A4:\t100\t100\t4860\t6916\n");
    qvtest::writeFile(root_ + "/bin/inf/PaperDimension", "A4:\t595\t842\n");
    qvtest::writeFile(dir_.file("rc"), "[" + name_ + "]\n" + settings);
    qvtest::writeFile(dir_.file("pi"), "QV paper information file\nA4: " + std::to_string(width) +
                                           " " + std::to_string(height) + "\n");
  }
  ~TestPrinter() { std::filesystem::remove_all(root_); }
  TestPrinter(const TestPrinter&) = delete;
  TestPrinter& operator=(const TestPrinter&) = delete;

  qvtest::ProgramRun run(const std::string& input) const {
    qvtest::ProgramRun r;
    r.path = RASTERTOQV_PATH;
    r.args = {"-rc", dir_.file("rc"), "-pi", dir_.file("pi")};
    r.input = input;
    return r;
  }
  const qvtest::ScopedTempDir& dir() const { return dir_; }

 private:
  qvtest::ScopedTempDir dir_;
  std::string name_;
  std::string root_;
};

using Bytes = std::vector<std::uint8_t>;

inline std::string ppmPage(int width, int height, const std::string& pixels) {
  return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels;
}

// A page of one colour.
inline std::string solidPixels(int width, int height, int r, int g, int b) {
  std::string pixels;
  for (int i = 0; i < width * height; ++i)
    pixels += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
  return pixels;
}

inline std::string pageHeader(int width, int height, bool gray) {
  std::uint8_t header[kPwgHeaderSize];
  buildPwgPageHeader(
      PwgPageGeometry{static_cast<std::int16_t>(width), static_cast<std::int16_t>(height), 595, 842,
                      static_cast<std::uint64_t>(width) * 3},
      gray, header);
  return std::string(reinterpret_cast<const char*>(header), sizeof header);
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

inline const std::string kUel = "\x1b%-12345X";
inline const std::string kTrailer = kUel + kUel + "\n";
inline const std::string kEnterPwg = "@PJL ENTER LANGUAGE=PWGRASTER\n";

// The job after its PJL header, or "" when there is no header.
inline std::string afterHeader(const std::string& out) {
  const std::size_t at = out.find(kEnterPwg);
  return at == std::string::npos ? std::string() : out.substr(at + kEnterPwg.size());
}

// Page files of a process left in /tmp.
inline std::vector<std::string> pageFilesOf(pid_t pid) {
  std::vector<std::string> left;
  const std::string prefix = "ec_tmppage_" + std::to_string(pid) + "_";
  for (const std::string& name : qvtest::listDirectory("/tmp"))
    if (name.rfind(prefix, 0) == 0) left.push_back(name);
  return left;
}

}  // namespace colourtest
