// device_status.cc - printer state and supplies from the device's Printer
// MIB, polled in the background.
//
// PAPPL's own socket device reads hrPrinterDetectedErrorState and the
// supplies too (papplDeviceGetStatus, papplDeviceGetSupplies), but only on an
// open device: that is a connection to the print port, which a job holds
// while it prints and which some printers take for an empty job, and it
// maps three of the error bits. We use PAPPL's SNMP client underneath
// (snmp.c) directly instead, with the printer's address from its device URI,
// so the printer is asked during jobs too and every bit is mapped.
//
// A printer whose SNMP does not answer (on USB, or with SNMP off) is asked
// for its PJL status over its print connection instead (pjl_status.h):
// while idle on a connection of its own, during a job on the job's
// connection before the job's bytes. One that answers neither is not asked
// again, so a plain AppSocket port gets one connection holding only the
// query, when the printer is added.
//
// PAPPL 1.3 retries a device that refuses the connection every 5 s, with
// the printer stopped and nothing in the job's or the printer's reasons.
// papplDeviceOpen is replaced for the job threads: the tries back off
// (5, 10, 20, then every 30 s), the job says why it waits, and the printer
// shows "connecting-to-device" and "offline" until the printer answers.
#include "printer/device_status.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "printer/job_plan.h"
#include "printer/pjl_status.h"
#include "printer/replaced.h"

// PAPPL's SNMP client (libpappl1 exports it; its header snmp-private.h is not
// installed): the declarations and the packet layout of PAPPL 1.3.
extern "C" {
struct PapplSnmpString {
  unsigned char bytes[1024];
  unsigned num_bytes;
};
union PapplSnmpValue {
  int boolean;
  int integer;
  int counter;
  unsigned gauge;
  unsigned timeticks;
  int oid[128];
  PapplSnmpString string;
};
struct PapplSnmpPacket {
  const char* error;
  http_addr_t address;
  int version;
  char community[512];
  int request_type;
  unsigned request_id;
  int error_status;
  int error_index;
  int object_name[128];
  int object_type;
  PapplSnmpValue object_value;
};
using PapplSnmpCallback = void (*)(PapplSnmpPacket*, void*);
int _papplSNMPOpen(int family);
void _papplSNMPClose(int fd);
PapplSnmpPacket* _papplSNMPRead(int fd, PapplSnmpPacket* packet, double timeout);
int _papplSNMPWrite(int fd, http_addr_t* address, int version, const char* community,
                    int request_type, unsigned request_id, const int* oid);
int _papplSNMPWalk(int fd, http_addr_t* address, int version, const char* community,
                   const int* prefix, double timeout, PapplSnmpCallback callback, void* data);
}

