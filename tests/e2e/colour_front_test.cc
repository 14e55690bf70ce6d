// rastertoqv end to end, front end: every failure of the command line, the
// settings file, the paper information file and the geometry files ends the
// job before a byte reaches the printer, with its message and exit status.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/colour/colour_front_fixture.h"
#include "tests/support/run_program.h"

#ifdef RASTERTOQV_PATH

namespace {

// One A4 page of the small paper information file: 10 x 4 pixels.
const std::string kPage = "P6\n10 4\n255\n" + std::string(10 * 4 * 3, '\x80');

constexpr const char* kArea = "A4:\t1\t2\t3\t4\nLetter:\t1\t2\t3\t4\n";
constexpr const char* kDimension = "A4:\t595\t842\nLetter:\t612\t792\n";

struct Row {
  const char* why;
  std::vector<std::string> args;  // @rc, @pi, @dir are replaced
  std::string rc;                 // @printer is replaced
  std::string paperInf;
  std::optional<std::string> imagingArea;  // nullopt: no file
  std::optional<std::string> paperDimension;
  std::string input;
  int status;
  std::string err;  // @dir, @printer are replaced
};

class ColourFrontE2E : public testing::Test {
 protected:
  std::string expand(std::string text) const {
    const std::pair<std::string, std::string> names[] = {{"@rc", dir_.file("qv.rc")},
                                                         {"@pi", dir_.file("paperinf")},
                                                         {"@dir", dir_.path()},
                                                         {"@printer", printer_.name()}};
    for (const auto& [from, to] : names)
      for (std::size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
  }

  // Runs the filter; fails the test if it leaves a page file of its own in
  // /tmp. The check uses the child's pid, so parallel tests cannot disturb it.
  qvtest::ProgramResult run(const Row& row) {
    qvtest::writeFile(dir_.file("qv.rc"), expand(row.rc));
    qvtest::writeFile(dir_.file("paperinf"), row.paperInf);
    qvtest::writeFile(dir_.file("page.ppm"), kPage);
    std::remove(printer_.imagingAreaPath().c_str());
    std::remove(printer_.paperDimensionPath().c_str());
    if (row.imagingArea) printer_.writeImagingArea(*row.imagingArea);
    if (row.paperDimension) printer_.writePaperDimension(*row.paperDimension);

    qvtest::ProgramRun spec{RASTERTOQV_PATH, {}, {}, {}, {}};
    for (const std::string& arg : row.args) spec.args.push_back(expand(arg));
    qvtest::RunningProgram program(spec);
    program.writeInput(row.input);
    program.closeInput();
    qvtest::ProgramResult result = program.wait();
    const std::string prefix = "ec_tmppage_" + std::to_string(program.pid()) + "_";
    for (const std::string& name : qvtest::listDirectory("/tmp"))
      EXPECT_NE(0u, name.rfind(prefix, 0)) << "left behind: /tmp/" << name;
    return result;
  }

  qvtest::ScopedPrinterDir printer_;
  qvtest::ScopedTempDir dir_;
};

const std::string kHeader = "[@printer]\n";
const std::string kPaperInf(qvtest::kSmallPaperInf);
const std::string kHead = "name width height dpi\n";
const std::string kInvalidOption = "Error: invalid option !!\n";
const std::string kRcError = "Error: invalid printer name at rc-file !!\n";
const std::string kFormat = "Error: A4 :invalid format found in paperinf !!\n";
const std::string kNotFound = "Error: A4: paper info not found in paperinf !!\n";
const std::vector<std::string> kArgs = {"-rc", "@rc", "-pi", "@pi"};

std::vector<std::string> argsPlus(std::initializer_list<std::string> more) {
  std::vector<std::string> args = kArgs;
  args.insert(args.end(), more);
  return args;
}

TEST_F(ColourFrontE2E, FailuresWriteNothingToThePrinter) {
  const Row rows[] = {
      // Command line.
      {"no arguments", {}, kHeader, kPaperInf, kArea, kDimension, kPage, 2, kInvalidOption},
      {"-pi missing",
       {"-rc", "@rc"},
       kHeader,
       kPaperInf,
       kArea,
       kDimension,
       kPage,
       2,
       kInvalidOption},
      {"-rc without a value",
       {"-pi", "@pi", "-rc"},
       kHeader,
       kPaperInf,
       kArea,
       kDimension,
       kPage,
       2,
       kInvalidOption},
      {"a second input file", argsPlus({"@dir/page.ppm", "@dir/page.ppm"}), kHeader, kPaperInf,
       kArea, kDimension, "", 2, "Error: @dir/page.ppm :invalid option !!\n"},
      {"input file cannot be opened", argsPlus({"@dir/none.ppm"}), kHeader, kPaperInf, kArea,
       kDimension, "", 1, "Error: @dir/none.ppm :cannot open file !!\n"},
      {"an unknown option is an input file name", argsPlus({"-x"}), kHeader, kPaperInf, kArea,
       kDimension, "", 1, "Error: -x :cannot open file !!\n"},
      // Settings file.
      {"settings file cannot be opened",
       {"-rc", "@dir/none.rc", "-pi", "@pi"},
       kHeader,
       kPaperInf,
       kArea,
       kDimension,
       kPage,
       1,
       "Error: @dir/none.rc :cannot open file !!\n"},
      {"a setting before the header", kArgs, "Copies=2\n" + kHeader, kPaperInf, kArea, kDimension,
       kPage, 5, kRcError},
      {"a second header", kArgs, kHeader + "[QV2]\n", kPaperInf, kArea, kDimension, kPage, 5,
       kRcError},
      {"[ alone", kArgs, "[\n", kPaperInf, kArea, kDimension, kPage, 5, kRcError},
      {"a printer name of 32 characters", kArgs, "[" + std::string(32, 'p') + "]\n", kPaperInf,
       kArea, kDimension, kPage, 5, kRcError},
      {"[] names no printer", kArgs, "[]\n", kPaperInf, kArea, kDimension, kPage, 5, kRcError},
      {"a printer name that climbs out of /opt/quarno", kArgs, "[../@printer]\n", kPaperInf, kArea,
       kDimension, kPage, 5, kRcError},
      // Paper information file.
      {"paper information file cannot be opened",
       {"-rc", "@rc", "-pi", "@dir/none.pi"},
       kHeader,
       kPaperInf,
       kArea,
       kDimension,
       kPage,
       1,
       "Error: @dir/none.pi :cannot open file !!\n"},
      {"empty paper information file", kArgs, kHeader, "", kArea, kDimension, kPage, 6, kFormat},
      {"a line with one number", kArgs, kHeader, kHead + "A4: 10\n", kArea, kDimension, kPage, 6,
       kFormat},
      {"A4 not listed", kArgs, kHeader, kHead + "Letter: 12 3\n", kArea, kDimension, kPage, 7,
       kNotFound},
      {"wider than 7200 pixels", kArgs, kHeader, kHead + "A4: 7201 4\n", kArea, kDimension, kPage,
       6, kFormat},
      {"height 0", kArgs, kHeader, kHead + "A4: 10 0\n", kArea, kDimension, kPage, 6, kFormat},
      {"taller than 32767 lines", kArgs, kHeader, kHead + "A4: 10 40000\n", kArea, kDimension,
       kPage, 6, kFormat},
      // Geometry files of the printer.
      {"no ImagingArea", kArgs, kHeader, kPaperInf, std::nullopt, kDimension, kPage, 1,
       "Error: /opt/quarno/@printer/bin/inf/ImagingArea :cannot open file !!\n"},
      {"no PaperDimension", kArgs, kHeader, kPaperInf, kArea, std::nullopt, kPage, 1,
       "Error: /opt/quarno/@printer/bin/inf/PaperDimension :cannot open file !!\n"},
      {"A4 in neither geometry file", kArgs, kHeader, kPaperInf, "Letter:\t1\t2\t3\t4\n",
       "Letter:\t612\t792\n", kPage, 7, kNotFound},
      {"ImagingArea line with three numbers", kArgs, kHeader, kPaperInf, "A4:\t1\t2\t3\n",
       kDimension, kPage, 13, ""},
      {"PaperDimension line with one number", kArgs, kHeader, kPaperInf, kArea, "A4:\t595\n", kPage,
       14, ""},
      {"PaperDimension beyond 16 bits", kArgs, kHeader, kPaperInf, kArea, "A4:\t595\t99999\n",
       kPage, 14, ""},
      // The first page header: error 10, then no page.
      {"malformed PPM header", kArgs, kHeader, kPaperInf, kArea, kDimension, "P5\n10 4\n255\n", 1,
       "Error: error occurred at print phase !!\nERROR: No pages found!\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const qvtest::ProgramResult result = run(row);
    ASSERT_TRUE(result.exited());
    EXPECT_EQ(row.status, result.status);
    EXPECT_EQ(expand(row.err), result.err);
    EXPECT_EQ("", result.out) << "a failed job must send the printer nothing";
  }
}

TEST_F(ColourFrontE2E, ValidFrontEndReachesTheJob) {
  const Row row{"settings, paper and geometry all valid",
                argsPlus({"@dir/page.ppm"}),
                kHeader + "PageSize = A4\nCopies=1\n",
                kPaperInf,
                kArea,
                kDimension,
                "",
                0,
                ""};
  const qvtest::ProgramResult result = run(row);
  ASSERT_TRUE(result.exited());
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ(0u, result.out.rfind("\x1b%-12345X@PJL \n", 0)) << "the job header begins";
  EXPECT_NE(std::string::npos, result.out.find("@PJL SET PAPER=A4\n"));
}

}  // namespace

#endif  // RASTERTOQV_PATH
