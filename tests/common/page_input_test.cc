// page_input_test.cc - the pages read ahead on the reader thread are those a
// plain read loop gives, however the pipe delivers them.
#include "common/page_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <random>
#include <thread>
#include <tuple>

#include "common/unique_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kPage = 300000;

// A header of the test's own, read with getc() as PPM headers are: a line.
int lineHeader(void* stream, qv::HeaderInput& in) {
  std::FILE* file = static_cast<qv::HeaderStream*>(stream)->bind(in);
  int c = std::getc(file);
  const bool any = c != EOF;
  while (c != EOF && c != '\n') c = std::getc(file);
  return c == '\n' ? 0 : (any ? -1 : 1);
}

struct Job {
  bool headers;
  Bytes bytes;
  std::vector<Bytes> pages;
  std::vector<std::size_t> ends;  // of each page in `bytes`
};

void writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  for (ssize_t n = 0; size > 0; bytes += n, size -= static_cast<std::size_t>(n))
    ASSERT_GT(n = ::write(fd, bytes, size), 0);
}

// Random chunks; now and then a wait until every page written is taken, so
// the reader meets an empty pipe inside pages and headers.
void feed(int fd, const Job& job, std::atomic<std::size_t>& taken, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::size_t at = 0, n; at < job.bytes.size(); at += n) {
    const auto whole =
        static_cast<std::size_t>(std::ranges::upper_bound(job.ends, at) - job.ends.begin());
    for (std::size_t now; rng() % 3 == 0 && (now = taken.load()) < whole;) taken.wait(now);
    n = std::min<std::size_t>(1 + rng() % 200000, job.bytes.size() - at);
    writeAll(fd, job.bytes.data() + at, n);
  }
  ::close(fd);
}

void expectPages(int fd, const Job& job, int endHeader, std::atomic<std::size_t>& taken) {
  qv::HeaderStream stream;
  qv::PageInput input(fd, kPage, {job.headers ? &lineHeader : nullptr, &stream});
  qv::InputPage page;
  for (; !(page = input.next()).end; ++taken, taken.notify_one()) {
    ASSERT_LT(taken, job.pages.size());
    EXPECT_EQ(Bytes(page.bytes.begin(), page.bytes.end()), job.pages[taken]) << taken;
  }
  EXPECT_TRUE(taken == job.pages.size() && page.header == endHeader && page.error == 0);
}

TEST(PageInput, PipeInRandomChunksGivesThePagesOfAFile) {
  // Three pages of noise (after header lines with `headers`), then a last page
  // of `tail` bytes, or with `cut` a header cut short.
  using Case = std::tuple<bool, bool, std::size_t, int>;
  for (const auto& [headers, cut, tail, endHeader] :
       {Case{false, false, 1234, 0}, Case{false, false, 0, 0}, Case{true, false, 0, 1},
        Case{true, false, 500, 0}, Case{true, true, 0, -1}}) {
    Job job{headers, {}, {}, {}};
    std::mt19937 rng(7);
    for (std::size_t p = 0; p < 4 && !(p == 3 && (cut || (tail == 0 && headers))); ++p) {
      const std::string line = "P6 page " + std::to_string(p) + "\n";
      if (headers) job.bytes.insert(job.bytes.end(), line.begin(), line.end());
      Bytes& page = job.pages.emplace_back(p < 3 ? kPage : tail);
      std::ranges::generate(page, [&rng] { return static_cast<std::uint8_t>(rng()); });
      job.bytes.insert(job.bytes.end(), page.begin(), page.end());
      job.ends.push_back(job.bytes.size());
    }
    if (cut) job.bytes.insert(job.bytes.end(), {'P', '6'});
    const qv::UniqueFile file(std::tmpfile());
    writeAll(fileno(file.get()), job.bytes.data(), job.bytes.size());
    ASSERT_EQ(::lseek(fileno(file.get()), 0, SEEK_SET), 0);
    std::atomic<std::size_t> taken = 0;
    expectPages(fileno(file.get()), job, endHeader, taken);
    for (unsigned seed = 1; seed <= 3; ++seed) {
      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      taken = 0;
      std::thread writer(feed, fds[1], std::cref(job), std::ref(taken), seed);
      expectPages(fds[0], job, endHeader, taken);
      writer.join();
      ::close(fds[0]);
    }
  }
}

// A read error cuts the page and ends the input.
TEST(PageInput, ReadErrorEndsTheInput) {
  const qv::UniqueFd directory(::open("/", O_RDONLY | O_DIRECTORY));
  qv::PageInput failing(directory.get(), 1000);
  const qv::InputPage page = failing.next(), end = failing.next();
  EXPECT_TRUE(!page.end && page.bytes.empty() && page.error == EISDIR);
  EXPECT_TRUE(end.end && end.error == EISDIR);
}

}  // namespace