namespace qvprinter {
namespace {

constexpr int kSnmpVersion1 = 0, kAsn1OctetString = 0x04, kAsn1Integer = 0x02, kGetRequest = 0xa0;

// OIDs end with -1, as PAPPL's SNMP client wants them.
constexpr int kErrorStateOid[] = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1, -1};
constexpr int kSuppliesEntry[] = {1, 3, 6, 1, 2, 1, 43, 11, 1, 1, -1};
constexpr int kColorantValue[] = {1, 3, 6, 1, 2, 1, 43, 12, 1, 1, 4, -1};
constexpr int kInputMaxCapacity[] = {1, 3, 6, 1, 2, 1, 43, 8, 2, 1, 9, -1};
constexpr int kInputCurrentLevel[] = {1, 3, 6, 1, 2, 1, 43, 8, 2, 1, 10, -1};

// hrPrinterDetectedErrorState bits, the first octet's high bit first.
enum : unsigned {
  kLowPaper = 0x8000,
  kNoPaper = 0x4000,
  kLowToner = 0x2000,
  kNoToner = 0x1000,
  kDoorOpen = 0x0800,
  kJammed = 0x0400,
  kOffline = 0x0200,
  kInputTrayMissing = 0x0080,
  kMarkerSupplyMissing = 0x0020,
  kOutputNearFull = 0x0010,
  kOutputFull = 0x0008,
  kInputTrayEmpty = 0x0004,
};

constexpr std::size_t oidLength(const int* oid) {
  std::size_t length = 0;
  while (oid[length] >= 0) ++length;
  return length;
}

bool hasPrefix(const PapplSnmpPacket& packet, const int* prefix) {
  for (std::size_t i = 0; prefix[i] >= 0; ++i)
    if (packet.object_name[i] != prefix[i]) return false;
  return true;
}

std::string packetString(const PapplSnmpPacket& packet) {
  const PapplSnmpString& value = packet.object_value.string;
  return std::string(reinterpret_cast<const char*>(value.bytes),
                     std::min<std::size_t>(value.num_bytes, sizeof value.bytes));
}

// One walked object of the supplies, colorant or input tables.
void collect(PapplSnmpPacket* packet, void* data) {
  auto& readings = *static_cast<MibReadings*>(data);
  const bool integer = packet->object_type == kAsn1Integer;
  const int value = packet->object_value.integer;
  if (hasPrefix(*packet, kSuppliesEntry)) {
    // prtMarkerSuppliesEntry.<column>.<hrDeviceIndex>.<supply>
    const std::size_t at = oidLength(kSuppliesEntry);
    const int column = packet->object_name[at], index = packet->object_name[at + 2];
    if (column == 6 && packet->object_type == kAsn1OctetString)
      readings.supplyDescription[index] = packetString(*packet);
    if (!integer) return;
    std::map<int, int>* target = column == 3   ? &readings.supplyColorant
                                 : column == 4 ? &readings.supplyClass
                                 : column == 5 ? &readings.supplyType
                                 : column == 7 ? &readings.supplyUnit
                                 : column == 8 ? &readings.supplyMax
                                 : column == 9 ? &readings.supplyLevel
                                               : nullptr;
    if (target != nullptr) (*target)[index] = value;
  } else if (hasPrefix(*packet, kColorantValue) && packet->object_type == kAsn1OctetString) {
    readings.colorantName[packet->object_name[oidLength(kColorantValue) + 1]] =
        packetString(*packet);
  } else if (integer && hasPrefix(*packet, kInputMaxCapacity)) {
    readings.inputMax[packet->object_name[oidLength(kInputMaxCapacity) + 1]] = value;
  } else if (integer && hasPrefix(*packet, kInputCurrentLevel)) {
    readings.inputLevel[packet->object_name[oidLength(kInputCurrentLevel) + 1]] = value;
  }
}

pappl_supply_color_t colorOf(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.starts_with("black")) return PAPPL_SUPPLY_COLOR_BLACK;
  if (name.starts_with("cyan")) return PAPPL_SUPPLY_COLOR_CYAN;
  if (name.starts_with("magenta")) return PAPPL_SUPPLY_COLOR_MAGENTA;
  if (name.starts_with("yellow")) return PAPPL_SUPPLY_COLOR_YELLOW;
  return PAPPL_SUPPLY_COLOR_NO_COLOR;
}

pappl_supply_type_t typeOf(int type) {
  switch (type) {  // PrtMarkerSuppliesTypeTC
    case 3:
      return PAPPL_SUPPLY_TYPE_TONER;
    case 4:
      return PAPPL_SUPPLY_TYPE_WASTE_TONER;
    case 9:
      return PAPPL_SUPPLY_TYPE_OPC;
    case 10:
      return PAPPL_SUPPLY_TYPE_DEVELOPER;
    case 15:
      return PAPPL_SUPPLY_TYPE_FUSER;
    case 21:
      return PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE;
    case 2:
      return PAPPL_SUPPLY_TYPE_UNKNOWN;
    default:
      return PAPPL_SUPPLY_TYPE_OTHER;
  }
}

int valueOr(const std::map<int, int>& table, int index, int fallback) {
  const auto found = table.find(index);
  return found != table.end() ? found->second : fallback;
}

// The first condition of `report` in which the printer takes no job, or
// nullptr: those that need a person at the printer.
const char* stoppingReason(const DeviceReport& report) {
  static constexpr std::pair<unsigned, const char*> kStopping[] = {
      {PAPPL_PREASON_OFFLINE, "offline"},
      {PAPPL_PREASON_MEDIA_EMPTY, "media-empty"},
      {PAPPL_PREASON_MEDIA_JAM, "media-jam"},
      {PAPPL_PREASON_DOOR_OPEN, "door-open"},
      {PAPPL_PREASON_TONER_EMPTY, "toner-empty"},
      {PAPPL_PREASON_INPUT_TRAY_MISSING, "input-tray-missing"}};
  for (const auto& [bit, name] : kStopping)
    if (report.reasons & bit) return name;
  for (const char* reason : report.extraReasons)
    if (std::string_view(reason) != "output-area-almost-full") return reason;
  return nullptr;
}

