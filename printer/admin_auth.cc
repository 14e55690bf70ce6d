// admin_auth.cc - who may administer qvprinter, over IPP and the web.
//
// PAPPL 1.3 on its own: without an auth service the web interface lets
// anyone who reaches the port add, change and delete printers; with one,
// printing itself needs TLS and a password as well. The rule here:
//   - the local machine (the domain socket, loopback) administers freely;
//   - printing (and a job's owner operations) never needs authentication;
//   - administration from elsewhere needs the auth service ("-o
//     auth-service=NAME", PAM): HTTP Basic over TLS by a member of the
//     admin group. Without a service, the web access password PAPPL offers
//     (set on the local machine) opens the web pages over TLS; otherwise
//     remote administration is refused (403).
// Two functions are interposed (the program exports them; libpappl calls
// them through its PLT): _papplClientIsAuthorizedForGroup, which every IPP
// operation asks, and papplClientHTMLAuthorize, which every web page that
// changes something asks.
//
// papplSystemHashPassword is replaced: PAPPL 1.3 cuts the nonce off a
// stored hash at ':' where it writes '~', so it checks a password with the
// whole stored hash as its nonce, and the stored hash is then a prefix of
// every result: any password opened the web pages (and no old password was
// ever right on the Security page).
//
// papplPrinterCreate makes Delete-Printer usable: PAPPL 1.3 gives
// a printer added while the server runs the printer-id attribute 0 (the
// attribute is made before the id is chosen), so neither `qvprinter delete`
// nor an IPP client can name it until the next restart. Choosing the id
// before PAPPL makes the printer gives the attribute its real value. (The id of a
// printer deleted before a restart may come back after it.)
#include "printer/admin_auth.h"
#include "printer/replaced.h"

#include <grp.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" http_status_t _papplClientIsAuthorizedForGroup(pappl_client_t* client, bool allowRemote,
                                                          const char* group, gid_t groupId);

namespace qvprinter {
namespace {

constexpr const char* kDefaultAdminGroup = "lpadmin";

// The domain socket or a loopback address.
bool isLocal(pappl_client_t* client) {
  return httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client))) != 0;
}

// The peer's address, for the log.
std::string peer(pappl_client_t* client) {
  std::array<char, 256> address{};
  httpAddrString(httpGetAddress(papplClientGetHTTP(client)), address.data(), address.size());
  return address.data();
}

bool hasAuthService(pappl_system_t* system) {
  const char* service = papplSystemGetAuthService(system);
  return service != nullptr && *service != '\0';
}

bool hasWebPassword(pappl_system_t* system) {
  std::array<char, 256> hash{};
  return papplSystemGetPassword(system, hash.data(), hash.size()) != nullptr && hash[0] != '\0';
}

// A page saying why, and how to get in.
void refusePage(pappl_client_t* client) {
  papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                 "Refused remote administration from %s: no auth service or access password.",
                 peer(client).c_str());
  if (!papplClientRespond(client, HTTP_STATUS_FORBIDDEN, nullptr, "text/html", 0, 0)) return;
  papplClientHTMLHeader(client, "Forbidden", 0);
  papplClientHTMLPuts(client,
                      "    <div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n"
                      "      <h1 class=\"title\">Administration from this machine is off</h1>\n"
                      "      <p>Administer the printers on the print server itself "
                      "(http://localhost), or have its administrator set an access password "
                      "there or start qvprinter with <code>-o auth-service=qvprinter</code>.</p>\n"
                      "    </div></div></div>\n");
  papplClientHTMLFooter(client);
}

}  // namespace

bool configureAdminAccess(pappl_system_t* system, int count, cups_option_t* options,
                          std::string& error) {
  if (!hasAuthService(system)) return true;  // no one signs in: no group to be in
  const char* group = cupsGetOption("admin-group", count, options);
  if (group == nullptr || *group == '\0') group = kDefaultAdminGroup;
  papplSystemSetAdminGroup(system, group);
  if (std::strcmp(group, "none") == 0) return true;
  std::array<char, 8192> buffer{};
  struct group entry {};
  struct group* found = nullptr;
  if (getgrnam_r(group, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    error = std::string("the admin group '") + group +
            "' does not exist (-o admin-group=NAME, or none for any authenticated user)";
    return false;
  }
  return true;
}

}  // namespace qvprinter

