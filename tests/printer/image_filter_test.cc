// image_filter_test.cc - the size a PNG or JPEG declares, read from its first bytes.
#include "printer/image_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace qvprinter {
namespace {

// The two-byte length of a JPEG segment of `body` bytes.
std::string segment(char code, const std::string& body) {
  const std::size_t length = body.size() + 2;
  return std::string{'\xff', code, char(length >> 8), char(length & 0xFF)} + body;
}
// SOF body: precision 8, 0x1234 lines of 0x5678 samples, 3 components (their specs left out).
const std::string kFrame = std::string("\x08\x12\x34\x56\x78\x03", 6);
const std::string kSoi = "\xff\xd8";
const std::string kPng = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xea\x60\0\0\x01\x02", 24);

TEST(ImageHeader, DeclaredSizeFromTheFirstBytes) {
  struct Case {
    const char* why;
    std::string head;
    ImageHeader status;
  };
  const Case cases[] = {
      {"PNG: IHDR follows the signature", kPng, ImageHeader::kFound},
      {"PNG cut inside IHDR", kPng.substr(0, 20), ImageHeader::kNeedMore},
      {"PNG whose first chunk is not IHDR", kPng.substr(0, 12) + "IDAT" + kPng.substr(16),
       ImageHeader::kMalformed},
      {"JPEG: APP0 and a comment before SOF0",
       kSoi + segment('\xe0', "JFIF") + segment('\xfe', "hi") + segment('\xc0', kFrame),
       ImageHeader::kFound},
      {"JPEG: fill bytes before a progressive SOF2", kSoi + "\xff\xff" + segment('\xc2', kFrame),
       ImageHeader::kFound},
      {"JPEG: DHT (C4) is not a frame header",
       kSoi + segment('\xc4', "tables") + segment('\xc1', kFrame), ImageHeader::kFound},
      {"JPEG whose EXIF segment runs past the bytes given",
       kSoi + segment('\xe1', std::string(9000, 'x')).substr(0, 8192), ImageHeader::kNeedMore},
      {"JPEG with a scan before any frame header", kSoi + segment('\xda', "scan"),
       ImageHeader::kMalformed},
      {"neither", "GIF89a and more bytes after it", ImageHeader::kMalformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::uint32_t width = 0, height = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.head.data());
    EXPECT_EQ(c.status, readImageSize({bytes, c.head.size()}, width, height));
    if (c.status != ImageHeader::kFound) continue;
    const bool png = c.head[0] != '\xff';
    EXPECT_EQ(png ? 60000u : 0x5678u, width);
    EXPECT_EQ(png ? 258u : 0x1234u, height);
  }
}

// The budget's edges: a side of 16384, 50 million pixels in all.
TEST(ImageHeader, PixelBudget) {
  EXPECT_EQ("", checkImageSize(16384, 3051));
  EXPECT_NE("", checkImageSize(16385, 1));
  EXPECT_NE("", checkImageSize(16384, 3052));
  EXPECT_NE("", checkImageSize(0, 100));
}

}  // namespace
}  // namespace qvprinter
