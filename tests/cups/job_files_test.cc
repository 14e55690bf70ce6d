// job_files_test.cc - the wrapper's own job files: Ghostscript's Netpbm
// stream as the page pump reads it, and the private directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "cups/pnm_reader.h"
#include "cups/private_dir.h"
#include "tests/support/run_program.h"

namespace {

using qvcups::PnmStatus;

// Reads a stream of images from a pipe (every case fits its buffer) into
// "P<kind> <w>x<h>/<maxval> <raster>" per image, or the status that ended it.
std::string readStream(const std::string& bytes) {
  int fds[2];
  EXPECT_EQ(0, ::pipe(fds));
  EXPECT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fds[1], bytes.data(), bytes.size()));
  ::close(fds[1]);
  qvcups::PnmReader reader(fds[0]);
  std::string out;
  for (;;) {
    qvcups::PnmHeader h;
    std::string error;
    const PnmStatus status = reader.readHeader(h, error);
    if (status != PnmStatus::kPage) {
      out += status == PnmStatus::kEnd ? "end" : "malformed";
      EXPECT_EQ(status == PnmStatus::kMalformed, !error.empty());
      break;
    }
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
  return out;
}

TEST(PnmReader, HeadersRasterBytesAndEnds) {
  struct Case {
    const char* why;
    std::string bytes, read;
  };
  const Case cases[] = {
      {"Ghostscript's PBM: rows padded to a byte", "P4\n9 2\nabcd", "P4 9x2/1 abcd|end"},
      {"Ghostscript's PPM", "P6\n2 1\n255\nrgbRGB", "P6 2x1/255 rgbRGB|end"},
      {"blanks, tabs, CR LF, VT and FF between tokens", "P6  1\t1\r\n\v255\fxyz",
       "P6 1x1/255 xyz|end"},
      {"comments between every token", "P6#a\n1#b\n1#c\n255\nxyz", "P6 1x1/255 xyz|end"},
      {"a comment after the last token ends the header", "P5 3 1 255#x\nabc", "P5 3x1/255 abc|end"},
      {"comment ended by CR", "P5\n#c\r3 1 255\nabc", "P5 3x1/255 abc|end"},
      {"16-bit samples are two bytes", "P5 2 1 256\nabcd", "P5 2x1/256 abcd|end"},
      {"16-bit RGB", "P6 1 1 65535\nabcdef", "P6 1x1/65535 abcdef|end"},
      {"plain PBM header", "P1 3 1\n", "P1 3x1/1 |end"},
      {"images back to back, whole and in order", "P4\n8 1\n1P4\n# p2\n8 1\n2P4 8 1 3",
       "P4 8x1/1 1|P4 8x1/1 2|P4 8x1/1 3|end"},
      {"not a Netpbm magic", "P7\n1 1\n255\n", "malformed"},
      {"no P", "X6\n1 1\n255\n", "malformed"},
      {"ends after the magic", "P6\n", "malformed"},
      {"ends right after maxval, no separator", "P6 1 1 255", "malformed"},
      {"letter where the width stands", "P6 a 1 255\n", "malformed"},
      {"negative height", "P6 1 -1 255\n", "malformed"},
      {"zero width", "P4 0 1\n", "malformed"},
      {"maxval 0", "P5 1 1 0\n", "malformed"},
      {"maxval above 65535", "P5 1 1 65536\n", "malformed"},
      {"absurd width", "P4 99999999999 1\n", "malformed"},
      {"a broken second image", "P4 8 1\n1P4 8", "P4 8x1/1 1|malformed"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.read, readStream(c.bytes)) << c.why;
}

TEST(PrivateDir, OwnerOnlyUnderTmpdirAndEverythingGoes) {
  qvtest::ScopedTempDir scratch;
  std::string path;
  for (const std::string& tmpdir : {scratch.path(), std::string()}) {
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    qvcups::PrivateDir dir;
    ASSERT_EQ(0, dir.create());
    path = dir.path();
    EXPECT_EQ(0u, path.rfind((tmpdir.empty() ? "/tmp" : tmpdir) + "/qvcups-", 0)) << path;
    struct stat info {};
    ASSERT_EQ(0, ::stat(path.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 07777);
    ASSERT_EQ(0, dir.writeFile("qvmono.rc", "[QV-M600]\n"));
    ASSERT_EQ(0, ::stat(dir.file("qvmono.rc").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    EXPECT_EQ("[QV-M600]\n", qvtest::readFile(dir.file("qvmono.rc")));
    EXPECT_NE(0, dir.writeFile("qvmono.rc", "again")) << "files are created exclusively";
  }
  ::unsetenv("TMPDIR");
  EXPECT_NE(0, ::access(path.c_str(), F_OK)) << "removed with its files";
  EXPECT_TRUE(qvtest::listDirectory(scratch.path()).empty());
}

}  // namespace
