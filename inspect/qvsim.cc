// qvsim.cc - a simulated QV printer on a loopback address of its own:
// AppSocket jobs checked by the job decoders, PJL status, and the Printer
// MIB over SNMP, all from a state file that tests and admins change.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_file.h"
#include "inspect/sim_snmp.h"
#include "inspect/sim_socket.h"
#include "inspect/sim_state.h"

namespace {

constexpr const char* kUsage =
    "usage: qvsim [--model mono|colour] [--address ADDR] [--port N] [--snmp-port N]\n"
    "             [--state FILE] [--out DIR] [--png | --pnm]\n"
    "       qvsim set STATE-FILE KEY=VALUE...\n"
    "  Runs a simulated QV printer: AppSocket on ADDR:N (default 127.0.0.2:9100), SNMP\n"
    "  on ADDR:161 through snmpd (--snmp-port 0: none). Each job goes to DIR/job-N.prn,\n"
    "  its check to DIR/jobs.log; --png/--pnm also writes its pages as images.\n"
    "  The printer's condition comes from the state file (default DIR/state):\n"
    "    online=yes|no paper=PERCENT|low|out jam=yes|no door=open|closed\n"
    "    output=full|ok tray-missing=yes|no toner=PERCENT|missing\n"
    "    black= cyan= magenta= yellow= (PERCENT|missing) hangup=BYTES\n";

// The signal handler's flag: the only way a signal reaches the accept loop.
volatile sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

bool parsePort(std::string_view text, int& port) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  return ec == std::errc{} && end == text.data() + text.size() && port >= 0 && port <= 65535;
}

// The simulator serves only loopback addresses (127.x.y.z), where tests
// and an admin's trials reach no real network.
bool isLoopback(const std::string& address, in_addr& where) {
  return ::inet_pton(AF_INET, address.c_str(), &where) == 1 && (ntohl(where.s_addr) >> 24) == 127;
}

int listenOn(const std::string& address, int port, std::string& error) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<std::uint16_t>(port));
  if (!isLoopback(address, where.sin_addr)) {
    error = "the address must be a loopback address (127.x.y.z), not \"" + address + "\"";
    return -1;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd, 8) != 0) {
    error =
        "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

// The path snmpd runs this program by.
std::string selfPath(const char* argv0) {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return argv0;
  return std::string(path, static_cast<std::size_t>(length));
}

int runPrinter(int argc, char** argv) {
  qvsim::SimOptions options;
  std::string address = "127.0.0.2";
  int port = 9100, snmpPort = 161;
  options.outDir = ".";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--png" || arg == "--pnm") {
      options.preview =
          arg == "--png" ? qvinspect::PreviewFormat::kPng : qvinspect::PreviewFormat::kPnm;
    } else if (arg == "--model" && hasValue) {
      const std::string_view model = argv[++i];
      if (model != "mono" && model != "colour") return std::fputs(kUsage, stderr), 2;
      options.model = model == "colour" ? qvsim::SimModel::kColour : qvsim::SimModel::kMono;
    } else if (arg == "--address" && hasValue) {
      address = argv[++i];
    } else if ((arg == "--port" || arg == "--snmp-port") && hasValue) {
      if (!parsePort(argv[++i], arg == "--port" ? port : snmpPort))
        return std::fputs(kUsage, stderr), 2;
    } else if (arg == "--state" && hasValue) {
      options.statePath = argv[++i];
    } else if (arg == "--out" && hasValue) {
      options.outDir = argv[++i];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (in_addr ignored{}; !isLoopback(address, ignored)) {
    std::fprintf(stderr, "qvsim: the address must be a loopback address (127.x.y.z)\n");
    return 2;
  }
  if (options.statePath.empty()) options.statePath = options.outDir + "/state";
  ::mkdir(options.outDir.c_str(), 0755);
  qvsim::SimState state;
  std::string error;
  if (qvsim::loadState(options.statePath, state, error) != 0) {
    std::fprintf(stderr, "qvsim: %s\n", error.c_str());
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  options.stop = &gStop;

  // SNMP first: once the AppSocket port accepts, the whole printer answers.
  qvsim::SnmpAgent agent;
  if (snmpPort != 0 && agent.start(selfPath(argv[0]), address, snmpPort, options.model,
                                   options.statePath, options.outDir, error) != 0) {
    std::fprintf(stderr, "qvsim: %s\n", error.c_str());
    return 1;
  }
  const qv::UniqueFd listener(listenOn(address, port, error));
  if (!listener) {
    std::fprintf(stderr, "qvsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("qvsim: QV %s on %s: AppSocket port %d, SNMP port %d, jobs in %s\n",
              options.model == qvsim::SimModel::kColour ? "C600" : "M600", address.c_str(), port,
              snmpPort, options.outDir.c_str());
  std::fflush(stdout);
  // One connection at a time, as the printer prints one job at a time; the
  // next waits in the listen queue.
  int nextJob = 1;
  while (!gStop) {
    pollfd watch{listener.get(), POLLIN, 0};
    if (::poll(&watch, 1, 200) <= 0) continue;
    const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (qvsim::serveConnection(fd, options, nextJob) != 0)
      std::fprintf(stderr, "qvsim: cannot write into %s\n", options.outDir.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "set") {
    if (argc < 4) return std::fputs(kUsage, stderr), 2;
    std::string error;
    if (qvsim::updateStateFile(argv[2], {argv + 3, argv + argc}, error) != 0) {
      std::fprintf(stderr, "qvsim: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "snmp-pass") {
    if (argc != 4) return std::fputs(kUsage, stderr), 2;
    const qvsim::SimModel model =
        std::string_view(argv[2]) == "colour" ? qvsim::SimModel::kColour : qvsim::SimModel::kMono;
    return qvsim::runPassPersist(model, argv[3], stdin, stdout) == 0 ? 0 : 1;
  }
  return runPrinter(argc, argv);
}