extern "C" http_status_t _papplClientIsAuthorizedForGroup(pappl_client_t* client, bool allowRemote,
                                                          const char* group, gid_t groupId) {
  using Check = http_status_t (*)(pappl_client_t*, bool, const char*, gid_t);
  static const auto original =
      qvprinter::originalFunction<Check>("_papplClientIsAuthorizedForGroup");
  if (client == nullptr || original == nullptr) return HTTP_STATUS_FORBIDDEN;
  if (qvprinter::isLocal(client) || allowRemote) return HTTP_STATUS_CONTINUE;
  pappl_system_t* system = papplClientGetSystem(client);
  if (!qvprinter::hasAuthService(system)) {
    papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                   "Refused remote administration from %s: no auth service configured.",
                   qvprinter::peer(client).c_str());
    return HTTP_STATUS_FORBIDDEN;
  }
  // PAPPL treats a group it could not look up as no group at all: anyone
  // the service accepts would be an administrator.
  if (group != nullptr && std::strcmp(group, "none") != 0 && groupId == static_cast<gid_t>(-1)) {
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR,
                   "Refused administration: unknown admin group '%s'.", group);
    return HTTP_STATUS_FORBIDDEN;
  }
  return original(client, false, group, groupId);  // TLS, then Basic through the service
}

extern "C" bool papplClientHTMLAuthorize(pappl_client_t* client) {
  using Authorize = bool (*)(pappl_client_t*);
  static const auto original = qvprinter::originalFunction<Authorize>("papplClientHTMLAuthorize");
  if (client == nullptr || original == nullptr) return false;
  if (qvprinter::isLocal(client)) return true;
  pappl_system_t* system = papplClientGetSystem(client);
  // Basic through the service: papplClientIsAuthorized, the check above.
  if (qvprinter::hasAuthService(system)) return original(client);
  if (!qvprinter::hasWebPassword(system)) {
    qvprinter::refusePage(client);
    return false;
  }
  // The access password travels in a form: never in clear text.
  if (!httpIsEncrypted(papplClientGetHTTP(client))) {
    if ((papplSystemGetOptions(system) & PAPPL_SOPTIONS_NO_TLS) != 0) {
      qvprinter::refusePage(client);
    } else {  // a GET is sent to the https:// page
      papplClientRespond(client, HTTP_STATUS_UPGRADE_REQUIRED, nullptr, nullptr, 0, 0);
    }
    return false;
  }
  return original(client);
}

extern "C" pappl_printer_t* papplPrinterCreate(pappl_system_t* system, int printerId,
                                               const char* printerName, const char* driverName,
                                               const char* deviceId, const char* deviceUri) {
  using Create = pappl_printer_t* (*)(pappl_system_t*, int, const char*, const char*, const char*,
                                      const char*);
  static const auto original = qvprinter::originalFunction<Create>("papplPrinterCreate");
  if (original == nullptr) return nullptr;
  if (printerId != 0 || system == nullptr)  // a printer of the state file keeps its id
    return original(system, printerId, printerName, driverName, deviceId, deviceUri);
  // PAPPL moves its next id on only for printers it numbers itself, and
  // lets no one else move it while it runs: the next id is past PAPPL's and
  // past every printer's. IPP and web clients add printers from threads of
  // their own; one lock over choosing and adding keeps two from one id.
  static std::mutex createLock;
  static int lastIssued = 0;  // ids of printers deleted since start stay used
  const std::lock_guard hold(createLock);
  int next = std::max(papplSystemGetNextPrinterID(system), lastIssued + 1);
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t* printer, void* data) {
        int& after = *static_cast<int*>(data);
        after = std::max(after, papplPrinterGetID(printer) + 1);
      },
      &next);
  lastIssued = next;
  return original(system, next, printerName, driverName, deviceId, deviceUri);
}

// PAPPL's format, "NONCE~HASH" with HASH the SHA2-256 of "NONCE:PASSWORD" in
// hex; the nonce is the salt's up to its '~', else a new random one.
extern "C" char* papplSystemHashPassword(pappl_system_t* system, const char* salt,
                                         const char* password, char* buffer, size_t bufsize) {
  if (buffer == nullptr || bufsize == 0) return buffer;
  *buffer = '\0';
  if (system == nullptr || password == nullptr) return buffer;
  std::string nonce;
  if (const char* end = salt != nullptr ? std::strchr(salt, '~') : nullptr; end != nullptr) {
    nonce.assign(salt, end);
  } else {
    std::array<char, 17> random{};
    std::snprintf(random.data(), random.size(), "%08x%08x", papplGetRand(), papplGetRand());
    nonce = random.data();
  }
  const std::string text = nonce + ":" + password;
  std::array<unsigned char, 32> hash{};
  std::array<char, 65> hex{};
  if (cupsHashData("sha2-256", text.data(), text.size(), hash.data(), hash.size()) !=
          static_cast<ssize_t>(hash.size()) ||
      cupsHashString(hash.data(), hash.size(), hex.data(), hex.size()) == nullptr)
    return buffer;
  std::snprintf(buffer, bufsize, "%s~%s", nonce.c_str(), hex.data());
  return buffer;
}
