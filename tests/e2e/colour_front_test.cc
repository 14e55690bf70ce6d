// rastertoqv end to end, failures: every failure of the command line, the
// settings file, the paper information and geometry files and the first page
// header ends the job before a byte reaches the printer, with its message and
// exit status.
#include <gtest/gtest.h>

#include <optional>
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
  std::vector<std::string> args = {"-rc", "@rc", "-pi", "@pi"};
  std::string rc = "[@printer]\n";
  std::string paperInf = kPaperInf;
  std::optional<std::string> imagingArea = kArea;  // nullopt: no file
  std::optional<std::string> paperDimension = kDimension;
  std::string input = kPage;
  int status = 0;
  std::string err;
};

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
  const std::vector<std::string> kArgs = {"-rc", "@rc", "-pi", "@pi"};
  const auto withInput = [&kArgs](std::initializer_list<std::string> more) {
    std::vector<std::string> args = kArgs;
    args.insert(args.end(), more);
    return args;
  };
  const Row rows[] = {
      // Command line.
      {.why = "no arguments", .args = {}, .status = 2, .err = kInvalidOption},
      {.why = "-pi missing", .args = {"-rc", "@rc"}, .status = 2, .err = kInvalidOption},
      {.why = "-rc without a value",
       .args = {"-pi", "@pi", "-rc"},
       .status = 2,
       .err = kInvalidOption},
      {.why = "a second input file",
       .args = withInput({"@dir/qv.rc", "@dir/paperinf"}),
       .status = 2,
       .err = "Error: @dir/paperinf :invalid option !!\n"},
      {.why = "input file cannot be opened",
       .args = withInput({"@dir/none.ppm"}),
       .status = 1,
       .err = "Error: @dir/none.ppm :cannot open file !!\n"},
      {.why = "options are case-sensitive: -PI is an input file name",
       .args = withInput({"-PI"}),
       .status = 1,
       .err = "Error: -PI :cannot open file !!\n"},
      {.why = "a value that begins with - is taken as it stands",
       .args = {"-rc", "@rc", "-pi", "-x"},
       .status = 1,
       .err = "Error: -x :cannot open file !!\n"},
      {.why = "a repeated -pi replaces the earlier one",
       .args = withInput({"-pi", "@dir/none.pi"}),
       .status = 1,
       .err = "Error: @dir/none.pi :cannot open file !!\n"},
      // Settings file.
      {.why = "settings file cannot be opened",
       .args = {"-rc", "@dir/none.rc", "-pi", "@pi"},
       .status = 1,
       .err = "Error: @dir/none.rc :cannot open file !!\n"},
      {.why = "settings path is a directory: not a file of defaults",
       .args = {"-rc", "@dir", "-pi", "@pi"},
       .status = 1,
       .err = "Error: @dir :cannot open file !!\n"},
      {.why = "a setting before the header",
       .rc = "Copies=2\n[@printer]\n",
       .status = 5,
       .err = kRcError},
      {.why = "a second header", .rc = "[@printer]\n[QV2]\n", .status = 5, .err = kRcError},
      {.why = "[ alone", .rc = "[\n", .status = 5, .err = kRcError},
      {.why = "[] names no printer", .rc = "[]\n", .status = 5, .err = kRcError},
      {.why = "a printer name of 32 characters",
       .rc = "[" + std::string(32, 'p') + "]\n",
       .status = 5,
       .err = kRcError},
      {.why = "a printer name that climbs out of /opt/quarno",
       .rc = "[../@printer]\n",
       .status = 5,
       .err = kRcError},
      {.why = "the tail of a long comment before the header is a setting line",
       .rc = "#" + std::string(1022, 'c') + "tail\n[@printer]\n",
       .status = 5,
       .err = kRcError},
      // Paper information file.
      {.why = "paper information file cannot be opened",
       .args = {"-rc", "@rc", "-pi", "@dir/none.pi"},
       .status = 1,
       .err = "Error: @dir/none.pi :cannot open file !!\n"},
      {.why = "paper information path is a directory",
       .args = {"-rc", "@rc", "-pi", "@dir"},
       .status = 1,
       .err = "Error: @dir :cannot open file !!\n"},
      {.why = "empty paper information file", .paperInf = "", .status = 6, .err = kFormat},
      {.why = "a line with one number",
       .paperInf = kHead + "A4: 10\n",
       .status = 6,
       .err = kFormat},
      {.why = "A4 not listed", .paperInf = kHead + "Letter: 12 3\n", .status = 7, .err = kNotFound},
      {.why = "wider than 7200 pixels",
       .paperInf = kHead + "A4: 7201 4\n",
       .status = 6,
       .err = kFormat},
      {.why = "height 0", .paperInf = kHead + "A4: 10 0\n", .status = 6, .err = kFormat},
      {.why = "taller than 32767 lines",
       .paperInf = kHead + "A4: 10 40000\n",
       .status = 6,
       .err = kFormat},
      // Geometry files of the printer.
      {.why = "no ImagingArea",
       .imagingArea = std::nullopt,
       .status = 1,
       .err = "Error: /opt/quarno/@printer/bin/inf/ImagingArea :cannot open file !!\n"},
      {.why = "no PaperDimension",
       .paperDimension = std::nullopt,
       .status = 1,
       .err = "Error: /opt/quarno/@printer/bin/inf/PaperDimension :cannot open file !!\n"},
      {.why = "A4 in neither geometry file",
       .imagingArea = "Letter:\t1\t2\t3\t4\n",
       .paperDimension = "Letter:\t612\t792\n",
       .status = 7,
       .err = kNotFound},
      {.why = "ImagingArea line with three numbers: silent",
       .imagingArea = "A4:\t1\t2\t3\n",
       .status = 13,
       .err = ""},
      {.why = "PaperDimension line with one number: silent",
       .paperDimension = "A4:\t595\n",
       .status = 14,
       .err = ""},
      {.why = "PaperDimension beyond 16 bits",
       .paperDimension = "A4:\t595\t99999\n",
       .status = 14,
       .err = ""},
      // The first page header.
      {.why = "empty input", .input = "", .status = 1, .err = kNoPages},
      {.why = "a gray PPM first: error 10, then no page",
       .input = "P5\n10 4\n255\n",
       .status = 1,
       .err = "Error: error occurred at print phase !!\n" + kNoPages},
      {.why = "a lone line feed",
       .input = "\n",
       .status = 1,
       .err = "Error: error occurred at print phase !!\n" + kNoPages},
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
    for (const std::string& arg : row.args) run.args.push_back(expand(arg, printer));

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
