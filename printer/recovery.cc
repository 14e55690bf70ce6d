// recovery.cc - the state file across a crash.
#include "printer/recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/unique_file.h"

namespace qvprinter {
namespace {

// A job that was printing when the server ended is aborted, never printed
// again: nothing tells how much of it the printer had already printed, and
// a second run could print its pages twice.
constexpr const char* kInterrupted =
    "The server stopped while the job was printing; it was not printed again, as the printer "
    "may already have printed part of it.";

// Process-wide because PAPPL's save callback, the driver's job threads and
// the shutdown path all save the one file.
struct StateFile {
  std::mutex mutex;  // one save at a time: every save writes the same temporary file
  std::string path;
};

StateFile& stateFile() {
  static StateFile file;
  return file;
}

struct InterruptedJob {
  int printerId = 0;
  int jobId = 0;
};

struct OptionsDeleter {
  int count = 0;
  void operator()(cups_option_t* options) const { cupsFreeOptions(count, options); }
};

// A state-file line's options ("name="value" ..."), as PAPPL writes them.
class LineOptions {
 public:
  explicit LineOptions(const std::string& text) {
    cups_option_t* parsed = nullptr;
    const int count = cupsParseOptions(text.c_str(), 0, &parsed);
    options_ = std::unique_ptr<cups_option_t, OptionsDeleter>(parsed, OptionsDeleter{count});
  }
  int count() const { return options_.get_deleter().count; }
  const cups_option_t& at(int i) const { return options_.get()[i]; }
  int integer(const char* name) const {
    const char* value = cupsGetOption(name, count(), options_.get());
    return value != nullptr ? std::atoi(value) : 0;
  }
  const char* text(const char* name) const { return cupsGetOption(name, count(), options_.get()); }

 private:
  std::unique_ptr<cups_option_t, OptionsDeleter> options_;
};

// ` name="value"`, quoted as PAPPL quotes it.
void appendOption(std::string& line, std::string_view name, std::string_view value) {
  line.append(" ").append(name).append("=\"");
  for (const char c : value) {
    if (c == '\\' || c == '"') line.push_back('\\');
    line.push_back(c);
  }
  line.push_back('"');
}

// The file that marks a spooled document as being printed.
std::string markOf(std::string_view document) { return std::string(document) + ".printing"; }

// Removes a job's document if its name is one PAPPL gives the job's spool
// files ("p00001j000000005-name.pdf"): a state file never makes us unlink
// anything else.
void removeDocument(const char* filename, int printerId, int jobId) {
  if (filename == nullptr) return;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "p%05dj%09d-", printerId, jobId);
  const char* slash = std::strrchr(filename, '/');
  const char* base = slash != nullptr ? slash + 1 : filename;
  if (std::strncmp(base, prefix, std::strlen(prefix)) == 0) ::unlink(filename);
}

// The Job line of an interrupted job, as an aborted job with no document;
// `line` unchanged for any other job. Removes the interrupted job's document
// and that of a job that ended cancelled or aborted with it still spooled
// (a shutdown that could not wait for a stuck job).
bool fixJobLine(std::string& line, int printerId, std::vector<InterruptedJob>& interrupted) {
  const LineOptions options(line.substr(4));
  const int state = options.integer("state");
  const int id = options.integer("id");
  const char* document = options.text("filename");
  const std::string mark = document != nullptr ? markOf(document) : "";
  const bool marked = !mark.empty() && ::unlink(mark.c_str()) == 0;
  // A job saved as pending may have begun after the last save: its mark says so.
  const bool printing = state == IPP_JSTATE_PROCESSING || state == IPP_JSTATE_STOPPED ||
                        (marked && state == IPP_JSTATE_PENDING);
  const bool ended = state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED;
  if ((!printing && !ended) || id <= 0) return false;
  removeDocument(document, printerId, id);
  if (!printing && options.text("filename") == nullptr) return false;
  std::string fixed = "Job";
  for (int i = 0; i < options.count(); ++i) {
    const std::string_view name = options.at(i).name;
    if (name == "filename" || (printing && (name == "state" || name == "completed"))) continue;
    appendOption(fixed, name, options.at(i).value);
  }
  if (printing) {
    appendOption(fixed, "completed", std::to_string(std::time(nullptr)));
    appendOption(fixed, "state", std::to_string(IPP_JSTATE_ABORTED));
    interrupted.push_back({printerId, id});
  }
  line = fixed;
  return true;
}

// Writes `text` to `path` beside it and renames it over the old file once
// it is on disk. Returns 0 or an errno value.
int replaceFile(const std::string& path, std::string_view text) {
  const std::string temporary = path + ".tmp";
  qv::UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd) return errno;
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::write(fd.get(), text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return errno != 0 ? errno : EIO;
    done += static_cast<std::size_t>(wrote);
  }
  if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) return errno;
  return ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

