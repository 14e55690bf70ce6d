// inspect_test.cc - qvinspect in process: --check, reports, previews, hostile jobs, the CLI.
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
using qvtest::Bytes;
using qvtest::operator+;
namespace f = qvdecode::pwgfield;
constexpr std::size_t npos = std::string::npos;

std::string str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
Bytes replaced(const Bytes& good, std::string_view from, std::string_view to) {
  std::string s = str(good);
  const std::size_t at = s.find(from);
  EXPECT_NE(npos, at) << from;
  return qvtest::text(at == npos ? s : s.replace(at, from.size(), to));
}
Bytes mono(std::string_view a, std::string_view b) { return replaced(qvtest::monoJob(), a, b); }
// The gray page with one header field changed, or its lines replaced.
Bytes gray(std::size_t field, std::uint32_t value, const Bytes& lines = {}) {
  Bytes page = lines.empty() ? qvtest::grayPage() : qvtest::pwgHeader(6, 3, false) + lines;
  qvtest::putU32(page, field, value);
  return qvtest::colourJobOf(page);
}
Bytes lines(const Bytes& lines) { return gray(f::kWidth, 6, lines); }
Bytes cancelled(std::initializer_list<std::string_view> parts) {
  Bytes raster;
  for (const std::string_view part : parts) raster = raster + part;
  return qvtest::colourJob(raster);
}
// A 1 x 1 page of `bytes` bytes with some header fields changed.
Bytes colourOf(bool colour, std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields,
               std::uint32_t bytes) {
  Bytes header = qvtest::pwgHeader(1, 1, colour);
  for (const auto& [field, value] : fields) qvtest::putU32(header, field, value);
  qvtest::putU32(header, f::kBytesPerLine, bytes);
  return qvtest::colourJobOf(header + Bytes{0, 0} + Bytes(bytes, 7));
}

constexpr std::size_t kPage1 = 9 + qvtest::kColourPjl.size() + 4;  // colour page 1's header
Bytes cancelledJob() {  // a gray page, the fill, a gray page
  const std::string page = str(qvtest::grayPage());
  return cancelled({"RaS2", page, std::string(qvdecode::kCancelFillBytes, '\0'), page});
}
const std::string kFillLine =
    "cancelled job: 5768-byte fill at offset " + std::to_string(kPage1 + 1804);

