// page_input_test.cc - the pages read ahead on the reader thread are exactly
// those that a plain read loop gives, however the pipe delivers them; a stop
// never hangs; the writer reports the first lost byte.
#include "common/page_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/fd_writer.h"
#include "common/unique_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kPage = 300000;

// A header of the test's own: text up to a line feed, as PPM headers are.
int lineHeader(void*, qv::HeaderInput& in) {
  for (bool any = false;; any = true) {
    const int c = in.next();
    if (c < 0) return any ? -1 : 1;
    if (c == '\n') return 0;
  }
}

struct Job {
  Bytes bytes;
  std::vector<std::size_t> starts, sizes;  // each page's bytes in `bytes`
};

// `pages` pages of noise, each after a header line when `headers`, then a
// last page of `tail` bytes or, with `cut`, a header cut short. Without
// headers, the read at the end of whole pages gives an empty page.
Job makeJob(bool headers, int pages, std::size_t tail, bool cut) {
  Job job;
  std::mt19937 rng(7);
  auto add = [&](std::string line, std::size_t size, bool page) {
    if (headers) job.bytes.insert(job.bytes.end(), line.begin(), line.end());
    if (!page) return;
    job.starts.push_back(job.bytes.size());
    job.sizes.push_back(size);
    for (std::size_t i = 0; i < size; ++i) job.bytes.push_back(static_cast<std::uint8_t>(rng()));
  };
  for (int p = 0; p < pages; ++p) add("P6 page " + std::to_string(p) + "\n", kPage, true);
  if (cut) add("P6 cut", 0, false);
  if (!cut && (tail > 0 || !headers)) add("P6 last\n", tail, true);
  return job;
}

struct Consumer {  // what the feeding thread waits on
  std::mutex mutex;
  std::condition_variable taken;
  std::size_t pages = 0;
};

// Writes the job into the pipe in random chunks; now and then it waits until
// the consumer has taken every page written so far, so the reader meets an
// empty pipe in the middle of pages and headers.
void feed(int fd, const Job& job, Consumer& consumer, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::size_t at = 0; at < job.bytes.size();) {
    std::size_t whole = 0;
    while (whole < job.sizes.size() && job.starts[whole] + job.sizes[whole] <= at) ++whole;
    if (rng() % 3 == 0) {
      std::unique_lock lock(consumer.mutex);
      consumer.taken.wait(lock, [&] { return consumer.pages >= whole; });
    }
    const std::size_t n = std::min<std::size_t>(1 + rng() % 200000, job.bytes.size() - at);
    for (std::size_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, job.bytes.data() + at + done, n - done);
      ASSERT_GT(w, 0);
      done += static_cast<std::size_t>(w);
    }
    at += n;
  }
  ::close(fd);
}

void expectPages(int fd, const Job& job, bool headers, int endHeader, Consumer* consumer) {
  qv::PageInput input(fd, kPage, {headers ? &lineHeader : nullptr, nullptr});
  ASSERT_EQ(input.status(), qv::PageInput::kOk);
  for (std::size_t p = 0;; ++p) {
    const qv::InputPage page = input.next();
    if (page.end) {
      EXPECT_EQ(p, job.sizes.size());
      EXPECT_EQ(page.header, endHeader);
      EXPECT_EQ(page.error, 0);
      return;
    }
    ASSERT_LT(p, job.sizes.size());
    ASSERT_EQ(page.bytes.size(), job.sizes[p]) << "page " << p;
    EXPECT_TRUE(
        std::equal(page.bytes.begin(), page.bytes.end(), job.bytes.begin() + job.starts[p]));
    if (consumer == nullptr) continue;
    const std::lock_guard lock(consumer->mutex);
    ++consumer->pages;
    consumer->taken.notify_one();
  }
}

