// cores.cc - a qvprinter job on the mono core (qv::mono::MonoJob) or the
// colour core (qv::colour::ColourJob, with no page of the job on disk), and
// the job's environment both cores report to.
#include "printer/cores.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "colour/colour_job.h"
#include "colour/qvresource.h"
#include "colour/rastertoqv.h"
#include "mono/mono_job.h"
#include "mono/qvcommon.h"

namespace qvprinter {
namespace {

using qv::colour::PjpInfo;
using qv::colour::RcSettings;
using qv::mono::PrintSettings;

// A core's message goes to the job's log at its level; an error also
// becomes the job's state message, the reason the user sees.
void reportToJob(void* job, qv::ReportLevel level, std::string_view text) {
  auto* const papplJob = static_cast<pappl_job_t*>(job);
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), 1024));
  switch (level) {
    case qv::ReportLevel::kError:
      papplLogJob(papplJob, PAPPL_LOGLEVEL_ERROR, "%.*s", length, text.data());
      papplJobSetMessage(papplJob, "%.*s", length, text.data());
      break;
    case qv::ReportLevel::kWarning:
      papplLogJob(papplJob, PAPPL_LOGLEVEL_WARN, "%.*s", length, text.data());
      break;
    case qv::ReportLevel::kInfo:
      papplLogJob(papplJob, PAPPL_LOGLEVEL_INFO, "%.*s", length, text.data());
      break;
  }
}

// The same test the raster callbacks make.
bool jobCancelled(void* job) { return papplJobIsCanceled(static_cast<pappl_job_t*>(job)); }

qv::JobEnv jobEnv(pappl_job_t* job) { return {reportToJob, jobCancelled, job}; }

template <std::size_t N>
void copyText(char (&dest)[N], const std::string& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
}

// The mono core's settings, read by the filter's own settings parser from
// the plan's settings text, so that every word means what it means in a
// settings file.
bool fillMonoSettings(const JobPlan& plan, PrintSettings& settings, std::string& error) {
  std::memset(&settings, 0, sizeof settings);
  std::string text = plan.settingsText("QV-M600");
  std::FILE* fp = ::fmemopen(text.data(), text.size(), "r");
  if (fp == nullptr) {
    error = "Out of memory.";
    return false;
  }
  const qv::mono::Status rc = qv::mono::getRcFile(fp, &settings);
  std::fclose(fp);
  if (rc != qv::mono::Status::kOk) {
    error = "The job's settings were refused.";
    return false;
  }
  settings.width = plan.rasterWidth();
  settings.height = plan.rasterHeight();
  settings.paperWidth = settings.width;
  settings.paperHeight = settings.height;
  copyText(settings.owner, plan.owner);
  copyText(settings.password, plan.pin);
  copyText(settings.jobName, plan.title);
  copyText(settings.charset, "utf-8");
  // The paper's matching flags, as -flags digits (digit 0 first).
  std::memset(settings.cflags, '0', sizeof settings.cflags);
  for (std::size_t digit = 0; digit < 8; ++digit)
    settings.cflags[digit] = "0123456789abcdef"[(plan.monoFlags >> (4 * digit)) & 0xF];
  settings.arg_offset = 0;
  const char* tmpdir = std::getenv("TMPDIR");
  copyText(settings.tmpDir, tmpdir != nullptr ? tmpdir : "");
  return true;
}

class MonoStream final : public CoreStream {
 public:
  MonoStream(const PrintSettings& settings, qv::ByteSink sink, const qv::JobEnv& env)
      : job_(settings, sink, env) {}
  int beginJob() override { return static_cast<int>(job_.beginJob()); }
  int beginPage() override { return static_cast<int>(job_.beginPage()); }
  int write(std::span<const std::uint8_t> row) override {
    return static_cast<int>(job_.writeRow(row));
  }
  int endPage() override { return static_cast<int>(job_.endPage()); }
  int endJob() override { return static_cast<int>(job_.endJob()); }
  // The mono core's cancel: no more rows; the job's end completes the open
  // page with blank rows and writes the trailer.
  int cancel() override { return static_cast<int>(job_.endJob()); }

 private:
  qv::mono::MonoJob job_;
};

