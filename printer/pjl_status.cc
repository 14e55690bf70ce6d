// pjl_status.cc - a QV printer's PJL status: the query, the bounded read of
// its answer, and the standard PJL status codes as IPP reasons.
#include "printer/pjl_status.h"

#include <poll.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace qvprinter {
namespace {

constexpr std::size_t npos = std::string_view::npos;
// The query in a block of its own: the universal exits before and after
// keep it out of whatever the printer was doing and out of the next job.
constexpr std::string_view kStatusQuery = "\x1b%-12345X@PJL INFO STATUS\r\n\x1b%-12345X";
// More than any status answer; a printer that sends more is not answering.
constexpr std::size_t kMaxAnswerBytes = 4096;

// Standard PJL status codes (10xxx informational, 40xxx operator
// intervention, 41xyy load paper in tray y, 42xyy and 44xyy paper jams).
enum : int {
  kPjlOfflineCode = 10002,
  kPjlTonerLow = 10006,
  kPjlNoCartridge = 40010,
  kPjlOutputFull = 40019,
  kPjlNoToner = 40020,
  kPjlDoorOpen = 40021,
  kPjlJam = 40022,
  kPjlTonerOut = 40038,
  kPjlTakenOffline = 40079,
};

std::string upperNoSpaces(std::string_view text) {
  std::string out;
  for (const char c : text)
    if (c != ' ' && c != '\t')
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The fields of one message (its lines after the first); false without a code.
bool parseMessage(std::string_view body, PjlStatusReading& reading) {
  PjlStatusReading parsed;
  bool coded = false;
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    std::string_view line = body.substr(0, end);
    body.remove_prefix(end == npos ? body.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals == npos) continue;
    const std::string key = upperNoSpaces(line.substr(0, equals));
    std::string_view value = line.substr(equals + 1);
    if (key == "CODE") {
      const std::string digits(value);
      char* stop = nullptr;
      const long code = std::strtol(digits.c_str(), &stop, 10);
      if (stop == digits.c_str() || code < 10000 || code > 99999) return false;
      parsed.code = static_cast<int>(code);
      coded = true;
    } else if (key == "ONLINE") {
      parsed.online = upperNoSpaces(value) != "FALSE";
    } else if (key == "DISPLAY") {
      if (value.starts_with('"')) value.remove_prefix(1);
      if (value.ends_with('"')) value.remove_suffix(1);
      parsed.display = value.substr(0, 64);
    }
  }
  if (coded) reading = parsed;
  return coded;
}

constexpr std::string_view kStatusMessagesOn = "\x1b%-12345X@PJL USTATUS DEVICE=ON\r\n\x1b%-12345X";

}  // namespace

// PAPPL 1.3's socket device keeps the connection's descriptor as the first
// field of its device data (_pappl_socket_t in device-network.c). Polling
// it bounds a read, which PAPPL's own read lets wait 10 s.
int socketDescriptor(pappl_device_t* device) {
  const auto* fd = static_cast<const int*>(papplDeviceGetData(device));
  return fd != nullptr ? *fd : -1;
}

bool requestPjlStatusMessages(pappl_device_t* device) {
  return papplDeviceWrite(device, kStatusMessagesOn.data(), kStatusMessagesOn.size()) ==
         static_cast<ssize_t>(kStatusMessagesOn.size());
}

bool lastPjlStatus(std::string_view bytes, PjlStatusReading& reading) {
  bool found = false;
  for (std::size_t at = bytes.find("@PJL"); at != npos; at = bytes.find("@PJL", at + 1)) {
    const std::size_t end = bytes.find('\f', at);
    if (end == npos) break;  // not whole yet
    const std::string_view message = bytes.substr(at, end - at);
    const std::size_t firstLineEnd = message.find('\n');
    const std::string head = upperNoSpaces(message.substr(0, firstLineEnd));
    const bool status = head.starts_with("@PJLINFOSTATUS") || head.starts_with("@PJLUSTATUSDEVICE");
    if (status && firstLineEnd != npos && parseMessage(message.substr(firstLineEnd + 1), reading))
      found = true;
    at = end;
  }
  return found;
}

DeviceReport reportFromPjl(const PjlStatusReading& reading) {
  DeviceReport report;
  const int code = reading.code;
  unsigned reasons = PAPPL_PREASON_NONE;
  if (!reading.online || code == kPjlOfflineCode || code == kPjlTakenOffline)
    reasons |= PAPPL_PREASON_OFFLINE;
  if (code == kPjlTonerLow) reasons |= PAPPL_PREASON_TONER_LOW;
  if (code == kPjlNoToner || code == kPjlTonerOut) reasons |= PAPPL_PREASON_TONER_EMPTY;
  if (code == kPjlDoorOpen) {
    reasons |= PAPPL_PREASON_DOOR_OPEN;
    report.extraReasons.emplace_back("door-open");  // as reportFromMib: PAPPL omits it
  }
  if (code == kPjlJam || (code >= 42000 && code < 43000) || (code >= 44000 && code < 45000))
    reasons |= PAPPL_PREASON_MEDIA_JAM;
  if (code >= 41000 && code < 42000) reasons |= PAPPL_PREASON_MEDIA_EMPTY;
  if (code == kPjlNoCartridge) report.extraReasons.emplace_back("marker-supply-missing");
  if (code == kPjlOutputFull) report.extraReasons.emplace_back("output-area-full");
  report.reasons = static_cast<pappl_preason_t>(reasons);
  return report;
}

bool queryPjlStatus(pappl_device_t* device, bool socket, PjlStatusReading& reading, int answerMs) {
  if (papplDeviceWrite(device, kStatusQuery.data(), kStatusQuery.size()) !=
      static_cast<ssize_t>(kStatusQuery.size()))
    return false;
  papplDeviceFlush(device);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerMs);
  const int fd = socket ? socketDescriptor(device) : -1;
  if (socket && fd < 0) return false;
  std::string answer;
  char chunk[1024];
  while (answer.size() < kMaxAnswerBytes) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (socket) {
      pollfd watch{fd, POLLIN, 0};
      const int ready = ::poll(&watch, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
    }
    const ssize_t got = papplDeviceRead(device, chunk, sizeof chunk);
    if (got <= 0) break;
    answer.append(chunk, static_cast<std::size_t>(got));
    if (lastPjlStatus(answer, reading)) return true;
  }
  return false;
}

}  // namespace qvprinter
