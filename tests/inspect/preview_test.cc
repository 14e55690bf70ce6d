// preview_test.cc - preview files read back (PNG through libpng, PNM by
// hand) and compared with the pages they show.
#include "inspect/preview.h"

#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <string>

#include "tests/decode/hand_jobs.h"
#include "tests/support/run_program.h"

namespace {

using qvinspect::JobKind;
using qvinspect::PreviewFormat;
using qvtest::Bytes;

struct PngFile {
  bool ok = false;
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  png_uint_32 xPpm = 0, yPpm = 0;
  std::size_t rowBytes = 0;
  Bytes data;  // rows as stored, no transformations
};

PngFile readPng(const std::string& path) {
  PngFile result;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return result;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    result.ok = false;
    return result;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  result.width = png_get_image_width(png, info);
  result.height = png_get_image_height(png, info);
  result.bitDepth = png_get_bit_depth(png, info);
  result.colorType = png_get_color_type(png, info);
  int unit = 0;
  png_get_pHYs(png, info, &result.xPpm, &result.yPpm, &unit);
  result.rowBytes = png_get_rowbytes(png, info);
  result.data.resize(result.rowBytes * result.height);
  for (png_uint_32 y = 0; y < result.height; ++y) {
    png_read_row(png, result.data.data() + y * result.rowBytes, nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  result.ok = true;
  return result;
}

// Runs the summary with a preview writer into `dir`; returns the files.
std::vector<std::string> writePreviews(const Bytes& job, JobKind kind, PreviewFormat format,
                                       const std::string& dir) {
  qvinspect::PreviewWriter writer(dir, "job", format);
  qvinspect::JobSummary summary;
  EXPECT_EQ(0, qvinspect::summariseJob(
                   job, kind, summary,
                   [&](const qvinspect::PageSummary& page, const qvdecode::MonoPage* mono,
                       const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg) {
                     return writer.write(page, mono, monoJob, pwg);
                   }))
      << writer.error();
  return writer.written();
}

// The worked 300-dpi page on A4 (992 x 1403 / 120 inch = 2480 x 3507
// dots): the strips were 50 rows and 6 bytes, so the two printed rows sit
// at rows 50 and 51 from byte 6 on.
TEST(Preview, MonoPageSitsOnItsPaper) {
  qvtest::ScopedTempDir dir;
  const auto pbm =
      writePreviews(qvtest::workedMonoJob(), JobKind::kMono, PreviewFormat::kPnm, dir.path());
  ASSERT_EQ(1u, pbm.size());
  EXPECT_EQ(dir.file("job-page-001.pbm"), pbm[0]);
  const std::string bytes = qvtest::readFile(pbm[0]);
  const std::string header = "P4\n2480 3507\n";
  ASSERT_EQ(header, bytes.substr(0, header.size()));
  ASSERT_EQ(header.size() + 310u * 3507u, bytes.size());
  const Bytes printed = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34};
  std::size_t setBytes = 0;
  for (std::size_t y = 0; y < 3507; ++y) {
    for (std::size_t x = 0; x < 310; ++x) {
      const auto byte = static_cast<std::uint8_t>(bytes[header.size() + y * 310 + x]);
      const bool inRow = (y == 50 || y == 51) && x >= 6 && x < 14;
      if (inRow) {
        EXPECT_EQ(printed[x - 6], byte) << y << "," << x;
      } else if (byte != 0) {
        ++setBytes;
      }
    }
  }
  EXPECT_EQ(0u, setBytes) << "nothing outside the printed rows";

  const auto png =
      writePreviews(qvtest::workedMonoJob(), JobKind::kMono, PreviewFormat::kPng, dir.path());
  const PngFile image = readPng(png.at(0));
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(2480u, image.width);
  EXPECT_EQ(3507u, image.height);
  EXPECT_EQ(1, image.bitDepth);
  EXPECT_EQ(PNG_COLOR_TYPE_GRAY, image.colorType);
  EXPECT_EQ(11811u, image.xPpm) << "300 dpi in pixels per metre";
  EXPECT_EQ(11811u, image.yPpm);
  EXPECT_EQ(0xFF, image.data[0]) << "white paper";
  EXPECT_EQ(0x00, image.data[50 * image.rowBytes + 8]) << "black bytes of row 50";
  EXPECT_EQ(0xED, image.data[51 * image.rowBytes + 12]) << "0x12 inverted";
}

// A 2 x 2 colour page and the 6 x 3 gray page.
TEST(Preview, ColourAndGrayPagesKeepTheirPixels) {
  Bytes pages = qvtest::pwgHeader(2, 2, true);
  qvtest::append(pages, {0, 255, 1, 2, 3, 4, 5, 6, 0, 1, 9, 8, 7});
  qvtest::append(pages, qvtest::grayPage());
  const Bytes job = qvtest::colourJob(pages);
  const Bytes rgb = {1, 2, 3, 4, 5, 6, 9, 8, 7, 9, 8, 7};
  const Bytes gray = {1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4, 1, 2, 3, 3, 3, 4};
  qvtest::ScopedTempDir dir;

  const auto pnm = writePreviews(job, JobKind::kColour, PreviewFormat::kPnm, dir.path());
  ASSERT_EQ(2u, pnm.size());
  EXPECT_EQ("P6\n2 2\n255\n" + std::string(rgb.begin(), rgb.end()), qvtest::readFile(pnm[0]));
  EXPECT_EQ("P5\n6 3\n255\n" + std::string(gray.begin(), gray.end()), qvtest::readFile(pnm[1]));

  const auto png = writePreviews(job, JobKind::kColour, PreviewFormat::kPng, dir.path());
  ASSERT_EQ(2u, png.size());
  const PngFile colour = readPng(png[0]);
  ASSERT_TRUE(colour.ok);
  EXPECT_EQ(PNG_COLOR_TYPE_RGB, colour.colorType);
  EXPECT_EQ(8, colour.bitDepth);
  EXPECT_EQ(rgb, colour.data);
  EXPECT_EQ(23622u, colour.xPpm) << "600 dpi in pixels per metre";
  const PngFile grayImage = readPng(png[1]);
  ASSERT_TRUE(grayImage.ok);
  EXPECT_EQ(PNG_COLOR_TYPE_GRAY, grayImage.colorType);
  EXPECT_EQ(gray, grayImage.data);
}

TEST(Preview, UnwritableDirectoryIsAnError) {
  qvinspect::PreviewWriter writer("/nonexistent-qv-dir", "job", PreviewFormat::kPng);
  qvinspect::JobSummary summary;
  EXPECT_EQ(-1, qvinspect::summariseJob(
                    qvtest::workedMonoJob(), JobKind::kMono, summary,
                    [&](const qvinspect::PageSummary& page, const qvdecode::MonoPage* mono,
                        const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg) {
                      return writer.write(page, mono, monoJob, pwg);
                    }));
  EXPECT_NE(std::string::npos, writer.error().find("cannot create /nonexistent-qv-dir/job-page"))
      << writer.error();
}

}  // namespace
