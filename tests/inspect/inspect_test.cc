// inspect_test.cc - qvinspect in process: --check on damaged copies of good
// jobs, kind detection, the reports, previews read back, the command line.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/unique_file.h"
#include "inspect/check.h"
#include "inspect/cli.h"
#include "inspect/report.h"
#include "inspect/summary.h"
#include "tests/decode/job_bytes.h"
#include "tests/support/run_program.h"

namespace {

using namespace std::string_view_literals;
using qvinspect::JobKind;
using qvtest::append;
using qvtest::Bytes;
namespace f = qvdecode::pwgfield;

std::string str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes replaced(const Bytes& good, std::string_view from, std::string_view to) {
  std::string s = str(good);
  const std::size_t at = s.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return qvtest::text(s);
}
Bytes mono(std::string_view from, std::string_view to) {
  return replaced(qvtest::monoJob(), from, to);
}
Bytes gray(std::size_t field, std::uint32_t value, const Bytes& lines = {}) {
  Bytes page = lines.empty() ? qvtest::grayPage() : qvtest::pwgHeader(6, 3, false);
  qvtest::putU32(page, field, value);
  return qvtest::colourJobOf(append(page, lines));
}
Bytes grayLines(const Bytes& lines) { return gray(f::kWidth, 6, lines); }

constexpr std::size_t kPage1 = 9 + qvtest::kColourPjl.size() + 4;  // colour page 1's header

TEST(Check, GoodJobsPassAndEachFaultIsNamed) {
  const Bytes worked = qvtest::workedMonoPage();
  Bytes replayed = worked, unpaged = worked, renumbered = worked, otherSetup = worked;
  append(append(replayed, qvtest::monoReplay('2')), worked);
  append(unpaged, qvtest::monoReplay('2'));
  append(append(renumbered, qvtest::monoReplay('3')), worked);
  Bytes changed = qvtest::monoReplay('2');
  changed.resize(changed.size() - 1);
  append(append(otherSetup, append(changed, "0S")), worked);
  Bytes deep = qvtest::pwgHeader(1, 1, false);
  for (const auto field : {f::kBitsPerColor, f::kBitsPerPixel}) qvtest::putU32(deep, field, 16);
  qvtest::putU32(deep, f::kBytesPerLine, 2);
  Bytes cmyk = qvtest::pwgHeader(1, 1, true);
  for (const auto& [field, value] : {std::pair{f::kColorSpace, 6u},
                                     {f::kNumColors, 4u},
                                     {f::kBitsPerPixel, 32u},
                                     {f::kBytesPerLine, 4u}}) {
    qvtest::putU32(cmyk, field, value);
  }
  const Bytes colour = qvtest::colourJobOf(qvtest::grayPage()), good = qvtest::monoJob();
  const Bytes past = mono("13w\x00\x03\x03\x01\x00\x00\x82\xFF\x01\x12\x34\x00\xFF"sv,
                          "7w\x00\x01\x01\x78\xFF\x3C\x09"sv);  // a literal at 15 + 255 + 60
  const Bytes seven = {2, 255, 1, 2, 2, 3, 0, 4};
  const std::string fill(qvdecode::kCancelFillBytes, '\0'), grayPage = str(qvtest::grayPage());
  const auto cancelled = [](std::initializer_list<std::string_view> parts) {
    Bytes raster;
    for (const std::string_view part : parts) append(raster, part);
    return raster;
  };
  const std::size_t npos = std::string::npos;
  struct Case {
    Bytes job;
    const char* says;  // part of "offset N (page P...): message"
    std::size_t at = npos;
  };
  const Case cases[] = {
      {qvtest::monoJob(replayed), ""},
      {colour, ""},
      {mono("\x1b%-12345X@PJL\n", "@PJL\n"), ": expected the universal exit \"\\e%-12345X\" first"},
      {mono("= PCL\n", "= PCL"), "unterminated PJL"},
      {mono("13w", "14w"),
       "(page 1, block 1, row 2): block length 14 disagrees with its 3 records: 1 bytes"},
      {mono("13w", "12w"), "(page 1, block 1, row 2): block length 12 ends after 2 of its 3"},
      {mono("13w", "7w"),
       "row 0): the record ends inside the data of command 2 of 3: the block (length 7)"},
      {mono("13w\x00\x03"sv, "13w\x00\x02"sv),
       "(page 1, block 1, row 1): block length 13 disagrees with its 2"},
      {mono("13w\x00\x03"sv, "13w\x00\x04"sv), "ends after 3 of its 4 records"},
      {mono("13w\x00\x03"sv, "13w\x00\x00"sv),
       "(page 1, block 1): block row count 0 is outside 1 to 128"},
      {mono("13w\x00\x03"sv, "13w\x00\x81"sv), "block row count 129 is outside"},
      {mono("13w", "13x"), "(page 1, block 1): expected \"w\" after the block length"},
      {past,
       "(page 1, block 1, row 0): literal of 1 bytes at position 330 runs past the end of the 312",
       str(past).find("7w") + 5},
      {mono("1030M\f", "1030M"), "(page 1, block 1, row 2): expected a form feed"},
      {mono("1030M\f", "1030M\f\r\n"), ": unexpected bytes after page 1; expected"},
      {mono("\n\x1b%-12345X", "\n"), "closing universal exit"},
      {Bytes(good.begin(), good.end() - 50), "the input ends without the trailer's universal exit"},
      {mono("\x1b&l2X", "&l2X"), "expected a PCL escape sequence in the set-up"},
      {mono("\x1b&u300D", ""), ": the PCL set-up names no unit of measure", 66},
      {mono("\x1b&u300D", "\x1b&u400D"), ": unit of measure 400 dpi; expected 300, 600 or 1200"},
      {mono("\x1b*t300R", "\x1b*t1201R"), ": raster resolution 1201 dpi; expected 300"},
      {mono("\x1b*t300R", ""), "names no raster resolution"},
      {qvtest::monoJob(unpaged), "sorted-copy replay 2 has 0 pages; the job has 1"},
      {qvtest::monoJob(renumbered), "sorted-copy replay numbered 3; expected 2"},
      {qvtest::monoJob(otherSetup), "sorted-copy replay 2 sends another PCL set-up than the job"},
      {gray(f::kBytesPerLine, 7),
       "(page 1): BytesPerLine 7 disagrees with Width 6 x BitsPerPixel 8 / 8 = 6",
       kPage1 + f::kBytesPerLine},
      {gray(f::kBitsPerPixel, 16), "BitsPerPixel 16 disagrees with BitsPerColor 8 x NumColors 1"},
      {gray(f::kNumColors, 3), "NumColors 3 disagrees with ColorSpace 18, which has 1",
       kPage1 + f::kNumColors},
      {gray(f::kColorSpace, 99), "unknown ColorSpace 99"},
      {gray(f::kBitsPerColor, 7), "BitsPerColor 7 is not 1, 2, 4, 8 or 16"},
      {gray(f::kWidth, 0), "Width 0 is outside 1 to"},
      {gray(f::kHeight, 0x7FFFFFFF), "Height 2147483647 is outside 1 to"},
      {gray(f::kColorOrder, 1), "ColorOrder 1; PWG Raster pixels are chunky"},
      {gray(0, 0x50574700), "expected \"PwgRaster\""},
      {grayLines({1, 255, 1, 2, 2, 3, 0, 4}),
       "(page 1, row 2): page ends after 2 lines; its Height is 3"},
      {grayLines(append(Bytes(seven), seven)), "bytes after the page's 3 lines"},
      {grayLines(append(Bytes(seven), "\n")), "(page 1): bytes after the page's 3 lines"},
      {grayLines({3, 255, 1, 2, 2, 3, 0, 4}),
       "repeat of 4 lines at line 0 runs past the page's Height 3"},
      {grayLines({2, 255, 1, 2, 5, 3}),
       "repeat run of 6 pixels at pixel 2 passes the end of the 6-pixel"},
      {grayLines({2, 128, 1, 2, 3, 3, 3, 4}), "run code 128"},
      {replaced(colour, "RaS2", ""), "synchronisation word \"RaS2\""},
      {Bytes(colour.begin(), colour.end() - 1), "line feed"},
      {append(Bytes(colour), "\n"), "after the end of the job"},
      {Bytes(colour.begin(), colour.end() - 19), "trailer's universal exit"},
      {qvtest::colourJobOf(append(deep, {0, 0, 0xAA, 0xBB})),
       "(page 1): BitsPerColor 16; the printer takes 8"},
      {qvtest::colourJobOf(append(cmyk, {0, 0, 1, 2, 3, 4})),
       "ColorSpace 6; the printer takes sRGB (19) or sGray (18)"},
      {gray(f::kHwResolution + 4, 0), "(page 1): HWResolution 600 x 0; both must be set"},
      {qvtest::colourJobOf(qvtest::whiteColourPage(7201, 1)),
       "page of 7201 x 1 pixels is larger than the 7200 x 32767 a printer takes",
       kPage1 + f::kWidth},
      {qvtest::colourJobOf(qvtest::whiteColourPage(1, 32768)), "page of 1 x 32768 pixels is larger",
       kPage1 + f::kHeight},
      // A cancelled job: one zero fill between whole pages, nothing else.
      {qvtest::colourJob(cancelled({fill})), ""},
      {qvtest::colourJob(cancelled({fill, "RaS2", grayPage})), ""},
      {qvtest::colourJob(cancelled({"RaS2", grayPage, fill, grayPage})), ""},
      {qvtest::colourJob(cancelled({"RaS2", grayPage, fill})), ""},
      {qvtest::colourJob(cancelled({"RaS2", grayPage, fill.substr(1), grayPage})),
       "(page 1): bytes after"},
      {qvtest::colourJob(cancelled({"RaS2", grayPage, fill, "\0"sv, grayPage})),
       "(page 2): expected \"PwgRaster\""},
      {qvtest::colourJob(cancelled({fill, "RaS2", grayPage, fill})),
       "(page 2): expected \"PwgRaster\""},
      {qvtest::colourJob(cancelled({"RaS2", grayPage.substr(0, 1800), fill})),
       "(page 1): bytes after"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const JobKind kind = str(c.job).find("PWGRASTER") != npos ? JobKind::kColour : JobKind::kMono;
    qvdecode::DecodeError violation;
    EXPECT_EQ(*c.says == 0 ? 0 : -1, qvinspect::checkJob(c.job, kind, violation));
    EXPECT_NE(npos, qvdecode::describeError(violation).find(c.says))
        << qvdecode::describeError(violation);
    EXPECT_LE(violation.offset, c.job.size());
    EXPECT_TRUE(c.at == npos || c.at == violation.offset) << violation.offset;
  }
}

qvinspect::JobSummary summarised(const Bytes& job, JobKind kind, int expected = 0) {
  qvinspect::JobSummary summary;
  EXPECT_EQ(expected, qvinspect::summariseJob(job, kind, summary));
  return summary;
}

TEST(Report, MonoTextColourJsonAndDamage) {
  const Bytes secure =
      qvtest::monoJob(qvtest::workedMonoPage(),
                      "@PJL SET HOLD=STORE\n@PJL SET HOLDKEY=\n@PJL SET HOLDTYPE=PRIVATE\n");
  EXPECT_EQ(
      "job.prn: mono job, 225 bytes, 1 page\nPJL settings:\n  SET HOLD=STORE\n"
      "  SET HOLDKEY=****\n  SET HOLDTYPE=PRIVATE\n  ENTER LANGUAGE = PCL\nPCL set-up:\n  reset\n"
      "  page size code 4096\n  page size A4 (26)\n  6 lines per inch\n  top margin 1 line\n"
      "  unit of measure 300 dpi\n  raster resolution 300 dpi\n  copies 2\n  duplex, long edge\n"
      "Pages:\n  page 1: 64 x 3 pixels, 300 x 300 dpi, black 1-bit, 30 bytes on the wire (ratio "
      "0.8:1), rows: 1 blank, 1 repeated, 1 method-9 (1 whole), 1 block\n"
      "Trailer:\n  EOJ NAME=\"Linux print job\"\n",
      qvinspect::textReport("job.prn", summarised(secure, JobKind::kMono)));

  Bytes pages = qvtest::whiteColourPage(600, 300);
  const std::string json = qvinspect::jsonReport(
      "c \"1\".prn",
      summarised(qvtest::colourJobOf(append(pages, qvtest::grayPage())), JobKind::kColour));
  for (const char* part : {
           "{\n  \"file\": \"c \\\"1\\\".prn\",\n  \"kind\": \"colour\",\n  \"bytes\": 3750,\n"
           "  \"complete\": true,\n  \"pjl\": [\"SET PAPER=A4\", \"SET HOLDKEY=****\", "
           "\"ENTER LANGUAGE=PWGRASTER\"],\n  \"pcl\": [],\n  \"trailer\": [],\n  \"cancelFill\": "
           "null,\n  \"pages\": [\n",
           "{\"page\": 1, \"copy\": 1, \"offset\": 89, \"width\": 600, \"height\": 300, "
           "\"xDpi\": 600, \"yDpi\": 600, \"colorSpace\": \"sRGB 24-bit\", \"wireBytes\": 1838, "
           "\"rawBytes\": 540000, \"compressionRatio\": 293.8, \"blankRows\": 300, "
           "\"repeatRows\": 298, \"encodedLines\": 2},\n",
           "\"colorSpace\": \"sGray 8-bit\"",
           "\"blankRows\": 0, \"repeatRows\": 2, \"encodedLines\": 1}\n  ]\n}\n",
       }) {
    EXPECT_NE(std::string::npos, json.find(part)) << part << "\n" << json;
  }
  EXPECT_EQ("\"\\u0001\\t\\r\\n\\\\\"", qvinspect::jsonString("\x01\t\r\n\\"));

  Bytes cut = qvtest::monoJob();
  cut.resize(cut.size() - 20);
  const qvinspect::JobSummary damaged = summarised(cut, JobKind::kMono, -1);
  const std::string text = qvinspect::textReport("j", damaged);
  EXPECT_NE(std::string::npos, text.find("mono job, 167 bytes, 1 page before the damage")) << text;
  EXPECT_NE(std::string::npos, text.find("\nDamaged: offset 167: ")) << text;
  EXPECT_NE(std::string::npos, qvinspect::jsonReport("j", damaged)
                                   .find("\"complete\": false,\n  \"error\": {\"offset\": 167, "
                                         "\"page\": 0, \"block\": 0, \"row\": -1, \"message\": "));
}

// Reads a PNG as 8-bit gray or RGB; with the pHYs chunk's x density.
Bytes readPng(const std::string& path, bool rgb, png_uint_32& width, png_uint_32& height,
              std::uint32_t& xPerMetre) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Bytes pixels;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return pixels;
  image.format = rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  pixels.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) pixels.clear();
  width = image.width;
  height = image.height;
  const std::string file = qvtest::readFile(path);
  const std::size_t at = file.find("pHYs") + 4;
  xPerMetre = 0;
  for (std::size_t i = 0; i < 4; ++i)
    xPerMetre = xPerMetre << 8 | static_cast<std::uint8_t>(file.at(at + i));
  return pixels;
}

