// colour_core.cc - a qvprinter job on the colour core (qv::colour::ColourJob), with
// no page of the job on disk.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "colour/colour_job.h"
#include "colour/qvresource.h"
#include "colour/rastertoqv.h"
#include "printer/cores.h"

namespace qvprinter {
namespace {

using qv::colour::PjpInfo;
using qv::colour::RcSettings;

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
  const qvcups::PaperSize& paper = *plan.medium->paper;
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
               const qv::colour::JobVariables& variables, qv::ByteSink sink)
      : job_(rc.info, record, variables, sink, keepErrors(error_), false) {}
  int beginJob() override { return static_cast<int>(job_.beginJob()); }
  int beginPage() override { return static_cast<int>(job_.beginPage()); }
  int beginPage(std::span<std::uint8_t> page) override {
    return static_cast<int>(job_.beginPage(page));
  }
  int write(std::span<const std::uint8_t> line) override {
    return static_cast<int>(job_.writeLine(line));
  }
  int endPage() override { return static_cast<int>(job_.endPage()); }
  std::span<std::uint8_t> pageBuffer() override { return job_.pageBuffer(); }
  int endPage(std::size_t filled) override { return static_cast<int>(job_.endPage(filled)); }
  int endJob() override { return static_cast<int>(job_.endJob()); }
  int cancel() override { return static_cast<int>(job_.cancel()); }

 private:
  // The core's error messages go to the stream's error text for now; the
  // last one is kept.
  static qv::JobEnv keepErrors(std::string& error) {
    return {[](void* context, qv::ReportLevel level, std::string_view text) {
              if (level == qv::ReportLevel::kError) *static_cast<std::string*>(context) = text;
            },
            nullptr, &error};
  }
  std::string error_;  // before job_: the job reports into it
  qv::colour::ColourJob job_;
};

}  // namespace

std::unique_ptr<CoreStream> makeColourStream(const JobPlan& plan, qv::ByteSink sink,
                                             std::string& error) {
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
  return std::make_unique<ColourStream>(rc, record, variables, sink);
}

}  // namespace qvprinter
