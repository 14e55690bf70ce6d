// check_test.cc - qvinspect --check on corrupted copies of good jobs: one
// row per kind of damage, each naming the fault the printer would meet.
#include "inspect/check.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/decode/hand_jobs.h"

namespace {

using namespace std::string_view_literals;
using qvinspect::JobKind;
using qvtest::append;
using qvtest::Bytes;

Bytes replaced(const Bytes& good, std::string_view from, std::string_view to) {
  std::string text(good.begin(), good.end());
  const std::size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return Bytes(text.begin(), text.end());
}

Bytes mono(std::string_view from, std::string_view to) {
  return replaced(qvtest::workedMonoJob(), from, to);
}

Bytes sortedMono(bool replayWithPage) {
  Bytes job;
  append(job, "\x1b%-12345X@PJL\n@PJL SET COPY=1\n@PJL ENTER LANGUAGE = PCL\n");
  append(job,
         "\x1b"
         "E\x1b&u300D\x1b*t300R");
  append(job, qvtest::workedMonoPage());
  append(job, "\x1b%-12345X@PJL\n@PJL SET COPY=2\n@PJL ENTER LANGUAGE = PCL\n");
  append(job,
         "\x1b"
         "E\x1b&u300D\x1b*t300R");
  if (replayWithPage) append(job, qvtest::workedMonoPage());
  append(job, qvtest::kMonoTrailer);
  return job;
}

Bytes grayWith(std::size_t field, std::uint32_t value) {
  Bytes page = qvtest::grayPage();
  qvtest::putU32(page, field, value);
  return qvtest::colourJob(page);
}

Bytes cmykPage() {
  Bytes page = qvtest::pwgHeader(2, 1, true);
  qvtest::putU32(page, qvdecode::pwgfield::kColorSpace, 6);
  qvtest::putU32(page, qvdecode::pwgfield::kNumColors, 4);
  qvtest::putU32(page, qvdecode::pwgfield::kBitsPerPixel, 32);
  qvtest::putU32(page, qvdecode::pwgfield::kBytesPerLine, 8);
  append(page, {0, 1, 0, 0, 0, 0});
  return qvtest::colourJob(page);
}

Bytes colourLines(const Bytes& lines, std::string_view after = {}) {
  Bytes page = qvtest::pwgHeader(6, 3, false);
  append(page, lines);
  append(page, after);
  return qvtest::colourJob(page);
}

TEST(Check, GoodJobsPass) {
  qvdecode::DecodeError violation;
  EXPECT_EQ(0, qvinspect::checkJob(qvtest::workedMonoJob(), JobKind::kMono, violation))
      << violation.message;
  EXPECT_EQ(0, qvinspect::checkJob(sortedMono(true), JobKind::kMono, violation))
      << violation.message;
  EXPECT_EQ(0,
            qvinspect::checkJob(qvtest::colourJob(qvtest::grayPage()), JobKind::kColour, violation))
      << violation.message;
}

TEST(Check, CatchesEachKindOfDamage) {
  namespace f = qvdecode::pwgfield;
  const Bytes colourGood = qvtest::colourJob(qvtest::grayPage());
  const Bytes sevenLine = {2, 255, 1, 2, 2, 3, 0, 4};
  struct Case {
    const char* why;
    Bytes job;
    JobKind kind;
    const char* says;
    int page;
  };
  const Case cases[] = {
      {"unterminated PJL", mono("= PCL\n", "= PCL"), JobKind::kMono, "unterminated PJL", 0},
      {"no universal exit at the start", mono("\x1b%-12345X@PJL\n", "@PJL\n"), JobKind::kMono,
       "universal exit \"\\e%-12345X\" first", 0},
      {"no universal exit at the end", mono("\n\x1b%-12345X", "\n"), JobKind::kMono,
       "closing universal exit", 0},
      {"block length disagrees", mono("13w", "14w"), JobKind::kMono,
       "block length 14 disagrees with its 3 records", 1},
      {"record count disagrees", mono("13w\x00\x03"sv, "13w\x00\x04"sv), JobKind::kMono,
       "ends after 3 of its 4 records", 1},
      {"method-9 command past the row",
       mono("13w\x00\x03\x03\x01\x00\x00\x82\xFF\x01\x12\x34\x00\xFF"sv,
            "7w\x00\x01\x01\x78\xFF\x3C\x09"sv),
       JobKind::kMono, "runs past the end of the 312-byte row", 1},
      {"bytes before the trailer", mono("1030M\f", "1030M\f\r\n"), JobKind::kMono,
       "unexpected bytes after page 1", 0},
      {"no unit of measure", mono("\x1b&u300D", ""), JobKind::kMono, "no unit of measure", 0},
      {"replay without the job's page", sortedMono(false), JobKind::kMono,
       "replay 2 has 0 pages; the job has 1", 0},
      {"BytesPerLine disagrees", grayWith(f::kBytesPerLine, 7), JobKind::kColour,
       "BytesPerLine 7 disagrees with Width 6", 1},
      {"BitsPerPixel disagrees", grayWith(f::kBitsPerPixel, 16), JobKind::kColour,
       "BitsPerPixel 16 disagrees", 1},
      {"NumColors disagrees", grayWith(f::kNumColors, 3), JobKind::kColour,
       "NumColors 3 disagrees with ColorSpace 18", 1},
      {"ColorSpace the printer does not take", cmykPage(), JobKind::kColour,
       "ColorSpace 6; the printer takes sRGB (19) or sGray (18)", 1},
      {"no resolution", grayWith(f::kHwResolution, 0), JobKind::kColour, "HWResolution 0 x 600", 1},
      {"fewer lines than Height", colourLines({1, 255, 1, 2, 2, 3, 0, 4}), JobKind::kColour,
       "page ends after 2 lines; its Height is 3", 1},
      {"more lines than Height", colourLines(sevenLine, "\x00\xFF\x01\x02\x02\x03\x00\x04"sv),
       JobKind::kColour, "bytes after the page's 3 lines", 1},
      {"bytes before the colour trailer", colourLines(sevenLine, "\n"), JobKind::kColour,
       "bytes after the page's 3 lines", 1},
      {"no colour trailer", Bytes(colourGood.begin(), colourGood.end() - 19), JobKind::kColour,
       "trailer's universal exit", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    qvdecode::DecodeError violation;
    EXPECT_EQ(-1, qvinspect::checkJob(c.job, c.kind, violation));
    EXPECT_NE(std::string::npos, violation.message.find(c.says)) << violation.message;
    EXPECT_EQ(c.page, violation.page);
    EXPECT_LE(violation.offset, c.job.size());
  }
}

TEST(Check, ViolationOffsetsPointAtTheFault) {
  namespace f = qvdecode::pwgfield;
  qvdecode::DecodeError violation;
  ASSERT_EQ(-1, qvinspect::checkJob(grayWith(f::kNumColors, 3), JobKind::kColour, violation));
  EXPECT_EQ(qvtest::colourHeader().size() + 4 + f::kNumColors, violation.offset);

  const Bytes noUnit = mono("\x1b&u300D", "");
  ASSERT_EQ(-1, qvinspect::checkJob(noUnit, JobKind::kMono, violation));
  const std::string text(noUnit.begin(), noUnit.end());
  EXPECT_EQ(text.find("= PCL\n") + 6, violation.offset) << "the start of the PCL set-up";
}

}  // namespace
