// Whatever bytes the settings, paper information and geometry files hold, the
// front end ends in one of its documented statuses, keeps every selection on
// a valid item, and never lets a printer name or a page size out of range.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "colour/rastertoqv.h"
#include "tests/colour/colour_front_fixture.h"

namespace {

// Text made of the pieces the parsers switch on, with runs long enough to
// cross the 1023-character line buffer now and then.
std::string randomText(std::mt19937& rng) {
  static const char* const pieces[] = {
      "[",    "]",     "=",           "#",        " ",       "\t",       "\n",
      "\r\n", ":",     "A4",          "A4:",      "Letter:", "-",        "7",
      "7200", "32768", "99999999999", "PageSize", "Copies",  "QVDuplex", "DuplexNoTumble",
      "ON",   "/",     "..",          "QV-C600",  "JIS B5",  "Mono",     "\x01",
      "\xff", "0",
  };
  std::uniform_int_distribution<int> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> count(0, 60);
  std::string text;
  const int n = count(rng);
  for (int i = 0; i < n; ++i) {
    if (rng() % 40 == 0)
      text += std::string(900 + rng() % 300, "x #="[rng() % 4]);
    else
      text += pieces[pick(rng)];
  }
  return text;
}

TEST(FrontEndRobustness, RandomFilesEndInDocumentedStatuses) {
  qvtest::ScopedTempDir dir;
  qvtest::ScopedPrinterDir printer;
  const std::string rcPath = dir.file("qv.rc");
  const std::string piPath = dir.file("paperinf");
  for (std::uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    // Half the settings files start with a valid header so that settings
    // lines get parsed too.
    std::string rc = randomText(rng);
    if (seed % 2 == 0) rc = "[" + printer.name() + "]\n" + rc;
    qvtest::writeFile(rcPath, rc);
    qvtest::writeFile(piPath, "h e a d\n" + randomText(rng));
    printer.writeImagingArea(randomText(rng));
    printer.writePaperDimension(randomText(rng));

    ResetRcInfo();
    PjpInfo job{};
    job.pszRcFile = rcPath.c_str();
    job.pszPaperInf = piPath.c_str();
    testing::internal::CaptureStderr();
    const int status = PrepareLPRngPrint(&job);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(std::set<int>({0, 1, 5, 6, 7, 13, 14}).count(status)) << status;
    EXPECT_EQ(status == 0 || status >= 13, err.empty()) << err;
    for (const RcParam& p : tblQvParams) {
      if (p.ppszCmdItem == nullptr) continue;
      EXPECT_GE(p.nIndex, 0);
      EXPECT_LT(p.nIndex, p.nItemCount);
    }
    const std::string name = g_rcInfo.szPrinterName;
    EXPECT_LT(name.size(), 32u);
    EXPECT_EQ(std::string::npos, name.find('/'));
    EXPECT_EQ(std::string::npos, name.find(".."));
    if (status == 0) {
      EXPECT_GE(job.nWidth, 1);
      EXPECT_LE(job.nWidth, 7200);
      EXPECT_GE(job.nHeight, 1);
      EXPECT_EQ(static_cast<std::uint64_t>(job.nWidth) * 3, job.nBytesPerLine);
    }
  }
  ResetRcInfo();
}

}  // namespace
