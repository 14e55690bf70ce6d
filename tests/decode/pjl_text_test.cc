// pjl_text_test.cc - PJL lines and values as the report reads them.
#include "decode/pjl_text.h"

#include <gtest/gtest.h>

#include <string>

#include "decode/decode_error.h"

namespace {

TEST(PjlText, SetValueReadsBothSpellings) {
  struct Case {
    const char* why;
    const char* line;
    const char* key;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"mono spacing", "@PJL SET RESOLUTION = 600", "RESOLUTION", true, "600"},
      {"colour spacing", "@PJL SET PAPER=A4", "PAPER", true, "A4"},
      {"a longer key is another key", "@PJL SET HOLDKEY=1234", "HOLD", false, ""},
      {"not a SET line", "@PJL JOB NAME=\"x\"", "JOB", false, ""},
      {"empty value", "@PJL SET JOBNAME=", "JOBNAME", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    bool found = !c.found;
    EXPECT_EQ(c.value, std::string(qvdecode::pjlSetValue(c.line, c.key, found)));
    EXPECT_EQ(c.found, found);
  }
}

TEST(PjlText, ErrorTextNamesWhatIsKnown) {
  qvdecode::DecodeError error;
  error.offset = 48213;
  error.message = "literal runs past the row";
  EXPECT_EQ("offset 48213: literal runs past the row", qvdecode::describeError(error));
  error.page = 2;
  error.block = 7;
  error.row = 96;
  EXPECT_EQ("offset 48213 (page 2, block 7, row 96): literal runs past the row",
            qvdecode::describeError(error));
}

}  // namespace
