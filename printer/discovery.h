// discovery.h - DNS-SD discovery only where an avahi-daemon answers.
#pragma once

#include <string>

namespace qvprinter {

// Whether DNS-SD browsing can work now: an avahi-daemon answers on the
// system bus and PAPPL holds its client. If not, `why` says what is missing.
// The file also interposes papplDeviceList, which leaves DNS-SD out of every
// listing (with a message) when this is false.
bool dnssdAvailable(std::string& why);

}  // namespace qvprinter
