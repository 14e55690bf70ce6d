// settings_line.h - the line reader of the filters' settings and paper
// files: read a line, erase its blanks, split "key=value".
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace qv {

// Reads one line of at most size - 1 characters into `buffer` and cuts it at
// its first line feed (a carriage return stays); a longer line arrives in
// pieces, each read as a line. Returns `buffer`, or nullptr at end of file,
// on a read error, or for a null buffer or stream or a size below 2.
char* readSettingsLine(char* buffer, int size, std::FILE* fp);

// Removes every space and tab from `line` in place; returns `line`.
char* eraseBlanks(char* line);

// Splits `line` at its first "=": `key` becomes the text before it, and the
// text after it is copied into `value` (at most valueSize - 1 bytes, always
// terminated when valueSize > 0). Returns false, with `value` empty, when
// the line holds no "=".
bool splitSetting(std::string_view line, std::string_view& key, char* value, std::size_t valueSize);

}  // namespace qv
