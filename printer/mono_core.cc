// mono_core.cc - a qvprinter job on the mono core (qv::mono::MonoJob).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "mono/mono_job.h"
#include "mono/qvcommon.h"
#include "printer/cores.h"

namespace qvprinter {
namespace {

using qv::mono::PrintSettings;

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
  MonoStream(const PrintSettings& settings, qv::ByteSink sink)
      : job_(settings, sink, {&MonoStream::keepMessage, nullptr, this}) {}
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
  // The core reports the failure that ends its job; the driver tells the
  // user from the status, and the core's own text is kept here.
  static void keepMessage(void* self, qv::ReportLevel, std::string_view text) {
    static_cast<MonoStream*>(self)->message_.assign(text);
  }

  std::string message_;
  qv::mono::MonoJob job_;
};

}  // namespace

std::unique_ptr<CoreStream> makeMonoStream(const JobPlan& plan, qv::ByteSink sink,
                                           std::string& error) {
  PrintSettings settings;
  if (!fillMonoSettings(plan, settings, error)) return nullptr;
  if (!qv::mono::monoPageFits(settings)) {
    error = "The page is too large for the QV M600 at this resolution.";
    return nullptr;
  }
  return std::make_unique<MonoStream>(settings, sink);
}

}  // namespace qvprinter