// Flushes a file PAPPL wrote to disk, then renames it over `path`.
int commitFile(const std::string& temporary, const std::string& path) {
  qv::UniqueFd fd(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || ::fsync(fd.get()) != 0) return errno;
  return ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

// Turns the jobs that were printing into aborted ones in the state file;
// the jobs it changed.
std::vector<InterruptedJob> fixStateFile(pappl_system_t* system, const std::string& path) {
  std::vector<InterruptedJob> interrupted;
  std::ifstream in(path, std::ios::binary);
  if (!in) return interrupted;
  std::string text, line;
  bool changed = false;
  int printerId = 0;
  while (std::getline(in, line)) {
    if (line.starts_with("<Printer ")) {
      printerId = LineOptions(line.substr(9, line.size() - 10)).integer("id");
    } else if (line.starts_with("Job ")) {
      changed = fixJobLine(line, printerId, interrupted) || changed;
    }
    text.append(line).push_back('\n');
  }
  if (changed) {
    if (const int rc = replaceFile(path, text); rc != 0)
      papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot update the state file \"%s\": %s",
               path.c_str(), std::strerror(rc));
  }
  return interrupted;
}

}  // namespace

bool loadState(pappl_system_t* system, const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(stateFile().mutex);
    stateFile().path = path;
  }
  const std::vector<InterruptedJob> interrupted = fixStateFile(system, path);
  const bool loaded = papplSystemLoadState(system, path.c_str());
  for (const InterruptedJob& entry : interrupted) {
    pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, entry.printerId, nullptr);
    pappl_job_t* job = printer != nullptr ? papplPrinterFindJob(printer, entry.jobId) : nullptr;
    if (job == nullptr) continue;
    papplJobSetMessage(job, "%s", kInterrupted);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Aborted: %s", kInterrupted);
    // Its attributes file; PAPPL only removes it at its next save.
    char name[1024];
    papplJobOpenFile(job, name, sizeof name, nullptr, "ipp", "x");
  }
  return loaded;
}

bool saveState(pappl_system_t* system) {
  StateFile& file = stateFile();
  std::lock_guard<std::mutex> lock(file.mutex);
  if (file.path.empty()) return false;
  // PAPPL rewrites the file in place: a crash in the middle of that would
  // lose every printer. It writes a file beside it instead.
  const std::string temporary = file.path + ".tmp";
  if (!papplSystemSaveState(system, temporary.c_str())) return false;
  if (const int rc = commitFile(temporary, file.path); rc != 0) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot save the state file \"%s\": %s",
             file.path.c_str(), std::strerror(rc));
    return false;
  }
  return true;
}

void recordJobStart(pappl_job_t* job) {
  const char* document = papplJobGetFilename(job);
  if (document == nullptr) return;  // a raster stream: nothing could print it again
  const std::string mark = markOf(document);
  qv::UniqueFd fd(::open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd || ::fsync(fd.get()) != 0)
    papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                "Cannot mark the job as printing (%s): after a crash it could print again.",
                std::strerror(errno));
}

void recordJobEnd(pappl_job_t* job) {
  if (const char* document = papplJobGetFilename(job); document != nullptr)
    ::unlink(markOf(document).c_str());
}

}  // namespace qvprinter
