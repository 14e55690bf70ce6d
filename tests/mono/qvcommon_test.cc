// qvcommon_test.cc - the settings file and the paper information file.
#include "mono/qvcommon.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/mono/mono_test_util.h"
#include "tests/support/run_program.h"

namespace {

// settings-file lines after "[QV]" | field | its value
TEST(GetRcFile, AppliesKeyLines) {
  using S = PrintSettings;
  const std::map<std::string, std::int32_t S::*> fields = {
      {"copies", &S::copies},         {"sleep", &S::sleep},           {"paper", &S::paperType},
      {"media", &S::media},           {"resolution", &S::resolution}, {"duplex", &S::duplex},
      {"duplexType", &S::duplexType}, {"tonerSave", &S::tonerSave},   {"bin", &S::outputBin}};
  for (const auto& row : monotest::tableRows(R"(
# copies 1 to 999, the number at the start; beyond 32 bits is out of range, not wrapped
Copies=5\nCopies=0 | copies | 5
Copies=5\nCopies=1000 | copies | 5
Copies=5\nCopies=abc | copies | 5
Copies=12abc | copies | 12
Copies=4294967298 | copies | 0
Sleep=30\nSleep=PrinterDefault | sleep | 0
Sleep=30\nSleep=100 | sleep | 30
# an unknown paper word resets the paper type, other words leave their field
PaperType=A4\nPaperType=a4 | paper | 0
Media=Recycled\nMedia=a4 | media | 10
 Paper Type = A 4\t | paper | 1
Resolution=600\r | resolution | 0
Resolution=300\nResolution=NULL | resolution | 1
resolution=300 | resolution | 0
Duplex=ON\nDuplex=None | duplex | 0
DuplexType=None | duplexType | 1
DuplexType=Short | duplexType | 2
TonerSaveMode=OFF | tonerSave | 1
OutputBin=Sorter5 | bin | 11
Copies=3=4 | copies | 3
Colour=Red\nCopies 7\nCopies=2 | copies | 2
\t# Copies=9 | copies | 0
# a line over 1023 characters goes on as the next line
LONG Copies=4 | copies | 4)")) {
    SCOPED_TRACE(row[0]);
    std::string text = row[0];
    if (text.starts_with("LONG ")) text = "#" + std::string(1022, 'x') + text.substr(5);
    PrintSettings settings = {};
    monotest::InputStream rc("[QV]\n" + text + "\n");
    ASSERT_EQ(0, getRcFile(rc.get(), &settings));
    EXPECT_EQ(std::stoi(row[2]), settings.*fields.at(row[1]));
  }
}

// file | result | section name
TEST(GetRcFile, SectionsAndRefusals) {
  for (const auto& row : monotest::tableRows(R"(
\t# printer\n\n   \n# more | 0 |
Copies=2\n[QV] | -1 |
[QV]\n[QV] | -1 | QV
[\nCopies=2 | -1 |
[]\nCopies=2 | 0 |
\r\n[QV] | -1 |
 | 0 |
[ QV-Mono ]extra | 0 | QV-Mono
[NoClose | 0 | NoClose
[nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn] | 0 | nnnnnnnnnnnnnnnnnnnnnnn)")) {
    SCOPED_TRACE(row[0]);
    PrintSettings settings = {}, zero = {};
    monotest::InputStream rc(row[0] + "\n");
    EXPECT_EQ(std::stoi(row[1]), getRcFile(rc.get(), &settings));
    EXPECT_EQ(row[2], settings.sectionName);
    // Comments alone leave every code 0 (tonerSave 0 is "ON").
    if (row[0].starts_with("\t#")) {
      EXPECT_EQ(0, std::memcmp(&zero, &settings, sizeof zero));
    }
  }
  PrintSettings settings = {};
  EXPECT_EQ(-1, getRcFile(nullptr, &settings));
  // A directory opens on Linux but every read fails: not an empty file.
  const qvtest::ScopedTempDir dir;
  const qv::UniqueFile directory(std::fopen(dir.path().c_str(), "r"));
  EXPECT_EQ(-1, getRcFile(directory.get(), &settings));
}

// paper file | paper code | result | width x height (-1: unchanged)
TEST(GetPaperInf, LooksUpThePaperByName) {
  for (const auto& row : monotest::tableRows(R"(
# names are prefixes: A4L matches A4; the first matching line wins
A4L\t6614\t4677\nA4\t4960\t7016 | 1 | 0 | 6614x4677
A4\t4960\t7016\nA4L\t6614\t4677 | 1 | 0 | 4960x7016
A4\t4960\t7016   \tx y | 1 | 0 | 4960x7016
A4\t 4960\t  7016 | 1 | 0 | 4960x7016
letter\t5100\t6600 | 2 | 1 | -1x-1
# a first match without its height is not found; no later line stands in
Letter\t5100 | 2 | 1 | -1x-1
A4\nA4L\t6614\t4677 | 1 | 1 | -1x-1
A4\t\t7016 | 1 | 0 | 0x7016
NULL\t10\t20 | 0 | 0 | 10x20
A4\t4960\t7016 | 37 | 1 | -1x-1
garbage\n\n#A4\nCUSTOM3\t3000\t4000 | 30 | 0 | 3000x4000
 | 1 | 1 | -1x-1)")) {
    SCOPED_TRACE(row[0]);
    monotest::InputStream file(row[0] + "\n");
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(std::stoi(row[2]), getPaperInf(file.get(), std::stoi(row[1]), width, height));
    EXPECT_EQ(row[3], std::to_string(width) + "x" + std::to_string(height));
  }
  std::int32_t width = -1, height = -1;
  EXPECT_EQ(-1, getPaperInf(nullptr, 1, width, height));
  // The shipped paper file gives a size for every paper name, A4 unshadowed.
  for (std::int32_t code = 1; code < QV_COMMAND_VALUE_PT_COUNT; ++code) {
    const qv::UniqueFile file(std::fopen(QV_SOURCE_DIR "/samples/mono/paperinf", "r"));
    EXPECT_EQ(0, getPaperInf(file.get(), code, width, height)) << QV_COMMAND_VALUE_PT[code];
    EXPECT_TRUE(width > 0 && height > 0);
    if (code == 1) {
      EXPECT_EQ(std::pair(4960, 7016), std::pair(width, height));
    }
  }
}

}  // namespace
