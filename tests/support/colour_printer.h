// colour_printer.h - a colour printer of the test's own for rastertoqv tests,
// PPM pages, and the pieces of an expected job.
#pragma once

#include <unistd.h>

#include <cstdint>

#include "colour/Mfunc.h"
#include "tests/support/run_program.h"

namespace colourtest {

// Geometry files under /opt/quarno/qvtest-<pid>-<n>/bin/inf/ (A4, Letter and
// Legal at 600 dpi), removed with the object; a settings file and a paper file
// (A4 is width x height pixels, Letter 12 x 3, Legal 12 x 5) in a scratch dir.
class TestPrinter {
 public:
  explicit TestPrinter(int width = 10, int height = 4, const std::string& settings = "") {
    static int serial = 0;
    name_ = "qvtest-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    root_ = "/opt/quarno/" + name_;
    std::filesystem::create_directories(root_ + "/bin/inf");
    writeGeometry("ImagingArea",
                  "# name\tleft\ttop\tright\tbottom (1/600 inch)\nA4:\t100\t100\t4860\t6912\n"
                  "Letter:\t100\t100\t5000\t6500\nLegal:\t100\t100\t5000\t8300\n");
    writeGeometry("PaperDimension",
                  "# name\twidth\tlength (points)\nA4:\t595\t842\nLetter:\t612\t792\n"
                  "Legal:\t612\t1008\n");
    writeSettings(settings);
    qvtest::writeFile(piPath(), "name width height dpi\nA4: " + std::to_string(width) + " " +
                                    std::to_string(height) + "\nLetter: 12 3\nLegal: 12 5\n");
  }
  ~TestPrinter() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  const std::string& name() const { return name_; }
  std::string geometryPath(std::string_view file) const {
    return root_ + "/bin/inf/" + std::string(file);
  }
  void writeGeometry(std::string_view file, std::string_view text) const {
    qvtest::writeFile(geometryPath(file), text);
  }
  // `lines` follow the section header naming this printer.
  void writeSettings(const std::string& lines) const {
    qvtest::writeFile(rcPath(), "[" + name_ + "]\n" + lines);
  }
  std::string rcPath() const { return dir_.file("qv.rc"); }
  std::string piPath() const { return dir_.file("paperinf"); }
  const qvtest::ScopedTempDir& dir() const { return dir_; }
  qvtest::ProgramRun run(const std::string& input) const {
    return {RASTERTOQV_PATH, {"-rc", rcPath(), "-pi", piPath()}, {}, input};
  }

 private:
  qvtest::ScopedTempDir dir_;
  std::string name_, root_;
};

inline std::string ppmPage(int width, int height, const std::string& pixels) {
  return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels;
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

inline std::string solidPixels(int width, int height, int r, int g, int b) {
  std::string pixels;
  for (int i = 0; i < width * height; ++i) pixels += bytes({r, g, b});
  return pixels;
}

// The PWG page header of a page on the test printer's A4 (595 x 842 points).
inline std::string pageHeader(int width, int height, bool gray) {
  std::uint8_t header[kPwgHeaderSize];
  buildPwgPageHeader({static_cast<std::int16_t>(width), static_cast<std::int16_t>(height), 595, 842,
                      static_cast<std::uint64_t>(width) * 3},
                     gray, header);
  return std::string(reinterpret_cast<const char*>(header), sizeof header);
}

inline const std::string kUel = "\x1b%-12345X";
inline const std::string kTrailer = kUel + kUel + "\n";
inline const std::string kEnterPwg = "@PJL ENTER LANGUAGE=PWGRASTER\n";
inline const std::string kCancelFill(5768, '\0');

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