// PAPPL's SNMP socket, closed on every return.
struct SnmpSocket {
  explicit SnmpSocket(int socket) : fd(socket) {}
  ~SnmpSocket() {
    if (fd >= 0) _papplSNMPClose(fd);
  }
  SnmpSocket(const SnmpSocket&) = delete;
  SnmpSocket& operator=(const SnmpSocket&) = delete;
  const int fd;
};

}  // namespace

DeviceReport reportFromMib(const MibReadings& readings) {
  DeviceReport report;
  const unsigned bits = readings.errorState.value_or(0);
  unsigned reasons = PAPPL_PREASON_NONE;
  if (bits & (kNoPaper | kInputTrayEmpty)) reasons |= PAPPL_PREASON_MEDIA_EMPTY;
  if (bits & kLowPaper) reasons |= PAPPL_PREASON_MEDIA_LOW;
  if (bits & kLowToner) reasons |= PAPPL_PREASON_TONER_LOW;
  if (bits & kNoToner) reasons |= PAPPL_PREASON_TONER_EMPTY;
  if (bits & kDoorOpen) reasons |= PAPPL_PREASON_DOOR_OPEN;
  if (bits & kJammed) reasons |= PAPPL_PREASON_MEDIA_JAM;
  if (bits & kOffline) reasons |= PAPPL_PREASON_OFFLINE;
  if (bits & kInputTrayMissing) reasons |= PAPPL_PREASON_INPUT_TRAY_MISSING;
  report.reasons = static_cast<pappl_preason_t>(reasons);
  // PAPPL 1.3 keeps the door-open bit but never writes it out (its loop
  // over the bits ends at toner-low): it is added with the others.
  if (bits & kDoorOpen) report.extraReasons.emplace_back("door-open");
  if (bits & kMarkerSupplyMissing) report.extraReasons.emplace_back("marker-supply-missing");
  if (bits & kOutputFull)
    report.extraReasons.emplace_back("output-area-full");
  else if (bits & kOutputNearFull)
    report.extraReasons.emplace_back("output-area-almost-full");

  for (const auto& [index, description] : readings.supplyDescription) {
    if (report.supplies.size() >= PAPPL_MAX_SUPPLY) break;
    pappl_supply_t supply{};
    std::snprintf(supply.description, sizeof supply.description, "%s", description.c_str());
    const auto colorant = readings.colorantName.find(valueOr(readings.supplyColorant, index, 0));
    supply.color =
        colorOf(colorant != readings.colorantName.end() ? colorant->second : description);
    supply.is_consumed = valueOr(readings.supplyClass, index, 3) == 3;
    supply.type = typeOf(valueOr(readings.supplyType, index, 3));
    // prtMarkerSuppliesLevel: -2 unknown, -3 "some remains"; a percent
    // unit (19) has a capacity of 100 whatever prtMarkerSuppliesMaxCapacity says.
    const int level = valueOr(readings.supplyLevel, index, -2);
    const int capacity =
        valueOr(readings.supplyUnit, index, 0) == 19 ? 100 : valueOr(readings.supplyMax, index, 0);
    int percent = -1;
    if (level >= 0 && capacity > 0)
      percent = static_cast<int>(std::min(100LL, 100LL * level / capacity));
    if (level == -3) percent = 50;
    supply.level = supply.is_consumed || percent < 0 ? percent : 100 - percent;
    report.supplies.push_back(supply);
  }
  for (const auto& [index, level] : readings.inputLevel)
    if (level == 0 && valueOr(readings.inputMax, index, 1) != 0)
      report.emptyInputs.push_back(index);
  return report;
}

