// QvError: the fixed message of every error number, exactly.
#include "colour/qverror.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(QvError, MessagesAndReturnedNumbers) {
  struct Case {
    unsigned int number;
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {1, "/etc/qv.rc", "Error: /etc/qv.rc :cannot open file !!\n"},
      {2, "-x", "Error: -x :invalid option !!\n"},
      {2, nullptr, "Error: invalid option !!\n"},
      {5, nullptr, "Error: invalid printer name at rc-file !!\n"},
      {6, "A4", "Error: A4 :invalid format found in paperinf !!\n"},
      {7, "A4", "Error: A4: paper info not found in paperinf !!\n"},  // no blank before ":"
      {10, nullptr, "Error: error occurred at print phase !!\n"},
      {0, nullptr, ""},
      {3, "x", ""},  // numbers without a message are silent
      {13, "A4", ""},
      {14, "A4", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.number, QvError(c.number, c.name));
    EXPECT_EQ(c.message, testing::internal::GetCapturedStderr());
  }
}

}  // namespace
