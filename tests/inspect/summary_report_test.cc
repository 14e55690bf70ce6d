// summary_report_test.cc - kind detection, the person's report and JSON on
// hand-written jobs.
#include <gtest/gtest.h>

#include <string>

#include "inspect/report.h"
#include "inspect/summary.h"
#include "tests/decode/hand_jobs.h"

namespace {

using qvinspect::JobKind;
using qvtest::append;
using qvtest::Bytes;

Bytes fromText(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(DetectJobKind, TellsTheTwoStreamsFromAnythingElse) {
  struct Case {
    const char* why;
    Bytes job;
    JobKind kind;
    const char* says;  // part of the reason for kUnknown
  };
  const Case cases[] = {
      {"mono job", qvtest::workedMonoJob(), JobKind::kMono, ""},
      {"colour job", qvtest::colourJob(qvtest::grayPage()), JobKind::kColour, ""},
      {"empty input", {}, JobKind::kUnknown, "empty"},
      {"bare PWG Raster", fromText("RaS2PwgRaster"), JobKind::kUnknown, "bare PWG"},
      {"PostScript", fromText("%!PS-Adobe-3.0\n"), JobKind::kUnknown, "universal exit"},
      {"PJL cut before its language", fromText("\x1b%-12345X@PJL\n@PJL SET RES"), JobKind::kUnknown,
       "truncated"},
      {"another language", fromText("\x1b%-12345X@PJL\n@PJL ENTER LANGUAGE = POSTSCRIPT\n"),
       JobKind::kUnknown, "POSTSCRIPT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::string why;
    EXPECT_EQ(c.kind, qvinspect::detectJobKind(c.job, why));
    EXPECT_NE(std::string::npos, why.find(c.says)) << why;
  }
}

TEST(Report, MaskedSettingHidesOnlyThePin) {
  EXPECT_EQ("SET HOLDKEY=****", qvinspect::maskedSetting("@PJL SET HOLDKEY=4711"));
  EXPECT_EQ("SET HOLDKEY=****", qvinspect::maskedSetting("@PJL SET HOLDKEY="));
  EXPECT_EQ("SET HOLDTYPE=PRIVATE", qvinspect::maskedSetting("@PJL SET HOLDTYPE=PRIVATE"));
  EXPECT_EQ("SET USERNAME=\"ann\"", qvinspect::maskedSetting("@PJL SET USERNAME=\"ann\""));
  EXPECT_EQ("", qvinspect::maskedSetting("@PJL"));
}

Bytes secureMonoJob() {
  Bytes job;
  append(job,
         "\x1b%-12345X@PJL\n@PJL SET HOLD=STORE\n@PJL SET HOLDKEY=4711\n"
         "@PJL SET RESOLUTION = 300\n@PJL ENTER LANGUAGE = PCL\n");
  append(job,
         "\x1b"
         "E\x1b&l4096a26a6d1E\x1b&u300D\x1b*t300R\x1b&l2X\x1b&l1S");
  append(job, qvtest::workedMonoPage());
  append(job, qvtest::kMonoTrailer);
  return job;
}

TEST(Report, MonoTextReport) {
  qvinspect::JobSummary summary;
  ASSERT_EQ(0, qvinspect::summariseJob(secureMonoJob(), JobKind::kMono, summary));
  EXPECT_EQ(
      "job.prn: mono job, 229 bytes, 1 page\n"
      "PJL settings:\n"
      "  SET HOLD=STORE\n"
      "  SET HOLDKEY=****\n"
      "  SET RESOLUTION = 300\n"
      "  ENTER LANGUAGE = PCL\n"
      "PCL set-up:\n"
      "  reset\n"
      "  page size code 4096\n"
      "  page size A4 (26)\n"
      "  6 lines per inch\n"
      "  top margin 1 line\n"
      "  unit of measure 300 dpi\n"
      "  raster resolution 300 dpi\n"
      "  copies 2\n"
      "  duplex, long edge\n"
      "Pages:\n"
      "  page 1: 64 x 3 pixels, 300 x 300 dpi, black 1-bit, 30 bytes on the wire (ratio 0.8:1), "
      "rows: 1 blank, 1 repeated, 1 method-9 (1 whole), 1 block\n"
      "Trailer:\n"
      "  EOJ NAME=\"Linux print job\"\n",
      qvinspect::textReport("job.prn", summary));
}

TEST(Report, ColourJsonReport) {
  // 300 white lines of 600 pixels: two encoded lines (repeat bytes 255, 43).
  Bytes page = qvtest::foldedWhiteColourPage();
  append(page, qvtest::grayPage());
  qvinspect::JobSummary summary;
  ASSERT_EQ(0, qvinspect::summariseJob(qvtest::colourJob(page), JobKind::kColour, summary));
  const std::string json = qvinspect::jsonReport("c \"1\".prn", summary);
  for (const char* part : {
           "\"file\": \"c \\\"1\\\".prn\"",
           "\"kind\": \"colour\"",
           "\"complete\": true",
           "\"SET PAPER=A4\"",
           "{\"page\": 1, \"copy\": 1, \"offset\": 404, \"width\": 600, \"height\": 300, "
           "\"xDpi\": 600, \"yDpi\": 600, \"colorSpace\": \"sRGB 24-bit\", \"wireBytes\": 1838, "
           "\"rawBytes\": 540000, \"compressionRatio\": 293.8, \"blankRows\": 300, "
           "\"repeatRows\": 298, \"encodedLines\": 2}",
           "\"colorSpace\": \"sGray 8-bit\"",
       }) {
    EXPECT_NE(std::string::npos, json.find(part)) << part << "\n" << json;
  }
}

TEST(Report, DamagedJobKeepsThePagesBefore) {
  Bytes job = qvtest::workedMonoJob();
  job.resize(job.size() - 20);
  qvinspect::JobSummary summary;
  EXPECT_EQ(-1, qvinspect::summariseJob(job, JobKind::kMono, summary));
  EXPECT_EQ(1u, summary.pages.size());
  const std::string text = qvinspect::textReport("j", summary);
  EXPECT_NE(std::string::npos, text.find("1 page before the damage")) << text;
  EXPECT_NE(std::string::npos, text.find("Damaged: offset ")) << text;
  EXPECT_NE(std::string::npos, qvinspect::jsonReport("j", summary).find("\"complete\": false"));
}

}  // namespace
