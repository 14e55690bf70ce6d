// mono_core.cc - a qvprinter job on the mono core (qv::MonoJob).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mono/mono_job.h"
#include "mono/qvcommon.h"
#include "printer/cores.h"

namespace qvprinter {
namespace {

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
  const int rc = getRcFile(fp, &settings);
  std::fclose(fp);
  if (rc != 0) {
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
  std::memset(settings.flags, '0', sizeof settings.flags);
  for (std::size_t digit = 0; digit < 8; ++digit)
    settings.flags[digit] = "0123456789abcdef"[(plan.monoFlags >> (4 * digit)) & 0xF];
  settings.offset = 0;
  const char* tmpdir = std::getenv("TMPDIR");
  copyText(settings.tmpDir, tmpdir != nullptr ? tmpdir : "");
  return true;
}

class MonoStream final : public CoreStream {
 public:
  MonoStream(const PrintSettings& settings, qv::ByteSink sink) : job_(settings, sink) {}
  int beginJob() override { return job_.beginJob(); }
  int beginPage() override { return job_.beginPage(); }
  int write(std::span<const std::uint8_t> row) override { return job_.writeRow(row); }
  int endPage() override { return job_.endPage(); }
  int endJob() override { return job_.endJob(); }
  // The mono core's cancel: no more rows; the job's end completes the open
  // page with blank rows and writes the trailer.
  int cancel() override { return job_.endJob(); }

 private:
  qv::MonoJob job_;
};

}  // namespace

std::unique_ptr<CoreStream> makeMonoStream(const JobPlan& plan, qv::ByteSink sink,
                                           std::string& error) {
  PrintSettings settings;
  if (!fillMonoSettings(plan, settings, error)) return nullptr;
  if (!qv::monoPageFits(settings)) {
    error = "The page is too large for the QV M600 at this resolution.";
    return nullptr;
  }
  return std::make_unique<MonoStream>(settings, sink);
}

}  // namespace qvprinter