bool readPrinterMib(const std::string& host, MibReadings& readings) {
  http_addrlist_t* addresses = httpAddrGetList(host.c_str(), AF_UNSPEC, "161");
  if (addresses == nullptr) return false;
  const std::unique_ptr<http_addrlist_t, void (*)(http_addrlist_t*)> owner(addresses,
                                                                           httpAddrFreeList);
  http_addr_t* address = &addresses->addr;
  const SnmpSocket socket(_papplSNMPOpen(httpAddrFamily(address)));
  const int fd = socket.fd;
  if (fd < 0) return false;
  auto packet = std::make_unique<PapplSnmpPacket>();
  if (!_papplSNMPWrite(fd, address, kSnmpVersion1, "public", kGetRequest, 1, kErrorStateOid))
    return false;
  // The first answer says whether anyone is there; the walks only follow one.
  if (_papplSNMPRead(fd, packet.get(), kSnmpTimeoutSeconds) == nullptr) return false;
  if (packet->error == nullptr && packet->error_status == 0 &&
      packet->object_type == kAsn1OctetString) {
    const PapplSnmpString& value = packet->object_value.string;
    unsigned bits = value.num_bytes >= 1 ? unsigned{value.bytes[0]} << 8 : 0;
    if (value.num_bytes >= 2) bits |= value.bytes[1];
    readings.errorState = static_cast<std::uint16_t>(bits);
  }
  for (const int* table : {kSuppliesEntry, kColorantValue, kInputMaxCapacity, kInputCurrentLevel})
    _papplSNMPWalk(fd, address, kSnmpVersion1, "public", table, kSnmpTimeoutSeconds, collect,
                   &readings);
  return true;
}

