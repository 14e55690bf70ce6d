// pbmproc.cc - the PPM page header reader.
//
// The accepted form is strict: "P6", then width, height and maximum value,
// each token followed by exactly one white-space character. A "#" comment may
// stand where a token would begin and runs to the next CR or LF. The numbers
// are parsed but not used: the page geometry comes from the paper files.
#include "colour/pbmproc.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace qv::colour {

void Debug_dummy(const char* /*format*/, ...) {}

long ReadPpmFileHeader(std::FILE* in) {
  char token[kPpmMaxToken + 1] = {};
  int tokenLength = 0;
  int field = 0;  // 0 magic, 1 width, 2 height, 3 maximum value
  bool inComment = false;
  bool consumed = false;
  long width = 0;
  long height = 0;

  for (;;) {
    const int c = std::getc(in);
    if (c == EOF) return consumed ? kPpmMalformed : kPpmEnd;
    consumed = true;

    if (inComment) {
      if (c == '\n' || c == '\r') inComment = false;
      continue;
    }
    const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (tokenLength > 0) {
      if (!space) {
        // A token longer than the buffer cannot be a PPM number or magic.
        if (tokenLength == kPpmMaxToken) return kPpmMalformed;
        token[tokenLength++] = static_cast<char>(c);
        continue;
      }
      switch (field) {
        case 0:
          if (std::strcmp(token, "P6") != 0) return kPpmMalformed;
          break;
        case 1:
          width = std::strtol(token, nullptr, 10);
          break;
        case 2:
          height = std::strtol(token, nullptr, 10);
          break;
        default: {
          const long maxColor = std::strtol(token, nullptr, 10);
          Debug_dummy("PPM Header:width(%d) length(%d) maxColor(%d)\n", static_cast<int>(width),
                      static_cast<int>(height), static_cast<int>(maxColor));
          return kPpmPage;
        }
      }
      ++field;
      std::memset(token, 0, sizeof token);
      tokenLength = 0;
      continue;
    }
    if (c == '#') {
      inComment = true;
    } else if (space) {
      return kPpmMalformed;  // exactly one separator between tokens
    } else {
      token[tokenLength++] = static_cast<char>(c);
    }
  }
}

}  // namespace qv::colour
