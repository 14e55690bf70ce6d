// device_status.h - what a QV printer says about itself: its state reasons,
// toner levels and trays, read from its Printer MIB (RFC 3805) and Host
// Resources MIB (RFC 2790) with PAPPL's SNMP client, polled in a thread of
// their own so that no job and no client ever waits for the network.
#pragma once

#include <pappl/pappl.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qvprinter {

// How often a printer is asked: while it prints, while idle, and at the
// soonest after a client asked for the printer's state.
inline constexpr int kBusyPollSeconds = 5, kIdlePollSeconds = 30, kAskedPollSeconds = 2;
// How long one SNMP answer may take before the printer counts as silent.
inline constexpr double kSnmpTimeoutSeconds = 2.0;

// The objects read from the printer, by table index.
struct MibReadings {
  std::optional<std::uint16_t> errorState;  // hrPrinterDetectedErrorState
  std::map<int, int> supplyColorant, supplyClass, supplyType, supplyUnit, supplyMax, supplyLevel;
  std::map<int, std::string> supplyDescription, colorantName;
  std::map<int, int> inputMax, inputLevel;  // prtInputTable, by input index
};

// What the readings mean in IPP terms. The trays' media-col-ready follows
// `emptyInputs`.
struct DeviceReport {
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  // Reasons PAPPL 1.3 does not write out ("output-area-full",
  // "marker-supply-missing", "door-open"): string literals, as PAPPL's
  // reasons attribute keeps the pointers.
  std::vector<const char*> extraReasons;
  std::vector<pappl_supply_t> supplies;  // empty: the printer named none
  std::vector<int> emptyInputs;          // input indexes without paper
};

// The printer-state-reasons bits the device decides; others (identify,
// spool area) belong to PAPPL.
inline constexpr unsigned kDeviceReasons = PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW |
                                           PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_TONER_LOW |
                                           PAPPL_PREASON_TONER_EMPTY | PAPPL_PREASON_DOOR_OPEN |
                                           PAPPL_PREASON_OFFLINE | PAPPL_PREASON_INPUT_TRAY_MISSING;

DeviceReport reportFromMib(const MibReadings& readings);

// Asks the printer at `host` (port 161, community "public") for its
// readings. Returns false when it did not answer within the timeout.
bool readPrinterMib(const std::string& host, MibReadings& readings);

// The driver's hooks: watch a printer from its creation (createCallback),
// stop at its deletion (the driver's delete_cb), and PAPPL's status_cb,
// which never blocks: it asks the poller for a fresh reading soon and
// returns the last one.
void watchPrinter(pappl_printer_t* printer);
void unwatchPrinter(pappl_printer_t* printer, pappl_pr_driver_data_t* data);
bool statusCallback(pappl_printer_t* printer);

// Holds a job at its start while the printer last reported a condition it
// cannot print in (offline, out of paper, jammed, door open, out of toner,
// tray or cartridge missing, output full): the job stays processing with
// "printer-stopped" in its job-state-reasons and the condition in its
// message, and goes on when the printer reports the condition cleared.
// A printer read over PJL is asked on `device`, the job's connection.
// Returns false when the job was cancelled meanwhile.
bool waitWhilePrinterStopped(pappl_job_t* job, pappl_device_t* device);

// While a job's bytes go to a printer read over PJL on a socket, its
// unsolicited status messages (asked for with USTATUS DEVICE=ON in a PJL
// block before the job's bytes) are read off the job's connection by a
// thread of this object's own and recorded like a poll: a condition that
// appears mid-job reaches the printer's reasons and the job's. The thread
// only ever polls the descriptor and reads what is there, never writes,
// and holds no PAPPL lock while it waits; it ends with the object, which
// must go before PAPPL closes the device.
class JobStatusListener {
 public:
  // Null when the printer is not read over PJL on a socket, or the request
  // could not be sent.
  static std::unique_ptr<JobStatusListener> start(pappl_job_t* job, pappl_device_t* device);
  JobStatusListener(pappl_job_t* job, int fd);
  ~JobStatusListener();
  JobStatusListener(const JobStatusListener&) = delete;
  JobStatusListener& operator=(const JobStatusListener&) = delete;

 private:
  void run();
  pappl_job_t* job_;
  int fd_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// For its life, PAPPL's opening of the device on this thread is for `job`
// (start_job, in _papplJobProcess or _papplJobProcessRaster): while the
// printer refuses the connection the tries back off, the job waits with
// "printer-stopped" and why, and the printer shows "connecting-to-device".
class StartingJob {
 public:
  explicit StartingJob(pappl_job_t* job);
  ~StartingJob();
  StartingJob(const StartingJob&) = delete;
  StartingJob& operator=(const StartingJob&) = delete;

 private:
  pappl_printer_t* printer_;
};

}  // namespace qvprinter
