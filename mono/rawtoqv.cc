// rawtoqv.cc - entry of the mono filter: command line, environment, job
// title, settings and paper files, page size; then the job writer.
//
// The spooler starts one process per job. Everything here runs before the
// first byte goes to standard output, so any refusal leaves the printer
// stream empty: a job is either complete or not sent at all.
#include "mono/rawtoqv.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "mono/mono_job.h"
#include "mono/qverror.h"

namespace qv::mono {

namespace {

// Command-line words, program name included, that a job may have; a longer
// command line is refused as invalid.
constexpr int kMaxArgumentWords = 17;
// Path buffers hold 255 characters; a longer path is refused, not cut, since
// a cut path would name another file.
constexpr std::size_t kMaxPathLength = 255;
// Without -func, a settings path this long is refused.
constexpr std::size_t kMaxRcPathWithoutFunc = 253;
// The PJL lines carry at most this many bytes of owner, title and node name.
constexpr std::size_t kPjlTextBytes = 78;

// What the entry collects before the PrintSettings record is filled.
struct EntryValues {
  char paperInfPath[kMaxPathLength + 1] = {};
  char rcPath[kMaxPathLength + 1] = {};
  char funcPath[kMaxPathLength + 1] = {};
  bool funcGiven = false;
  std::int32_t pageWidth = -1;  // dots at 600 dpi; -1 = not given
  std::int32_t pageHeight = -1;
  char owner[64] = {};
  char password[8] = {};
  char title[256] = {};
  char nodeName[128] = {};
  char charset[64] = "utf-8";
  bool eucEnabled = false;
  bool inputNamed = false;
};

// Copies at most `limit` bytes of `source` (never more than the target
// holds with its terminator) and terminates the copy.
template <std::size_t N>
void copyBounded(char (&target)[N], const char* source, std::size_t limit = N - 1) {
  const std::size_t length = std::min(std::strlen(source), std::min(limit, N - 1));
  std::memcpy(target, source, length);
  target[length] = '\0';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Opens a file the job reads. A directory opens on Linux but reads as an
// error; it is refused here as a file that cannot be opened.
std::FILE* openForReading(const char* path, const char* mode) {
  std::FILE* file = std::fopen(path, mode);
  if (file == nullptr) return nullptr;
  struct stat info;
  if (::fstat(::fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

// The same for the input, which is read through its descriptor.
qv::UniqueFd openInput(const char* path) {
  qv::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  struct stat info;
  if (fd && (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode))) fd.reset();
  return fd;
}

// "%dx%d": the width, then an "x" and the height. A part that does not
// parse leaves its value; the height is read only after a width and an "x".
void readPageSize(std::string_view text, std::int32_t& width, std::int32_t& height) {
  const std::size_t used = readDecimal(text, width);
  if (used == 0 || used >= text.size() || text[used] != 'x') return;
  readDecimal(text.substr(used + 1), height);
}

// The -password value: four digits. Each of the first four characters that
// is not a digit (the end of a shorter word included) becomes "0".
void normalisePassword(const char* word, char (&password)[8]) {
  std::memset(password, 0, sizeof password);
  copyBounded(password, word);
  for (int i = 0; i < 4; ++i)
    if (password[i] < '0' || password[i] > '9') password[i] = '0';
  password[4] = '\0';
}

// Takes an environment variable into `target` when `target` is still empty
// (or always, for the charset); an unset or empty variable changes nothing.
template <std::size_t N>
void mergeEnvironment(const char* name, char (&target)[N], bool always = false) {
  if (!always && target[0] != '\0') return;
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] == '\0') return;
  copyBounded(target, value);
}

// Takes the value of option `option`; false when a path is too long.
bool takeOption(std::string_view option, const char* value, EntryValues& values,
                PrintSettings& settings) {
  const auto takePath = [&](char(&path)[kMaxPathLength + 1]) {
    if (std::strlen(value) > kMaxPathLength) return false;
    copyBounded(path, value);
    return true;
  };
  if (option == "-pi") return takePath(values.paperInfPath);
  if (option == "-rc") return takePath(values.rcPath);
  if (option == "-func") {
    values.funcGiven = true;
    return takePath(values.funcPath);
  }
  if (option == "-offset") {
    readDecimal(value, settings.arg_offset);
  } else if (option == "-flags") {
    const std::size_t digits = std::min(std::strlen(value), sizeof settings.cflags);
    for (std::size_t d = 0; d < digits; ++d) settings.cflags[d] = value[digits - 1 - d];
  } else if (option == "-ps") {
    readPageSize(value, values.pageWidth, values.pageHeight);
  } else if (option == "-owner") {
    copyBounded(values.owner, value);
  } else if (option == "-nodename") {
    copyBounded(values.nodeName, value);
  } else if (option == "-password") {
    normalisePassword(value, values.password);
  } else if (option == "-jobname") {
    copyBounded(values.title, value);
  } else if (equalsIgnoringCase(value, "yes")) {  // -enable-euf
    values.eucEnabled = true;
  }
  return true;
}

// Reads the command line into `values`, opening a named input file.
Status readCommandLine(int argc, char** argv, EntryValues& values, PrintSettings& settings,
                       qv::UniqueFd& inputOwner, PageSource& in, const JobEnv& env) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word(argv[i]);
    const bool takesValue = word == "-pi" || word == "-rc" || word == "-func" ||
                            word == "-offset" || word == "-flags" || word == "-ps" ||
                            word == "-owner" || word == "-nodename" || word == "-password" ||
                            word == "-jobname" || word == "-enable-euf";
    if (!takesValue) {
      if (values.inputNamed) return qvError(env, Status::kInvalid, argv[i]);
      values.inputNamed = true;
      inputOwner = openInput(argv[i]);
      if (!inputOwner) return qvError(env, Status::kCannotOpen, argv[i]);
      in = PageSource{inputOwner.get()};
      continue;
    }
    // An option word at the end has no value; it must not read past argv.
    if (i + 1 >= argc) return qvError(env, Status::kInvalid, argv[i]);
    if (!takeOption(word, argv[i + 1], values, settings))
      return qvError(env, Status::kInvalid, argv[i]);
    ++i;
  }
  return Status::kOk;
}

Status loadSettingsFile(const char* path, PrintSettings& settings, const JobEnv& env) {
  const qv::UniqueFile file(openForReading(path, "rt"));
  if (!file) return qvError(env, Status::kCannotOpen, path);
  if (getRcFile(file.get(), &settings) != Status::kOk)
    return qvError(env, Status::kInvalid, nullptr);
  return Status::kOk;
}

// Page size from the command line or, when -ps did not give both values,
// from the paper information file; then scaled to the job resolution.
Status setRasterSize(EntryValues& values, PrintSettings& settings, const JobEnv& env) {
  const bool fromCommandLine = values.pageWidth != -1 && values.pageHeight != -1;
  if (!fromCommandLine) {
    if (values.paperInfPath[0] == '\0') return qvError(env, Status::kCannotOpen, "paperinf");
    const qv::UniqueFile file(openForReading(values.paperInfPath, "rt"));
    if (!file) return qvError(env, Status::kCannotOpen, values.paperInfPath);
    if (getPaperInf(file.get(), settings.paperType, values.pageWidth, values.pageHeight) !=
        kPaperFound)
      return qvError(env, Status::kInvalid, nullptr);
  }
  // A size of 0 or less has no rows to print and no buffer to hold them, and
  // the writer counts rows in 16 bits: refuse such pages before any output.
  if (!scalePageSize(values.pageWidth, values.pageHeight, settings.resolution, settings.width,
                     settings.height))
    return qvError(env, Status::kInvalid, fromCommandLine ? "-ps" : nullptr);
  settings.paperWidth = settings.width;
  settings.paperHeight = settings.height;
  return Status::kOk;
}

}  // namespace

