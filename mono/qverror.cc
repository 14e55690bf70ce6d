// qverror.cc - fixed error lines: "Error: ", optionally the subject and " :",
// then the message and " !!" (the sorted-copy lines: "ERROR: ..."). Spoolers
// copy these lines into their logs.
#include "mono/qverror.h"

#include <cstdio>
#include <cstring>

#include "common/malloc_buffer.h"

namespace qv::mono {

namespace {

// Reports `format` filled with `first` and, when not null, `second`. A
// subject is a command-line word or a path of any length: the line goes
// into a buffer of its size, and only without memory is it cut.
void reportLine(const JobEnv& env, const char* format, const char* first, const char* second) {
  char line[1024];
  const auto print = [&](char* to, std::size_t size) {
    return second != nullptr ? std::snprintf(to, size, format, first, second)
                             : std::snprintf(to, size, format, first);
  };
  const int length = print(line, sizeof line);
  if (length < 0) return;
  const auto needed = static_cast<std::size_t>(length);
  if (needed < sizeof line) {
    env.say(ReportLevel::kError, {line, needed});
  } else if (const ByteBuffer whole = allocateBytes(needed + 1)) {
    char* text = reinterpret_cast<char*>(whole.get());
    print(text, needed + 1);
    env.say(ReportLevel::kError, {text, needed});
  } else {
    env.say(ReportLevel::kError, {line, sizeof line - 1});
  }
}

}  // namespace

// Named as the filter's stderr reporter; it reports through the job's environment.
Status qvError(const JobEnv& env, Status status, const char* subject) {
  const char* message = nullptr;
  switch (status) {
    case Status::kCannotOpen:
      message = "cannot open file";
      break;
    case Status::kInvalid:
      message = "invalid option";
      break;
    case Status::kNoMemory:
      message = "cannot allocate memory";
      break;
    case Status::kWriteFailed:
      message = "cannot write output";
      break;
    case Status::kNoCopyFile:
    case Status::kCopiesLost:
      // As the colour filter says it of its copies file; spoolers log a
      // line starting "ERROR: " as the job's error.
      reportLine(env,
                 status == Status::kNoCopyFile
                     ? "ERROR: Unable to create a temporary file in %s for sorted copies"
                     : "ERROR: Writing the sorted copies to a temporary file in %s failed, "
                       "just ONE copy was printed!",
                 subject != nullptr ? subject : "/tmp", nullptr);
      return status;
    default:
      return status;
  }
  if (subject != nullptr)
    reportLine(env, "Error: %s :%s !!", subject, message);
  else
    reportLine(env, "Error: %s !!", message, nullptr);
  return status;
}

}  // namespace qv::mono
