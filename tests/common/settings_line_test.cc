// settings_line_test.cc - the settings-file line reader both filters use.
#include "common/settings_line.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

#include "common/unique_file.h"

TEST(SettingsLine, ReadEraseSplit) {
  // LF ends a line, CR stays, long lines come in pieces, EOF and bad arguments give null; the
  // first "=" splits and the value is cut to its buffer.
  const qv::UniqueFile file(std::tmpfile());
  std::fputs("a b\r\n\t=x = y\nlonger", file.get());
  std::rewind(file.get());
  char line[5], value[4] = "old";
  std::string pieces;
  while (qv::readSettingsLine(line, sizeof line, file.get()) != nullptr)
    pieces += std::string(qv::eraseBlanks(line)) + "|";
  EXPECT_EQ("ab\r||=x|=y|long|er|", pieces);
  EXPECT_TRUE(qv::readSettingsLine(line, 1, file.get()) == nullptr &&
              qv::readSettingsLine(line, sizeof line, nullptr) == nullptr);
  std::string_view key;
  EXPECT_TRUE(qv::splitSetting("Copies=3=4", key, value, sizeof value));
  EXPECT_EQ("Copies=3=4", std::string(key) + "=" + value);
  EXPECT_TRUE(qv::splitSetting("k=12345", key, value, sizeof value) && value == "123"s);
  EXPECT_TRUE(!qv::splitSetting("Copies 7", key, value, sizeof value) && value == ""s);
  EXPECT_TRUE(qv::splitSetting("=v", key, value, 0) && key.empty());
}
