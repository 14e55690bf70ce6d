// colour_threads_test.cc - colour jobs on threads at once give the bytes of jobs alone.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "colour/colour_job.h"
#include "colour/qvresource.h"
#include "tests/support/colour_printer.h"

namespace {

using namespace qv::colour;

struct Job {
  RcSettings rc;
  PjpInfo pjp{};
  std::vector<std::string> pages;  // the second white, the last cut short
};

// Through the streaming API, with page files or with pages in memory.
std::string run(const Job& job, bool pageFiles) {
  std::string out;
  const auto append = [](void* context, std::span<const std::uint8_t> bytes) {
    static_cast<std::string*>(context)->append(bytes.begin(), bytes.end());
    return true;
  };
  ColourJob colour(job.rc.info, job.pjp, {.title = "threads"}, {append, &out}, {}, pageFiles);
  EXPECT_EQ(Status::kOk, colour.beginJob());
  const auto lineBytes = static_cast<std::size_t>(job.pjp.nBytesPerLine);
  for (const std::string& page : job.pages) {
    EXPECT_EQ(Status::kOk, colour.beginPage());
    for (std::size_t at = 0; at < page.size(); at += lineBytes)
      EXPECT_EQ(
          Status::kOk,
          colour.writeLine({reinterpret_cast<const std::uint8_t*>(page.data()) + at, lineBytes}));
    EXPECT_EQ(Status::kOk, colour.endPage());
  }
  const std::uint8_t pixel[3]{};
  EXPECT_EQ(Status::kBadState, colour.writeLine(pixel));  // no page open
  EXPECT_EQ(Status::kOk, colour.endJob());
  return out;
}

TEST(ColourThreads, JobsAtOnceGiveTheBytesOfJobsAlone) {
  // width, height, colour mode, duplex, copies, skip blank pages
  const std::int16_t specs[][6] = {{130, 40, 2, 0, 1, 0}, {7, 300, 0, 2, 2, 1},
                                   {257, 9, 1, 2, 3, 0},  {1, 1, 0, 0, 1, 1},
                                   {64, 64, 2, 1, 2, 1},  {300, 20, 0, 2, 1, 0}};
  std::mt19937 rng(5);
  std::vector<Job> jobs(std::size(specs));
  std::vector<std::string> alone;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    PjpInfo& p = jobs[i].pjp;
    std::tie(p.nWidth, p.nHeight, p.nColorMode, p.nDuplex, p.nCopyCount) =
        std::tuple(specs[i][0], specs[i][1], specs[i][2], specs[i][3], specs[i][4]);
    if (specs[i][5]) SetSelectionParam(kParamQVSkipBlank, "ON", &jobs[i].rc.info);
    p.nBytesPerLine = static_cast<std::uint64_t>(p.nWidth) * 3;
    p.wPageSize = 9, p.wColorMatching = 3;
    for (int page = 0; page < 4; ++page)
      jobs[i].pages.push_back(page == 1 ? std::string(p.nBytesPerLine * p.nHeight, '\xff')
                                        : colourtest::randomPage(rng, p.nWidth, p.nHeight));
    jobs[i].pages.back().resize(p.nBytesPerLine * static_cast<std::size_t>(p.nHeight / 2));
    alone.push_back(run(jobs[i], true));
  }
  std::vector<std::string> together(2 * jobs.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < together.size(); ++i)
    threads.emplace_back([&, i] { together[i] = run(jobs[i / 2], i % 2 == 0); });
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < together.size(); ++i)
    EXPECT_TRUE(alone[i / 2] == together[i]) << "job " << i / 2 << (i % 2 ? " in memory" : "");
}

}  // namespace