struct Cli {
  int status;
  std::string out, err;
};
Cli runCli(std::vector<std::string> args, const Bytes& input = {}) {
  std::vector<char*> argv{const_cast<char*>("qvinspect")};
  for (std::string& arg : args) argv.push_back(arg.data());
  qv::UniqueFile in(std::tmpfile()), out(std::tmpfile()), err(std::tmpfile());
  if (!input.empty()) std::fwrite(input.data(), 1, input.size(), in.get());
  std::rewind(in.get());
  Cli cli{};
  cli.status = qvinspect::runQvinspect(static_cast<int>(argv.size()), argv.data(), in.get(),
                                       out.get(), err.get());
  for (auto [file, text] : {std::pair{out.get(), &cli.out}, {err.get(), &cli.err}}) {
    std::rewind(file);
    for (int ch = std::fgetc(file); ch != EOF; ch = std::fgetc(file))
      text->push_back(static_cast<char>(ch));
  }
  return cli;
}

// The previews of `job` (on standard input) that `option` writes into `dir`.
std::vector<std::string> previews(const Bytes& job, std::string option, const std::string& dir) {
  const Cli cli = runCli({option, dir}, job);
  EXPECT_EQ(0, cli.status) << cli.err;
  std::vector<std::string> files;
  for (const std::string& name : qvtest::listDirectory(dir)) {
    if (name.rfind("stdin-", 0) == 0 && name.ends_with(".png") == (option == "--png")) {
      files.push_back(dir + "/" + name);
    }
  }
  return files;
}