TEST(Check, GoodJobsPassAndEachFaultIsNamed) {
  const Bytes worked = qvtest::workedMonoPage(), good = qvtest::monoJob(),
              colour = qvtest::colourJobOf(qvtest::grayPage());
  Bytes other = qvtest::monoReplay('2');
  other.insert(other.end() - 1, '0');  // "\x1b&l10S": another set-up
  const Bytes past = mono("13w\x00\x03\x03\x01\x00\x00\x82\xFF\x01\x12\x34\x00\xFF"sv,
                          "7w\x00\x01\x01\x78\xFF\x3C\x09"sv);  // a literal at 15 + 255 + 60
  const Bytes seven = {2, 255, 1, 2, 2, 3, 0, 4};
  const std::string fill(qvdecode::kCancelFillBytes, '\0'), page = str(qvtest::grayPage());
  const auto replay = [&](char copy, const Bytes& then) {
    return worked + qvtest::monoReplay(copy) + then;
  };
  const struct {
    Bytes job;
    const char* says;  // part of "offset N (page P...): message"
    std::size_t at = npos;
  } cases[] = {
      {qvtest::monoJob(replay('2', worked)), ""},
      {colour, ""},
      {mono("\x1b%-12345X@PJL\n", "@PJL\n"), ": expected the universal exit \"\\e%-12345X\""},
      {mono("13w", "14w"), "(page 1, block 1, row 2): block length 14 disagrees with its 3"},
      {mono("13w", "7w"), "row 0): the record ends inside the data of command 2 of 3: the"},
      {mono("13w\x00\x03"sv, "13w\x00\x81"sv), "(page 1, block 1): block row count 129 is"},
      {past, "literal of 1 bytes at position 330 runs past the end of the 312",
       str(past).find("7w") + 5},
      {mono("1030M\f", "1030M"), "(page 1, block 1, row 2): expected a form feed"},
      {mono("1030M\f", "1030M\f\r\n"), ": unexpected bytes after page 1; expected"},
      {Bytes(good.begin(), good.end() - 50), "the input ends without the trailer's universal"},
      {mono("\x1b&u300D", ""), ": the PCL set-up names no unit of measure", 66},
      {mono("\x1b*t300R", "\x1b*t1201R"), ": raster resolution 1201 dpi; expected 300"},
      {qvtest::monoJob(replay('2', {})), "sorted-copy replay 2 has 0 pages; the job has 1"},
      {qvtest::monoJob(replay('3', worked)), "sorted-copy replay numbered 3; expected 2"},
      {qvtest::monoJob(worked + other + worked), "sorted-copy replay 2 sends another PCL set-up"},
      {gray(f::kBytesPerLine, 7), "(page 1): BytesPerLine 7 disagrees", kPage1 + f::kBytesPerLine},
      {gray(f::kBitsPerPixel, 16), "BitsPerPixel 16 disagrees with BitsPerColor 8 x NumColors 1"},
      {gray(f::kNumColors, 3), "NumColors 3 disagrees with ColorSpace 18", kPage1 + f::kNumColors},
      {gray(f::kColorSpace, 99), "unknown ColorSpace 99"},
      {gray(f::kHwResolution + 4, 0), "(page 1): HWResolution 600 x 0; both must be set"},
      {lines({1, 255, 1, 2, 2, 3, 0, 4}), "(page 1, row 2): page ends after 2 lines; its Height"},
      {lines(seven + seven), "bytes after the page's 3 lines"},
      {lines({3, 255, 1, 2, 2, 3, 0, 4}), "repeat of 4 lines at line 0 runs past the page's"},
      {lines({2, 255, 1, 2, 5, 3}), "repeat run of 6 pixels at pixel 2 passes the end of the"},
      {replaced(colour, "RaS2", ""), "synchronisation word \"RaS2\""},
      {colour + "\n", "after the end of the job"},
      {colourOf(false, {{f::kBitsPerColor, 16}, {f::kBitsPerPixel, 16}}, 2),
       "(page 1): BitsPerColor 16; the printer takes 8"},
      {colourOf(true, {{f::kColorSpace, 6}, {f::kNumColors, 4}, {f::kBitsPerPixel, 32}}, 4),
       "ColorSpace 6; the printer takes sRGB (19)"},
      {qvtest::colourJobOf(qvtest::whiteColourPage(7201, 1)),
       "page of 7201 x 1 pixels is larger than the 7200 x 32767", kPage1 + f::kWidth},
      {qvtest::colourJobOf(qvtest::whiteColourPage(1, 32768)), "page of 1 x 32768 pixels is larger",
       kPage1 + f::kHeight},
      // A cancelled job: one zero fill between whole pages, nothing else.
      {cancelled({"RaS2", page, fill}), ""},
      {cancelled({"RaS2", page, fill, page}), ""},
      {cancelled({"RaS2", page, fill.substr(1), page}), "(page 1): bytes after"},
      {cancelled({"RaS2", page, fill, "\0"sv, page}), "(page 2): expected \"PwgRaster\""},
      {cancelled({fill, "RaS2", page, fill}), "(page 2): expected \"PwgRaster\""},
      {cancelled({"RaS2", page.substr(0, 1800), fill}), "(page 1): bytes after"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    const JobKind kind = str(c.job).find("PWGRASTER") != npos ? JobKind::kColour : JobKind::kMono;
    qvdecode::DecodeError violation;
    EXPECT_EQ(*c.says == 0 ? 0 : -1, qvinspect::checkJob(c.job, kind, violation));
    const std::string said = qvdecode::describeError(violation);
    EXPECT_TRUE(said.find(c.says) != npos && violation.offset <= c.job.size() &&
                (c.at == npos || c.at == violation.offset))
        << said;
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

  const Bytes colour = qvtest::colourJobOf(qvtest::whiteColourPage(600, 300) + qvtest::grayPage());
  const std::string json =
      qvinspect::jsonReport("c \"1\".prn", summarised(colour, JobKind::kColour));
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
    EXPECT_NE(npos, json.find(part)) << part << "\n" << json;
  }
  EXPECT_EQ("\"\\u0001\\t\\r\\n\\\\\"", qvinspect::jsonString("\x01\t\r\n\\"));
  // A page visitor that fails (a preview not written) stops the job.
  qvinspect::JobSummary stopped;
  for (const auto& [job, kind] :
       {std::pair{qvtest::monoJob(), JobKind::kMono}, {colour, JobKind::kColour}})
    EXPECT_EQ(-1, qvinspect::summariseJob(job, kind, stopped, [](auto&&...) { return 1; }));

  const Bytes good = qvtest::monoJob();
  const qvinspect::JobSummary damaged =
      summarised(Bytes(good.begin(), good.end() - 20), JobKind::kMono, -1);
  const std::string text = qvinspect::textReport("j", damaged);
  EXPECT_NE(npos, text.find("mono job, 167 bytes, 1 page before the damage")) << text;
  EXPECT_NE(npos, text.find("\nDamaged: offset 167: ")) << text;
  EXPECT_NE(npos, qvinspect::jsonReport("j", damaged)
                      .find("\"complete\": false,\n  \"error\": {\"offset\": 167, \"page\": 0, "
                            "\"block\": 0, \"row\": -1, \"message\": "));
  // The fill of a cancelled job is named where it stands.
  const qvinspect::JobSummary cut = summarised(cancelledJob(), JobKind::kColour);
  EXPECT_EQ(2u, cut.pages.size());
  EXPECT_NE(npos, qvinspect::textReport("c", cut).find("\n" + kFillLine + "\n"));
  EXPECT_NE(npos, qvinspect::jsonReport("c", cut).find("\"cancelFill\": 1893,"));
}

// A PNG as 8-bit gray or RGB, and its pHYs chunk's x density.
Bytes readPng(const std::string& path, bool rgb, std::uint32_t& xPerMetre) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Bytes pixels;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return pixels;
  image.format = rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  pixels.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) pixels.clear();
  const std::string file = qvtest::readFile(path);
  xPerMetre = 0;
  for (std::size_t i = file.find("pHYs") + 4, end = i + 4; i < end; ++i)
    xPerMetre = xPerMetre << 8 | static_cast<std::uint8_t>(file.at(i));
  return pixels;
}

