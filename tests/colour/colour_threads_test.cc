// colour_threads_test.cc - colour jobs on several threads at once through
// the streaming API: each gives the bytes of a run alone, with page files or
// with its pages in memory. Runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <thread>

#include "colour/colour_job.h"
#include "tests/support/colour_printer.h"

namespace {

struct Spec {
  int width, height, colorMode, duplex, copies;
  bool skipBlank;
};

struct Job {
  RcSettings rc;
  PjpInfo pjp{};
  std::vector<std::string> pages;
};

Job makeJob(const Spec& spec, std::mt19937& rng) {
  Job job;
  if (spec.skipBlank) SetSelectionParam(kParamQVSkipBlank, "ON", &job.rc.info);
  PjpInfo& p = job.pjp;
  p.nWidth = static_cast<std::int16_t>(spec.width);
  p.nHeight = static_cast<std::int16_t>(spec.height);
  p.nBytesPerLine = static_cast<std::uint64_t>(spec.width) * 3;
  p.wPageSize = 9;
  p.nColorMode = static_cast<std::int16_t>(spec.colorMode);
  p.nDuplex = static_cast<std::int16_t>(spec.duplex);
  p.nCopyCount = static_cast<std::int16_t>(spec.copies);
  p.wColorMatching = 3;
  for (int i = 0; i < 4; ++i)
    job.pages.push_back(i == 1 ? std::string(p.nBytesPerLine * p.nHeight, '\xff')
                               : colourtest::randomPage(rng, spec.width, spec.height));
  return job;
}

bool append(void* context, std::span<const std::uint8_t> bytes) {
  static_cast<std::string*>(context)->append(bytes.begin(), bytes.end());
  return true;
}

std::string run(const Job& job, bool pageFiles) {
  std::string out;
  const qv::ColourJobEnv env{.title = "threads"};
  qv::ColourJob colour(job.rc.info, job.pjp, env, {append, &out}, pageFiles);
  EXPECT_EQ(qv::kColourOk, colour.beginJob());
  const std::uint8_t* bytes = nullptr;
  for (const std::string& page : job.pages) {
    bytes = reinterpret_cast<const std::uint8_t*>(page.data());
    EXPECT_EQ(qv::kColourOk, colour.beginPage());
    // The last page is short: endPage completes it with zero lines.
    const auto height = static_cast<std::size_t>(job.pjp.nHeight);
    const std::size_t lines = &page == &job.pages.back() ? height / 2 : height;
    for (std::size_t y = 0; y < lines; ++y)
      EXPECT_EQ(qv::kColourOk, colour.writeLine({bytes + y * job.pjp.nBytesPerLine,
                                                 static_cast<std::size_t>(job.pjp.nBytesPerLine)}));
    EXPECT_EQ(qv::kColourOk, colour.endPage());
  }
  EXPECT_EQ(qv::kColourBadState, colour.writeLine(std::span(bytes, 3)));  // no page open
  EXPECT_EQ(qv::kColourOk, colour.endJob());
  return out;
}

TEST(ColourThreads, JobsAtOnceGiveTheBytesOfJobsAlone) {
  const Spec specs[] = {{130, 40, 2, 0, 1, false}, {7, 300, 0, 2, 2, true},
                        {257, 9, 1, 2, 3, false},  {1, 1, 0, 0, 1, true},
                        {64, 64, 2, 1, 2, true},   {300, 20, 0, 2, 1, false}};
  std::mt19937 rng(5);
  std::vector<Job> jobs;
  std::vector<std::string> alone;
  for (const Spec& spec : specs) {
    jobs.push_back(makeJob(spec, rng));
    alone.push_back(run(jobs.back(), true));
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
