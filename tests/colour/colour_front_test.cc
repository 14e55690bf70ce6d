// colour_front_test.cc - rastertoqv's command line, settings, paper and geometry files in
// process: a failure writes nothing but its message and status; files that load give the sizes.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <regex>
#include <sstream>

#include "colour/rastertoqv_loop.h"
#include "tests/support/colour_printer.h"

namespace colourtest {
namespace {

using namespace qv::colour;

const std::string kArea = "A4:\t1\t2\t3\t4\n", kDimension = "A4:\t595\t842\n";
const std::string kHead = "name width height dpi\n", kOpen = " :cannot open file !!\n";
const std::string kRc = "Error: invalid printer name at rc-file !!\n";
const std::string kFormat = "Error: A4 :invalid format found in paperinf !!\n";
const std::string kNotFound = "Error: A4: paper info not found in paperinf !!\n";
const std::string kNoPages = "ERROR: No pages found!\n";
const std::string kPhase = "Error: error occurred at print phase !!\n";

// In texts, @rc, @pi, @dir and @printer stand for the test's paths and name.
struct Row {
  int status = 0;  // 0: loads; the empty input then has no pages
  std::string err = "", args = "-rc @rc -pi @pi @dir/in", rc = "[@printer]\n";
  std::string paperInf = kHead + "A4: 10 4\n";
  std::optional<std::string> area = kArea, dimension = kDimension;  // nullopt: no file
  std::string input = ppmPage(10, 4, std::string(120, '\x80'));
  std::vector<int> sizes = {10, 4, 595, 842};  // page width, height, paper width, length
};

std::string expand(std::string text, const TestPrinter& p) {
  const std::string names[] = {"@rc",  p.rcPath(),     "@pi",      p.piPath(),
                               "@dir", p.dir().path(), "@printer", p.name()};
  for (std::size_t i = 0; i < std::size(names); i += 2)
    text = std::regex_replace(text, std::regex(names[i]), names[i + 1]);
  return text;
}

TEST(ColourFront, FailuresWriteNothingAndFilesGiveTheSizes) {
  const std::string inf = "Error: /opt/quarno/@printer/bin/inf/";
  const std::string comment = "#" + std::string(1022, 'c');  // a 1023-byte piece
  const std::string longName(1025, 'n'), zeros(69, '0');
  std::vector<Row> rows = {
      {.status = 2, .err = "Error: invalid option !!\n", .args = ""},
      {.status = 2, .err = "Error: @pi :invalid option !!\n", .args = "-rc @rc -pi @pi @pi @pi"},
      {.status = 1, .err = "Error: @dir/none" + kOpen, .args = "-rc @rc -pi @pi @dir/none"},
      {.status = 1, .err = "Error: @dir/pi" + kOpen, .args = "-rc @rc -pi @pi -pi @dir/pi"},
      {.status = 1, .err = "Error: @dir" + kOpen, .args = "-rc @dir -pi @pi"},
      {.rc = " [ @printer ]trailing \n# c\n   \t# c\n"},
      {.status = 7, .err = kNotFound, .paperInf = kHead},
      {.status = 1, .err = inf + "ImagingArea" + kOpen, .area = std::nullopt},
      {.status = 1, .err = inf + "PaperDimension" + kOpen, .dimension = std::nullopt},
      {.status = 7, .err = kNotFound, .area = " " + kArea, .dimension = " " + kDimension},
      {.status = 7, .err = kNotFound, .area = comment + kArea, .dimension = comment + kDimension},
      {.status = 13, .area = "A4:\t1\t2\t3\n"},
      {.status = 14, .dimension = "A4:\t595\n"},
      {.status = 14, .dimension = "A4:\t-595\t842\n"},
      {.status = 1, .err = kNoPages, .input = ""},
      {.status = 1, .err = kPhase + kNoPages, .input = "P6  10 4 255 "},  // one blank only
      {.status = 1, .err = kPhase + kNoPages, .input = "P6\n# c\n\n10 4\n255\n"},
      {.status = 1, .err = kPhase + kNoPages, .input = "P6 " + zeros + "10 4 255 "},
      // Loads: whole names, the first match, comments and blank lines skipped; no dimension: 0.
      {.paperInf = kHead + "A4Long: 1 1\nA4: 10 4\nA4: 20 8\n",
       .area = "# c\nLetter:\t1\t2\t3\t4\nA4:\t1\t2\t3\t4\n",
       .dimension = "\n# c\nA4Long:\t1\t1\nA4:\t595\t842\n"},
      {.paperInf = kHead + "A4:portrait 10 4\n",
       .area = "A4: 1 2 3 4\n",
       .dimension = "A4: 595 842"},
      {.paperInf = kHead + "\n\nA4:\t7200\t32767\n\n",
       .dimension = "Letter:\t612\t792\n",
       .sizes = {7200, 32767, 0, 0}},
  };
  for (const std::string& rc : std::initializer_list<std::string>{
           "Copies=2\n[@printer]\n", "[]\n", "", "# only a comment\n\n", "[../@printer]\n",
           "[" + std::string(32, 'p') + "]\n", comment + "tail\n[@printer]\n"})
    rows.push_back({.status = 5, .err = kRc, .rc = rc});
  for (const std::string& paperInf : std::initializer_list<std::string>{
           "", "a b c\n", kHead + "A4: 10\n", kHead + "A4: 7201 4\n", kHead + "A4: 10 32768\n",
           kHead + "A4: 99999999999999999999 4\n", kHead + "Letter: 12\nA4: 10 4\n",
           kHead + longName + " 1 1\nA4: 10 4\n"})  // the widest: 7200
    rows.push_back({.status = 6, .err = kFormat, .paperInf = paperInf});
  for (const Row& row : rows) {
    TestPrinter printer;
    SCOPED_TRACE(expand(row.args + " | " + row.rc + " | " + row.paperInf, printer));
    qvtest::writeFile(printer.rcPath(), expand(row.rc, printer));
    qvtest::writeFile(printer.piPath(), row.paperInf);
    qvtest::writeFile(printer.dir().file("in"), row.status == 0 ? "" : row.input);
    for (const auto& [file, text] :
         {std::pair{"ImagingArea", row.area}, {"PaperDimension", row.dimension}})
      if (std::filesystem::remove(printer.geometryPath(file)) && text)
        printer.writeGeometry(file, *text);
    std::istringstream split("rastertoqv " + expand(row.args, printer));
    std::vector<std::string> words{std::istream_iterator<std::string>(split), {}};
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
    if (row.status != 0) continue;
    RcSettings settings;
    const std::string rcPath = printer.rcPath(), piPath = printer.piPath();
    PjpInfo job{};
    job.pszRcFile = rcPath.c_str(), job.pszPaperInf = piPath.c_str();
    ASSERT_EQ(Status::kOk, PrepareLPRngPrint(&job, &settings.info, {}));
    EXPECT_EQ(row.sizes,
              (std::vector<int>{job.nWidth, job.nHeight, job.nPaperWidth, job.nPaperLength}));
    EXPECT_EQ(static_cast<std::uint64_t>(row.sizes[0]) * 3, job.nBytesPerLine);
  }
}

}  // namespace
}  // namespace colourtest
