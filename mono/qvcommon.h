// qvcommon.h - the mono filter's job settings record, the settings-file
// vocabulary and the paper information lookup.
#pragma once

#include <cstdint>
#include <cstdio>

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
};
