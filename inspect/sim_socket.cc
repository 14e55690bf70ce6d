// sim_socket.cc - one AppSocket connection of the simulated printer.
#include "inspect/sim_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "common/unique_file.h"
#include "decode/decode_error.h"
#include "decode/pjl_text.h"
#include "inspect/check.h"
#include "inspect/summary.h"

namespace qvsim {
namespace {

using qvdecode::kUniversalExit;
constexpr std::size_t npos = std::string::npos;
constexpr int kPollMs = 200;  // how soon a changed state file is seen

// What a status line of the state file or a job's check adds to jobs.log.
int appendLog(const SimOptions& options, const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  qv::UniqueFile log(std::fopen((options.outDir + "/jobs.log").c_str(), "a"));
  if (!log || std::fprintf(log.get(), "%s\n", line.c_str()) < 0 || std::fflush(log.get()) != 0)
    return -1;
  return 0;
}

class Connection {
 public:
  Connection(int fd, const SimOptions& options, int& nextJob)
      : fd_(fd), options_(options), nextJob_(nextJob) {}
  int run();

 private:
  enum class Step { kProgress, kNeedMore };
  Step commandStep(bool atEnd);
  Step jobStep(bool atEnd);
  void parse(bool atEnd);
  bool tryJobEnd(std::size_t end);
  void finishJob(std::size_t end, const std::string& cut);
  void handleLine(std::string_view line);
  void reply(const std::string& text);
  void sendStatusIfChanged();
  std::string_view rest(std::size_t from) const {
    return {reinterpret_cast<const char*>(buffer_.data()) + from, buffer_.size() - from};
  }