namespace {

// An empty tray leaves media-col-ready ("tray-N" is prtInputIndex N) and
// comes back with its medium when the printer reports paper in it again.
// Returns true when `emptied` changed.
bool updateReadyMedia(pappl_printer_t* printer, const std::vector<int>& emptyInputs,
                      std::map<int, pappl_media_col_t>& emptied) {
  const auto data = std::make_unique<pappl_pr_driver_data_t>();
  papplPrinterGetDriverData(printer, data.get());
  const int count = std::min(data->num_source, PAPPL_MAX_SOURCE);
  pappl_media_col_t ready[PAPPL_MAX_SOURCE];
  std::copy(data->media_ready, data->media_ready + count, ready);
  bool changed = false;
  for (int i = 0; i < count; ++i) {
    int tray = 0;
    if (data->source[i] == nullptr || std::sscanf(data->source[i], "tray-%d", &tray) != 1) continue;
    const bool empty = std::find(emptyInputs.begin(), emptyInputs.end(), tray) != emptyInputs.end();
    pappl_media_col_t& medium = ready[i];
    if (empty && medium.size_name[0] != '\0') {
      emptied[i] = medium;
      medium.size_name[0] = '\0';
      medium.size_width = medium.size_length = 0;
      changed = true;
    } else if (!empty && emptied.count(i) != 0) {
      if (medium.size_name[0] == '\0') medium = emptied[i];
      emptied.erase(i);
      changed = true;
    }
  }
  if (changed) papplPrinterSetReadyMedia(printer, count, ready);
  return changed;
}

// How a printer's state is read, decided by its first answer.
enum class Channel { kUntried, kSnmp, kPjl, kNeither };

// Where a device URI points: a network printer (socket://) answers SNMP
// and PJL on its print port, a USB printer PJL only, others (file:) neither.
struct DeviceAddress {
  bool readable = false, socket = false;
  std::string uri, host;
};

DeviceAddress deviceAddress(pappl_printer_t* printer) {
  char scheme[32], user[64], host[256], resource[256];
  int port = 0;
  const char* uri = papplPrinterGetDeviceURI(printer);
  DeviceAddress address;
  if (uri == nullptr ||
      httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return address;
  address.socket = std::string_view(scheme) == "socket";
  address.readable = address.socket || std::string_view(scheme) == "usb";
  address.uri = uri;
  address.host = host;
  return address;
}

// A job's tries to connect after a refusal: 5, 10, 20, then every 30 s.
constexpr int kFirstConnectDelaySeconds = 5, kMaxConnectDelaySeconds = 30;

// The job whose thread is starting it (StartingJob), for papplDeviceOpen.
thread_local pappl_job_t* tStartingJob = nullptr;

// The printers being watched and the one thread that asks them. PAPPL's
// status, create and delete callbacks carry only the printer, so this is
// process-wide state: one object, its fields guarded by `mutex_`.
class DeviceMonitor {
 public:
  static DeviceMonitor& instance() {
    static DeviceMonitor monitor;
    return monitor;
  }
  ~DeviceMonitor() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void watch(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    if (findLocked(printer) == nullptr) {
      watched_.emplace_back();
      watched_.back().printer = printer;
      watched_.back().nextPoll = Clock::now();
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    wake_.notify_all();
  }

  // Waits until the poller is done with `printer`, so that it is never
  // touched after PAPPL frees it.
  void unwatch(pappl_printer_t* printer) {
    std::unique_lock lock(mutex_);
    std::erase_if(watched_, [&](const Watched& entry) { return entry.printer == printer; });
    wake_.wait(lock, [&] { return polling_ != printer; });
  }

  // A client asked for the state: poll soon, unless that was just done.
  void asked(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    Watched* entry = findLocked(printer);
    if (entry == nullptr) return;
    const Clock::time_point soon = entry->lastPoll + std::chrono::seconds(kAskedPollSeconds);
    if (soon < entry->nextPoll) {
      entry->nextPoll = std::max(soon, Clock::now());
      wake_.notify_all();
    }
  }

  // Waits up to `timeout` for the next reading of `printer`; what keeps it
  // from printing then, or nullptr.
  const char* waitForReading(pappl_printer_t* printer, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const Watched* entry = findLocked(printer);
    if (entry == nullptr) return nullptr;
    const Clock::time_point last = entry->lastPoll;
    wake_.wait_for(lock, timeout, [&] {
      entry = findLocked(printer);
      return entry == nullptr || entry->lastPoll != last;
    });
    return entry != nullptr ? entry->stoppedBy : nullptr;
  }

  const char* stoppedBy(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    const Watched* entry = findLocked(printer);
    return entry != nullptr ? entry->stoppedBy : nullptr;
  }

  std::vector<const char*> extraReasons(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    const Watched* entry = findLocked(printer);
    if (entry == nullptr) return {};
    std::vector<const char*> reasons = entry->extraReasons;
    if (entry->refusals > 0) reasons.insert(reasons.end(), {"connecting-to-device", "offline"});
    return reasons;
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Watched {
    pappl_printer_t* printer = nullptr;
    Clock::time_point nextPoll{}, lastPoll{};
    int silentPolls = 0;
    std::vector<const char*> extraReasons;
    Channel channel = Channel::kUntried;
    const char* stoppedBy = nullptr;  // what keeps the printer from printing
    // A job's connection refused: how often in a row, and the next try.
    int refusals = 0;
    Clock::time_point nextConnect{};
    // The ready media of trays found empty, by source index, put back when
    // the tray is filled (unless the admin set that tray meanwhile).
    std::map<int, pappl_media_col_t> emptiedTrays;
  };
  // A printer that answered before and then misses this many polls in a
  // row is offline; one lost datagram is not.
  static constexpr int kSilentPollsOffline = 2;

  Watched* findLocked(pappl_printer_t* printer) {
    for (Watched& entry : watched_)
      if (entry.printer == printer) return &entry;
    return nullptr;
  }

  void run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      auto next = std::min_element(
          watched_.begin(), watched_.end(),
          [](const Watched& a, const Watched& b) { return a.nextPoll < b.nextPoll; });
      if (next == watched_.end()) {
        wake_.wait(lock);
        continue;
      }
      if (next->nextPoll > Clock::now()) {
        wake_.wait_until(lock, next->nextPoll);
        continue;
      }
      pappl_printer_t* printer = next->printer;
      next->nextPoll = Clock::now() + std::chrono::seconds(kIdlePollSeconds);
      polling_ = printer;
      lock.unlock();
      // Off the lock: the network, and PAPPL's printer lock in apply().
      poll(printer);
      lock.lock();
      polling_ = nullptr;
      wake_.notify_all();
    }
  }

  void poll(pappl_printer_t* printer) {
    const DeviceAddress address = deviceAddress(printer);
    Channel channel = channelOf(printer);
    if (channel == Channel::kNeither || !address.readable) return;
    DeviceReport report;
    bool answered = false;
    if (address.socket && channel != Channel::kPjl) {
      MibReadings readings;
      answered = readPrinterMib(address.host, readings);
      report = reportFromMib(readings);
      if (answered) channel = Channel::kSnmp;
    }
    if (!answered && (channel == Channel::kUntried || channel == Channel::kPjl)) {
      // A print connection of the poller's own, never the printer's device:
      // PAPPL 1.3's papplPrinterCloseDevice marks the device free before it
      // closes it, so a job starting meanwhile would print into a closed
      // device. Not while jobs are queued: the printer serves one connection
      // at a time, and a job's comes first.
      // Nor for a printer deleted during the SNMP wait.
      if (papplPrinterGetNumberOfActiveJobs(printer) > 0) return reschedule(printer);
      if (!watching(printer)) return;
      const std::unique_ptr<pappl_device_t, void (*)(pappl_device_t*)> device(
          papplDeviceOpen(address.uri.c_str(), "status", nullptr, nullptr), papplDeviceClose);
      if (device) {
        PjlStatusReading reading;
        answered = queryPjlStatus(device.get(), address.socket, reading,
                                  channel == Channel::kUntried ? kPjlFirstAnswerMs : kPjlAnswerMs);
        if (answered) report = reportFromPjl(reading);
        channel = answered ? Channel::kPjl : channel == Channel::kPjl ? channel : Channel::kNeither;
      }
    }
    record(printer, std::move(report), answered, channel);
  }

  bool watching(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    return findLocked(printer) != nullptr;
  }

  void reschedule(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    if (Watched* entry = findLocked(printer); entry != nullptr)
      entry->nextPoll =
          std::min(entry->nextPoll, Clock::now() + std::chrono::seconds(kBusyPollSeconds));
  }

 public:
  Channel channelOf(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    const Watched* entry = findLocked(printer);
    return entry != nullptr ? entry->channel : Channel::kUntried;
  }

  // Takes what the printer said (`answered`: `report`) through `channel`,
  // or its silence. No PAPPL lock may be held: this sets the printer's
  // reasons and supplies.
  void record(pappl_printer_t* printer, DeviceReport report, bool answered, Channel channel) {
    const bool busy = papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING;
    std::map<int, pappl_media_col_t> emptied;
    Channel before = Channel::kUntried;
    {
      std::lock_guard lock(mutex_);
      Watched* entry = findLocked(printer);
      if (entry == nullptr) return;
      entry->lastPoll = Clock::now();
      entry->nextPoll = std::min(
          entry->nextPoll,
          entry->lastPoll + std::chrono::seconds(busy ? kBusyPollSeconds : kIdlePollSeconds));
      before = entry->channel;
      entry->channel = channel;
      entry->silentPolls = answered ? 0 : entry->silentPolls + 1;
      wake_.notify_all();
    }
    if (before != channel) logChannel(printer, channel);
    {
      std::lock_guard lock(mutex_);
      Watched* entry = findLocked(printer);
      // Nothing to say without an answer, until a printer that answered
      // before has missed enough polls to count as offline.
      if (entry == nullptr ||
          (!answered && (channel == Channel::kUntried || channel == Channel::kNeither ||
                         entry->silentPolls < kSilentPollsOffline)))
        return;
      if (!answered) report = DeviceReport{PAPPL_PREASON_OFFLINE, {}, {}, {}};  // the rest unknown
      entry->extraReasons = report.extraReasons;
      entry->stoppedBy = stoppingReason(report);
      emptied = entry->emptiedTrays;
    }
    if (answered && updateReadyMedia(printer, report.emptyInputs, emptied)) {
      std::lock_guard lock(mutex_);
      if (Watched* entry = findLocked(printer); entry != nullptr) entry->emptiedTrays = emptied;
    }
    papplPrinterSetReasons(
        printer, report.reasons,
        static_cast<pappl_preason_t>(kDeviceReasons & ~unsigned{report.reasons}));
    if (!report.supplies.empty())
      papplPrinterSetSupplies(printer, static_cast<int>(report.supplies.size()),
                              report.supplies.data());
  }

  // A job's try to connect to the printer: whether it may try now (false:
  // it backs off, PAPPL asks again 5 s later).
  bool mayConnect(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    const Watched* entry = findLocked(printer);
    return entry == nullptr || Clock::now() >= entry->nextConnect;
  }

  // A job's try succeeded or failed. Returns the refusals in a row and,
  // in `delay`, the seconds until the next try.
  int connected(pappl_printer_t* printer, bool ok, int& delay) {
    std::lock_guard lock(mutex_);
    Watched* entry = findLocked(printer);
    delay = 0;
    if (entry == nullptr) return 0;
    if (ok) return std::exchange(entry->refusals, 0);
    ++entry->refusals;
    delay = std::min(kMaxConnectDelaySeconds,
                     kFirstConnectDelaySeconds << std::min(entry->refusals - 1, 3));
    // A second early, so that PAPPL's 5-second retry meets it.
    entry->nextConnect = Clock::now() + std::chrono::seconds(delay - 1);
    return entry->refusals;
  }

  // The job that tried has ended: nobody is connecting any more.
  void stopConnecting(pappl_printer_t* printer) {
    std::lock_guard lock(mutex_);
    if (Watched* entry = findLocked(printer); entry != nullptr) {
      entry->refusals = 0;
      entry->nextConnect = {};
    }
  }

 private:
  static void logChannel(pappl_printer_t* printer, Channel channel) {
    if (channel == Channel::kSnmp)
      papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Device status: read over SNMP.");
    else if (channel == Channel::kPjl)
      papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                      "Device status: read as PJL status over the print connection.");
    else if (channel == Channel::kNeither)
      papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                      "Device status: the printer answers neither SNMP nor PJL status; its "
                      "state is not read.");
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Watched> watched_;
  pappl_printer_t* polling_ = nullptr;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

void watchPrinter(pappl_printer_t* printer) { DeviceMonitor::instance().watch(printer); }

void unwatchPrinter(pappl_printer_t* printer, pappl_pr_driver_data_t*) {
  DeviceMonitor::instance().unwatch(printer);
}

bool waitWhilePrinterStopped(pappl_job_t* job, pappl_device_t* device) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  DeviceMonitor& monitor = DeviceMonitor::instance();
  // A printer read over PJL is asked on the job's connection, before the
  // job's bytes: the poller cannot reach it while the job holds it.
  const bool pjl = monitor.channelOf(printer) == Channel::kPjl;
  const bool socket = deviceAddress(printer).socket;
  const auto askPrinter = [&] {
    PjlStatusReading reading;
    const bool answered = queryPjlStatus(device, socket, reading);
    monitor.record(printer, answered ? reportFromPjl(reading) : DeviceReport{}, answered,
                   Channel::kPjl);
    return monitor.stoppedBy(printer);
  };
  const char* why = pjl ? askPrinter() : monitor.stoppedBy(printer);
  if (why == nullptr) return true;
  papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting: the printer reports %s.", why);
  while (why != nullptr && !papplJobIsCanceled(job)) {
    papplJobSetMessage(job, "Waiting: the printer reports %s.", why);
    monitor.asked(printer);
    why = monitor.waitForReading(printer, std::chrono::seconds(kAskedPollSeconds + 1));
    if (pjl && !papplJobIsCanceled(job)) why = askPrinter();
  }
  papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
  papplJobSetMessage(job, "Printing.");
  return !papplJobIsCanceled(job);
}

std::unique_ptr<JobStatusListener> JobStatusListener::start(pappl_job_t* job,
                                                            pappl_device_t* device) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (DeviceMonitor::instance().channelOf(printer) != Channel::kPjl ||
      !deviceAddress(printer).socket)
    return nullptr;
  const int fd = socketDescriptor(device);
  if (fd < 0 || !requestPjlStatusMessages(device)) return nullptr;
  papplDeviceFlush(device);
  return std::make_unique<JobStatusListener>(job, fd);
}

