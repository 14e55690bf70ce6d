// pnm_reader_test.cc - the Netpbm header parser accepts what the format
// allows and refuses what it does not, on a stream of several images.
#include "cups/pnm_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

using qvcups::PnmHeader;
using qvcups::PnmReader;
using qvcups::PnmStatus;

// Feeds `bytes` through a pipe, as Ghostscript's output arrives.
struct PipeFeed {
  int fds[2] = {-1, -1};
  std::thread writer;
  explicit PipeFeed(std::string bytes) {
    EXPECT_EQ(0, ::pipe(fds));
    writer = std::thread([fd = fds[1], data = std::move(bytes)] {
      std::size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }
  ~PipeFeed() {
    ::close(fds[0]);
    writer.join();
  }
  int fd() const { return fds[0]; }
};

// Reads one header and the raster bytes after it.
PnmStatus readOne(PnmReader& reader, PnmHeader& header, std::string& raster) {
  std::string error;
  const PnmStatus status = reader.readHeader(header, error);
  raster.clear();
  if (status != PnmStatus::kPage) return status;
  std::string bytes(header.rowBytes() * static_cast<std::size_t>(header.height), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n =
        reader.readSome(reinterpret_cast<std::uint8_t*>(bytes.data()) + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  raster = bytes.substr(0, done);
  return status;
}

TEST(PnmReader, AcceptsEveryHeaderFormTheFormatAllows) {
  struct Case {
    const char* why;
    std::string header;
    char kind;
    long width, height, maxval;
  };
  const Case cases[] = {
      {"Ghostscript's PBM", "P4\n16 2\n", '4', 16, 2, 1},
      {"Ghostscript's PPM", "P6\n2 1\n255\n", '6', 2, 1, 255},
      {"blanks and tabs between tokens", "P6  2\t\t1   255 ", '6', 2, 1, 255},
      {"CR LF line ends", "P6\r\n2 1\r\n255\r", '6', 2, 1, 255},
      {"comment after the magic", "P4\n# made by gs\n16 2\n", '4', 16, 2, 1},
      {"comments between every token", "P6#a\n2#b\n1#c\n255\n", '6', 2, 1, 255},
      {"comment right after the last token ends the header", "P6 2 1 255#x\n", '6', 2, 1, 255},
      {"comment ended by CR", "P5\n#c\r3 1 255\n", '5', 3, 1, 255},
      {"vertical tab and form feed are white space", "P6\v2\f1\n255\n", '6', 2, 1, 255},
      {"16-bit samples", "P6 1 1 65535\n", '6', 1, 1, 65535},
      {"small maxval", "P5 3 1 15\n", '5', 3, 1, 15},
      {"plain PBM header", "P1 3 1\n", '1', 3, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    PnmHeader probe;
    probe.kind = c.kind;
    probe.width = c.width;
    probe.height = c.height;
    probe.maxval = c.maxval;
    const std::string raster(probe.rowBytes() * static_cast<std::size_t>(c.height), '\x5A');
    PipeFeed feed(c.header + raster);
    PnmReader reader(feed.fd());
    PnmHeader header;
    std::string got;
    ASSERT_EQ(PnmStatus::kPage, readOne(reader, header, got));
    EXPECT_EQ(c.kind, header.kind);
    EXPECT_EQ(c.width, header.width);
    EXPECT_EQ(c.height, header.height);
    EXPECT_EQ(c.maxval, header.maxval);
    EXPECT_EQ(raster, got) << "the header must end at exactly one white-space byte";
    EXPECT_EQ(PnmStatus::kEnd, readOne(reader, header, got));
  }
}

TEST(PnmReader, RefusesBrokenHeaders) {
  struct Case {
    const char* why;
    std::string bytes;
  };
  const Case cases[] = {
      {"not a Netpbm magic", "P7\n1 1\n255\n"},
      {"no P", "X6\n1 1\n255\n"},
      {"ends after the magic", "P6\n"},
      {"ends before maxval", "P6 1 1"},
      {"ends right after maxval, no separator", "P6 1 1 255"},
      {"letter where the width stands", "P6 a 1 255\n"},
      {"negative height", "P6 1 -1 255\n"},
      {"zero width", "P4 0 1\n"},
      {"maxval 0", "P5 1 1 0\n"},
      {"maxval above 65535", "P5 1 1 65536\n"},
      {"absurd width", "P4 99999999999 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    PipeFeed feed(c.bytes);
    PnmReader reader(feed.fd());
    PnmHeader header;
    std::string error;
    EXPECT_EQ(PnmStatus::kMalformed, reader.readHeader(header, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(PnmReader, ReadsImagesBackToBackAndEndsCleanly) {
  // Three pages as Ghostscript writes them, one with a comment, then the
  // end of the stream: every raster comes back whole and in order.
  const std::string page1 = std::string("P4\n8 2\n") + "\x01\x02";
  const std::string page2 = std::string("P4\n# page 2\n8 2\n") + "\x03\x04";
  const std::string page3 = std::string("P4 8 2 ") + "\x05\x06";
  PipeFeed feed(page1 + page2 + page3);
  PnmReader reader(feed.fd());
  PnmHeader header;
  std::string raster;
  const char* expected[] = {"\x01\x02", "\x03\x04", "\x05\x06"};
  for (const char* bytes : expected) {
    ASSERT_EQ(PnmStatus::kPage, readOne(reader, header, raster));
    EXPECT_EQ(std::string(bytes, 2), raster);
  }
  EXPECT_EQ(PnmStatus::kEnd, readOne(reader, header, raster));
}

TEST(PnmReader, RowBytesFollowKindAndDepth) {
  struct Case {
    const char* why;
    char kind;
    long width, maxval;
    std::size_t bytes;
  };
  const Case cases[] = {
      {"PBM pads each row to a byte", '4', 9, 1, 2},
      {"PBM of whole bytes", '4', 16, 1, 2},
      {"PGM 8-bit", '5', 10, 255, 10},
      {"PGM 16-bit", '5', 10, 256, 20},
      {"PPM 8-bit", '6', 10, 255, 30},
      {"PPM 16-bit", '6', 10, 65535, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    PnmHeader header;
    header.kind = c.kind;
    header.width = c.width;
    header.maxval = c.maxval;
    EXPECT_EQ(c.bytes, header.rowBytes());
  }
}

}  // namespace