qvtest::ProgramResult runCli(std::vector<std::string> args, const Bytes& input = {}) {
  std::vector<char*> argv{const_cast<char*>("qvinspect")};
  for (std::string& arg : args) argv.push_back(arg.data());
  qv::UniqueFile in(std::tmpfile()), out(std::tmpfile()), err(std::tmpfile());
  if (!input.empty()) std::fwrite(input.data(), 1, input.size(), in.get());
  std::rewind(in.get());
  qvtest::ProgramResult cli;
  cli.status =
      qvinspect::runQvinspect(int(argv.size()), argv.data(), in.get(), out.get(), err.get());
  for (auto [file, text] : {std::pair{out.get(), &cli.out}, {err.get(), &cli.err}}) {
    text->resize(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    text->resize(std::fread(text->data(), 1, text->size(), file));
  }
  return cli;
}

// The previews of `job` (on standard input) that `option` writes into `dir`.
std::vector<std::string> previews(const Bytes& job, std::string option, const std::string& dir) {
  EXPECT_EQ(0, runCli({option, dir}, job).status);
  std::vector<std::string> files;
  for (const std::string& name : qvtest::listDirectory(dir))
    if (name.rfind("stdin-", 0) == 0 && name.ends_with(".png") == (option == "--png"))
      files.push_back(dir + "/" + name);
  return files;
}

// A planted link gives way to our own file; the 300-dpi page's rows land at A4 rows 50 and 51.
TEST(Preview, OwnFilesAndPngPixels) {
  qvtest::ScopedTempDir dir;
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
  std::uint32_t perMetre = 0;
  const Bytes paper =
      readPng(previews(qvtest::monoJob(), "--png", dir.path()).at(0), false, perMetre);
  EXPECT_TRUE(paper.size() == 2480u * 3507u && perMetre == 11811u) << "300 dpi";
  EXPECT_EQ(Bytes({255, 0, 0}), Bytes(&paper[50 * 2480 + 63], &paper[50 * 2480 + 66]));
  EXPECT_EQ(Bytes({255, 255, 255, 0}), Bytes(&paper[51 * 2480 + 96], &paper[51 * 2480 + 100]));
  const Bytes job = qvtest::colourJobOf(qvtest::pwgHeader(2, 2, true) +
                                        Bytes{0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 9, 8, 7});
  qvtest::ScopedTempDir colour;
  EXPECT_EQ(Bytes({1, 2, 3, 4, 5, 6, 9, 8, 7, 9, 8, 7}),
            readPng(previews(job, "--png", colour.path()).at(0), true, perMetre));
  EXPECT_EQ(23622u, perMetre) << "600 dpi";
}

// The largest page (7200 x 32767, 707 MB white in 29 KB) costs report and check one line.
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
  EXPECT_TRUE(status == 0 && usage.ru_maxrss < 200 * 1024)
      << status << ", KiB: " << usage.ru_maxrss;
}

