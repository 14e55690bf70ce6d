// sim_snmp.h - the simulated printer's SNMP agent: Debian's snmpd on the
// printer's own address, handing the mib-2 subtree to qvsim's pass_persist
// helper, which answers from the state file. snmpd speaks SNMP; qvsim only
// says which object holds which value.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "inspect/sim_state.h"

namespace qvsim {

// The pass_persist side (snmpd's protocol on `in`/`out`: PING, get,
// getnext, set). Reads the state file for every request. Returns 0 when
// snmpd closes the pipe.
int runPassPersist(SimModel model, const std::string& statePath, std::FILE* in, std::FILE* out);

// snmpd as a child process listening on udp:`address`:`port`, its
// configuration and log in `workDir`. The destructor stops it.
class SnmpAgent {
 public:
  SnmpAgent() = default;
  ~SnmpAgent();
  SnmpAgent(const SnmpAgent&) = delete;
  SnmpAgent& operator=(const SnmpAgent&) = delete;

  // `self` is this program, run by snmpd as "self snmp-pass MODEL STATE".
  // Returns 0, or -1 with `error` (no snmpd, or it could not start).
  int start(const std::string& self, const std::string& address, int port, SimModel model,
            const std::string& statePath, const std::string& workDir, std::string& error);

 private:
  pid_t pid_ = -1;
};

}  // namespace qvsim
