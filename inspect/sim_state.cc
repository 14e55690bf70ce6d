// sim_state.cc - the simulated printer's state file, PJL status and MIB.
#include "inspect/sim_state.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/unique_file.h"

namespace qvsim {
namespace {

// hrPrinterDetectedErrorState bits (RFC 2790), the first octet's high bit first.
enum : std::uint16_t {
  kLowPaper = 0x8000,
  kNoPaper = 0x4000,
  kLowToner = 0x2000,
  kNoToner = 0x1000,
  kDoorOpen = 0x0800,
  kJammed = 0x0400,
  kOffline = 0x0200,
  kInputTrayMissing = 0x0080,
  kMarkerSupplyMissing = 0x0020,
  kOutputFull = 0x0008,
};

// Standard PJL status codes (10xxx informational, 40xxx operator
// intervention, 41xyy paper mount, 42xyy paper jam).
enum : int {
  kPjlReady = 10001,
  kPjlOffline = 10002,
  kPjlTonerLow = 10006,
  kPjlPrinting = 10023,
  kPjlNoCartridge = 40010,
  kPjlOutputFull = 40019,
  kPjlDoorOpen = 40021,
  kPjlTonerOut = 40038,
  kPjlLoadPaper = 41100,
  kPjlPaperJam = 42000,
};

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool parseNumber(std::string_view text, long low, long high, long& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size() && value >= low && value <= high;
}

bool parseFlag(std::string_view text, std::string_view yes, std::string_view no, bool& value) {
  if (text == yes || text == "yes" || text == "true") return value = true, true;
  if (text == no || text == "no" || text == "false") return value = false, true;
  return false;
}

bool parseLevel(std::string_view text, bool missingAllowed, int& level) {
  long value = 0;
  if (missingAllowed && text == "missing") return level = -1, true;
  if (!parseNumber(text, 0, 100, value)) return false;
  level = static_cast<int>(value);
  return true;
}

const char* yesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

int tonerCount(SimModel model) { return model == SimModel::kColour ? 4 : 1; }

int applySetting(SimState& state, std::string_view setting, std::string& error) {
  const std::size_t equals = setting.find('=');
  const std::string_view key = trim(setting.substr(0, equals));
  const std::string_view value =
      equals == std::string_view::npos ? "" : trim(setting.substr(equals + 1));
  bool ok = equals != std::string_view::npos;
  if (!ok) {
  } else if (key == "online") {
    ok = parseFlag(value, "yes", "no", state.online);
  } else if (key == "paper") {
    ok = value == "out"   ? (state.paper = 0, true)
         : value == "low" ? (state.paper = 5, true)
                          : parseLevel(value, false, state.paper);
  } else if (key == "jam") {
    ok = parseFlag(value, "yes", "no", state.jam);
  } else if (key == "door") {
    ok = parseFlag(value, "open", "closed", state.doorOpen);
  } else if (key == "output") {
    ok = parseFlag(value, "full", "ok", state.outputFull);
  } else if (key == "tray-missing") {
    ok = parseFlag(value, "yes", "no", state.trayMissing);
  } else if (key == "toner") {
    int level = 0;
    ok = parseLevel(value, true, level);
    for (int& toner : state.toner) toner = ok ? level : toner;
  } else if (key == "hangup") {
    ok = parseNumber(value, 0, 1L << 40, state.hangupAfter);
  } else {
    ok = false;
    for (int i = 0; i < 4; ++i)
      if (key == kTonerNames[i]) ok = parseLevel(value, true, state.toner[i]);
  }
  if (!ok) error = "bad setting \"" + std::string(setting) + "\"";
  return ok ? 0 : -1;
}

int loadState(const std::string& path, SimState& state, std::string& error) {
  state = SimState{};
  std::ifstream in(path);
  if (!in) return 0;  // no file: a ready printer
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line.resize(std::min(line.size(), line.find('#')));
    const std::string_view text = trim(line);
    if (text.empty()) continue;
    if (applySetting(state, text, error) != 0) {
      error = path + ":" + std::to_string(number) + ": " + error;
      return -1;
    }
  }
  return 0;
}

std::string formatState(const SimState& state) {
  std::ostringstream out;
  out << "online=" << yesNo(state.online) << "\npaper=" << state.paper
      << "\njam=" << yesNo(state.jam) << "\ndoor=" << (state.doorOpen ? "open" : "closed")
      << "\noutput=" << (state.outputFull ? "full" : "ok")
      << "\ntray-missing=" << yesNo(state.trayMissing) << "\n";
  for (int i = 0; i < 4; ++i) {
    out << kTonerNames[i] << "=";
    if (state.toner[i] < 0)
      out << "missing\n";
    else
      out << state.toner[i] << "\n";
  }
  out << "hangup=" << state.hangupAfter << "\n";
  return out.str();
}

int updateStateFile(const std::string& path, const std::vector<std::string>& settings,
                    std::string& error) {
  SimState state;
  if (loadState(path, state, error) != 0) return -1;
  for (const std::string& setting : settings)
    if (applySetting(state, setting, error) != 0) return -1;
  const std::string text = formatState(state);
  const std::string temp = path + ".new";
  {
    qv::UniqueFile file(std::fopen(temp.c_str(), "w"));
    if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() ||
        std::fflush(file.get()) != 0) {
      error = "cannot write " + temp;
      return -1;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path;
    ::unlink(temp.c_str());
    return -1;
  }
  return 0;
}

bool isPaused(const SimState& state, SimModel model) {
  bool tonerOut = false;
  for (int i = 0; i < tonerCount(model); ++i) tonerOut = tonerOut || state.toner[i] <= 0;
  return !state.online || state.paper == 0 || state.jam || state.doorOpen || state.outputFull ||
         state.trayMissing || tonerOut;
}

std::uint16_t detectedErrorState(const SimState& state, SimModel model) {
  unsigned bits = 0;
  if (state.paper == 0) bits |= kNoPaper;
  if (state.paper > 0 && state.paper <= kPaperLowPercent) bits |= kLowPaper;
  for (int i = 0; i < tonerCount(model); ++i) {
    if (state.toner[i] < 0) bits |= kMarkerSupplyMissing;
    if (state.toner[i] == 0) bits |= kNoToner;
    if (state.toner[i] > 0 && state.toner[i] <= kTonerLowPercent) bits |= kLowToner;
  }
  if (state.doorOpen) bits |= kDoorOpen;
  if (state.jam) bits |= kJammed;
  if (!state.online) bits |= kOffline;
  if (state.trayMissing) bits |= kInputTrayMissing;
  if (state.outputFull) bits |= kOutputFull;
  return static_cast<std::uint16_t>(bits);
}

PjlStatus pjlStatus(const SimState& state, SimModel model, bool printing) {
  const std::uint16_t bits = detectedErrorState(state, model);
  // The most urgent condition is the one the panel shows.
  if (bits & kOffline) return {kPjlOffline, "OFFLINE", false};
  if (bits & kDoorOpen) return {kPjlDoorOpen, "CLOSE FRONT COVER", true};
  if (bits & kJammed) return {kPjlPaperJam, "PAPER JAM", true};
  if (bits & kNoPaper) return {kPjlLoadPaper, "LOAD PAPER", true};
  if (bits & kMarkerSupplyMissing) return {kPjlNoCartridge, "INSTALL TONER CARTRIDGE", true};
  if (bits & kNoToner) return {kPjlTonerOut, "REPLACE TONER", true};
  if (bits & kOutputFull) return {kPjlOutputFull, "REMOVE PAPER FROM OUTPUT BIN", true};
  if (state.trayMissing) return {kPjlLoadPaper, "INSERT TRAY", true};
  if (printing) return {kPjlPrinting, "PRINTING", true};
  if (bits & kLowToner) return {kPjlTonerLow, "TONER LOW", true};
  return {kPjlReady, "READY", true};
}

std::string pjlStatusMessage(std::string_view firstLine, const PjlStatus& status) {
  return std::string(firstLine) + "\r\nCODE=" + std::to_string(status.code) + "\r\nDISPLAY=\"" +
         status.display + "\"\r\nONLINE=" + (status.online ? "TRUE" : "FALSE") + "\r\n\f";
}

Mib printerMib(const SimState& state, SimModel model) {
  const bool colour = model == SimModel::kColour;
  const std::string name = colour ? "Quarno QV C600" : "Quarno QV M600";
  const std::uint16_t errors = detectedErrorState(state, model);
  Mib mib;
  const auto integer = [&](Oid oid, long value) {
    mib[std::move(oid)] = {MibValue::Type::kInteger, value, ""};
  };
  const auto string = [&](Oid oid, std::string value) {
    mib[std::move(oid)] = {MibValue::Type::kString, 0, std::move(value)};
  };
  // system: sysDescr, sysObjectID, sysName.
  string({1, 3, 6, 1, 2, 1, 1, 1, 0}, name + " (simulated by qvsim)");
  mib[{1, 3, 6, 1, 2, 1, 1, 2, 0}] = {MibValue::Type::kObjectId, 0, ".1.3.6.1.4.1.2699.1.2"};
  string({1, 3, 6, 1, 2, 1, 1, 5, 0}, colour ? "qv-c600" : "qv-m600");
  // hrDeviceTable, device 1: a printer, running, warning or down.
  integer({1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 1, 1}, 1);
  mib[{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 2, 1}] = {MibValue::Type::kObjectId, 0,
                                                ".1.3.6.1.2.1.25.3.1.5"};
  string({1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1}, name);
  const long deviceStatus = isPaused(state, model) ? 5 : errors != 0 ? 3 : 2;
  integer({1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 1}, deviceStatus);
  // hrPrinterTable: hrPrinterStatus (other while stopped, else idle) and
  // hrPrinterDetectedErrorState.
  integer({1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1}, isPaused(state, model) ? 1 : 3);
  const char octets[2] = {static_cast<char>(errors >> 8), static_cast<char>(errors & 0xff)};
  mib[{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1}] = {MibValue::Type::kOctets, 0, std::string(octets, 2)};
  // prtGeneralCurrentLocalization 1, whose character set is UTF-8 (106).
  integer({1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 2, 1}, 1);
  integer({1, 3, 6, 1, 2, 1, 43, 7, 1, 1, 4, 1, 1}, 106);
  // prtInputTable: two cassettes of A4 (micrometres, sheets).
  for (unsigned tray = 1; tray <= 2; ++tray) {
    const auto input = [&](unsigned column) {
      return Oid{1, 3, 6, 1, 2, 1, 43, 8, 2, 1, column, 1, tray};
    };
    integer(input(2), 3);  // sheetFeedAutoRemovableTray
    integer(input(3), 3);  // micrometers
    integer(input(4), 297000);
    integer(input(5), 210000);
    integer(input(8), 8);  // sheets
    integer(input(9), kTraySheets);
    integer(input(10), state.trayMissing && tray == 2 ? 0 : kTraySheets * state.paper / 100);
    // prtInputStatus (PrtSubUnitStatusTC): available and idle, or a
    // critical alert when empty or missing.
    integer(input(11), state.paper == 0 || (state.trayMissing && tray == 2) ? 16 + 3 : 0);
    string(input(12), "iso_a4_210x297mm");
    string(input(13), "Tray " + std::to_string(tray));
    string(input(18), "Tray " + std::to_string(tray));
  }
  // prtMarkerSuppliesTable and prtMarkerColorantTable: one toner each.
  for (int i = 0; i < tonerCount(model); ++i) {
    const unsigned index = static_cast<unsigned>(i + 1);
    const auto supply = [&](unsigned column) {
      return Oid{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, column, 1, index};
    };
    std::string label = kTonerNames[i];
    label[0] = static_cast<char>(label[0] - 'a' + 'A');
    integer(supply(2), 1);      // prtMarkerSuppliesMarkerIndex
    integer(supply(3), index);  // prtMarkerSuppliesColorantIndex
    integer(supply(4), 3);      // supplyThatIsConsumed
    integer(supply(5), 3);      // toner
    string(supply(6), label + " Toner");
    integer(supply(7), 19);  // percent
    integer(supply(8), 100);
    integer(supply(9), state.toner[i] < 0 ? -2 : state.toner[i]);  // -2: unknown
    const auto colorant = [&](unsigned column) {
      return Oid{1, 3, 6, 1, 2, 1, 43, 12, 1, 1, column, 1, index};
    };
    integer(colorant(2), 1);
    integer(colorant(3), 3);  // process
    string(colorant(4), kTonerNames[i]);
  }
  return mib;
}

bool parseOid(std::string_view text, Oid& oid) {
  oid.clear();
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  while (!text.empty()) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (ec != std::errc{} || end != part.data() + part.size() || part.empty()) return false;
    oid.push_back(value);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return !oid.empty();
}

std::string formatOid(const Oid& oid) {
  std::string text;
  for (const unsigned part : oid) {  // appended apart: GCC 12 -O3 warns on "." + std::string
    text += '.';
    text += std::to_string(part);
  }
  return text;
}

}  // namespace qvsim
