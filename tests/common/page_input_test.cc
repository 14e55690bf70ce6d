// page_input_test.cc - pages read ahead on the reader thread, however the pipe delivers them.
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

void writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  for (ssize_t n = 0; size > 0; bytes += n, size -= static_cast<std::size_t>(n))
    ASSERT_GT(n = ::write(fd, bytes, size), 0);
}

// Random chunks, at times after the pages before are taken: the reader meets an empty pipe.
void feed(int fd, const Bytes& bytes, const std::vector<std::size_t>& ends,
          std::atomic<std::size_t>& taken, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::size_t at = 0, n; at < bytes.size(); at += n) {
    const auto whole = static_cast<std::size_t>(std::ranges::upper_bound(ends, at) - ends.begin());
    for (std::size_t now; rng() % 3 == 0 && (now = taken.load()) < whole;) taken.wait(now);
    n = std::min<std::size_t>(1 + rng() % 200000, bytes.size() - at);
    writeAll(fd, bytes.data() + at, n);
  }
  ::close(fd);
}

TEST(PageInput, PipeInRandomChunksGivesThePagesOfAFile) {
  // Three noise pages (with header lines), a last of `tail` bytes or a cut header; file and pipe.
  using Case = std::tuple<bool, bool, std::size_t, int>;
  for (const auto& [headers, cut, tail, endHeader] :
       {Case{false, false, 1234, 0}, Case{false, false, 0, 0}, Case{true, false, 0, 1},
        Case{true, false, 500, 0}, Case{true, true, 0, -1}}) {
    Bytes bytes;
    std::vector<Bytes> pages;
    std::vector<std::size_t> ends;  // of each page in `bytes`
    std::mt19937 rng(7);
    for (std::size_t p = 0; p < 4 && !(p == 3 && (cut || (tail == 0 && headers))); ++p) {
      const std::string line = "P6 page " + std::to_string(p) + "\n";
      if (headers) bytes.insert(bytes.end(), line.begin(), line.end());
      Bytes& page = pages.emplace_back(p < 3 ? kPage : tail);
      std::ranges::generate(page, [&rng] { return static_cast<std::uint8_t>(rng()); });
      bytes.insert(bytes.end(), page.begin(), page.end());
      ends.push_back(bytes.size());
    }
    if (cut) bytes.insert(bytes.end(), {'P', '6'});
    for (unsigned seed = 0; seed <= 3; ++seed) {
      const qv::UniqueFile file(std::tmpfile());
      int fds[2] = {fileno(file.get()), -1};
      std::atomic<std::size_t> taken = 0;
      std::thread writer;
      if (seed == 0) {
        writeAll(fds[0], bytes.data(), bytes.size());
        ASSERT_EQ(::lseek(fds[0], 0, SEEK_SET), 0);
      } else {
        ASSERT_EQ(::pipe(fds), 0);
        writer =
            std::thread(feed, fds[1], std::cref(bytes), std::cref(ends), std::ref(taken), seed);
      }
      const qv::UniqueFd readEnd(seed == 0 ? -1 : fds[0]);
      qv::HeaderStream stream;
      qv::PageInput input(fds[0], kPage, {headers ? &lineHeader : nullptr, &stream});
      qv::InputPage page;
      for (; !(page = input.next()).end; ++taken, taken.notify_one())
        EXPECT_TRUE(taken < pages.size() && std::ranges::equal(page.bytes, pages[taken]))
            << "page " << taken << ", seed " << seed;
      EXPECT_TRUE(taken == pages.size() && page.header == endHeader && page.error == 0);
      if (writer.joinable()) writer.join();
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