bool del_crlf(char* text) {
  const std::size_t keep = std::strcspn(text, "\n\r\x1b");
  if (text[keep] == '\0') return false;
  text[keep] = '\0';
  return true;
}

void convertTitle(const char* title, const char* charset, bool eucEnabled, char (&jobName)[144]) {
  struct Source {
    const char* charset;
    const char* encoding;
    bool needsEuc;
  };
  static constexpr Source kSources[] = {
      {"utf-8", "UTF-8", false},  {"euc-jp", "EUC-JP", true}, {"euc-tw", "EUC-TW", true},
      {"euc-cn", "EUC-CN", true}, {"euc-kr", "EUC-KR", true},
  };
  const char* encoding = nullptr;
  for (const Source& source : kSources)
    if (std::strcmp(charset, source.charset) == 0 && (eucEnabled || !source.needsEuc))
      encoding = source.encoding;

  std::memset(jobName, 0, sizeof jobName);
  const iconv_t converter =
      encoding != nullptr ? ::iconv_open("UTF-8", encoding) : reinterpret_cast<iconv_t>(-1);
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    copyBounded(jobName, title, kPjlTextBytes);
    return;
  }
  // iconv stops at the first character that does not fit in the 78 bytes or
  // is not valid in the source encoding; what came before it is kept, so a
  // multi-byte character is never split.
  char* input = const_cast<char*>(title);
  std::size_t inputLeft = std::strlen(title);
  char* output = jobName;
  std::size_t outputLeft = kPjlTextBytes;
  ::iconv(converter, &input, &inputLeft, &output, &outputLeft);
  *output = '\0';
  ::iconv_close(converter);
}

