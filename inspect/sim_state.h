// sim_state.h - what the simulated QV printer (qvsim) is doing, read from a
// small state file, and how the printer shows it: PJL status and the
// Printer MIB (RFC 3805) with the Host Resources MIB (RFC 2790).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qvsim {

enum class SimModel { kMono, kColour };

// The printer's condition. The state file holds one "key=value" a line
// ('#' starts a comment); a missing file is a ready printer:
//   online=yes|no          offline: the printer takes no job and says so
//   paper=PERCENT|out|low  paper in every tray (out: 0, low: 5)
//   jam=yes|no  door=open|closed  output=full|ok  tray-missing=yes|no
//   toner=PERCENT          every cartridge; or black= cyan= magenta= yellow=
//                          (PERCENT, or "missing" for no cartridge)
//   hangup=BYTES           close a job's connection after BYTES bytes (0: never)
struct SimState {
  bool online = true;
  int paper = 100;
  bool jam = false, doorOpen = false, outputFull = false, trayMissing = false;
  int toner[4] = {80, 80, 80, 80};  // black, cyan, magenta, yellow; -1: missing
  long hangupAfter = 0;
};

inline constexpr int kTonerLowPercent = 10, kPaperLowPercent = 10, kTraySheets = 250;
inline constexpr const char* kTonerNames[4] = {"black", "cyan", "magenta", "yellow"};

int tonerCount(SimModel model);  // 1 or 4

// Reads `path` into `state` (defaults first). Returns 0, or -1 with `error`
// naming the file, the line and what is wrong.
int loadState(const std::string& path, SimState& state, std::string& error);
// One "key=value" setting of the state file's grammar. Returns 0 or -1.
int applySetting(SimState& state, std::string_view setting, std::string& error);
// The state as the state file's text.
std::string formatState(const SimState& state);
// Applies `settings` to the file at `path` and replaces it whole (a reader
// never sees half a file). Returns 0, or -1 with `error`.
int updateStateFile(const std::string& path, const std::vector<std::string>& settings,
                    std::string& error);

// The printer stops taking job data while it cannot print.
bool isPaused(const SimState& state, SimModel model);

// hrPrinterDetectedErrorState, as its two octets (bit 0 is 0x8000).
std::uint16_t detectedErrorState(const SimState& state, SimModel model);

// The PJL device status: a standard PJL status code, the panel text, and
// whether the printer is online.
struct PjlStatus {
  int code;
  std::string display;
  bool online;
};
PjlStatus pjlStatus(const SimState& state, SimModel model, bool printing);
// The body of an "@PJL INFO STATUS" answer or of a USTATUS DEVICE message:
// "<first line>\r\nCODE=10001\r\nDISPLAY="READY"\r\nONLINE=TRUE\r\n\f".
std::string pjlStatusMessage(std::string_view firstLine, const PjlStatus& status);

// One MIB object's value, as the pass_persist protocol of snmpd types it.
struct MibValue {
  enum class Type { kInteger, kString, kOctets, kObjectId } type;
  long integer = 0;
  std::string text;  // string, octets (raw bytes) or ".1.3..." object id
};
using Oid = std::vector<unsigned>;
using Mib = std::map<Oid, MibValue>;  // ordered as SNMP orders objects

// Every object the printer answers: system, hrDevice, hrPrinter and the
// Printer MIB's general, localization, input, marker supplies and colorant
// tables.
Mib printerMib(const SimState& state, SimModel model);

// ".1.3.6.1" <-> {1,3,6,1}; false for a malformed text.
bool parseOid(std::string_view text, Oid& oid);
std::string formatOid(const Oid& oid);

}  // namespace qvsim
