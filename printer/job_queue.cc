// job_queue.cc - one job at a time per printer; a shutdown that does not
// wait on a stuck job.
//
// PAPPL 1.3's _papplPrinterCheckJobs starts a thread for the first pending
// job when the printer has no processing job, but the thread only marks the
// job processing once it runs. Two calls close together (20 clients
// submitting at once, or a job's end meeting a new job) thus start two
// threads, for two jobs or the same one, and their bytes interleave on the
// printer's one connection. Here the calls are taken one at a time, and each
// returns only once the job it started has left the pending state.
//
// PWG and Apple raster are not spooled: _papplJobCopyDocumentData prints them
// from the client's connection (_papplJobProcessRaster) when the printer has
// no processing job, by the same unguarded test, so two clients could stream
// at once, or a stream could start beside a spooled job. The streams take the
// same lock and mark their printer until they end.
#include "printer/job_queue.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "printer/device_status.h"
#include "printer/recovery.h"
#include "printer/replaced.h"

namespace qvprinter {
namespace {

using CheckJobsFunction = void (*)(pappl_printer_t*);
using ProcessRasterFunction = void (*)(pappl_job_t*, pappl_client_t*);
using CopyDocumentFunction = void (*)(pappl_client_t*, pappl_job_t*);
using Clock = std::chrono::steady_clock;

// A started job leaves the pending state within microseconds; the bound
// only matters when PAPPL started none (the device held by Identify-Printer).
constexpr auto kStartBound = std::chrono::seconds(5);
// How long a shutdown waits for the jobs it cancelled to end.
constexpr auto kShutdownBound = std::chrono::seconds(5);

// Process-wide because PAPPL reaches us through an interposed C function, its
// event callback and a timer, none of which carries our context.
struct JobQueue {
  std::mutex checkMutex;                 // held across a whole check: one check at a time
  std::set<pappl_printer_t*> streaming;  // printers printing a raster stream (checkMutex)
  std::atomic<bool> draining{false};
  bool started = false;  // the timer has run (main loop thread only)
  // Bumped by every job event. Never held while taking a PAPPL lock: the
  // events come from threads that hold the printer's and the job's.
  std::mutex eventMutex;
  std::condition_variable eventCv;
  unsigned long events = 0;
};

JobQueue& jobQueue() {
  static JobQueue queue;
  return queue;
}

// SIGTERM and SIGINT, process-wide as signals are. PAPPL's own handlers stay
// in place behind ours (they only record the time); ours sets a flag for the
// timer, since PAPPL keeps its shutdown time to itself.
struct ShutdownSignals {
  volatile std::sig_atomic_t received = 0;
  struct sigaction previousTerm {};
  struct sigaction previousInt {};
};
ShutdownSignals gSignals;

void onShutdownSignal(int sig) {
  gSignals.received = 1;
  const struct sigaction& previous = sig == SIGINT ? gSignals.previousInt : gSignals.previousTerm;
  if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
      previous.sa_handler != SIG_IGN)
    previous.sa_handler(sig);
}

CheckJobsFunction originalCheckJobs() {
  static const auto original = originalFunction<CheckJobsFunction>("_papplPrinterCheckJobs");
  return original;
}

CopyDocumentFunction originalCopyDocument() {
  static const auto original = originalFunction<CopyDocumentFunction>("_papplJobCopyDocumentData");
  return original;
}

ProcessRasterFunction originalProcessRaster() {
  static const auto original = originalFunction<ProcessRasterFunction>("_papplJobProcessRaster");
  return original;
}

void onEvent(pappl_system_t*, pappl_printer_t*, pappl_job_t*, pappl_event_t event, void*) {
  if ((event & (PAPPL_EVENT_JOB_STATE_CHANGED | PAPPL_EVENT_JOB_COMPLETED)) == 0) return;
  JobQueue& queue = jobQueue();
  {
    std::lock_guard<std::mutex> lock(queue.eventMutex);
    ++queue.events;
  }
  queue.eventCv.notify_all();
}

// Waits until `done()` holds or `deadline` passes, woken by job events.
// `done` runs with no lock of ours held (it takes PAPPL's). Returns done().
template <typename Done>
bool waitForJobs(Done done, Clock::time_point deadline) {
  JobQueue& queue = jobQueue();
  for (;;) {
    unsigned long seen;
    {
      std::lock_guard<std::mutex> lock(queue.eventMutex);
      seen = queue.events;
    }
    if (done()) return true;
    std::unique_lock<std::mutex> lock(queue.eventMutex);
    if (!queue.eventCv.wait_until(lock, deadline, [&] { return queue.events != seen; }))
      return false;
  }
}

struct ActiveJobs {
  int processing = 0;
  std::vector<int> pending;  // in PAPPL's order: the first is the one it starts
};

void countJob(pappl_job_t* job, void* data) {
  auto* jobs = static_cast<ActiveJobs*>(data);
  const ipp_jstate_t state = papplJobGetState(job);
  if (state == IPP_JSTATE_PROCESSING || state == IPP_JSTATE_STOPPED)
    ++jobs->processing;
  else if (state == IPP_JSTATE_PENDING)
    jobs->pending.push_back(papplJobGetID(job));
}

ActiveJobs activeJobs(pappl_printer_t* printer) {
  ActiveJobs jobs;
  papplPrinterIterateActiveJobs(printer, countJob, &jobs, 1, 0);
  return jobs;
}

void checkJobs(pappl_printer_t* printer) {
  const CheckJobsFunction original = originalCheckJobs();
  if (original == nullptr) return;  // logged at start-up
  JobQueue& queue = jobQueue();
  std::lock_guard<std::mutex> serial(queue.checkMutex);
  // A system that is not running, or is shutting down, starts no job: its
  // pending jobs stay in the state file for the next start.
  if (queue.draining || papplSystemIsShutdown(papplPrinterGetSystem(printer))) return;
  if (queue.streaming.count(printer) != 0) return;  // checked again at the stream's end
  const ActiveJobs before = activeJobs(printer);
  const bool starts = before.processing == 0 && !before.pending.empty() &&
                      papplPrinterGetState(printer) != IPP_PSTATE_STOPPED;
  original(printer);
  if (!starts) return;
  const int id = before.pending.front();
  const auto left = [printer, id] {
    if (activeJobs(printer).processing > 0) return true;
    pappl_job_t* job = papplPrinterFindJob(printer, id);
    return job == nullptr || papplJobGetState(job) != IPP_JSTATE_PENDING;
  };
  if (!waitForJobs(left, Clock::now() + kStartBound))
    papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Job %d has not started (device in use?).", id);
}

}  // namespace