JobStatusListener::JobStatusListener(pappl_job_t* job, int fd)
    : job_(job), fd_(fd), thread_([this] { run(); }) {}

JobStatusListener::~JobStatusListener() {
  stopping_ = true;
  thread_.join();
}

void JobStatusListener::run() {
  // How long the thread may take to notice that the job is over.
  constexpr int kWakeMs = 100;
  // More than any run of status messages; what is not one is dropped.
  constexpr std::size_t kMaxPending = 8192;
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  DeviceMonitor& monitor = DeviceMonitor::instance();
  const char* shown = nullptr;  // the condition the job's message says it waits for
  std::string pending;
  char chunk[1024];
  while (!stopping_) {
    pollfd watch{fd_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, kWakeMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0 || !(watch.revents & POLLIN)) {
      if (ready > 0) break;  // hung up or failed: the job's writes will tell
      continue;
    }
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    pending.append(chunk, static_cast<std::size_t>(got));
    PjlStatusReading reading;
    const bool whole = lastPjlStatus(pending, reading);
    if (const std::size_t end = pending.rfind('\f'); end != std::string::npos)
      pending.erase(0, end + 1);
    if (pending.size() > kMaxPending) pending.clear();
    if (!whole) continue;
    monitor.record(printer, reportFromPjl(reading), true, Channel::kPjl);
    const char* why = monitor.stoppedBy(printer);
    if (why == shown) continue;
    if (why != nullptr) {
      papplJobSetReasons(job_, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
      papplJobSetMessage(job_, "Waiting: the printer reports %s.", why);
      papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Waiting: the printer reports %s.", why);
    } else {
      papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
      papplJobSetMessage(job_, "Printing.");
    }
    shown = why;
  }
}

StartingJob::StartingJob(pappl_job_t* job) : printer_(papplJobGetPrinter(job)) {
  tStartingJob = job;
}

StartingJob::~StartingJob() {
  tStartingJob = nullptr;
  DeviceMonitor::instance().stopConnecting(printer_);
}

bool statusCallback(pappl_printer_t* printer) {
  DeviceMonitor::instance().watch(printer);
  DeviceMonitor::instance().asked(printer);
  return true;
}

}  // namespace qvprinter