  int fd_;
  const SimOptions& options_;
  int& nextJob_;
  SimState state_;
  std::string stateError_;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0;            // where parsing goes on
  std::size_t blockStart_ = npos;  // the universal exit of the current PJL block
  std::size_t jobStart_ = npos;    // inside a job: where it began
  std::size_t scan_ = 0;           // inside a job: where to look for its end
  std::uintmax_t received_ = 0;
  bool ustatus_ = false;
  int sentCode_ = 0;
  int failed_ = 0;
};

void Connection::reply(const std::string& text) {
  // The peer may have stopped reading; a lost answer is the peer's problem.
  if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
    std::fprintf(stderr, "qvsim: an answer could not be sent: %s\n", std::strerror(errno));
}

void Connection::sendStatusIfChanged() {
  if (!ustatus_) return;
  const PjlStatus status = pjlStatus(state_, options_.model, jobStart_ != npos);
  if (status.code == sentCode_) return;
  sentCode_ = status.code;
  reply(pjlStatusMessage("@PJL USTATUS DEVICE", status));
}

void Connection::handleLine(std::string_view line) {
  std::string upper(line);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  upper.erase(std::remove(upper.begin(), upper.end(), ' '), upper.end());
  const PjlStatus status = pjlStatus(state_, options_.model, false);
  if (upper == "@PJLINFOSTATUS") {
    reply(pjlStatusMessage("@PJL INFO STATUS", status));
  } else if (upper == "@PJLUSTATUSDEVICE=ON") {
    ustatus_ = true;
    sentCode_ = 0;
    sendStatusIfChanged();
  } else if (upper == "@PJLUSTATUSDEVICE=OFF") {
    ustatus_ = false;
  } else if (upper == "@PJLINFOID") {
    reply(std::string("@PJL INFO ID\r\n\"") +
          (options_.model == SimModel::kColour ? "QV C600" : "QV M600") + "\"\r\n\f");
  } else if (upper.starts_with("@PJLECHO")) {
    reply(std::string(line) + "\r\n\f");
  } else if (upper.starts_with("@PJLRDYMSG")) {
    const std::size_t quote = line.find('"');
    const std::string text(quote == npos ? line : line.substr(quote + 1));
    failed_ |= appendLog(options_, "panel: " + text.substr(0, text.find('"')));
  }
}

// Outside a job: universal exits and PJL lines, up to the ENTER LANGUAGE
// line that starts a job.
Connection::Step Connection::commandStep(bool atEnd) {
  const std::string_view bytes = rest(pos_);
  if (bytes.empty()) return Step::kNeedMore;
  if (bytes.starts_with(kUniversalExit)) {
    blockStart_ = pos_;
    pos_ += kUniversalExit.size();
    return Step::kProgress;
  }
  if (bytes.size() < kUniversalExit.size() && kUniversalExit.starts_with(bytes) && !atEnd)
    return Step::kNeedMore;
  if (bytes.starts_with("@PJL") ||
      (bytes.size() < 4 && std::string_view("@PJL").starts_with(bytes))) {
    const std::size_t newline = bytes.find('\n');
    if (newline == npos) {
      if (!atEnd && bytes.size() < qvdecode::kMaxPjlLineBytes) return Step::kNeedMore;
      pos_ = buffer_.size();  // never ended: not PJL
      return Step::kProgress;
    }
    std::string_view line = bytes.substr(0, newline);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t lineStart = pos_;
    pos_ += newline + 1;
    std::string upper(line.substr(0, 19));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "@PJL ENTER LANGUAGE") {
      jobStart_ = blockStart_ != npos ? blockStart_ : lineStart;
      scan_ = pos_;
      blockStart_ = npos;
      return Step::kProgress;
    }
    handleLine(line);
    return Step::kProgress;
  }
  ++pos_;  // a stray byte between PJL blocks
  blockStart_ = npos;
  return Step::kProgress;
}

// Inside a job: its end is a universal exit that opens a trailer after
// which the bytes from the job's start decode as a whole job. A universal
// exit inside the data (possible in compressed rows) fails that test and
// the search goes on.
Connection::Step Connection::jobStep(bool atEnd) {
  const std::string_view bytes = rest(0);
  const std::size_t exit = bytes.find(kUniversalExit, scan_);
  if (exit == npos) {
    scan_ = std::max(scan_, bytes.size() - std::min(bytes.size(), kUniversalExit.size() - 1));
    return Step::kNeedMore;
  }
  const std::size_t after = exit + kUniversalExit.size();
  std::string_view next = bytes.substr(after);
  if (next.size() < 4 && std::string_view("@PJL").starts_with(next) && !atEnd)
    return Step::kNeedMore;
  if (next.starts_with("@PJL")) {
    // The trailer: PJL lines, the closing exit and (colour) a line feed.
    std::size_t at = after;
    while (bytes.substr(at).starts_with("@PJL")) {
      const std::size_t newline = bytes.find('\n', at);
      if (newline == npos) {
        if (atEnd) break;
        return Step::kNeedMore;
      }
      at = newline + 1;
    }
    const std::string_view close = bytes.substr(at);
    if (close.size() < kUniversalExit.size() && kUniversalExit.starts_with(close) && !atEnd)
      return Step::kNeedMore;
    if (close.starts_with(kUniversalExit)) {
      const std::size_t end = at + kUniversalExit.size();
      if (end == bytes.size() && !atEnd) return Step::kNeedMore;  // a line feed may follow
      if ((end < bytes.size() && bytes[end] == '\n' && tryJobEnd(end + 1)) || tryJobEnd(end))
        return Step::kProgress;
    }
  } else if ((next.starts_with('\n') && tryJobEnd(after + 1)) || tryJobEnd(after)) {
    // The closing exit of a trailer without PJL lines (colour: and its line
    // feed), or the mono job's lone closing exit.
    return Step::kProgress;
  }
  scan_ = after;
  return Step::kProgress;
}

bool Connection::tryJobEnd(std::size_t end) {
  const std::span<const std::uint8_t> job(buffer_.data() + jobStart_, end - jobStart_);
  std::string why;
  const qvinspect::JobKind kind = qvinspect::detectJobKind(job, why);
  qvdecode::DecodeError error;
  if (kind == qvinspect::JobKind::kUnknown || qvinspect::checkJob(job, kind, error) != 0)
    return false;
  finishJob(end, "");
  return true;
}

// Keeps buffer_[jobStart_, end) as the next job file and reports it;
// `cut` says why a job that does not decode ended.
void Connection::finishJob(std::size_t end, const std::string& cut) {
  const int number = nextJob_++;
  const std::span<const std::uint8_t> job(buffer_.data() + jobStart_, end - jobStart_);
  const std::string stem = "job-" + std::to_string(number);
  {
    qv::UniqueFile file(std::fopen((options_.outDir + "/" + stem + ".prn").c_str(), "wb"));
    if (!file || std::fwrite(job.data(), 1, job.size(), file.get()) != job.size() ||
        std::fflush(file.get()) != 0)
      failed_ = -1;
  }
  std::string line = "job " + std::to_string(number) + ": ";
  std::string why;
  const qvinspect::JobKind kind = qvinspect::detectJobKind(job, why);
  qvdecode::DecodeError error;
  if (kind == qvinspect::JobKind::kUnknown) {
    line += "not a QV job: " + why;
  } else if (qvinspect::checkJob(job, kind, error) != 0) {
    line += "damaged: " + qvdecode::describeError(error);
  } else {
    std::optional<qvinspect::PreviewWriter> writer;
    if (options_.preview) writer.emplace(options_.outDir, stem, *options_.preview);
    qvinspect::PageVisitor visitor;
    qvinspect::LineVisitor lines;
    if (writer) {
      visitor = [&](const qvinspect::PageSummary& page, const qvdecode::MonoPage* mono,
                    const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg) {
        return writer->write(page, mono, monoJob, pwg);
      };
      lines = [&](const qvdecode::PwgPage& page, std::uint32_t y, std::uint32_t copies,
                  std::span<const std::uint8_t> pixels) {
        return writer->line(page, y, copies, pixels);
      };
    }
    qvinspect::JobSummary summary;
    qvinspect::summariseJob(job, kind, summary, visitor, lines);
    line += std::string("OK: ") + qvinspect::kindName(kind) + " job, " +
            std::to_string(summary.pages.size()) + (summary.pages.size() == 1 ? " page" : " pages");
    if (writer && !writer->error().empty()) line += " (preview: " + writer->error() + ")";
  }
  if (!cut.empty()) line += " (" + cut + ")";
  failed_ |= appendLog(options_, line);
  pos_ = end;
  jobStart_ = npos;
  // The bytes before the next one are done with.
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
  pos_ = 0;
  scan_ = 0;
}

void Connection::parse(bool atEnd) {
  for (;;) {
    const Step step = jobStart_ != npos ? jobStep(atEnd) : commandStep(atEnd);
    if (step == Step::kNeedMore) break;
  }
  if (jobStart_ == npos && blockStart_ == npos && pos_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
  if (atEnd && jobStart_ != npos)
    finishJob(buffer_.size(), "the connection ended before the job did");
}

int Connection::run() {
  std::uint8_t chunk[1 << 16];
  for (;;) {
    if (loadState(options_.statePath, state_, stateError_) != 0)
      std::fprintf(stderr, "qvsim: %s\n", stateError_.c_str());  // a ready printer meanwhile
    sendStatusIfChanged();
    const bool inJob = jobStart_ != npos;
    if (options_.stop != nullptr && *options_.stop) {
      if (inJob) finishJob(buffer_.size(), "the printer was switched off");
      break;
    }
    if (inJob && state_.hangupAfter > 0 && received_ >= std::uintmax_t(state_.hangupAfter)) {
      finishJob(buffer_.size(),
                "the printer closed the connection after " + std::to_string(received_) + " bytes");
      break;
    }
    // A printer that cannot print stops reading the job: the sender waits.
    pollfd watch{fd_, static_cast<short>(inJob && isPaused(state_, options_.model) ? 0 : POLLIN),
                 0};
    const int ready = ::poll(&watch, 1, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0 || !(watch.revents & (POLLIN | POLLHUP | POLLERR))) continue;
    std::size_t want = sizeof chunk;
    if (state_.hangupAfter > 0 && received_ < std::uintmax_t(state_.hangupAfter))
      want = std::min<std::uintmax_t>(want, std::uintmax_t(state_.hangupAfter) - received_);
    const ssize_t got = ::read(fd_, chunk, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      parse(true);
      break;
    }
    received_ += static_cast<std::uintmax_t>(got);
    buffer_.insert(buffer_.end(), chunk, chunk + got);
    parse(false);
  }
  ::close(fd_);
  return failed_;
}

}  // namespace

int serveConnection(int fd, const SimOptions& options, int& nextJob) {
  return Connection(fd, options, nextJob).run();
}

}  // namespace qvsim