// PAPPL 1.3 keeps a printer's active jobs newest first, and its check starts
// the first pending one: a queue would print in the reverse of the order it
// came in. The thread started for the newest job runs the oldest pending one
// instead; the newer one stays pending for the check at that job's end.
// Threads start one check at a time (checkJobs), and a check returns only
// once a job has left the pending state, so no other thread can pick the
// same oldest job.
pappl_job_t* firstInLine(pappl_job_t* job) {
  if (papplJobGetState(job) != IPP_JSTATE_PENDING) return job;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const ActiveJobs jobs = activeJobs(printer);
  if (jobs.pending.empty()) return job;
  const int oldest = *std::min_element(jobs.pending.begin(), jobs.pending.end());
  if (oldest == papplJobGetID(job)) return job;
  pappl_job_t* first = papplPrinterFindJob(printer, oldest);
  return first != nullptr && papplJobGetState(first) == IPP_JSTATE_PENDING ? first : job;
}

namespace {

// Whether a raster stream for `printer` must be refused now (checkMutex held).
bool rasterBusy(const JobQueue& queue, pappl_printer_t* printer) {
  return queue.draining || queue.streaming.count(printer) != 0 ||
         activeJobs(printer).processing > 0;
}

// Refuses a raster job as busy and ends it.
void refuseRaster(pappl_job_t* job, pappl_client_t* client) {
  papplClientRespondIPP(client, IPP_STATUS_ERROR_BUSY, "Currently printing another job.");
  papplJobSetMessage(job, "The printer was printing another job; send this one again.");
  papplJobCancel(job);
}

// A job's document arriving. A raster stream the printer cannot take now is
// refused here: PAPPL's own refusal takes the printer's lock, then the
// system's, while a state save takes them the other way round, and the two
// deadlock the server.
void copyDocument(pappl_client_t* client, pappl_job_t* job) {
  const CopyDocumentFunction original = originalCopyDocument();
  if (original == nullptr) return;  // logged at start-up
  const std::string_view format = papplJobGetFormat(job) != nullptr ? papplJobGetFormat(job) : "";
  if (format == "image/pwg-raster" || format == "image/urf") {
    JobQueue& queue = jobQueue();
    bool busy;
    {
      std::lock_guard<std::mutex> serial(queue.checkMutex);
      busy = rasterBusy(queue, papplJobGetPrinter(job));
    }
    if (busy) return refuseRaster(job, client);
  }
  original(client, job);
}

// A raster job from the client's connection: printed now if the printer is
// free, else refused as busy (it cannot wait in the queue: its data is on
// the connection, not in the spool).
void processRaster(pappl_job_t* job, pappl_client_t* client) {
  const ProcessRasterFunction original = originalProcessRaster();
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (original == nullptr) return;  // logged at start-up
  JobQueue& queue = jobQueue();
  bool busy;
  {
    std::lock_guard<std::mutex> serial(queue.checkMutex);
    busy = rasterBusy(queue, printer);
    if (!busy) queue.streaming.insert(printer);
  }
  if (busy) return refuseRaster(job, client);
  original(job, client);
  {
    std::lock_guard<std::mutex> serial(queue.checkMutex);
    queue.streaming.erase(printer);
  }
  // The stream's end skipped the queue: the jobs spooled meanwhile start now.
  checkJobs(printer);
}

struct SystemJobs {
  int processing = 0;
  int active = 0;
  std::vector<std::pair<pappl_printer_t*, int>> printing;
};

void countPrinterJobs(pappl_printer_t* printer, void* data) {
  auto* jobs = static_cast<SystemJobs*>(data);
  papplPrinterIterateActiveJobs(
      printer,
      [](pappl_job_t* job, void* all) {
        auto* into = static_cast<SystemJobs*>(all);
        ++into->active;
        const ipp_jstate_t state = papplJobGetState(job);
        if (state == IPP_JSTATE_PROCESSING || state == IPP_JSTATE_STOPPED) {
          ++into->processing;
          into->printing.emplace_back(papplJobGetPrinter(job), papplJobGetID(job));
        }
      },
      jobs, 1, 0);
}

SystemJobs systemJobs(pappl_system_t* system) {
  SystemJobs jobs;
  papplSystemIteratePrinters(system, countPrinterJobs, &jobs);
  return jobs;
}

// The shutdown, on the main loop's thread (so the system stays until it is
// done). PAPPL 1.3 would wait up to a minute for every active job, queued
// ones included, and a job whose device hangs never ends. Instead: no job
// starts, the jobs being printed are cancelled (their streams end with the
// job's trailer), and once they have ended, or after kShutdownBound, a system
// with jobs still queued saves its state and exits; PAPPL's loop ends by
// itself when none are left.
void drain(pappl_system_t* system) {
  papplLog(system, PAPPL_LOGLEVEL_INFO,
           "Shutting down: jobs being printed are cancelled, queued jobs are kept.");
  // Cancelled outside the iteration, which holds the printer's lock.
  for (const auto& [printer, id] : systemJobs(system).printing) {
    if (pappl_job_t* job = papplPrinterFindJob(printer, id); job != nullptr) {
      papplJobSetMessage(job, "The server was shut down while the job was printing.");
      papplJobCancel(job);
    }
  }
  const bool ended = waitForJobs([system] { return systemJobs(system).processing == 0; },
                                 Clock::now() + kShutdownBound);
  const SystemJobs left = systemJobs(system);
  if (left.active == 0) return;
  if (!ended)
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "A cancelled job has not ended (its printer does not respond); exiting anyway.");
  papplLog(system, PAPPL_LOGLEVEL_INFO, "Exiting with %d queued job(s) kept for the next start.",
           left.active - left.processing);
  saveState(system);
  // Not a return into PAPPL's loop, which would wait for the queued jobs;
  // nor exit(), whose destructors would race the job threads still running.
  ::_exit(0);
}

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = onShutdownSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, &gSignals.previousTerm);
  sigaction(SIGINT, &action, &gSignals.previousInt);
}