// PAPPL writes printer-state-reasons from its reason bits alone
// (printer-ipp.c), for Get-Printer-Attributes, Get-Printers and event
// notifications alike; the reasons it has no bit for are added here, after
// PAPPL's own. The caller holds the printer's lock.
extern "C" void _papplPrinterCopyStateNoLock(pappl_printer_t* printer, ipp_tag_t group_tag,
                                             ipp_t* ipp, pappl_client_t* client, cups_array_t* ra) {
  using Original = void (*)(pappl_printer_t*, ipp_tag_t, ipp_t*, pappl_client_t*, cups_array_t*);
  static const auto original =
      qvprinter::originalFunction<Original>("_papplPrinterCopyStateNoLock");
  if (original != nullptr) original(printer, group_tag, ipp, client, ra);
  const std::vector<const char*> extra = qvprinter::DeviceMonitor::instance().extraReasons(printer);
  if (extra.empty()) return;
  ipp_attribute_t* reasons = ippFindAttribute(ipp, "printer-state-reasons", IPP_TAG_KEYWORD);
  if (reasons == nullptr) return;  // not asked for
  const auto shown = [&](std::string_view reason) {
    for (int i = 0; i < ippGetCount(reasons); ++i)
      if (reason == ippGetString(reasons, i, nullptr)) return true;
    return false;
  };
  int at = shown("none") ? 0 : ippGetCount(reasons);
  for (const char* reason : extra)
    if (!shown(reason)) ippSetString(ipp, &reasons, at++, reason);
}

