// colour_printer.h - a colour printer of the test's own for rastertoqv tests:
// geometry files under /opt/quarno/<name>/bin/inf/, a settings file and a
// paper information file in a scratch directory, PPM pages, and the pieces of
// an expected job. Included by the colour unit tests and the end-to-end tests.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "colour/Mfunc.h"
#include "tests/support/run_program.h"

namespace colourtest {

// The printer is named "qvtest-<pid>-<n>", so parallel test processes never
// share one, and its directory goes with the object, even after a failed
// assertion. Geometry: A4, Letter and Legal, agreeing with 600 dpi. The
// paper information file gives A4 as width x height pixels, Letter 12 x 3.
class TestPrinter {
 public:
  explicit TestPrinter(int width = 10, int height = 4, const std::string& settings = "") {
    static int serial = 0;
    name_ = "qvtest-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    root_ = "/opt/quarno/" + name_;
    std::error_code ignored;
    std::filesystem::create_directories(root_ + "/bin/inf", ignored);
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
  TestPrinter(const TestPrinter&) = delete;
  TestPrinter& operator=(const TestPrinter&) = delete;

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
    qvtest::ProgramRun r;
    r.path = RASTERTOQV_PATH;
    r.args = {"-rc", rcPath(), "-pi", piPath()};
    r.input = input;
    return r;
  }

 private:
  qvtest::ScopedTempDir dir_;
  std::string name_;
  std::string root_;
};

inline std::string ppmPage(int width, int height, const std::string& pixels) {
  return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels;
}

inline std::string solidPixels(int width, int height, int r, int g, int b) {
  std::string pixels;
  for (int i = 0; i < width * height; ++i)
    pixels += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
  return pixels;
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// The PWG page header the printer gets for a page of the test printer's A4
// (595 x 842 points). Its own bytes are checked field by field in
// Mfunc_pwg_test.cc.
inline std::string pageHeader(int width, int height, bool gray) {
  std::uint8_t header[kPwgHeaderSize];
  buildPwgPageHeader(
      PwgPageGeometry{static_cast<std::int16_t>(width), static_cast<std::int16_t>(height), 595, 842,
                      static_cast<std::uint64_t>(width) * 3},
      gray, header);
  return std::string(reinterpret_cast<const char*>(header), sizeof header);
}

// Lengths on the encoder's boundaries (runs of 128 pixels, folds of 256
// lines) and ordinary ones.
inline int pickLength(std::mt19937& rng) {
  static constexpr int kLengths[] = {1, 2, 3, 126, 127, 128, 129, 130, 255, 256, 257, 5, 17};
  return kLengths[rng() % std::size(kLengths)];
}

// A line of noise, palette noise (equal and near-equal pixels: the last one
// differs from the one before it in one byte) and runs of one colour.
inline std::string randomLine(std::mt19937& rng, int width) {
  static const char palette[4][3] = {
      {0, 0, 0}, {'\xff', '\xff', '\xff'}, {10, 20, 30}, {10, 20, 31}};
  const std::size_t size = static_cast<std::size_t>(width) * 3;
  std::string line;
  while (line.size() < size) {
    const unsigned kind = rng() % 4;
    for (int i = pickLength(rng); i > 0 && line.size() < size; --i) {
      if (kind == 1)
        line.append(palette[rng() % 4], 3);
      else if (kind == 0 || i == 1 || line.empty())
        for (int c = 0; c < 3; ++c) line += static_cast<char>(rng());
      else
        line.append(line.end() - 3, line.end());
    }
  }
  line.resize(size);
  return line;
}

// Blocks of repeated lines, some past the 256-line fold.
inline std::string randomPage(std::mt19937& rng, int width, int height) {
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  std::string page;
  while (page.size() < size) {
    const std::string line = randomLine(rng, width);
    for (int r = rng() % 4 == 0 ? pickLength(rng) : 1; r > 0; --r) page += line;
  }
  page.resize(size);
  return page;
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

}  // namespace colourtest