TEST(QvinspectCli, StatusAndMessagePerInput) {
  qvtest::ScopedTempDir dir;
  const std::string good = dir.file("a.mono.prn"), cut = dir.file("cut.prn"), other = dir.file("x");
  qvtest::writeFile(good, str(qvtest::monoJob()));
  qvtest::writeFile(cut, str(qvtest::monoJob()).substr(0, 167));
  qvtest::writeFile(other, "Dear printer,\n");
  qvtest::writeFile(dir.file("big.prn"),  // one pixel more than a printer takes: not drawn
                    str(qvtest::colourJobOf(qvtest::whiteColourPage(7201, 32767))));
  const std::string exit = std::string(qvdecode::kUniversalExit), none = dir.file("no/such");
  const std::string fillOk = "<stdin>: OK: colour job, every page readable\n<stdin>: " + kFillLine;
  // Arguments, standard input, status, the starts of stderr and stdout.
  const std::tuple<std::vector<std::string>, std::string, int, std::string, std::string> cases[] = {
      {{good}, "", 0, "", good + ": mono job, 187 bytes, 1 page\n"},
      {{"--check"}, str(qvtest::monoJob()), 0, "", "<stdin>: OK: mono job, every page readable\n"},
      {{"--check", "-"}, str(cancelledJob()), 0, "", fillOk + "\n"},
      {{"--check", "--png", dir.path(), good}, "", 0, "", good + ": OK: mono job, 1 pages"},
      {{cut}, "", 1, "qvinspect: " + cut + ": damaged or truncated job: offset 167", cut},
      {{"--check", cut}, "", 1, cut + ": offset 167: ", ""},
      {{other}, "", 1, "qvinspect: " + other + ": not a QV job: it does not start with the", ""},
      {{}, exit + "@PJL\n@PJL SET RES", 1, "LANGUAGE\" line (truncated?)", ""},
      {{}, exit + std::string(1 << 17, 'x'), 1, "first 64 KiB", ""},
      {{}, exit + "@PJL\n@PJL ENTER LANGUAGE = X\n", 1, "language \" = X\"", ""},
      {{}, "", 1, "qvinspect: <stdin>: not a QV job: the input is empty", ""},
      {{"--pnm", dir.path(), dir.file("big.prn")}, "", 1, "of 7201 x 32767 pixels is larger", ""},
      {{dir.file("none")}, "", 3, "qvinspect: cannot read " + dir.file("none") + ": No such", ""},
      {{"--colour"}, "", 2, "qvinspect: unknown option --colour\nusage: qvinspect", ""},
      {{"--png"}, "", 2, "qvinspect: --png needs a directory\nusage:", ""},
      {{"--png", "a", "--pnm", "b"}, "", 2, "qvinspect: give only one of --png and --pnm", ""},
      {{"--help"}, "", 2, "usage: qvinspect [--json] [--check]", ""},
      {{good, good}, "", 2, "qvinspect: one job at a time", ""},
      {{"--pnm", none, good}, "", 4, "qvinspect: cannot create " + none, ""},
  };
  for (const auto& [args, input, status, err, out] : cases) {
    SCOPED_TRACE(err + out);
    const auto r = runCli(args, qvtest::text(input));
    EXPECT_EQ(status, r.status) << r.err;
    EXPECT_NE(npos, r.err.find(err)) << r.err;
    EXPECT_EQ(0u, r.out.rfind(out, 0)) << r.out;
  }
  EXPECT_EQ(0u, qvtest::readFile(dir.file("a.mono-page-001.png")).rfind("\x89PNG", 0));
  EXPECT_EQ(5u, qvtest::listDirectory(dir.path()).size()) << "the four jobs and one PNG";
}