namespace {

// The device's own error message, for the job's, passed on to PAPPL's log.
struct ConnectError {
  pappl_deverror_cb_t forward;
  void* data;
  std::string text;
};

void keepConnectError(const char* message, void* data) {
  auto* error = static_cast<ConnectError*>(data);
  error->text = message != nullptr ? message : "";
  if (error->forward != nullptr) error->forward(message, error->data);
}

}  // namespace

// PAPPL's start_job opens the device every 5 s until it connects, holding
// the printer's lock during each try (so the printer's own reasons are left
// to _papplPrinterCopyStateNoLock; the job's lock may be taken, after the
// printer's, as PAPPL does). Other callers pass straight through.
extern "C" pappl_device_t* papplDeviceOpen(const char* device_uri, const char* name,
                                           pappl_deverror_cb_t err_cb, void* err_data) {
  using Original = pappl_device_t* (*)(const char*, const char*, pappl_deverror_cb_t, void*);
  static const auto original = qvprinter::originalFunction<Original>("papplDeviceOpen");
  if (original == nullptr) return nullptr;
  pappl_job_t* job = qvprinter::tStartingJob;
  if (job == nullptr) return original(device_uri, name, err_cb, err_data);
  qvprinter::DeviceMonitor& monitor = qvprinter::DeviceMonitor::instance();
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (!monitor.mayConnect(printer)) return nullptr;  // backing off
  ConnectError error{err_cb, err_data, {}};
  pappl_device_t* device = original(device_uri, name, keepConnectError, &error);
  int delay = 0;
  const int refusals = monitor.connected(printer, device != nullptr, delay);
  if (device == nullptr) {
    papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    papplJobSetMessage(job, "Waiting: the printer cannot be reached (%s); next try in %d s.",
                       error.text.c_str(), delay);
  } else if (refusals > 0) {
    papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
    papplJobSetMessage(job, "Printing.");
  }
  return device;
}