// The worked 300-dpi page on A4 (2480 x 3507 dots): the filter cut 50 rows
// and 6 bytes, so the printed rows sit at rows 50 and 51 from byte 6 on.
// A 2 x 2 colour page and the 6 x 3 gray page keep their pixels.
TEST(Preview, PagesOnTheirPaperAndPixelsAsSent) {
  qvtest::ScopedTempDir dir;
  // A name planted by another user: a link to a file of theirs, writable by all.
  qvtest::writeFile(dir.file("theirs"), "theirs");
  ASSERT_EQ(0, ::chmod(dir.file("theirs").c_str(), 0666));
  ASSERT_EQ(0, ::link(dir.file("theirs").c_str(), dir.file("stdin-page-001.pbm").c_str()));
  const auto pbm = previews(qvtest::monoJob(), "--pnm", dir.path());
  ASSERT_EQ(std::vector<std::string>{dir.file("stdin-page-001.pbm")}, pbm);
  EXPECT_EQ("theirs", qvtest::readFile(dir.file("theirs")));
  struct stat made {};
  EXPECT_EQ(0, ::stat(pbm[0].c_str(), &made));
  EXPECT_EQ(0600u, made.st_mode & 07777);
  EXPECT_EQ(2u, qvtest::listDirectory(dir.path()).size()) << "no scratch file left";
  std::string canvas = "P4\n2480 3507\n" + std::string(310 * 3507, '\0');
  for (const std::size_t row : {50, 51})
    canvas.replace(13 + row * 310 + 6, 8, "\0\0\xFF\xFF\xFF\xFF\x12\x34"sv);
  EXPECT_TRUE(canvas == qvtest::readFile(pbm[0]));
  png_uint_32 width = 0, height = 0;
  std::uint32_t perMetre = 0;
  const auto png = previews(qvtest::monoJob(), "--png", dir.path());
  const Bytes paper = readPng(png.at(0), false, width, height, perMetre);
  EXPECT_EQ(2480u * 3507u, paper.size());
  EXPECT_EQ(2480u, width);
  EXPECT_EQ(11811u, perMetre) << "300 dpi";
  EXPECT_EQ(Bytes({255, 0, 0}), Bytes(&paper[50 * 2480 + 63], &paper[50 * 2480 + 66]));
  EXPECT_EQ(Bytes({255, 255, 255, 0}), Bytes(&paper[51 * 2480 + 96], &paper[51 * 2480 + 100]));

  Bytes pages = append(qvtest::pwgHeader(2, 2, true), {0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 9, 8, 7});
  const Bytes job = qvtest::colourJobOf(append(pages, qvtest::grayPage()));
  const Bytes rgb = {1, 2, 3, 4, 5, 6, 9, 8, 7, 9, 8, 7};
  qvtest::ScopedTempDir colour;
  const Bytes grey = {1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4};
  const auto pnm = previews(job, "--pnm", colour.path());
  ASSERT_EQ(2u, pnm.size());
  EXPECT_EQ("P6\n2 2\n255\n" + str(rgb), qvtest::readFile(pnm[0]));
  EXPECT_EQ("P5\n6 3\n255\n" + str(grey), qvtest::readFile(pnm[1]));
  const auto pngs = previews(job, "--png", colour.path());
  EXPECT_EQ(rgb, readPng(pngs.at(0), true, width, height, perMetre));
  EXPECT_EQ(23622u, perMetre) << "600 dpi";
  EXPECT_EQ(grey, readPng(pngs.at(1), false, width, height, perMetre));
}

