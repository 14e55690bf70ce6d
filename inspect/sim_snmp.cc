// sim_snmp.cc - snmpd for the simulated printer, and its pass_persist helper.
#include "inspect/sim_snmp.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "common/unique_file.h"

namespace qvsim {
namespace {

// The printer's objects live under mib-2; snmpd's own modules for that
// subtree (system, host resources) are left out, so qvsim answers it all.
constexpr const char* kSubtree = ".1.3.6.1.2.1";
constexpr const char* kModules = "pass_persist,vacm_conf,vacm_vars";
constexpr int kStartTimeoutMs = 10000;

std::string hexOctets(const std::string& bytes) {
  std::string text;
  char pair[4];
  for (const unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    text += pair;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

// "OID\nTYPE\nVALUE\n", pass_persist's form of one object.
std::string formatObject(const Oid& oid, const MibValue& value) {
  std::string text = formatOid(oid) + "\n";
  switch (value.type) {
    case MibValue::Type::kInteger:
      return text + "integer\n" + std::to_string(value.integer) + "\n";
    case MibValue::Type::kString:
      return text + "string\n" + value.text + "\n";
    case MibValue::Type::kOctets:
      return text + "octet\n" + hexOctets(value.text) + "\n";
    case MibValue::Type::kObjectId:
      return text + "objectid\n" + value.text + "\n";
  }
  return text;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int runPassPersist(SimModel model, const std::string& statePath, std::FILE* in, std::FILE* out) {
  char line[1024];
  const auto readLine = [&](std::string& text) {
    if (std::fgets(line, sizeof line, in) == nullptr) return false;
    text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return true;
  };
  for (std::string command, oidText; readLine(command);) {
    std::string answer;
    if (command == "PING") {
      answer = "PONG\n";
    } else if (command == "get" || command == "getnext") {
      if (!readLine(oidText)) break;
      SimState state;
      std::string error;
      if (loadState(statePath, state, error) != 0)
        std::fprintf(stderr, "qvsim: %s\n", error.c_str());  // answered as a ready printer
      const Mib mib = printerMib(state, model);
      Oid oid;
      answer = "NONE\n";
      if (parseOid(oidText, oid)) {
        if (command == "get") {
          auto found = mib.find(oid);
          // Some clients ask for hrPrinterDetectedErrorState without its
          // instance; printers answer them with device 1's.
          if (found == mib.end() && oid == Oid{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2}) {
            oid.push_back(1);
            found = mib.find(oid);
            oid.pop_back();
            if (found != mib.end()) answer = formatObject(oid, found->second);
          } else if (found != mib.end()) {
            answer = formatObject(found->first, found->second);
          }
        } else if (const auto next = mib.upper_bound(oid); next != mib.end()) {
          answer = formatObject(next->first, next->second);
        }
      }
    } else if (command == "set") {
      std::string ignored;
      if (!readLine(oidText) || !readLine(ignored)) break;
      answer = "not-writable\n";
    } else {
      continue;  // an empty line or an unknown word: snmpd expects nothing
    }
    if (std::fputs(answer.c_str(), out) < 0 || std::fflush(out) != 0) return -1;
  }
  return 0;
}

SnmpAgent::~SnmpAgent() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

int SnmpAgent::start(const std::string& self, const std::string& address, int port, SimModel model,
                     const std::string& statePath, const std::string& workDir, std::string& error) {
  const char* candidates[] = {"/usr/sbin/snmpd", "/usr/local/sbin/snmpd"};
  std::string snmpd;
  for (const char* path : candidates)
    if (::access(path, X_OK) == 0) snmpd = path;
  if (snmpd.empty()) {
    error = "snmpd is not installed (Debian: snmpd); run with --snmp-port 0 to go without SNMP";
    return -1;
  }
  const std::string config = workDir + "/snmpd.conf", log = workDir + "/snmpd.log";
  const std::string endpoint = "udp:" + address + ":" + std::to_string(port);
  {
    const std::string text =
        "# snmpd for qvsim: the Printer MIB of a simulated QV printer\n"
        "rocommunity public\n"
        "pass_persist " +
        std::string(kSubtree) + " " + self + " snmp-pass " +
        (model == SimModel::kColour ? "colour" : "mono") + " " + statePath + "\n";
    qv::UniqueFile file(std::fopen(config.c_str(), "w"));
    if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() ||
        std::fflush(file.get()) != 0) {
      error = "cannot write " + config;
      return -1;
    }
  }
  ::unlink(log.c_str());
  const std::string persistent = "SNMP_PERSISTENT_DIR=" + workDir;
  pid_ = ::fork();
  if (pid_ < 0) {
    error = "cannot start snmpd";
    return -1;
  }
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // ends with qvsim, however qvsim ends
    ::putenv(const_cast<char*>(persistent.c_str()));
    ::execl(snmpd.c_str(), "snmpd", "-f", "-C", "-c", config.c_str(), "-I", kModules, "-M",
            "/nonexistent", "-m", "", "-Lf", log.c_str(), endpoint.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Ready when it logs its version; gone when it could not bind.
  for (int waited = 0; waited < kStartTimeoutMs; waited += 50) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "snmpd did not start on " + endpoint + ": " + readFile(log);
      return -1;
    }
    if (readFile(log).find("NET-SNMP version") != std::string::npos) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = "snmpd did not start on " + endpoint + " within 10 s: " + readFile(log);
  return -1;
}

}  // namespace qvsim
