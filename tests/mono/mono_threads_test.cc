// mono_threads_test.cc - the streaming API, on several threads at once.
#include <thread>

#include "tests/mono/mono_test_util.h"

namespace {

using namespace monotest;

// The first result other than ok, as a job's calls go on after it.
void keepFirst(Status& first, Status next) {
  if (first == Status::kOk) first = next;
}

// The job through the streaming API, row by row.
std::string streamJob(const MonoCase& c) {
  std::string out;
  MonoJob job(withFlags(c.settings, c.flags), stringSink(out));
  Status status = job.beginJob();
  const auto rowBytes = static_cast<std::size_t>(c.settings.width + 7) / 8;
  for (const Bytes& page : monoPageFits(c.settings) ? c.pages : std::vector<Bytes>{}) {
    keepFirst(status, job.beginPage());
    for (std::size_t at = 0; at < page.size(); at += rowBytes)
      keepFirst(status, job.writeRow({page.data() + at, rowBytes}));
    keepFirst(status, job.endPage());
  }
  keepFirst(status, job.endJob());
  return status == Status::kOk ? out : "failed";
}

TEST(MonoThreads, JobsAtOnceGiveTheBytesOfJobsAlone) {
  std::vector<MonoCase> jobs;
  std::vector<std::string> alone, together(6);
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    jobs.push_back(randomMonoCase(rng, 900, 2));             // pages of up to 4 batches of rows
    jobs.back().settings.outputBin = seed % 2 == 0 ? 9 : 0;  // sorted copies: a copy file each
    alone.push_back(runJob(jobs.back().settings, jobs.back().input(), jobs.back().flags).out);
  }
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < jobs.size(); ++i)
    threads.emplace_back([&, i] { together[i] = streamJob(jobs[i]); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(alone, together);
}

// Short pages end blank; bad rows and calls are refused; a failed write ends the sending.
TEST(MonoJobApi, ShortPagesBadRowsAndAFailingSink) {
  MonoCase c{pageSettings(2, 800, 300), {}, {Bytes(100 * 300, 0)}};
  c.pages[0][150 * 100 + 40] = 0x81;
  std::string out;
  int writes = 0;
  MonoJob job(c.settings, stringSink(out));
  MonoJob failing(c.settings, {[](void* count, std::span<const std::uint8_t>) {
                                 return ++*static_cast<int*>(count) < 3;
                               },
                               &writes});
  EXPECT_EQ(Status::kBadOrder, job.beginPage());
  Status status = job.beginJob();
  keepFirst(status, job.beginPage());
  for (int y = 0; y < 152; ++y) keepFirst(status, job.writeRow({&c.pages[0][y * 100], 100}));
  EXPECT_EQ(Status::kBadRow, job.writeRow({c.pages[0].data(), 99}));
  keepFirst(status, job.endPage());
  keepFirst(status, job.endJob());
  EXPECT_EQ(Status::kOk, status);
  EXPECT_EQ(streamJob(c), out);
  for (const Status result : {failing.beginJob(), failing.beginPage(), failing.endJob()})
    EXPECT_EQ(Status::kWriteFailed, result);
  EXPECT_EQ(3, writes);
}

// A whole page at once: the bytes of its rows one by one, up to a failed write.
TEST(MonoJobApi, WholePagesGiveTheBytesOfRowsUpToAFailedWrite) {
  // A halftone: runs of four bytes whose values move on from row to row, so
  // that every row needs a hundred commands and the worker joins in.
  MonoCase c{pageSettings(2, 4960, 3000), {}, {Bytes(620 * 3000)}};
  for (std::size_t at = 0; at < c.pages[0].size(); ++at)
    c.pages[0][at] = static_cast<std::uint8_t>((at % 620 / 4 + at / 620) * 37);
  const std::string rows = streamJob(c);
  struct Budget {
    std::string out;
    std::size_t left;
  };
  for (const std::size_t budget : {std::size_t{5000}, rows.size() / 2, rows.size()}) {
    Budget sent{{}, budget};
    MonoJob job(c.settings, {[](void* context, std::span<const std::uint8_t> bytes) {
                               auto& to = *static_cast<Budget*>(context);
                               if (bytes.size() > to.left) return false;
                               to.left -= bytes.size();
                               to.out.append(bytes.begin(), bytes.end());
                               return true;
                             },
                             &sent});
    Status status = job.beginJob();
    keepFirst(status, job.beginPage());
    EXPECT_EQ(Status::kBadRow, job.writePage({c.pages[0].data(), c.pages[0].size() - 1}));
    keepFirst(status, job.writePage(c.pages[0]));
    EXPECT_EQ(Status::kBadRow, job.writePage(c.pages[0]));  // the page is complete
    keepFirst(status, job.endPage());
    keepFirst(status, job.endJob());
    EXPECT_EQ(budget < rows.size() ? Status::kWriteFailed : Status::kOk, status);
    EXPECT_EQ(rows.substr(0, sent.out.size()), sent.out);
  }
}

}  // namespace
