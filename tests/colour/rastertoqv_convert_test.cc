// Settings conversion: from the settings file and the paper files to the job
// record. Failures and the command line are run against the binary in
// tests/e2e/colour_front_test.cc.
#include <gtest/gtest.h>

#include <string>

#include "colour/rastertoqv.h"
#include "tests/support/colour_printer.h"

namespace {

// Runs PrepareLPRngPrint on the settings lines of a printer of the test's own.
PjpInfo prepare(const colourtest::TestPrinter& printer, const std::string& settings) {
  printer.writeSettings(settings);
  const std::string rc = printer.rcPath();
  const std::string pi = printer.piPath();
  PjpInfo job{};
  job.pszRcFile = rc.c_str();
  job.pszPaperInf = pi.c_str();
  ResetRcInfo();
  EXPECT_EQ(0, PrepareLPRngPrint(&job));
  ResetRcInfo();
  job.pszRcFile = job.pszPaperInf = nullptr;
  return job;
}

TEST(ConvertRc2Pjp, DefaultsAndGeometry) {
  colourtest::TestPrinter printer(10, 4);
  const PjpInfo job = prepare(printer, "");
  EXPECT_EQ(2, job.nColorMode) << "Auto";
  EXPECT_EQ(1, job.nCopyCount) << "Copies not mentioned";
  EXPECT_EQ(10, job.nWidth);
  EXPECT_EQ(4, job.nHeight);
  EXPECT_EQ(30u, job.nBytesPerLine) << "three bytes per pixel";
  EXPECT_EQ(595, job.nPaperWidth);
  EXPECT_EQ(842, job.nPaperLength);
}

// Every selection gives the inner value of its item, not the item's number.
TEST(ConvertRc2Pjp, EverySettingReachesItsField) {
  colourtest::TestPrinter printer;
  const PjpInfo job =
      prepare(printer,
              "MediaType=Glossy\nPageSize=Legal\nInputSlot=Manual\nQVResolution=Normal\nCopies=3\n"
              "Collate=ON\nQVMonoColor=Mono\nQVColorMatching=Vivid\nQVGray=ON\n"
              "QVEnhanceBlkPrt=ON\nTonerSaveMode=ON\nQVImproveOutput=QVFixIntensity\n"
              "Brightness=-5\nContrast=6\nRedKey=7\nGreenKey=-8\nBlueKey=9\nSaturation=10\n"
              "QVDuplex=DuplexNoTumble\n");
  const int fields[][2] = {
      {12, job.wMediaType},     {5, job.wPageSize},      {7, job.wInputSlot},
      {1, job.wResolution},     {3, job.nCopyCount},     {1, job.nCollate},
      {0, job.nColorMode},      {2, job.wColorMatching}, {1, job.wGray},
      {1, job.wEnhanceBlack},   {1, job.wTonerSave},     {2, job.wImproveOutput},
      {-5, job.nBrightness},    {6, job.nContrast},      {7, job.nRedKey},
      {-8, job.nGreenKey},      {9, job.nBlueKey},       {2, job.nDuplex},
      {12, job.nWidth},         {5, job.nHeight},        {612, job.nPaperWidth},
      {1008, job.nPaperLength},
  };
  for (std::size_t i = 0; i < std::size(fields); ++i)
    EXPECT_EQ(fields[i][0], fields[i][1]) << "field " << i;
  EXPECT_EQ(36u, job.nBytesPerLine);
}

}  // namespace
