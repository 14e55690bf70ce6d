// colour_front_test.cc - the colour filter's front end in process: command
// line, settings file, paper information and geometry files. Every failure
// ends the job before a byte reaches the printer, with its message and exit
// status; the settings that load reach the job as written.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "colour/rastertoqv_loop.h"
#include "tests/support/colour_printer.h"

namespace colourtest {
namespace {

const std::string kPaperInf = "name width height dpi\nA4: 10 4\nLetter: 12 3\n";
const std::string kArea = "A4:\t1\t2\t3\t4\nLetter:\t1\t2\t3\t4\n";
const std::string kDimension = "A4:\t595\t842\nLetter:\t612\t792\n";
const std::string kCantOpen = " :cannot open file !!\n";
const std::string kRcError = "Error: invalid printer name at rc-file !!\n";
const std::string kFormat = "Error: A4 :invalid format found in paperinf !!\n";
const std::string kNotFound = "Error: A4: paper info not found in paperinf !!\n";
const std::string kNoPages = "ERROR: No pages found!\n";
const std::string kPhase = "Error: error occurred at print phase !!\n";

// In args and texts, @rc, @pi, @dir and @printer stand for the test's paths
// and printer name.
struct Row {
  int status;
  std::string err;
  std::string args = "-rc @rc -pi @pi @dir/in";  // split at blanks
  std::string rc = "[@printer]\n";
  std::string paperInf = kPaperInf;
  std::optional<std::string> area = kArea, dimension = kDimension;  // nullopt: no file
  std::string input = ppmPage(10, 4, std::string(120, '\x80'));
};
Row args(std::string a, int status, std::string err) { return {status, std::move(err), a}; }
Row rc(std::string text, int status, std::string err = kRcError) {
  Row row{status, std::move(err)};
  row.rc = std::move(text);
  return row;
}
Row pi(std::string text, int status, std::string err) {
  Row row{status, std::move(err)};
  row.paperInf = "name width height dpi\n" + text;
  return row;
}
Row geo(std::optional<std::string> area, std::optional<std::string> dimension, int status,
        std::string err = "") {
  Row row{status, std::move(err)};
  row.area = std::move(area);
  row.dimension = std::move(dimension);
  return row;
}
Row input(std::string bytes, std::string err) {
  Row row{1, std::move(err)};
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

TEST(ColourFront, FailuresWriteNothingToThePrinter) {
  const std::string area = "Error: /opt/quarno/@printer/bin/inf/ImagingArea" + kCantOpen;
  const std::string dimension = "Error: /opt/quarno/@printer/bin/inf/PaperDimension" + kCantOpen;
  const std::string longComment = "#" + std::string(1022, 'c');
  const Row rows[] = {
      args("", 2, "Error: invalid option !!\n"),
      args("-rc @rc", 2, "Error: invalid option !!\n"),
      args("-pi @pi -rc", 2, "Error: invalid option !!\n"),
      args("-rc @rc -pi @pi @dir/in @pi", 2, "Error: @pi :invalid option !!\n"),
      args("-rc @rc -pi @pi @dir/none.ppm", 1, "Error: @dir/none.ppm" + kCantOpen),
      args("-rc @rc -pi @pi -PI", 1, "Error: -PI" + kCantOpen),
      args("-rc @rc -pi -x", 1, "Error: -x" + kCantOpen),
      args("-rc @rc -pi @pi -pi @dir/none.pi", 1, "Error: @dir/none.pi" + kCantOpen),
      args("-rc @dir/none.rc -pi @pi", 1, "Error: @dir/none.rc" + kCantOpen),
      args("-rc @dir -pi @pi", 1, "Error: @dir" + kCantOpen),
      args("-rc @rc -pi @dir", 1, "Error: @dir" + kCantOpen),
      rc("Copies=2\n[@printer]\n", 5),
      rc("[@printer]\n[QV2]\n", 5),
      rc("[\n", 5),
      rc("[]\n", 5),
      rc("", 5),
      rc("# only a comment\n\n", 5),
      rc("[" + std::string(32, 'p') + "]\n", 5),
      rc("[../@printer]\n", 5),
      rc("[..]\n", 5),
      rc("\r\n[@printer]\r\n", 5),
      rc(longComment + "tail\n[@printer]\n", 5),
      rc("[@printer]trailing\n", 0, ""),
      rc(" [ @printer ] \n# c\n   \t# c\n", 0, ""),
      pi("", 7, kNotFound),
      {6, kFormat, "-rc @rc -pi @pi", "[@printer]\n", ""},
      pi("A4: 10\n", 6, kFormat),
      pi("Letter: 12 3\n", 7, kNotFound),
      pi("A4: 7201 4\n", 6, kFormat),
      pi("A4: 0 4\n", 6, kFormat),
      pi("A4: -10 4\n", 6, kFormat),
      pi("A4: 10 32768\n", 6, kFormat),
      pi("A4: ten 4\n", 6, kFormat),
      pi("Letter: 12\nA4: 10 4\n", 6, kFormat),
      pi("A4: 99999999999999999999 4\n", 6, kFormat),
      pi(std::string(1025, 'n') + " 1 1\nA4: 10 4\n", 6, kFormat),
      {6, kFormat, "-rc @rc -pi @pi", "[@printer]\n", "a b c\n"},
      {6, kFormat, "-rc @rc -pi @pi", "[@printer]\n", std::string(64, 'w') + " b c d\nA4: 1 1\n"},
      geo(std::nullopt, kDimension, 1, area),
      geo(kArea, std::nullopt, 1, dimension),
      geo("Letter:\t1\t2\t3\t4\n", "Letter:\t612\t792\n", 7, kNotFound),
      geo(" A4:\t1\t2\t3\t4\n", " A4:\t595\t842\n", 7, kNotFound),
      geo(longComment + "A4:\t1\t2\t3\t4\n", longComment + "A4:\t595\t842\n", 7, kNotFound),
      geo("A4:\t1\t2\t3\n", kDimension, 13),
      geo(kArea, "A4:\t595\n", 14),
      geo(kArea, "A4:\t595\t99999\n", 14),
      geo(kArea, "A4:\t-595\t842\n", 14),
      input("", kNoPages),
      input("P5\n10 4\n255\n", kPhase + kNoPages),
      input("\n", kPhase + kNoPages),
  };
  for (const Row& row : rows) {
    TestPrinter printer;
    SCOPED_TRACE(expand(row.args + " | " + row.rc, printer));
    qvtest::writeFile(printer.rcPath(), expand(row.rc, printer));
    qvtest::writeFile(printer.piPath(), row.paperInf);
    qvtest::writeFile(printer.dir().file("in"), row.status == 0 ? "" : row.input);
    std::filesystem::remove(printer.geometryPath("ImagingArea"));
    std::filesystem::remove(printer.geometryPath("PaperDimension"));
    if (row.area) printer.writeGeometry("ImagingArea", *row.area);
    if (row.dimension) printer.writeGeometry("PaperDimension", *row.dimension);
    std::vector<std::string> words{"rastertoqv"};
    std::istringstream split(expand(row.args, printer));
    for (std::string word; split >> word;) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = runRastertoqv(static_cast<int>(words.size()), argv.data());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(row.status == 0 ? 1 : row.status, status);
    EXPECT_EQ(expand(row.status == 0 ? kNoPages : row.err, printer), err);
  }
}

// Each row loads "[QV]" and its lines, then looks at one setting: the chosen
// item word of a selection, or the number.
TEST(ColourFront, SettingsValues) {
  struct Case {
    std::string body;
    int index;
    std::string value;
  };
  const std::string filler(1022, 'c');  // "#" + filler fill a 1023-byte piece
  const Case cases[] = {
      {"", kParamPageSize, "A4"},
      {"", kParamQVResolution, "Fine"},
      {"", kParamCopies, "1"},
      {"PageSize = JIS B5\n", kParamPageSize, "JISB5"},
      {"PageSize=jisb5\n", kParamPageSize, "A4"},
      {"pagesize=Letter\n", kParamPageSize, "A4"},
      {"QVResolution=Normal\nQVResolution=Fine\n", kParamQVResolution, "Fine"},
      {"QVResolution=Normal\nQVResolution=Best\n", kParamQVResolution, "Normal"},
      {"Language=canada\n", kParamLanguage, "canada"},
      {"QVDuplex=DuplexTumble\r\n", kParamQVDuplex, "None"},
      {"Copies=3\r\n", kParamCopies, "3"},
      {"Copies=3x\n", kParamCopies, "3"},
      {"Copies=many\n", kParamCopies, "0"},
      {"Copies==3\n", kParamCopies, "0"},
      {"Contrast = - 5\n", kParamContrast, "-5"},
      {"Copies=65537\n", kParamCopies, "1"},
      {"BlueKey=40000\n", kParamBlueKey, "-25536"},
      {"RedKey=-70000\n", kParamRedKey, "-4464"},
      {"Copies\nColour=Red\nCopies=4\n", kParamCopies, "4"},
      {"Copies=ON\n", kParamCopies, "0"},
      {"Collate=1\n", kParamCollate, "OFF"},
      {"#" + filler + "Copies=7\n", kParamCopies, "7"},
      {"#" + filler + "#Copies=7\n", kParamCopies, "1"},
      {"Copies=" + std::string(1016, ' ') + "5\n", kParamCopies, "0"},
      {"Copies=4" + std::string(1015, ' ') + "=9\n", kParamCopies, "4"},
  };
  qvtest::ScopedTempDir dir;
  for (const Case& c : cases) {
    qvtest::writeFile(dir.file("rc"), "[QV]\n" + c.body);
    RcSettings settings;
    ASSERT_EQ(0u, LoadRcFile(dir.file("rc").c_str(), &settings.info)) << c.body;
    const RcParam& param = settings.params[static_cast<std::size_t>(c.index)];
    EXPECT_EQ(c.value, param.ppszCmdItem != nullptr ? param.ppszCmdItem[param.nIndex]
                                                    : std::to_string(param.nValue))
        << c.body;
  }
  char value[8];
  const RcSettings settings;
  EXPECT_EQ(-2, ParamSearch("Copies", value, sizeof value, &settings.info));
  EXPECT_EQ(kParamPageSize,
            ParamSearch("PageSize=FanFoldGermanLegal", value, sizeof value, &settings.info));
  EXPECT_STREQ("FanFold", value) << "the value is cut to the caller's buffer";
}

PjpInfo prepare(const std::string& rcPath, const std::string& piPath) {
  RcSettings settings;
  PjpInfo job{};
  job.pszRcFile = rcPath.c_str();
  job.pszPaperInf = piPath.c_str();
  EXPECT_EQ(0, PrepareLPRngPrint(&job, &settings.info));
  return job;
}

TEST(ColourFront, PaperSizesFromTheGeometryFiles) {
  struct Case {
    std::string paperInf, area, dimension;
    int width, height, paperWidth, paperLength;
  };
  const Case cases[] = {
      {"A4: 4760 6812\n", "A4:\t1\t2\t3\t4\n", "A4:\t595\t842\n", 4760, 6812, 595, 842},
      {"A4Long: 1 1\nA4: 10 4\nA4: 20 8\n", "# c\nLetter:\t1\t2\t3\t4\nA4:\t1\t2\t3\t4\n",
       "\n# c\nA4Long:\t1\t1\nA4:\t595\t842\n", 10, 4, 595, 842},
      {"A4:portrait 10 4\n", "A4: 1 2 3 4\n", "A4: 595 842", 10, 4, 595, 842},
      {"Letter: 5 5\nA4: 10 4", "Letter:\t1\t2\t3\t4\n", "A4:\t595\t842\n", 10, 4, 595, 842},
      {"\n\nA4:\t7200\t32767\n\n", "A4:\t1\t2\t3\t4\n", "Letter:\t612\t792\n", 7200, 32767, 0, 0},
  };
  for (const Case& c : cases) {
    TestPrinter printer;
    qvtest::writeFile(printer.piPath(), "name width height dpi\n" + c.paperInf);
    printer.writeGeometry("ImagingArea", c.area);
    printer.writeGeometry("PaperDimension", c.dimension);
    const PjpInfo job = prepare(printer.rcPath(), printer.piPath());
    const int got[] = {job.nWidth, job.nHeight, job.nPaperWidth, job.nPaperLength};
    EXPECT_EQ((std::vector<int>{c.width, c.height, c.paperWidth, c.paperLength}),
              std::vector<int>(std::begin(got), std::end(got)))
        << c.paperInf;
    EXPECT_EQ(static_cast<std::uint64_t>(c.width) * 3, job.nBytesPerLine);
  }
}

// The sample printer: its settings file sets every parameter, and its paper
// information and geometry files agree at 600 dpi.
TEST(ColourFront, SamplePrinterFilesAgree) {
  const std::string samples = std::string(QV_SOURCE_DIR) + "/samples/colour/";
  TestPrinter printer;
  for (const char* file : {"ImagingArea", "PaperDimension"})
    printer.writeGeometry(file, qvtest::readFile(samples + file));
  const std::string text = qvtest::readFile(samples + "qvcolour.rc");
  EXPECT_EQ(static_cast<std::size_t>(kQvParamCount), std::count(text.begin(), text.end(), '='));
  const std::string area = qvtest::readFile(samples + "ImagingArea");
  for (const char* size : {"A4", "Letter", "Legal", "Executive", "A5"}) {
    SCOPED_TRACE(size);
    printer.writeSettings(text.substr(text.find('\n', text.find('['))) + "PageSize=" + size);
    const PjpInfo job = prepare(printer.rcPath(), samples + "paperinf");
    const std::size_t at = area.find(std::string("\n") + size + ":");
    int left = 0, top = 0, right = 0, bottom = 0;
    ASSERT_EQ(4,
              std::sscanf(area.c_str() + at + 1, "%*s %d %d %d %d", &left, &top, &right, &bottom));
    EXPECT_EQ(job.nWidth, right - left) << "page width in pixels is the imaging width";
    EXPECT_EQ(job.nHeight, bottom - top);
    EXPECT_LE(right, job.nPaperWidth * 600 / 72);  // points x 600 / 72 = pixels
    EXPECT_LE(bottom, job.nPaperLength * 600 / 72);
    EXPECT_GT(left, 0);
    EXPECT_GT(top, 0);
  }
}

}  // namespace
}  // namespace colourtest
