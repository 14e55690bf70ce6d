// cli.cc - qvinspect's command line, input and exit statuses.
#include "inspect/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
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

// One job of the input, as the first pass found it; offsets are the
// input's, not the job's.
struct InspectedJob {
  std::size_t offset = 0;
  JobKind kind = JobKind::kUnknown;
  JobSummary summary;
  bool violates = false;  // --check: `violation` says why
  qvdecode::DecodeError violation;
};

void shiftOffsets(InspectedJob& job) {
  const std::size_t base = job.offset;
  job.summary.error.offset += base;
  job.violation.offset += base;
  for (PageSummary& page : job.summary.pages) page.offset += base;
  if (job.summary.cancelFill) *job.summary.cancelFill += base;
}

// Splits the input into its jobs and summarises (and with --check, checks)
// each: a capture of a device that kept its connection open holds several,
// one after another. Stops at a job whose end is unknown (damaged or not a
// QV job); for the latter, `unknownWhy` says why and `unknownAt` where.
std::vector<InspectedJob> inspectJobs(std::span<const std::uint8_t> input, bool check,
                                      std::string& unknownWhy, std::size_t& unknownAt) {
  std::vector<InspectedJob> jobs;
  std::size_t offset = 0;
  do {
    InspectedJob job;
    job.offset = offset;
    const std::span<const std::uint8_t> rest = input.subspan(offset);
    job.kind = detectJobKind(rest, unknownWhy);
    if (job.kind == JobKind::kUnknown) {
      unknownAt = offset;
      break;
    }
    unknownWhy.clear();
    DecodedJob decoded;
    (void)summariseJob(rest, job.kind, job.summary, decoded, {}, {}, true);
    if (check) job.violates = checkDecoded(job.summary, decoded, job.violation) != 0;
    shiftOffsets(job);
    jobs.push_back(std::move(job));
    if (!jobs.back().summary.complete) break;
    offset += jobs.back().summary.bytes;
  } while (offset < input.size());
  return jobs;
}

// Writes every page of `job` into the preview directory. Returns 0, or -1
// with the message on `err`.
int writePreviews(const Options& options, const std::string& stem,
                  std::span<const std::uint8_t> job, JobKind kind, std::FILE* err) {
  PreviewWriter writer(options.previewDir, stem, *options.preview);
  const PageVisitor visitor = [&](const PageSummary& page, const qvdecode::MonoPage* mono,
                                  const qvdecode::MonoJob* monoJob, const qvdecode::PwgPage* pwg) {
    return writer.write(page, mono, monoJob, pwg);
  };
  const LineVisitor lines = [&](const qvdecode::PwgPage& page, std::uint32_t y,
                                std::uint32_t copies, std::span<const std::uint8_t> line) {
    return writer.line(page, y, copies, line);
  };
  JobSummary summary;
  (void)summariseJob(job, kind, summary, visitor, lines);
  if (writer.error().empty()) return 0;
  std::fprintf(err, "qvinspect: %s\n", writer.error().c_str());
  return -1;
}

// The report's stream. It keeps the first failed write, so that a full disk
// or a closed output ends in a message and a non-zero status rather than in
// a report cut short and success.
class ReportOutput {
 public:
  explicit ReportOutput(std::FILE* out) : out_(out) {}
  void put(std::string_view text) {
    if (failure_ == 0 && std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
      failure_ = errno != 0 ? errno : EIO;
    }
  }
  // Flushes; returns 0 or the errno of the first failed write.
  int finish() {
    if (failure_ == 0 && std::fflush(out_) != 0) failure_ = errno != 0 ? errno : EIO;
    return failure_;
  }

 private:
  std::FILE* out_;
  int failure_ = 0;
};

}  // namespace

int runQvinspect(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err) {
  Options options;
  if (int rc = parseOptions(argc, argv, options, err); rc != kExitOk) return rc;
  std::vector<std::uint8_t> input;
  if (int rc = readInput(options, in, input, err); rc != kExitOk) return rc;
  const std::string name = options.input.empty() ? "<stdin>" : options.input;

  std::string unknownWhy;
  std::size_t unknownAt = 0;
  const std::vector<InspectedJob> jobs = inspectJobs(input, options.check, unknownWhy, unknownAt);
  const std::size_t count = jobs.size() + (unknownWhy.empty() ? 0 : 1);
  // A file of one job reads as it always did; in a capture of several, each
  // job is named by its place ("cap.prn, job 2 of 3 at offset 5120").
  const auto label = [&](std::size_t index) {
    if (count == 1) return name;
    const std::size_t offset = index < jobs.size() ? jobs[index].offset : unknownAt;
    return name + ", job " + std::to_string(index + 1) + " of " + std::to_string(count) +
           " at offset " + std::to_string(offset);
  };
  const bool violated =
      std::any_of(jobs.begin(), jobs.end(), [](const InspectedJob& job) { return job.violates; });

  // A failed check writes no previews, as the report then cannot be trusted.
  if (options.preview && !violated) {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      const InspectedJob& job = jobs[i];
      char suffix[32] = "";
      if (count > 1) std::snprintf(suffix, sizeof suffix, "-job-%03zu", i + 1);
      const std::span<const std::uint8_t> bytes =
          std::span<const std::uint8_t>(input).subspan(job.offset, job.summary.bytes);
      if (writePreviews(options, stemOf(options.input) + suffix, bytes, job.kind, err) != 0) {
        return kExitCannotWrite;
      }
    }
  }

  ReportOutput report(out);
  int status = kExitOk;
  std::string json;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const InspectedJob& job = jobs[i];
    const std::string jobName = label(i);
    const JobSummary& summary = job.summary;
    if (options.check) {
      if (job.violates) {
        std::fprintf(err, "%s: %s\n", jobName.c_str(),
                     qvdecode::describeError(job.violation).c_str());
        status = kExitInvalid;
        continue;
      }
      std::string line = jobName + ": OK: " + kindName(job.kind) + " job, ";
      if (options.preview) line += std::to_string(summary.pages.size()) + " pages, ";
      report.put(line + "every page readable\n");
      if (summary.cancelFill) report.put(jobName + ": " + cancelLine(*summary.cancelFill) + "\n");
      continue;
    }
    if (!options.json) {
      report.put(textReport(jobName, summary));
    } else if (count == 1) {
      report.put(jsonReport(name, summary));
    } else {
      const JobPlace place{i + 1, count, job.offset};
      std::string object = jsonReport(name, summary, &place);
      object.pop_back();  // its line feed: a comma may follow
      report.put((i == 0 ? "[\n" : ",\n") + object);
    }
    if (!summary.complete) {
      std::fprintf(err, "qvinspect: %s: damaged or truncated job: %s\n", jobName.c_str(),
                   qvdecode::describeError(summary.error).c_str());
      status = kExitInvalid;
    }
  }
  if (options.json && !options.check && count > 1) report.put("\n]\n");
  if (!unknownWhy.empty()) {
    std::fprintf(err, "qvinspect: %s: not a QV job: %s\n", label(jobs.size()).c_str(),
                 unknownWhy.c_str());
    status = kExitInvalid;
  }
  if (const int failure = report.finish(); failure != 0) {
    std::fprintf(err, "qvinspect: cannot write the report: %s\n", std::strerror(failure));
    return kExitCannotWrite;
  }
  return status;
}

}  // namespace qvinspect
