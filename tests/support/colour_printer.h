// colour_printer.h - a test printer for rastertoqv, random PPM pages, pieces of a job.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "colour/Mfunc.h"
#include "colour/colour_job.h"
#include "tests/support/run_program.h"

namespace colourtest {

// Geometry under /opt/quarno/qvtest-<pid>-<n>/bin/inf/; settings and paper file in a scratch dir.
class TestPrinter {
 public:
  explicit TestPrinter(int width = 10, int height = 4, const std::string& settings = "") {
    static int serial = 0;
    name_ = "qvtest-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    std::filesystem::create_directories(geometryPath(""));
    writeGeometry("ImagingArea", "A4:\t100\t100\t4860\t6912\nLetter:\t100\t100\t5000\t6500\n");
    writeGeometry("PaperDimension", "A4:\t595\t842\nLetter:\t612\t792\n");
    writeSettings(settings);
    qvtest::writeFile(piPath(), "name width height dpi\nA4: " + std::to_string(width) + " " +
                                    std::to_string(height) + "\nLetter: 12 3\n");
  }
  ~TestPrinter() {
    std::error_code ignored;
    std::filesystem::remove_all("/opt/quarno/" + name_, ignored);
  }

  const std::string& name() const { return name_; }
  std::string geometryPath(std::string_view file) const {
    return "/opt/quarno/" + name_ + "/bin/inf/" + std::string(file);
  }
  void writeGeometry(std::string_view file, std::string_view text) const {
    qvtest::writeFile(geometryPath(file), text);
  }
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
  std::string name_;
};

inline std::string ppmPage(int width, int height, const std::string& pixels) {
  return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels;
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// Lines of noise, palette pixels and runs, some repeated, of lengths on the encoder's bounds.
inline std::string randomPage(std::mt19937& rng, int width, int height) {
  static constexpr int kLengths[] = {1, 2, 3, 126, 127, 128, 129, 130, 255, 256, 257, 5, 17};
  static const char palette[4][3] = {
      {0, 0, 0}, {'\xff', '\xff', '\xff'}, {10, 20, 30}, {10, 20, 31}};
  const auto length = [&] { return kLengths[rng() % std::size(kLengths)]; };
  const std::size_t lineSize = static_cast<std::size_t>(width) * 3, size = lineSize * height;
  std::string page, line;
  while (page.size() < size) {
    for (line.clear(); line.size() < lineSize;) {
      const unsigned kind = rng() % 4;
      for (int i = length(); i > 0 && line.size() < lineSize; --i)
        if (kind == 1)
          line.append(palette[rng() % 4], 3);
        else if (kind == 0 || i == 1 || line.empty())
          for (int c = 0; c < 3; ++c) line += static_cast<char>(rng());
        else
          line.append(line.end() - 3, line.end());
    }
    line.resize(lineSize);
    for (int r = rng() % 4 == 0 ? length() : 1; r > 0; --r) page += line;
  }
  page.resize(size);
  return page;
}

inline const std::string kUel = "\x1b%-12345X";
inline const std::string kTrailer = kUel + kUel + "\n";
inline const std::string kEnterPwg = "@PJL ENTER LANGUAGE=PWGRASTER\n";
inline const std::string kCancelFill(qv::colour::kColourCancelFillBytes, '\0');

// What follows the PJL header, or "" without one.
inline std::string afterHeader(const std::string& out) {
  const std::size_t at = out.find(kEnterPwg);
  return at == std::string::npos ? std::string() : out.substr(at + kEnterPwg.size());
}

}  // namespace colourtest
