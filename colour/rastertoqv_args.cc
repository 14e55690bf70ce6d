// rastertoqv_args.cc - the colour filter's command line.
#include <cstdio>
#include <cstring>

#include "colour/qverror.h"
#include "colour/rastertoqv.h"

namespace qv::colour {

// The command line carries only file names: every print setting comes from
// the settings file, so nothing here can override one.
Status InterpretParameters(int argc, char** argv, PjpInfo* job, const JobEnv& env) {
  job->fpInput = stdin;
  job->pszPaperInf = nullptr;
  job->pszRcFile = nullptr;
  if (argc < 2) return QvError(env, Status::kBadOption, nullptr);

  bool inputTaken = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    // The value is the next argument as it stands, even one that begins
    // with "-": a spooler may hand over any path.
    if (std::strcmp(arg, "-pi") == 0 || std::strcmp(arg, "-rc") == 0) {
      const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
      if (arg[1] == 'p')
        job->pszPaperInf = value;
      else
        job->pszRcFile = value;
      ++i;
      continue;
    }
    if (inputTaken) {
      std::fclose(job->fpInput);
      job->fpInput = stdin;
      return QvError(env, Status::kBadOption, arg);
    }
    std::FILE* input = std::fopen(arg, "rb");
    if (input == nullptr) return QvError(env, Status::kCannotOpen, arg);
    job->fpInput = input;
    inputTaken = true;
  }
  if (job->pszPaperInf == nullptr || job->pszRcFile == nullptr)
    return QvError(env, Status::kBadOption, nullptr);
  return Status::kOk;
}

}  // namespace qv::colour
