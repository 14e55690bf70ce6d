// status.cc - formatted reports for the colour core's messages.
#include "colour/status.h"

#include <cstdarg>
#include <cstdio>

namespace qv::colour {

void reportf(const JobEnv& env, ReportLevel level, const char* format, ...) {
  if (env.report == nullptr) return;
  char text[1024];
  std::va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  const auto size = static_cast<std::size_t>(length);
  env.say(level, {text, size < sizeof text ? size : sizeof text - 1});
}

}  // namespace qv::colour
