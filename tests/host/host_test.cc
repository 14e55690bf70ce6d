// host_test.cc - what both hosts share: the Netpbm reader of Ghostscript's pages and the texts
// that go into quoted PJL values.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "host/job_options.h"
#include "host/pnm_reader.h"

namespace {

using qv::host::PnmStatus;

// A stream read from a pipe: "P<kind> <w>x<h>/<maxval> <raster>|" per image, then how it ended.
std::string readStream(const std::string& bytes) {
  int fds[2];
  EXPECT_TRUE(::pipe(fds) == 0 &&
              ::write(fds[1], bytes.data(), bytes.size()) == ssize_t(bytes.size()));
  ::close(fds[1]);
  qv::host::PnmReader reader(fds[0]);
  std::string out, error;
  qv::host::PnmHeader h;
  PnmStatus status;
  while ((status = reader.readHeader(h, error)) == PnmStatus::kPage) {
    std::string raster(h.rowBytes() * static_cast<std::size_t>(h.height), '\0');
    std::size_t done = 0;
    for (long n = 1; done < raster.size() && n > 0; done += static_cast<std::size_t>(n))
      n = std::max(0L, reader.readSome(reinterpret_cast<std::uint8_t*>(raster.data()) + done,
                                       raster.size() - done));
    out += std::string("P") + h.kind + " " + std::to_string(h.width) + "x" +
           std::to_string(h.height) + "/" + std::to_string(h.maxval) + " " +
           raster.substr(0, done) + "|";
  }
  ::close(fds[0]);
  EXPECT_EQ(status == PnmStatus::kMalformed, !error.empty());
  return out + (status == PnmStatus::kEnd ? "end" : "malformed");
}

TEST(PnmReader, HeadersRasterBytesAndEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {"P4\n9 2\nabcd", "P4 9x2/1 abcd|end"},  // PBM rows padded to a byte
      {"P6  1\t1\r\n\v255\fxyz", "P6 1x1/255 xyz|end"},
      {"P6#a\n1#b\n1#c\n255\nxyz", "P6 1x1/255 xyz|end"},
      {"P5 3 1 255#x\nabc", "P5 3x1/255 abc|end"},  // a comment ends the header
      {"P5 2 1 256\nabcd", "P5 2x1/256 abcd|end"},  // 16-bit samples
      {"P4\n8 1\n1P4\n# p2\n8 1\n2P4 8 1 3", "P4 8x1/1 1|P4 8x1/1 2|P4 8x1/1 3|end"},
      {"P4 8 1\n1P4 8", "P4 8x1/1 1|malformed"},
  };
  for (const auto& [bytes, read] : cases) EXPECT_EQ(read, readStream(bytes)) << bytes;
  // The last one has no separator after maxval.
  for (const char* bytes :
       {"P7\n1 1\n255\n", "X6\n1 1\n255\n", "P6\n", "P6 a 1 255\n", "P6 1 -1 255\n", "P4 0 1\n",
        "P5 1 1 0\n", "P5 1 1 65536\n", "P4 99999999999 1\n", "P6 1 1 255"})
    EXPECT_EQ("malformed", readStream(bytes)) << bytes;
}

TEST(HostJobOptions, PjlTextEndsAtControlsAndWholeCharacters) {
  EXPECT_EQ("Report 'Q3'|ab", qv::host::pjlText("Report \"Q3\"\r\n@PJL RESET", 78) + "|" +
                                  qv::host::pjlText("ab\x1b%-12345X", 78));
  EXPECT_EQ("a|a\xc3\xa9", qv::host::pjlText("a\xc3\xa9", 2) + "|" +
                               qv::host::pjlText("a\xc3\xa9", 3));  // never half
}

}  // namespace