bool scalePageSize(std::int32_t pageWidth, std::int32_t pageHeight, std::int32_t resolution,
                   std::int32_t& width, std::int32_t& height) {
  // 64-bit arithmetic: doubling a 32-bit size must not overflow.
  std::int64_t scaledWidth = pageWidth, scaledHeight = pageHeight;
  switch (resolution) {
    case 1:  // 300 dpi
      scaledWidth /= 2;
      scaledHeight /= 2;
      break;
    case 3:  // 1200 dpi classes
    case 4:
    case 5:
      scaledWidth *= 2;
      scaledHeight *= 2;
      break;
    case 6:  // 600 x 300: full width, every second row
      scaledHeight /= 2;
      break;
    default:  // 600 dpi, or no resolution given
      break;
  }
  if (scaledWidth <= 0 || scaledHeight <= 0 || scaledWidth > kMaxRasterDots ||
      scaledHeight > kMaxRasterRows)
    return false;
  width = static_cast<std::int32_t>(scaledWidth);
  height = static_cast<std::int32_t>(scaledHeight);
  return true;
}

Status prepareRawtoqvJob(int argc, char** argv, PrintSettings& settings, qv::UniqueFd& inputOwner,
                         PageSource& in, const JobEnv& env) {
  if (argc > kMaxArgumentWords) return qvError(env, Status::kInvalid, nullptr);
  std::memset(&settings, 0, sizeof settings);
  EntryValues values;
  std::memset(settings.cflags, '0', sizeof settings.cflags);
  if (const Status rc = readCommandLine(argc, argv, values, settings, inputOwner, in, env);
      rc != Status::kOk)
    return rc;
  if (const Status rc = loadSettingsFile(values.rcPath, settings, env); rc != Status::kOk)
    return rc;
  // The command line wins; the spooler's environment fills what it left
  // empty. CHARSET has no option and always applies when set.
  mergeEnvironment("OWNER", values.owner);
  mergeEnvironment("PASSWORD", values.password);
  mergeEnvironment("TITLE", values.title);
  mergeEnvironment("NODENAME", values.nodeName);
  mergeEnvironment("CHARSET", values.charset, true);
  // The spooler may give each filter a private temporary directory.
  if (const char* tmpDir = std::getenv("TMPDIR");
      tmpDir != nullptr && std::strlen(tmpDir) < sizeof settings.tmpDir)
    copyBounded(settings.tmpDir, tmpDir);

  // Owner, title and node name stop at CR, LF or ESC: a job title must not
  // be able to end the PJL line or start a universal exit.
  for (char* text : {values.charset, values.owner, values.password, values.title, values.nodeName})
    del_crlf(text);
  copyBounded(settings.charset, values.charset);
  copyBounded(settings.owner, values.owner, kPjlTextBytes);
  copyBounded(settings.password, values.password);
  if (values.title[0] != '\0')
    convertTitle(values.title, values.charset, values.eucEnabled || cflagSet(settings, 3, 1),
                 settings.jobName);
  copyBounded(settings.nodeName, values.nodeName, kPjlTextBytes);

  if (!values.funcGiven && std::strlen(values.rcPath) > kMaxRcPathWithoutFunc)
    return qvError(env, Status::kInvalid, nullptr);
  return setRasterSize(values, settings, env);
}

JobEnv commandLineEnv() {
  return {[](void*, ReportLevel, std::string_view text) {
            // A failed write to standard error leaves nothing else to tell.
            if (std::fwrite(text.data(), 1, text.size(), stderr) == text.size())
              (void)std::fputc('\n', stderr);
          },
          nullptr, nullptr};
}

int exitStatusFor(Status status) {
  constexpr std::pair<Status, int> kExitStatus[] = {
      {Status::kOk, 0},       {Status::kCannotOpen, 1}, {Status::kInvalid, 2},
      {Status::kNoMemory, 3}, {Status::kNoCopyFile, 5}, {Status::kCopiesLost, 6}};
  for (const auto& [from, exitStatus] : kExitStatus)
    if (from == status) return exitStatus;
  return 4;  // the job did not reach the printer whole
}

int runRawtoqv(int argc, char** argv, const PageSource& in, std::FILE* out, const JobEnv& env) {
  PrintSettings settings;
  qv::UniqueFd inputOwner;
  PageSource input = in;
  if (const Status rc = prepareRawtoqvJob(argc, argv, settings, inputOwner, input, env);
      rc != Status::kOk)
    return exitStatusFor(rc);
  // The writer sends nothing when it cannot allocate its buffers; the exit
  // status must then tell the spooler that the job was lost.
  const qv::ByteSink sink{[](void* file, std::span<const std::uint8_t> bytes) {
                            return std::fwrite(bytes.data(), 1, bytes.size(),
                                               static_cast<std::FILE*>(file)) == bytes.size();
                          },
                          out};
  Status status = qvcomp1030(input, sink, settings, env);
  // What stdio still holds must reach the printer too.
  if ((status == Status::kOk || status == Status::kCopiesLost) && std::fflush(out) != 0)
    status = qvError(env, Status::kWriteFailed, nullptr);
  return exitStatusFor(status);
}

}  // namespace qv::mono
