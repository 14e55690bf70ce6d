// app.cc - the qvprinter system and main loop.
#include "printer/app.h"

#include <pappl/pappl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "printer/admin_auth.h"
#include "printer/cli.h"
#include "printer/discovery.h"
#include "printer/driver.h"
#include "printer/image_filter.h"
#include "printer/ipp_gate.h"
#include "printer/job_queue.h"
#include "printer/pdf_filter.h"
#include "printer/recovery.h"

namespace qvprinter {
namespace {

constexpr const char* kName = "qvprinter";
constexpr const char* kVersion = "1.0.0";
constexpr const char* kFooter = "QV Printer Application 1.0.0";
constexpr int kDefaultPort = 8000;

// An option of the server's command line (-o name=value), or `fallback`.
std::string option(int count, cups_option_t* options, const char* name, const char* fallback) {
  const char* value = cupsGetOption(name, count, options);
  return value != nullptr ? value : fallback;
}

pappl_loglevel_t logLevel(const std::string& name) {
  if (name == "debug") return PAPPL_LOGLEVEL_DEBUG;
  if (name == "info") return PAPPL_LOGLEVEL_INFO;
  if (name == "error") return PAPPL_LOGLEVEL_ERROR;
  if (name == "fatal") return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_WARN;
}

// Where the printers and their settings are kept between runs: the
// "state-file" option, else $SNAP_COMMON (as PAPPL's own clients look for
// the server's socket there), else /var/lib for root, else the user's
// configuration directory.
std::string stateFile(int count, cups_option_t* options) {
  std::string path = option(count, options, "state-file", "");
  if (!path.empty()) return path;
  if (const char* common = std::getenv("SNAP_COMMON"); common != nullptr && *common)
    return std::string(common) + "/qvprinter.state";
  if (getuid() == 0) return "/var/lib/qvprinter.state";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.config/qvprinter.state";
}

// Saves to the path loadState() was given.
bool saveStateCallback(pappl_system_t* system, void*) { return saveState(system); }

// `context` is the state file's path, owned by runMainloop for the life of
// the system.
pappl_system_t* createSystem(int count, cups_option_t* options, void* context) {
  const std::string port = option(count, options, "server-port", "");
  const int portNumber = port.empty() ? kDefaultPort : std::atoi(port.c_str());
  if (portNumber < 0 || portNumber > 65535) return nullptr;
  std::string spool = option(count, options, "spool-directory", "");
  if (spool.empty() && getuid() == 0) spool = "/var/spool/qvprinter";
  const std::string logFile = option(count, options, "log-file", "-");
  const pappl_loglevel_t level = logLevel(option(count, options, "log-level", "warn"));
  unsigned systemOptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                           PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
  // "-o server-options=no-tls,dnssd-host": plain IPP only (a loopback test
  // server), DNS-SD names from the host name.
  // Appended piece by piece: GCC 12 at -O3 takes "," + std::string&& for an
  // overlapping copy (-Wrestrict).
  std::string extra = ",";
  extra += option(count, options, "server-options", "");
  extra += ",";
  if (extra.find(",no-tls,") != std::string::npos) systemOptions |= PAPPL_SOPTIONS_NO_TLS;
  if (extra.find(",dnssd-host,") != std::string::npos) systemOptions |= PAPPL_SOPTIONS_DNSSD_HOST;
  pappl_system_t* system = papplSystemCreate(
      static_cast<pappl_soptions_t>(systemOptions), "QV Printer Application", portNumber,
      "_print,_universal", spool.empty() ? nullptr : spool.c_str(), logFile.c_str(), level,
      option(count, options, "auth-service", "").empty()
          ? nullptr
          : cupsGetOption("auth-service", count, options),
      false);
  if (system == nullptr) return nullptr;
  const std::string listen = option(count, options, "listen-hostname", "");
  if (listen.empty()) {
    papplSystemAddListeners(system, nullptr);
  } else {
    papplSystemAddListeners(system, listen.c_str());
    papplSystemSetHostName(system, listen.c_str());
  }
  // A second local socket, where clients of other users find a server that
  // runs as a user of its own (the systemd unit links /run/qvprinter.sock
  // to it).
  if (const std::string control = option(count, options, "control-socket", ""); !control.empty())
    papplSystemAddListeners(system, control.c_str());
  int driverCount = 0;
  pappl_pr_driver_t* drivers = driverList(driverCount);
  papplSystemSetPrinterDrivers(system, driverCount, drivers, autoAddCallback, createCallback,
                               driverCallback, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", pdfFilter, nullptr);
  installIppGate(system);
  papplSystemSetFooterHTML(system, kFooter);
  pappl_version_t version{};
  std::snprintf(version.name, sizeof version.name, "%s", kName);
  std::snprintf(version.sversion, sizeof version.sversion, "%s", kVersion);
  version.version[0] = 1;
  papplSystemSetVersions(system, 1, &version);
  auto* state = static_cast<std::string*>(context);
  *state = stateFile(count, options);
  loadState(system, *state);
  setImageLimits(system);
  if (std::string error; !configureAdminAccess(system, count, options, error)) {
    std::fprintf(stderr, "qvprinter: %s\n", error.c_str());
    papplSystemDelete(system);
    return nullptr;
  }
  if (std::string why; !dnssdAvailable(why))
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "DNS-SD is unavailable: %s. Printers are not advertised and not discovered; "
             "add them with a socket:// device URI.",
             why.c_str());
  papplSystemSetSaveCallback(system, saveStateCallback, state);
  startJobQueue(system);
  return system;
}

}  // namespace

int runMainloop(int argc, char* argv[]) {
  MainloopArgs args(argc, argv);
  // The program's own name, as papplMainloop names its server's socket.
  const char* slash = argc > 0 ? std::strrchr(argv[0], '/') : nullptr;
  const char* program = slash != nullptr ? slash + 1 : argc > 0 ? argv[0] : kName;
  if (int status = 0; runOwnSubcommand(args, program, status)) return status;
  int driverCount = 0;
  pappl_pr_driver_t* drivers = driverList(driverCount);
  std::string statePath;
  return papplMainloop(args.argc(), args.argv(), kVersion, kFooter, driverCount, drivers,
                       autoAddCallback, driverCallback, nullptr, nullptr, createSystem, nullptr,
                       &statePath);
}

}  // namespace qvprinter
