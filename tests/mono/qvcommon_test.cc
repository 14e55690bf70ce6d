// qvcommon_test.cc - the settings file and the paper information file.
#include "mono/qvcommon.h"

#include <map>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

// settings file | result | field | its value
TEST(GetRcFile, KeyLinesSectionsAndRefusals) {
  using S = PrintSettings;
  const std::map<std::string, std::int32_t S::*> fields = {
      {"copies", &S::copies},         {"sleep", &S::sleep},           {"paper", &S::paperType},
      {"resolution", &S::resolution}, {"duplexType", &S::duplexType}, {"tonerSave", &S::tonerSave}};
  for (const auto& row : monotest::tableRows(R"(
# copies 1 to 999; an unknown paper word resets the type; a line over 1023 characters goes on
[QV]\nCopies=5\nCopies=0 | 0 | copies | 5
[QV]\nCopies=5\nCopies=1000 | 0 | copies | 5
[QV]\nCopies=12abc | 0 | copies | 12
[QV]\nCopies=4294967298 | 0 | copies | 0
[QV]\nSleep=30\nSleep=PrinterDefault | 0 | sleep | 0
[QV]\nSleep=30\nSleep=100 | 0 | sleep | 30
[QV]\nPaperType=A4\nPaperType=a4 | 0 | paper | 0
[QV]\n Paper Type = A 4\t | 0 | paper | 1
[QV]\nresolution=300 | 0 | resolution | 0
[QV]\nDuplexType=None | 0 | duplexType | 1
[QV]\nColour=Red\nCopies 7\nCopies=2 | 0 | copies | 2
[QV]\nLONG Copies=4 | 0 | copies | 4
# sections: one, before every key line; comments alone leave every code 0
\t# printer\n\n   \n# Copies=9 | 0 | tonerSave | 0
Copies=2\n[QV] | -1 | section |
[QV]\n[QV] | -1 | section | QV
[]\nCopies=2 | 0 | copies | 2
\r\n[QV] | -1 | section |
 | 0 | section |
[ QV-Mono ]extra | 0 | section | QV-Mono
[nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn] | 0 | section | nnnnnnnnnnnnnnnnnnnnnnn)")) {
    SCOPED_TRACE(row[0]);
    std::string text = row[0];
    if (const std::size_t at = text.find("LONG "); at != std::string::npos)
      text.replace(at, 5, "#" + std::string(1022, 'x'));
    PrintSettings settings = {};
    const qv::UniqueFile rc = monotest::fileWith(text + "\n");
    EXPECT_EQ(std::stoi(row[1]), getRcFile(rc.get(), &settings));
    EXPECT_EQ(row.size() > 3 ? row[3] : "", row[2] == "section"
                                                ? settings.sectionName
                                                : std::to_string(settings.*fields.at(row[2])));
  }
  // No file, or a directory (it opens on Linux, but every read fails).
  PrintSettings settings = {};
  const qvtest::ScopedTempDir dir;
  const qv::UniqueFile directory(std::fopen(dir.path().c_str(), "r"));
  EXPECT_EQ(-1, getRcFile(nullptr, &settings));
  EXPECT_EQ(-1, getRcFile(directory.get(), &settings));
}

// paper file | paper code | result | width x height (-1: unchanged)
TEST(GetPaperInf, LooksUpThePaperByName) {
  for (const auto& row : monotest::tableRows(R"(
# names are prefixes: A4L matches A4; the first matching line wins, with its height or not at all
A4L\t6614\t4677\nA4\t4960\t7016 | 1 | 0 | 6614x4677
A4\t4960\t7016\nA4L\t6614\t4677 | 1 | 0 | 4960x7016
A4\t 4960\t  7016 | 1 | 0 | 4960x7016
Letter\t5100 | 2 | 1 | -1x-1
A4\nA4L\t6614\t4677 | 1 | 1 | -1x-1
A4\t\t7016 | 1 | 0 | 0x7016
NULL\t10\t20 | 0 | 0 | 10x20
A4\t4960\t7016 | 37 | 1 | -1x-1
garbage\n\n#A4\nCUSTOM3\t3000\t4000 | 30 | 0 | 3000x4000
 | 1 | 1 | -1x-1)")) {
    SCOPED_TRACE(row[0]);
    const qv::UniqueFile file = monotest::fileWith(row[0] + "\n");
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(std::stoi(row[2]), getPaperInf(file.get(), std::stoi(row[1]), width, height));
    EXPECT_EQ(row[3], std::to_string(width) + "x" + std::to_string(height));
  }
  std::int32_t width = -1, height = -1;
  EXPECT_EQ(-1, getPaperInf(nullptr, 1, width, height));
  // The shipped paper file gives a size for every paper name, A4 unshadowed.
  for (std::int32_t code = QV_COMMAND_VALUE_PT_COUNT - 1; code > 0; --code) {
    const qv::UniqueFile file(std::fopen(QV_SOURCE_DIR "/samples/mono/paperinf", "r"));
    EXPECT_EQ(0, getPaperInf(file.get(), code, width, height)) << QV_COMMAND_VALUE_PT[code];
    EXPECT_TRUE(width > 0 && height > 0);
  }
  EXPECT_EQ(std::pair(4960, 7016), std::pair(width, height));
}

}  // namespace
