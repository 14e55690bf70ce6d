// settings_line_test.cc - the settings-file line reader both filters use.
#include "common/settings_line.h"

#include <gtest/gtest.h>

#include <string>

#include "common/unique_file.h"

TEST(SettingsLine, ReadEraseSplit) {
  // A line feed ends a line, a carriage return stays, a line longer than
  // the buffer arrives in pieces; end of file and bad arguments give null.
  const qv::UniqueFile file(std::tmpfile());
  std::fputs("a b\r\n\t=x = y\nlonger", file.get());
  std::rewind(file.get());
  char line[5];
  std::string pieces;
  while (qv::readSettingsLine(line, sizeof line, file.get()) != nullptr)
    pieces += std::string(qv::eraseBlanks(line)) + "|";
  EXPECT_EQ("ab\r||=x|=y|long|er|", pieces);  // 4 characters a read
  EXPECT_EQ(nullptr, qv::readSettingsLine(line, 1, file.get()));
  EXPECT_EQ(nullptr, qv::readSettingsLine(line, sizeof line, nullptr));

  // The first "=" splits; the value is cut to its buffer, always terminated.
  std::string_view key;
  char value[4] = "old";
  EXPECT_TRUE(qv::splitSetting("Copies=3=4", key, value, sizeof value));
  EXPECT_EQ("Copies", key);
  EXPECT_STREQ("3=4", value);
  EXPECT_TRUE(qv::splitSetting("k=12345", key, value, sizeof value));
  EXPECT_STREQ("123", value);
  EXPECT_FALSE(qv::splitSetting("Copies 7", key, value, sizeof value));
  EXPECT_STREQ("", value);
  EXPECT_TRUE(qv::splitSetting("=v", key, value, 0));
  EXPECT_EQ("", key);
}