// A capture of a device that took several jobs on one connection: each job reported and
// checked by its place, with the capture's offsets; a job whose end is unknown ends the capture.
TEST(QvinspectCli, CaptureOfSeveralJobs) {
  const std::string one = str(qvtest::monoJob()),
                    gray = str(qvtest::colourJobOf(qvtest::grayPage()));
  const std::string lone = one.substr(0, one.find("@PJL EOJ"));  // the trailer's lone exit
  const std::string at2 = std::to_string(lone.size()),
                    at3 = std::to_string(lone.size() + gray.size());
  const std::string job2 = "<stdin>, job 2 of 3 at offset " + at2,
                    job3 = "<stdin>, job 3 of 3 at offset " + at3;
  const Bytes capture = qvtest::text(lone + gray + one);
  const auto report = runCli({}, capture);
  EXPECT_EQ(0, report.status);
  for (const std::string& part : {"<stdin>, job 1 of 3 at offset 0: mono job, " + at2 + " bytes",
                                  job2 + ": colour job, " + std::to_string(gray.size()) + " bytes",
                                  job3 + ": mono job, 187 bytes, 1 page\n"})
    EXPECT_NE(npos, report.out.find(part)) << part << "\n" << report.out;
  const auto check = runCli({"--check"}, capture);
  EXPECT_EQ(std::pair(0, "<stdin>, job 1 of 3 at offset 0: OK: mono job, every page readable\n" +
                             job2 + ": OK: colour job, every page readable\n" + job3 +
                             ": OK: mono job, every page readable\n"),
            std::pair(check.status, check.out));
  const std::string json = runCli({"--json"}, capture).out;
  EXPECT_TRUE(
      json.starts_with(
          "[\n{\n  \"file\": \"<stdin>\",\n  \"job\": 1, \"jobs\": 3, \"offset\": 0,\n") &&
      json.find("\n},\n{\n  \"file\": \"<stdin>\",\n  \"job\": 2, \"jobs\": 3, \"offset\": " + at2 +
                ",\n") != npos &&
      json.ends_with("]\n}\n]\n"))
      << json;
  // A broken rule in one job; damage; bytes after a job that start no job.
  const std::string bad = str(mono("\x1b*t300R", "\x1b*t1201R"));
  const auto checked = runCli({"--check"}, qvtest::text(one + bad + one));
  EXPECT_EQ(1, checked.status);
  EXPECT_EQ(
      "<stdin>, job 2 of 3 at offset 187: offset 253: raster resolution 1201 dpi; expected 300, "
      "600 or 1200\n",
      checked.err);
  EXPECT_NE(npos, checked.out.find("<stdin>, job 3 of 3 at offset 375: OK: mono job"))
      << checked.out;
  const auto cut = runCli({}, qvtest::text(one + one.substr(0, 167)));
  EXPECT_EQ(1, cut.status);
  EXPECT_EQ(
      0u,
      cut.err.find(
          "qvinspect: <stdin>, job 2 of 2 at offset 187: damaged or truncated job: offset 354: "))
      << cut.err;
  const auto junk =
      runCli({"--check"}, qvtest::text(one + std::string(qvdecode::kUniversalExit) + "junk"));
  EXPECT_EQ(1, junk.status);
  EXPECT_EQ(0u, junk.err.find("qvinspect: <stdin>, job 2 of 2 at offset 187: not a QV job: "))
      << junk.err;
  qvtest::ScopedTempDir dir;
  EXPECT_EQ(0, runCli({"--pnm", dir.path()}, capture).status);
  EXPECT_EQ(std::vector<std::string>({"stdin-job-001-page-001.pbm", "stdin-job-002-page-001.pgm",
                                      "stdin-job-003-page-001.pbm"}),
            qvtest::listDirectory(dir.path()));
}

// A report that cannot be written whole (a full disk, a closed output, a reader gone) fails.
TEST(QvinspectCli, ReportThatCannotBeWrittenFails) {
  qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("job.prn"), str(qvtest::monoJob()));
  std::string path = dir.file("job.prn");
  char* argv[] = {const_cast<char*>("qvinspect"), path.data()};
  qv::UniqueFile full(std::fopen("/dev/full", "w")), err(std::tmpfile());
  ASSERT_TRUE(full && err);
  EXPECT_EQ(qvinspect::kExitCannotWrite,
            qvinspect::runQvinspect(2, argv, stdin, full.get(), err.get()));
  for (const auto& [redirect, reason] :
       {std::pair{"exec >&-", "Bad file descriptor"},
        {"trap '' PIPE; exec 4> >(:); wait $!; exec >&4 4>&-", "Broken pipe"}}) {
    const auto r = qvtest::runProgram(
        {"/bin/bash",
         {"-c", std::string(redirect) + "; exec \"$0\" \"$@\"", QVINSPECT_PATH, "--check", path},
         {},
         {}});
    EXPECT_EQ(std::pair(4, std::string("qvinspect: cannot write the report: ") + reason + "\n"),
              std::pair(r.status, r.err))
        << redirect;
  }
}

}  // namespace
