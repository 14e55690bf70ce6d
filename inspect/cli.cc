// cli.cc - qvinspect's command line, input and exit statuses.
#include "inspect/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_file.h"
#include "decode/decode_error.h"
#include "inspect/check.h"
#include "inspect/preview.h"
#include "inspect/report.h"
#include "inspect/summary.h"

namespace qvinspect {
namespace {

constexpr const char* kUsage =
    "usage: qvinspect [--json] [--check] [--png DIR | --pnm DIR] [FILE | -]\n"
    "  Shows what a QV printer receives from a job of rawtoqv or rastertoqv.\n"
    "  --json       the report as JSON\n"
    "  --check      validate the whole stream; exit 1 at the first violation\n"
    "  --png DIR    write every page as a PNG file into DIR\n"
    "  --pnm DIR    write every page as PBM, PGM or PPM into DIR\n"
    "  FILE         the job (standard input when absent or \"-\")\n";

struct Options {
  bool json = false;
  bool check = false;
  std::optional<PreviewFormat> preview;
  std::string previewDir;
  std::string input;  // empty: standard input
};

int parseOptions(int argc, char** argv, Options& options, std::FILE* err) {
  bool inputSeen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--png" || arg == "--pnm") {
      if (i + 1 >= argc) {
        std::fprintf(err, "qvinspect: %s needs a directory\n%s", argv[i], kUsage);
        return kExitUsage;
      }
      if (options.preview) {
        std::fprintf(err, "qvinspect: give only one of --png and --pnm\n%s", kUsage);
        return kExitUsage;
      }
      options.preview = arg == "--png" ? PreviewFormat::kPng : PreviewFormat::kPnm;
      options.previewDir = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, err);
      return kExitUsage;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(err, "qvinspect: unknown option %s\n%s", argv[i], kUsage);
      return kExitUsage;
    } else {
      if (inputSeen) {
        std::fprintf(err, "qvinspect: one job at a time\n%s", kUsage);
        return kExitUsage;
      }
      inputSeen = true;
      if (arg != "-") options.input = std::string(arg);
    }
  }
  return kExitOk;
}

// Reads the whole stream; jobs are inspected in memory.
int readAll(int fd, std::vector<std::uint8_t>& bytes) {
  std::uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) return 0;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
}

int readInput(const Options& options, std::FILE* in, std::vector<std::uint8_t>& bytes,
              std::FILE* err) {
  if (options.input.empty()) {
    if (readAll(::fileno(in), bytes) != 0) {
      std::fprintf(err, "qvinspect: cannot read standard input: %s\n", std::strerror(errno));
      return kExitCannotRead;
    }
    return kExitOk;
  }
  qv::UniqueFd fd(::open(options.input.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || readAll(fd.get(), bytes) != 0) {
    std::fprintf(err, "qvinspect: cannot read %s: %s\n", options.input.c_str(),
                 std::strerror(errno));
    return kExitCannotRead;
  }
  return kExitOk;
}

// "out/mono.prn" -> "mono"; standard input -> "stdin".
std::string stemOf(const std::string& path) {
  if (path.empty()) return "stdin";
  std::string name =
      path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? "job" : name;
}

}  // namespace

int runQvinspect(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err) {
  Options options;
  if (int rc = parseOptions(argc, argv, options, err); rc != kExitOk) return rc;
  std::vector<std::uint8_t> job;
  if (int rc = readInput(options, in, job, err); rc != kExitOk) return rc;
  const std::string name = options.input.empty() ? "<stdin>" : options.input;

  std::string why;
  const JobKind kind = detectJobKind(job, why);
  if (kind == JobKind::kUnknown) {
    std::fprintf(err, "qvinspect: %s: not a QV job: %s\n", name.c_str(), why.c_str());
    return kExitInvalid;
  }

  std::optional<std::size_t> fill;
  if (options.check) {
    qvdecode::DecodeError violation;
    if (checkJob(job, kind, violation, fill) != 0) {
      std::fprintf(err, "%s: %s\n", name.c_str(), qvdecode::describeError(violation).c_str());
      return kExitInvalid;
    }
    if (!options.preview) {
      std::fprintf(out, "%s: OK: %s job, every page readable\n", name.c_str(), kindName(kind));
      if (fill) std::fprintf(out, "%s: %s\n", name.c_str(), cancelLine(*fill).c_str());
      return kExitOk;
    }
  }

  std::optional<PreviewWriter> writer;
  if (options.preview) writer.emplace(options.previewDir, stemOf(options.input), *options.preview);
  JobSummary summary;
  PageVisitor visitor;
  LineVisitor lines;
  if (writer) {
    visitor = [&](const PageSummary& page, const qvdecode::MonoPage* mono,
                  const qvdecode::MonoJob* monoJob,
                  const qvdecode::PwgPage* pwg) { return writer->write(page, mono, monoJob, pwg); };
    lines = [&](const qvdecode::PwgPage& page, std::uint32_t y, std::uint32_t copies,
                std::span<const std::uint8_t> line) { return writer->line(page, y, copies, line); };
  }
  const int decoded = summariseJob(job, kind, summary, visitor, lines);
  if (writer && !writer->error().empty()) {
    std::fprintf(err, "qvinspect: %s\n", writer->error().c_str());
    return kExitCannotWrite;
  }
  if (options.check) {
    std::fprintf(out, "%s: OK: %s job, %zu pages, every page readable\n", name.c_str(),
                 kindName(kind), summary.pages.size());
    if (fill) std::fprintf(out, "%s: %s\n", name.c_str(), cancelLine(*fill).c_str());
  } else {
    const std::string report = options.json ? jsonReport(name, summary) : textReport(name, summary);
    std::fputs(report.c_str(), out);
  }
  if (decoded != 0) {
    std::fprintf(err, "qvinspect: %s: damaged or truncated job: %s\n", name.c_str(),
                 qvdecode::describeError(summary.error).c_str());
    return kExitInvalid;
  }
  return kExitOk;
}

}  // namespace qvinspect
