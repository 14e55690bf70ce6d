// settings_line.cc - the settings-file line reader shared by the filters.
#include "common/settings_line.h"

#include <algorithm>
#include <cstring>

namespace qv {

char* readSettingsLine(char* buffer, int size, std::FILE* fp) {
  if (buffer == nullptr || fp == nullptr || size < 2) return nullptr;
  if (std::fgets(buffer, size, fp) == nullptr) return nullptr;
  if (char* lineFeed = std::strchr(buffer, '\n')) *lineFeed = '\0';
  return buffer;
}

char* eraseBlanks(char* line) {
  char* out = line;
  for (const char* in = line; *in != '\0'; ++in)
    if (*in != ' ' && *in != '\t') *out++ = *in;
  *out = '\0';
  return line;
}

bool splitSetting(std::string_view line, std::string_view& key, char* value,
                  std::size_t valueSize) {
  const std::size_t equals = line.find('=');
  const std::string_view after =
      equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
  key = line.substr(0, equals);
  if (valueSize > 0) {
    // A line without "=" has no value; memcpy must not see its null data.
    const std::size_t length = std::min(after.size(), valueSize - 1);
    if (length > 0) std::memcpy(value, after.data(), length);
    value[length] = '\0';
  }
  return equals != std::string_view::npos;
}

}  // namespace qv