void kickPrinter(pappl_printer_t* printer, void*) { _papplPrinterCheckJobs(printer); }

// Every second, on the main loop's thread (after papplSystemRun has set its
// signal handlers).
bool onTimer(pappl_system_t* system, void*) {
  JobQueue& queue = jobQueue();
  if (!queue.started) {
    queue.started = true;
    installSignalHandlers();
    // PAPPL starts a printer's pending jobs only when another job arrives:
    // those the state file brought back start now.
    papplSystemIteratePrinters(system, kickPrinter, nullptr);
  }
  if (!queue.draining && (gSignals.received != 0 || papplSystemIsShutdown(system))) {
    queue.draining = true;
    drain(system);
  }
  return true;
}

}  // namespace

void startJobQueue(pappl_system_t* system) {
  if (originalCheckJobs() == nullptr || originalProcessRaster() == nullptr ||
      originalCopyDocument() == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR,
             "PAPPL's _papplPrinterCheckJobs, _papplJobProcessRaster or _papplJobCopyDocumentData "
             "was not found: jobs may run two at a time.");
  }
  papplSystemSetEventCallback(system, onEvent, nullptr);
  papplSystemAddTimerCallback(system, time(nullptr), 1, onTimer, nullptr);
}

}  // namespace qvprinter

extern "C" void _papplPrinterCheckJobs(pappl_printer_t* printer) { qvprinter::checkJobs(printer); }

extern "C" void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client) {
  const qvprinter::StartingJob starting(job);
  qvprinter::processRaster(job, client);
}

extern "C" void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
  qvprinter::copyDocument(client, job);
}
