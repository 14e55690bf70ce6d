// pbmproc_test.cc - the strict PPM header reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "colour/pbmproc.h"

namespace {

struct HeaderResult {
  long status;
  int next;  // the next byte of the stream after the call, EOF at the end
};

HeaderResult readHeader(const std::string& bytes) {
  std::string copy = bytes;
  std::FILE* in = fmemopen(copy.data(), copy.size() == 0 ? 1 : copy.size(), "rb");
  if (copy.empty()) std::fgetc(in);  // fmemopen needs a size; start at its end
  const long status = ReadPpmFileHeader(in);
  const int next = std::fgetc(in);
  std::fclose(in);
  return {status, next};
}

TEST(ReadPpmFileHeader, AcceptsOnlyTheStrictForm) {
  struct Case {
    const char* why;
    std::string input;
    long status;
    int next;
  };
  const std::string longToken(71, '1');
  const Case cases[] = {
      {"the usual header, stream left at the first pixel", "P6\n640 480\n255\nX", kPpmPage, 'X'},
      {"one blank per separator", "P6 4 3 255 X", kPpmPage, 'X'},
      {"comment line after the magic", "P6\n# made by a test\n640 480\n255\nX", kPpmPage, 'X'},
      {"empty line after the comment", "P6\n# c\n\n640 480\n255\nX", kPpmMalformed, '6'},
      {"two blanks between magic and width", "P6  640 480 255 X", kPpmMalformed, '6'},
      {"CR LF after the magic", "P6\r\n640 480\n255\nX", kPpmMalformed, '6'},
      {"gray PPM is not accepted", "P5\n640 480\n255\nX", kPpmMalformed, '6'},
      {"lower-case magic", "p6\n640 480\n255\nX", kPpmMalformed, '6'},
      {"end of input before any byte", "", kPpmEnd, EOF},
      {"one line feed after the last page", "\n", kPpmMalformed, EOF},
      {"end of input inside a header", "P6\n640 48", kPpmMalformed, EOF},
      {"pixel bytes where a header should be", "\xff\xff\xff", kPpmMalformed, EOF},
      {"a 70-character number still fits", "P6\n" + std::string(70, '1') + " 1\n255\nX", kPpmPage,
       'X'},
      {"a 71-character token is malformed", "P6\n" + longToken + " 1\n255\nX", kPpmMalformed, ' '},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const HeaderResult r = readHeader(c.input);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.next, r.next);
  }
}

TEST(ReadPpmFileHeader, ReadsConsecutivePages) {
  std::string bytes = "P6\n1 1\n255\nabcP6\n1 1\n255\ndef";
  std::FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  char pixel[3];
  ASSERT_EQ(kPpmPage, ReadPpmFileHeader(in));
  ASSERT_EQ(3u, std::fread(pixel, 1, 3, in));
  ASSERT_EQ(kPpmPage, ReadPpmFileHeader(in));
  ASSERT_EQ(3u, std::fread(pixel, 1, 3, in));
  EXPECT_EQ('d', pixel[0]);
  EXPECT_EQ(kPpmEnd, ReadPpmFileHeader(in));
  std::fclose(in);
}

}  // namespace