// A page as large as a printer takes (7200 x 32767 white pixels, 707 MB)
// is 29 KB of job and costs the report and the check one line of memory.
// One pixel more is damage that --pnm does not draw.
TEST(Hostile, LargestPageCostsALineLargerIsNotDrawn) {
  const Bytes job = qvtest::colourJobOf(qvtest::whiteColourPage(7200, 32767));
  const pid_t child = ::fork();
  if (child == 0) {
    qvinspect::JobSummary summary;
    qvdecode::DecodeError violation;
    const bool ok = qvinspect::summariseJob(job, JobKind::kColour, summary) == 0 &&
                    summary.pages.at(0).blankRows == 32767 &&
                    qvinspect::checkJob(job, JobKind::kColour, violation) == 0;
    ::_exit(ok ? 0 : 1);
  }
  int status = -1;
  rusage usage{};
  ASSERT_EQ(child, ::wait4(child, &status, 0, &usage));
  EXPECT_EQ(0, status);
  EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "KiB at most";

  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("big.prn"),
                    str(qvtest::colourJobOf(qvtest::whiteColourPage(7201, 32767))));
  const Cli cli = runCli({"--pnm", dir.path(), dir.file("big.prn")});
  EXPECT_EQ(1, cli.status);
  EXPECT_NE(std::string::npos, cli.err.find("page of 7201 x 32767 pixels is larger")) << cli.err;
  EXPECT_EQ(1u, qvtest::listDirectory(dir.path()).size());
}

