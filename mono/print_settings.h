// print_settings.h - one mono job's settings record, as a host fills it
// before the job starts, and the reading of its flags.
#pragma once

#include <cstdint>

namespace qv::mono {

// One job's settings, from the settings file (codes), the command line and
// the environment (texts, sizes). Cleared to zero before the settings file is
// read; read-only once the job writer starts.
struct PrintSettings {
  char sectionName[24];      // name between "[" and "]"; no reader uses it
  std::int32_t width;        // raster width in dots at the job resolution
  std::int32_t height;       // raster height in rows at the job resolution
  std::int32_t paperWidth;   // copy of width, for paper matching
  std::int32_t paperHeight;  // copy of height
  std::int32_t resolution;   // QV_COMMAND_VALUE_RES index; 0 = not set
  std::int32_t paperSource;  // QV_COMMAND_VALUE_PS index; 0 = not set
  std::int32_t duplex;       // 0 off, 1 on
  std::int32_t duplexType;   // QV_COMMAND_VALUE_DXT index; 0 = not set
  std::int32_t paperType;    // QV_COMMAND_VALUE_PT index; 0 = not set or unknown
  std::int32_t media;        // QV_COMMAND_VALUE_MD index; 0 = not set
  std::int32_t copies;       // 1 to 999; 0 = not set
  std::int32_t sleep;        // minutes, 1 to 99; 0 = printer default
  std::int32_t tonerSave;    // 0 "ON", 1 "OFF"
  std::int32_t outputBin;    // QV_COMMAND_VALUE_OB index; 0 = not set
  char owner[144];           // at most 78 characters used
  char password[8];          // at most 7 characters
  char jobName[144];         // UTF-8, at most 78 bytes used
  char nodeName[144];        // at most 78 characters used
  char charset[64];          // character set name of the title
  char tmpDir[256];          // directory of the sorted-copy file; empty: /tmp
  // The -flags value as hexadecimal digits, least significant first: entry
  // 0 is the rightmost digit of the option value ('0' or 0 when not given).
  char cflags[32];  // a program-wide array in a one-job filter; a job's own here
  // Horizontal image offset in 1/720 inch from -offset, added to the
  // centring margin when the left shift is worked out.
  std::int32_t arg_offset;  // a program-wide value in a one-job filter; a job's own here
};

// Value of one hexadecimal digit character; anything else is 0.
constexpr int A2H(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return 0;
}

// Bit `bit` (1, 2, 4 or 8) of flags digit `digit`.
inline bool cflagSet(const PrintSettings& settings, int digit, int bit) {
  return (A2H(settings.cflags[digit]) & bit) != 0;
}

}  // namespace qv::mono
