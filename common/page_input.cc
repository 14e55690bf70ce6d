// page_input.cc - the reader thread behind qv::PageInput.
#include "common/page_input.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qv {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// One read never asks for more than this: a regular file would otherwise be
// copied in one call of up to a whole page, and a cancel waits for it.
constexpr std::size_t kMaxRead = std::size_t{8} << 20;

// 2 MiB aligned and backed by huge pages where the kernel allows it: every
// input byte is copied into this buffer by the kernel, and huge pages cut
// that copy's page faults and TLB misses.
ByteBuffer allocatePage(std::size_t size) {
  const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  ByteBuffer buffer(static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
  if (buffer) ::madvise(buffer.get(), rounded, MADV_HUGEPAGE);
  return buffer;
}

void wake(int eventFd) {
  const std::uint64_t one = 1;
  while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace

void raisePipeCapacity(int fd, int bytes) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) return;
  const int current = ::fcntl(fd, F_GETPIPE_SZ);
  if (current >= 0 && current < bytes) ::fcntl(fd, F_SETPIPE_SZ, bytes);
}

int HeaderInput::next() { return input_.headerByte(); }

HeaderStream::HeaderStream() {
  const cookie_io_functions_t functions = {&HeaderStream::readCookie, nullptr, nullptr, nullptr};
  file_ = fopencookie(this, "r", functions);
  if (file_ != nullptr) std::setvbuf(file_, nullptr, _IONBF, 0);
}

HeaderStream::~HeaderStream() {
  if (file_ != nullptr) std::fclose(file_);
}

std::FILE* HeaderStream::bind(HeaderInput& in) {
  in_ = &in;
  if (file_ != nullptr) std::clearerr(file_);
  return file_;
}

// One byte per call: a header reader must not take bytes of the page.
long HeaderStream::readCookie(void* self, char* to, std::size_t size) {
  auto* stream = static_cast<HeaderStream*>(self);
  if (size == 0 || stream->in_ == nullptr) return 0;
  const int c = stream->in_->next();
  if (c < 0) return 0;
  to[0] = static_cast<char>(c);
  return 1;
}

PageInput::PageInput(int fd, std::size_t pageBytes, PageHeaderReader header)
    : fd_(fd), pageBytes_(pageBytes), header_(header) {
  if (pageBytes == 0) {
    status_ = kBadSize;
    return;
  }
  buffers_[0] = allocatePage(pageBytes);
  buffers_[1] = allocatePage(pageBytes);
  wakeReader_.reset(::eventfd(0, EFD_CLOEXEC));
  pageReady_.reset(::eventfd(0, EFD_CLOEXEC));
  if (!buffers_[0] || !buffers_[1]) {
    status_ = kNoMemory;
    return;
  }
  if (!wakeReader_ || !pageReady_) {
    status_ = kNoThread;
    return;
  }
  raisePipeCapacity(fd);
  // The reader blocks every signal, so that a SIGTERM meant for the job
  // reaches the encoding thread, whose wait in next() it interrupts.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  started_ = pthread_create(&thread_, nullptr, &PageInput::readerMain, this) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (!started_) status_ = kNoThread;
}

PageInput::~PageInput() {
  cancel();
  if (started_) pthread_join(thread_, nullptr);
}

void PageInput::cancel() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  released_.notify_one();
  if (wakeReader_) wake(wakeReader_.get());
}

InputPage PageInput::next() {
  InputPage page;
  if (status_ != kOk) {
    page.end = true;
    return page;
  }
  std::unique_lock lock(mutex_);
  if (given_ < taken_) {
    given_ = taken_;
    released_.notify_one();
  }
  for (;;) {
    if (stop_) {
      page.end = true;
      return page;
    }
    if (taken_ < filled_) {
      const int index = static_cast<int>(taken_ % 2);
      page.bytes = {buffers_[index].get(), slots_[index].size};
      page.error = slots_[index].error;
      ++taken_;
      return page;
    }
    if (done_) {
      page.end = true;
      page.header = endHeader_;
      page.error = endError_;
      return page;
    }
    lock.unlock();
    // poll() rather than a condition variable: a signal handler installed
    // without SA_RESTART makes it return, and the caller sees the signal.
    pollfd ready{pageReady_.get(), POLLIN, 0};
    if (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
      page.interrupted = true;
      return page;
    }
    std::uint64_t count = 0;
    if (::read(pageReady_.get(), &count, sizeof count) < 0) {
      // Nothing to drain (another wake-up took it): look at the state again.
    }
    lock.lock();
  }
}

void* PageInput::readerMain(void* self) {
  static_cast<PageInput*>(self)->readPages();
  return nullptr;
}

// Waits until page `page` has a buffer: the consumer holds at most one page,
// so the reader may run one page ahead of it.
bool PageInput::waitForFreeBuffer(long page) {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [&] { return stop_ || page < given_ + 2; });
  return !stop_;
}

void PageInput::readPages() {
  for (long page = 0;; ++page) {
    if (!waitForFreeBuffer(page)) return finish(0, 0);
    if (header_.read != nullptr) {
      HeaderInput in(*this);
      const int result = header_.read(header_.context, in);
      if (stop_) return finish(0, 0);
      if (result != 0) return finish(result, readError_);
    }
    std::uint8_t* to = buffers_[page % 2].get();
    std::size_t got = std::min(lookEnd_ - lookStart_, pageBytes_);
    std::memcpy(to, lookAhead_ + lookStart_, got);
    lookStart_ += got;
    while (got < pageBytes_) {
      const long n = readSome(to + got, pageBytes_ - got);
      if (n == kCancelled) return finish(0, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    {
      const std::lock_guard lock(mutex_);
      slots_[page % 2] = {got, readError_};
      ++filled_;
    }
    signalReady();
    // A short page means the input ended or failed: nothing can follow it.
    if (got < pageBytes_) return finish(0, readError_);
  }
}

// One read of at most `want` bytes, waiting in poll() so that a cancel can
// end the wait. Returns the byte count, 0 at the end of the input, -1 after
// a read error (kept in readError_), kCancelled on a cancel. The end is
// sticky, as with stdio: once read() has returned 0, it is not asked again.
long PageInput::readSome(std::uint8_t* to, std::size_t want) {
  if (eof_ || readError_ != 0) return readError_ != 0 ? -1 : 0;
  for (;;) {
    if (stop_) return kCancelled;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeReader_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      readError_ = errno;
      return -1;
    }
    if (fds[1].revents != 0) continue;  // stop_ is set
    const ssize_t n = ::read(fd_, to, std::min(want, kMaxRead));
    if (n > 0) return static_cast<long>(n);
    if (n == 0) {
      eof_ = true;
      return 0;
    }
    if (errno == EINTR || errno == EAGAIN) continue;
    readError_ = errno;
    return -1;
  }
}

int PageInput::headerByte() {
  if (lookStart_ == lookEnd_) {
    const long n = readSome(lookAhead_, sizeof lookAhead_);
    if (n <= 0) return -1;
    lookStart_ = 0;
    lookEnd_ = static_cast<std::size_t>(n);
  }
  return lookAhead_[lookStart_++];
}

void PageInput::finish(int header, int error) {
  {
    const std::lock_guard lock(mutex_);
    done_ = true;
    endHeader_ = header;
    endError_ = error;
  }
  signalReady();
}

void PageInput::signalReady() { wake(pageReady_.get()); }

}  // namespace qv