TEST(PageInput, PipeInRandomChunksGivesThePagesOfAFile) {
  struct Case {
    bool headers;
    std::size_t tail;
    bool cut;
    int endHeader;
  };
  // Short last page, whole pages (then the empty read at the end), headers
  // to the end of input, a page cut short after its header, a cut header.
  for (const Case& c :
       {Case{false, 1234, false, 0}, Case{false, 0, false, 0}, Case{true, 0, false, 1},
        Case{true, 500, false, 0}, Case{true, 0, true, -1}}) {
    const Job job = makeJob(c.headers, 3, c.tail, c.cut);
    const qv::UniqueFile file(std::tmpfile());
    ASSERT_EQ(std::fwrite(job.bytes.data(), 1, job.bytes.size(), file.get()), job.bytes.size());
    ASSERT_EQ(std::fflush(file.get()), 0);
    ASSERT_EQ(::lseek(fileno(file.get()), 0, SEEK_SET), 0);
    expectPages(fileno(file.get()), job, c.headers, c.endHeader, nullptr);
    for (unsigned seed = 1; seed <= 3; ++seed) {
      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      Consumer consumer;
      std::thread writer(feed, fds[1], std::cref(job), std::ref(consumer), seed);
      expectPages(fds[0], job, c.headers, c.endHeader, &consumer);
      writer.join();
      ::close(fds[0]);
    }
  }
}

// The consumer stops while the reader waits on an open, empty pipe: cancel()
// and the destructor both end the reader at once.
TEST(PageInput, StopsEarlyWhileThePipeStaysOpen) {
  for (const bool cancelFirst : {true, false}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const Bytes bytes(1500, 9);
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), 1500);
    {
      qv::PageInput input(fds[0], 1000);
      EXPECT_EQ(input.next().bytes.size(), 1000u);
      if (cancelFirst) {
        input.cancel();
        EXPECT_TRUE(input.next().end);
      }
    }
    ::close(fds[0]);
    ::close(fds[1]);
  }
}

TEST(PageInput, ReadErrorCutsThePageAndEndsTheInput) {
  const qv::UniqueFd directory(::open("/", O_RDONLY | O_DIRECTORY));
  qv::PageInput input(directory.get(), 1000);
  const qv::InputPage page = input.next();
  EXPECT_FALSE(page.end);
  EXPECT_EQ(page.bytes.size(), 0u);
  EXPECT_EQ(page.error, EISDIR);
  const qv::InputPage end = input.next();
  EXPECT_TRUE(end.end);
  EXPECT_EQ(end.error, EISDIR);
}

TEST(FdWriter, KeepsEveryByteAndReportsTheFirstFailure) {
  const qv::UniqueFile file(std::tmpfile());
  Bytes expected;
  {
    qv::FdWriter writer(fileno(file.get()), 1 << 16);
    for (const std::size_t size : {10, 70000, 5, 65533, 3, 200000}) {
      const Bytes chunk(size, static_cast<std::uint8_t>(size));
      ASSERT_TRUE(writer.sink()(chunk));
      expected.insert(expected.end(), chunk.begin(), chunk.end());
    }
    ASSERT_TRUE(writer.flush());
  }
  Bytes got(expected.size() + 1);
  EXPECT_EQ(::pread(fileno(file.get()), got.data(), got.size(), 0),
            static_cast<ssize_t>(expected.size()));
  got.pop_back();
  EXPECT_EQ(got, expected);

  ::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  const qv::UniqueFd full(::open("/dev/full", O_WRONLY)), closedPipe(fds[1]);
  for (const auto& [fd, error] : {std::pair{full.get(), ENOSPC}, {closedPipe.get(), EPIPE}}) {
    qv::FdWriter writer(fd, 4096);
    const Bytes chunk(3000, 1);
    EXPECT_TRUE(writer.write(chunk));  // buffered: the failure shows at the flush
    EXPECT_FALSE(writer.write(chunk));
    EXPECT_FALSE(writer.flush());
    EXPECT_EQ(writer.error(), error);
  }
}

}  // namespace