// The colour core's settings, word by word through the filter's own
// parameter table, and its job record as ConvertRc2Pjp fills it, with the
// page geometry from the paper table instead of the printer's geometry files.
bool fillColourRecords(const JobPlan& plan, RcSettings& rc, PjpInfo& job, std::string& error) {
  std::snprintf(rc.info.szPrinterName, sizeof rc.info.szPrinterName, "QV-C600");
  for (const auto& [key, word] : plan.settings) {
    const std::string line = key + "=" + word;
    char value[qv::colour::kRcLineMax + 1];
    const int index = qv::colour::ParamSearch(line.c_str(), value, sizeof value, &rc.info);
    const qv::colour::Status status = index < 0 ? qv::colour::Status::kNoSuchSetting
                                      : qv::colour::isNumericalParam(index)
                                          ? qv::colour::SetNumericalParam(index, value, &rc.info)
                                          : qv::colour::SetSelectionParam(index, value, &rc.info);
    if (status != qv::colour::Status::kOk) {
      error = "The colour printer has no setting " + line + ".";
      return false;
    }
  }
  job = PjpInfo{};
  qv::colour::convertRcSettings(&rc.info, &job);
  // The raster is the imaging area; the PWG page size is the sheet in
  // points, as the printer's PaperDimension file gives it.
  const qv::host::PaperSize& paper = *plan.medium->paper;
  job.nWidth = static_cast<std::int16_t>(plan.rasterWidth());
  job.nHeight = static_cast<std::int16_t>(plan.rasterHeight());
  job.nBytesPerLine = static_cast<std::uint64_t>(job.nWidth) * 3;
  job.nPaperWidth = static_cast<std::int16_t>((paper.width600 * 72 + 300) / 600);
  job.nPaperLength = static_cast<std::int16_t>((paper.height600 * 72 + 300) / 600);
  return true;
}

class ColourStream final : public CoreStream {
 public:
  ColourStream(const RcSettings& rc, const PjpInfo& record,
               const qv::colour::JobVariables& variables, qv::ByteSink sink, const qv::JobEnv& env)
      : job_(rc.info, record, variables, sink, env, false) {}
  int beginJob() override { return settle(job_.beginJob()); }
  int beginPage() override { return settle(job_.beginPage()); }
  int beginPage(std::span<std::uint8_t> page) override { return settle(job_.beginPage(page)); }
  int write(std::span<const std::uint8_t> line) override { return settle(job_.writeLine(line)); }
  int endPage() override { return settle(job_.endPage()); }
  std::span<std::uint8_t> pageBuffer() override { return job_.pageBuffer(); }
  int endPage(std::size_t filled) override { return settle(job_.endPage(filled)); }
  int endJob() override { return static_cast<int>(cancelled_ ? job_.cancel() : job_.endJob()); }
  int cancel() override { return static_cast<int>(job_.cancel()); }

 private:
  // The core stops a page as soon as the job is cancelled. The raster
  // callbacks see the cancel themselves and end the job as cancelled; until
  // then the stopped page counts as ended, and the job's end is the core's
  // cancel.
  int settle(qv::colour::Status status) {
    if (status != qv::colour::Status::kCancelled) return static_cast<int>(status);
    cancelled_ = true;
    return 0;
  }

  qv::colour::ColourJob job_;
  bool cancelled_ = false;
};

}  // namespace

std::unique_ptr<CoreStream> makeMonoStream(const JobPlan& plan, qv::ByteSink sink, pappl_job_t* job,
                                           std::string& error) {
  PrintSettings settings;
  if (!fillMonoSettings(plan, settings, error)) return nullptr;
  if (!qv::mono::monoPageFits(settings)) {
    error = "The page is too large for the QV M600 at this resolution.";
    return nullptr;
  }
  return std::make_unique<MonoStream>(settings, sink, jobEnv(job));
}

std::unique_ptr<CoreStream> makeColourStream(const JobPlan& plan, qv::ByteSink sink,
                                             pappl_job_t* job, std::string& error) {
  RcSettings rc;
  PjpInfo record;
  if (!fillColourRecords(plan, rc, record, error)) return nullptr;
  const auto text = [](const std::string& value) {
    return value.empty() ? nullptr : value.c_str();
  };
  qv::colour::JobVariables variables;
  variables.password = text(plan.pin);
  variables.owner = text(plan.owner);
  variables.title = text(plan.title);
  variables.outputTray = text(plan.outputTray);
  return std::make_unique<ColourStream>(rc, record, variables, sink, jobEnv(job));
}

}  // namespace qvprinter
