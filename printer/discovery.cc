// discovery.cc - device discovery that survives a host without avahi-daemon.
//
// PAPPL 1.3 browses for DNS-SD printers with the avahi client it made at
// start-up, and when no avahi-daemon answers on the system bus that client
// is NULL and avahi asserts in avahi_service_browser_new: `qvprinter
// devices` aborts, and so does the server on its "Add Printer" page. That is
// the normal case on a server or in a container. papplDeviceList is
// interposed here (the program exports it; libpappl calls it through its
// PLT): DNS-SD is left out of the listing, with a message saying why, when
// no daemon answers; the other schemes (USB, SNMP) are listed as before and
// a socket:// URI can always be typed in.
#include "printer/discovery.h"
#include "printer/replaced.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <pappl/pappl.h>

#include <cstdio>
#include <memory>
#include <string>

// PAPPL's own avahi client (dnssd.c): made on first use, kept for the life
// of the process once made; NULL while no daemon answers.
extern "C" void* _papplDNSSDInit(pappl_system_t* system);

namespace qvprinter {
namespace {

struct PollFree {
  void operator()(AvahiSimplePoll* poll) const { avahi_simple_poll_free(poll); }
};
struct ClientFree {
  void operator()(AvahiClient* client) const { avahi_client_free(client); }
};

void ignoreState(AvahiClient*, AvahiClientState, void*) {}

}  // namespace

bool dnssdAvailable(std::string& why) {
  // A client of our own first, without AVAHI_CLIENT_NO_FAIL: it fails at
  // once and quietly when there is no daemon, where PAPPL's would log.
  const std::unique_ptr<AvahiSimplePoll, PollFree> poll(avahi_simple_poll_new());
  if (!poll) {
    why = "no memory for an avahi client";
    return false;
  }
  int error = 0;
  const std::unique_ptr<AvahiClient, ClientFree> probe(avahi_client_new(
      avahi_simple_poll_get(poll.get()), AvahiClientFlags(0), ignoreState, nullptr, &error));
  if (!probe) {
    why = std::string("avahi-daemon is not reachable (") + avahi_strerror(error) + ")";
    return false;
  }
  // The daemon answers; PAPPL's client is the one the browser gets, and
  // once it exists it stays, so a daemon that stops from now on makes the
  // browser fail with an error instead of an assertion.
  if (_papplDNSSDInit(nullptr) == nullptr) {
    why = "PAPPL could not connect to avahi-daemon";
    return false;
  }
  return true;
}

}  // namespace qvprinter

extern "C" bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data,
                                pappl_deverror_cb_t errCb, void* errData) {
  using List = bool (*)(pappl_devtype_t, pappl_device_cb_t, void*, pappl_deverror_cb_t, void*);
  static const auto original = qvprinter::originalFunction<List>("papplDeviceList");
  if (original == nullptr) return false;
  std::string why;
  if ((types & PAPPL_DEVTYPE_DNS_SD) != 0 && !qvprinter::dnssdAvailable(why)) {
    types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
    const std::string message =
        "DNS-SD discovery is unavailable: " + why + "; enter a socket:// device URI instead.";
    if (errCb != nullptr)
      errCb(message.c_str(), errData);
    else
      std::fprintf(stderr, "%s\n", message.c_str());
  }
  return original(types, cb, data, errCb, errData);
}
