// rastertoqv end to end, failures: every failure of the command line, the
// settings file, the paper information and geometry files and the first page
// header ends the job before a byte reaches the printer, with its message and
// exit status.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/colour_printer.h"

namespace colourtest {
namespace {

// One A4 page of the test printer: 10 x 4 pixels.
const std::string kPage = ppmPage(10, 4, std::string(10 * 4 * 3, '\x80'));
const std::string kPaperInf = "name width height dpi\nA4: 10 4\nLetter: 12 3\n";
const std::string kHead = "name width height dpi\n";
const std::string kArea = "A4:\t1\t2\t3\t4\nLetter:\t1\t2\t3\t4\n";
const std::string kDimension = "A4:\t595\t842\nLetter:\t612\t792\n";
const std::string kInvalidOption = "Error: invalid option !!\n";
const std::string kRcError = "Error: invalid printer name at rc-file !!\n";
const std::string kFormat = "Error: A4 :invalid format found in paperinf !!\n";
const std::string kNotFound = "Error: A4: paper info not found in paperinf !!\n";
const std::string kNoPages = "ERROR: No pages found!\n";

// In args and texts, @rc, @pi, @dir and @printer stand for the test's paths
// and printer name.
struct Row {
  const char* why;
  int status;
  std::string err;
  std::string args = "-rc @rc -pi @pi";  // split at blanks
  std::string rc = "[@printer]\n";
  std::string paperInf = kPaperInf;
  std::optional<std::string> imagingArea = kArea;  // nullopt: no file
  std::optional<std::string> paperDimension = kDimension;
  std::string input = kPage;
};

// One row per varied input; the rest stays valid.
Row commandLine(const char* why, std::string args, int status, std::string err) {
  return {why, status, std::move(err), std::move(args)};
}
Row settings(const char* why, std::string rc, int status, std::string err) {
  Row row{why, status, std::move(err)};
  row.rc = std::move(rc);
  return row;
}
Row paperInf(const char* why, std::string text, int status, std::string err) {
  Row row{why, status, std::move(err)};
  row.paperInf = std::move(text);
  return row;
}
Row geometry(const char* why, std::optional<std::string> area, std::optional<std::string> dimension,
             int status, std::string err) {
  Row row{why, status, std::move(err)};
  row.imagingArea = std::move(area);
  row.paperDimension = std::move(dimension);
  return row;
}
Row input(const char* why, std::string bytes, int status, std::string err) {
  Row row{why, status, std::move(err)};
  row.input = std::move(bytes);
  return row;
}

std::string expand(std::string text, const TestPrinter& printer) {
  const std::pair<std::string, std::string> names[] = {{"@rc", printer.rcPath()},
                                                       {"@pi", printer.piPath()},
                                                       {"@dir", printer.dir().path()},
                                                       {"@printer", printer.name()}};
  for (const auto& [from, to] : names)
    for (std::size_t at; (at = text.find(from)) != std::string::npos;)
      text.replace(at, from.size(), to);
  return text;
}

TEST(ColourFrontE2E, FailuresWriteNothingToThePrinter) {
  const std::string cantOpen = " :cannot open file !!\n";
  const std::string area = "/opt/quarno/@printer/bin/inf/ImagingArea";
  const std::string dimension = "/opt/quarno/@printer/bin/inf/PaperDimension";
  const std::string longComment = "#" + std::string(1022, 'c');
  const Row rows[] = {
      commandLine("no arguments", "", 2, kInvalidOption),
      commandLine("-pi missing", "-rc @rc", 2, kInvalidOption),
      commandLine("-rc without a value", "-pi @pi -rc", 2, kInvalidOption),
      commandLine("a second input file", "-rc @rc -pi @pi @dir/qv.rc @dir/paperinf", 2,
                  "Error: @dir/paperinf :invalid option !!\n"),
      commandLine("input file cannot be opened", "-rc @rc -pi @pi @dir/none.ppm", 1,
                  "Error: @dir/none.ppm" + cantOpen),
      commandLine("options are case-sensitive: -PI is a file", "-rc @rc -pi @pi -PI", 1,
                  "Error: -PI" + cantOpen),
      commandLine("a value that begins with - is taken", "-rc @rc -pi -x", 1,
                  "Error: -x" + cantOpen),
      commandLine("a repeated -pi replaces the first", "-rc @rc -pi @pi -pi @dir/none.pi", 1,
                  "Error: @dir/none.pi" + cantOpen),
      commandLine("settings file cannot be opened", "-rc @dir/none.rc -pi @pi", 1,
                  "Error: @dir/none.rc" + cantOpen),
      commandLine("settings path is a directory, not defaults", "-rc @dir -pi @pi", 1,
                  "Error: @dir" + cantOpen),
      commandLine("paper information file cannot be opened", "-rc @rc -pi @dir/none.pi", 1,
                  "Error: @dir/none.pi" + cantOpen),
      commandLine("paper information path is a directory", "-rc @rc -pi @dir", 1,
                  "Error: @dir" + cantOpen),
      settings("a setting before the header", "Copies=2\n[@printer]\n", 5, kRcError),
      settings("a second header", "[@printer]\n[QV2]\n", 5, kRcError),
      settings("[ alone", "[\n", 5, kRcError),
      settings("[] names no printer", "[]\n", 5, kRcError),
      settings("a printer name of 32 characters", "[" + std::string(32, 'p') + "]\n", 5, kRcError),
      settings("a name that climbs out of /opt/quarno", "[../@printer]\n", 5, kRcError),
      settings("the tail of a long comment before the header", longComment + "tail\n[@printer]\n",
               5, kRcError),
      paperInf("empty paper information file", "", 6, kFormat),
      paperInf("a line with one number", kHead + "A4: 10\n", 6, kFormat),
      paperInf("A4 not listed", kHead + "Letter: 12 3\n", 7, kNotFound),
      paperInf("wider than 7200 pixels", kHead + "A4: 7201 4\n", 6, kFormat),
      paperInf("height 0", kHead + "A4: 10 0\n", 6, kFormat),
      paperInf("taller than 32767 lines", kHead + "A4: 10 40000\n", 6, kFormat),
      geometry("no ImagingArea", std::nullopt, kDimension, 1, "Error: " + area + cantOpen),
      geometry("no PaperDimension", kArea, std::nullopt, 1, "Error: " + dimension + cantOpen),
      geometry("A4 in neither geometry file", "Letter:\t1\t2\t3\t4\n", "Letter:\t612\t792\n", 7,
               kNotFound),
      geometry("ImagingArea line with three numbers: silent", "A4:\t1\t2\t3\n", kDimension, 13, ""),
      geometry("PaperDimension line with one number: silent", kArea, "A4:\t595\n", 14, ""),
      geometry("PaperDimension beyond 16 bits", kArea, "A4:\t595\t99999\n", 14, ""),
      input("empty input", "", 1, kNoPages),
      input("a gray PPM first: error 10, then no page", "P5\n10 4\n255\n", 1,
            "Error: error occurred at print phase !!\n" + kNoPages),
      input("a lone line feed", "\n", 1, "Error: error occurred at print phase !!\n" + kNoPages),
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    TestPrinter printer;
    qvtest::writeFile(printer.rcPath(), expand(row.rc, printer));
    qvtest::writeFile(printer.piPath(), row.paperInf);
    std::filesystem::remove(printer.geometryPath("ImagingArea"));
    std::filesystem::remove(printer.geometryPath("PaperDimension"));
    if (row.imagingArea) printer.writeGeometry("ImagingArea", *row.imagingArea);
    if (row.paperDimension) printer.writeGeometry("PaperDimension", *row.paperDimension);
    qvtest::ProgramRun run = printer.run("");
    run.args.clear();
    std::istringstream args(expand(row.args, printer));
    for (std::string arg; args >> arg;) run.args.push_back(arg);

    qvtest::RunningProgram program(run);
    program.writeInput(row.input);
    program.closeInput();
    const qvtest::ProgramResult result = program.wait();
    ASSERT_TRUE(result.exited());
    EXPECT_EQ(row.status, result.status);
    EXPECT_EQ(expand(row.err, printer), result.err);
    EXPECT_EQ("", result.out) << "a failed job must send the printer nothing";
    EXPECT_TRUE(pageFilesOf(program.pid()).empty());
  }
}

}  // namespace
}  // namespace colourtest