// The fill of a cancelled job is named where it stands.
TEST(Check, CancelledJobNamesItsFill) {
  Bytes raster = append(qvtest::text("RaS2"), qvtest::grayPage());
  raster.resize(raster.size() + qvdecode::kCancelFillBytes, 0);
  const Bytes job = qvtest::colourJob(append(raster, qvtest::grayPage()));
  const std::string named =
      "cancelled job: 5768-byte fill at offset " + std::to_string(kPage1 + 1804);
  qvinspect::JobSummary summary;
  ASSERT_EQ(0, qvinspect::summariseJob(job, JobKind::kColour, summary));
  EXPECT_EQ(2u, summary.pages.size());
  EXPECT_NE(std::string::npos, qvinspect::textReport("c", summary).find("\n" + named + "\n"));
  EXPECT_NE(std::string::npos, qvinspect::jsonReport("c", summary).find("\"cancelFill\": 1893,"));
  EXPECT_EQ("<stdin>: OK: colour job, every page readable\n<stdin>: " + named + "\n",
            runCli({"--check"}, job).out);
}

TEST(QvinspectCli, StatusAndMessagePerInput) {
  qvtest::ScopedTempDir dir;
  const std::string good = dir.file("a.mono.prn"), cut = dir.file("cut.prn"), other = dir.file("x");
  qvtest::writeFile(good, str(qvtest::monoJob()));
  qvtest::writeFile(cut, str(qvtest::monoJob()).substr(0, 167));
  qvtest::writeFile(other, "Dear printer,\n");
  const struct {
    std::vector<std::string> args;
    Bytes input;
    int status;
    std::string err, out;  // starts of stderr and stdout
  } cases[] = {
      {{good}, {}, 0, "", good + ": mono job, 187 bytes, 1 page\n"},
      {{"--json", good}, {}, 0, "", "{\n  \"file\": " + qvinspect::jsonString(good)},
      {{"--check"}, qvtest::monoJob(), 0, "", "<stdin>: OK: mono job, every page readable\n"},
      {{"--check", "-"}, qvtest::colourJob({}), 0, "", "<stdin>: OK: colour job"},
      {{"--check", "--png", dir.path(), good}, {}, 0, "", good + ": OK: mono job, 1 pages"},
      {{cut}, {}, 1, "qvinspect: " + cut + ": damaged or truncated job: offset 167", cut},
      {{"--check", cut}, {}, 1, cut + ": offset 167: ", ""},
      {{other}, {}, 1, "qvinspect: " + other + ": not a QV job: it does not start with the", ""},
      {{}, qvtest::text("RaS2PwgRaster"), 1, "not a QV job: a bare PWG Raster stream", ""},
      {{}, qvtest::text("\x1b%-12345X@PJL\n@PJL SET RES"), 1, "LANGUAGE\" line (truncated?)", ""},
      {{}, append(qvtest::text("\x1b%-12345X"), std::string(1 << 17, 'x')), 1, "first 64 KiB", ""},
      {{}, qvtest::text("\x1b%-12345X@PJL\n@PJL ENTER LANGUAGE = X\n"), 1, "language \" = X\"", ""},
      {{}, {}, 1, "qvinspect: <stdin>: not a QV job: the input is empty", ""},
      {{dir.file("none")}, {}, 3, "qvinspect: cannot read " + dir.file("none") + ": No such", ""},
      {{dir.path()}, {}, 3, "qvinspect: cannot read " + dir.path(), ""},
      {{"--colour"}, {}, 2, "qvinspect: unknown option --colour\nusage: qvinspect", ""},
      {{"--png"}, {}, 2, "qvinspect: --png needs a directory\nusage:", ""},
      {{"--png", "a", "--pnm", "b"}, {}, 2, "qvinspect: give only one of --png and --pnm", ""},
      {{"--help"}, {}, 2, "usage: qvinspect [--json] [--check]", ""},
      {{good, good}, {}, 2, "qvinspect: one job at a time", ""},
      {{"--pnm", dir.file("no/such"), good},
       {},
       4,
       "qvinspect: cannot create " + dir.file("no/such"),
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err + c.out);
    const Cli r = runCli(c.args, c.input);
    EXPECT_EQ(c.status, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
    EXPECT_EQ(0u, r.out.rfind(c.out, 0)) << r.out;
  }
  EXPECT_EQ(0u, qvtest::readFile(dir.file("a.mono-page-001.png")).rfind("\x89PNG", 0));
}

}  // namespace
