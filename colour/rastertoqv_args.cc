// rastertoqv_args.cc - the colour filter's command line.
#include <cstdio>
#include <cstring>

#include "colour/qverror.h"
#include "colour/rastertoqv.h"

// The command line carries only file names: every print setting comes from
// the settings file, so nothing here can override one.
int InterpretParameters(int argc, char** argv, PjpInfo* pPjpInfo) {
  pPjpInfo->fpInput = stdin;
  pPjpInfo->pszPaperInf = nullptr;
  pPjpInfo->pszRcFile = nullptr;
  if (argc < 2) return static_cast<int>(QvError(kQvErrInvalidOption, nullptr));

  bool inputTaken = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    // The value is the next argument as it stands, even one that begins
    // with "-": a spooler may hand over any path.
    if (std::strcmp(arg, "-pi") == 0 || std::strcmp(arg, "-rc") == 0) {
      const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
      if (arg[1] == 'p')
        pPjpInfo->pszPaperInf = value;
      else
        pPjpInfo->pszRcFile = value;
      ++i;
      continue;
    }
    if (inputTaken) {
      std::fclose(pPjpInfo->fpInput);
      pPjpInfo->fpInput = stdin;
      return static_cast<int>(QvError(kQvErrInvalidOption, arg));
    }
    std::FILE* input = std::fopen(arg, "rb");
    if (input == nullptr) return static_cast<int>(QvError(kQvErrCannotOpen, arg));
    pPjpInfo->fpInput = input;
    inputTaken = true;
  }
  if (pPjpInfo->pszPaperInf == nullptr || pPjpInfo->pszRcFile == nullptr)
    return static_cast<int>(QvError(kQvErrInvalidOption, nullptr));
  return 0;
}
