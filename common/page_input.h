// page_input.h - a job's input pages, read on a thread of their own into two
// page buffers while the caller encodes the page before.
//
// A spooler runs a filter between two pipes. Read a page at a time on the
// encoding thread, the filter waits for the rasteriser and the rasteriser for
// the filter; here the next page is read while the current one is encoded,
// with reads as large as the pipe allows, straight into the page buffer.
//
// What the caller sees is exactly what a plain loop of read() calls gives:
// the same pages, a short last page where the input ends inside one, and the
// end of input after it. Only the timing changes.
//
//   qv::PageInput input(STDIN_FILENO, pageBytes);
//   if (input.status() != qv::PageInput::kOk) ...
//   for (;;) {
//     const qv::InputPage page = input.next();
//     if (page.interrupted) continue;          // a signal: check its flag here
//     if (page.end || page.bytes.size() != pageBytes) break;
//     encode(page.bytes);                      // valid until the next next()
//   }
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>

#include "common/malloc_buffer.h"
#include "common/unique_file.h"

namespace qv {

class PageInput;

// The bytes in front of a page (a PPM header, say), given to a header reader
// on the reader thread. Served from a small look-ahead whose surplus becomes
// the start of the page, so the page bytes are the stream's next bytes.
class HeaderInput {
 public:
  // The next byte of the input, or -1 at its end or after a read error.
  int next();

 private:
  friend class PageInput;
  explicit HeaderInput(PageInput& input) : input_(input) {}
  PageInput& input_;
};

// A stdio stream over a HeaderInput, for a header reader written for getc():
// made once on the caller's thread, then bound to the header being read on
// the reader thread. Unbuffered, so that getc() takes exactly the bytes the
// header needs and the page starts right after them.
class HeaderStream {
 public:
  HeaderStream();
  ~HeaderStream();
  HeaderStream(const HeaderStream&) = delete;
  HeaderStream& operator=(const HeaderStream&) = delete;

  // The stream, reading from `in`, its end and error flags cleared; null when
  // the stream could not be made.
  std::FILE* bind(HeaderInput& in);

 private:
  static long readCookie(void* self, char* to, std::size_t size);
  HeaderInput* in_ = nullptr;
  std::FILE* file_ = nullptr;
};

// Reads one page's header. Returns 0 when a page of pixel bytes follows; any
// other value ends the input and comes back to the caller in InputPage::header.
// Runs on the reader thread: it must touch only its own context.
struct PageHeaderReader {
  int (*read)(void* context, HeaderInput& in) = nullptr;
  void* context = nullptr;
};

// One result of PageInput::next().
struct InputPage {
  // The page, writable and valid until the next call of next(). Shorter than
  // the page size only where the input ended inside the page or a read failed;
  // nothing follows such a page but the end. bytes.data() is always the start
  // of a buffer of pageBytes() bytes, so a short page can be completed in
  // place (and a copy of the page read back into it).
  std::span<std::uint8_t> bytes;
  // No page: the input is over, or the reading was cancelled.
  bool end = false;
  // A signal arrived while waiting for the page; nothing was taken. Call
  // next() again to go on waiting.
  bool interrupted = false;
  // With `end`: what the header reader returned when it ended the input (0 if
  // it did not, e.g. after a short page).
  int header = 0;
  // errno of a failed read: on the page it cut short and on the end after it.
  int error = 0;
};

// Raises a pipe's capacity to `bytes` where the system allows it; anything
// that is not a pipe, or a refusal, leaves the descriptor as it was.
void raisePipeCapacity(int fd, int bytes = 1 << 20);

class PageInput {
 public:
  enum Status : int { kOk = 0, kBadSize = 1, kNoMemory = 2, kNoThread = 3 };

  // Starts reading pages of `pageBytes` bytes from `fd` at once. Does not own
  // `fd`. Check status() before the first next().
  PageInput(int fd, std::size_t pageBytes, PageHeaderReader header = {});
  // Stops the reader (cancel()) and waits for it. Never blocks on the input.
  ~PageInput();
  PageInput(const PageInput&) = delete;
  PageInput& operator=(const PageInput&) = delete;

  int status() const { return status_; }
  std::size_t pageBytes() const { return pageBytes_; }

  // Gives back the page of the previous call and waits for the next one.
  InputPage next();

  // The consumer stops early: the reader stops at once, even while blocked on
  // an empty pipe, and next() returns the end from now on.
  void cancel();

 private:
  friend class HeaderInput;
  struct Slot {
    std::size_t size = 0;
    int error = 0;
  };
  enum : long { kCancelled = -2 };

  static void* readerMain(void* self);
  void readPages();
  bool waitForFreeBuffer(long page);
  long readSome(std::uint8_t* to, std::size_t want);
  int headerByte();
  void finish(int header, int error);
  void signalReady();

  const int fd_;
  const std::size_t pageBytes_;
  const PageHeaderReader header_;
  int status_ = kOk;
  ByteBuffer buffers_[2];
  UniqueFd wakeReader_;  // eventfd: cancel, for a reader blocked in poll()
  UniqueFd pageReady_;   // eventfd: a page or the end is there
  pthread_t thread_{};
  bool started_ = false;

  // Reader thread only.
  std::uint8_t lookAhead_[4096];
  std::size_t lookStart_ = 0, lookEnd_ = 0;
  bool eof_ = false;
  int readError_ = 0;

  std::mutex mutex_;
  std::condition_variable released_;
  std::atomic<bool> stop_{false};
  // Guarded by mutex_. Page n lives in buffers_[n % 2].
  Slot slots_[2];
  long filled_ = 0;    // pages the reader has completed
  long taken_ = 0;     // pages handed out by next()
  long given_ = 0;     // pages the consumer has given back
  bool done_ = false;  // the reader has finished: nothing after page filled_ - 1
  int endHeader_ = 0, endError_ = 0;
};

}  // namespace qv
