// job_env.h - a job's environment as both filter cores see it: where their
// messages go and how a cancel reaches them. The host decides both, as
// libcupsfilters' cf_filter_data_t lets a host decide for its filters.
#pragma once

#include <string_view>

namespace qv {

enum class ReportLevel {
  kError,    // the job, or a page of it, fails
  kWarning,  // the job goes on, with less than was asked
  kInfo,     // progress worth showing to the user
};

// Either function may be null (no messages; never cancelled); both get
// `context`. `report` gets one whole message line, without its line feed,
// as the filter writes it to a spooler ("Error: ... !!", "ERROR: ..."). Both
// are called on the thread that drives the job; each core says in its job
// header how often it asks `isCancelled`.
struct JobEnv {
  void (*report)(void* context, ReportLevel level, std::string_view text) = nullptr;
  bool (*isCancelled)(void* context) = nullptr;
  void* context = nullptr;

  void say(ReportLevel level, std::string_view text) const {
    if (report != nullptr) report(context, level, text);
  }
  bool cancelled() const { return isCancelled != nullptr && isCancelled(context); }
};

}  // namespace qv
