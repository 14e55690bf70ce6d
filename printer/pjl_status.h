// pjl_status.h - what a QV printer says about itself over its print
// connection (PJL INFO STATUS, USTATUS DEVICE), for printers whose SNMP
// does not answer: on USB, or with SNMP switched off.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <string_view>

#include "printer/device_status.h"

namespace qvprinter {

// One status message: the PJL status code, the panel text and whether the
// printer is online.
struct PjlStatusReading {
  int code = 0;
  bool online = true;
  std::string display;
};

// How long a printer may take to answer a status query; the first query
// decides whether the printer is ever asked again, so it waits longer.
inline constexpr int kPjlAnswerMs = 1500;
inline constexpr int kPjlFirstAnswerMs = 3000;

// The last complete status message in `bytes` ("@PJL INFO STATUS" or
// "@PJL USTATUS DEVICE", up to its form feed), other messages passed over.
// Returns false when there is none.
bool lastPjlStatus(std::string_view bytes, PjlStatusReading& reading);

// What a status code means in IPP terms: the same reasons as the MIB's.
DeviceReport reportFromPjl(const PjlStatusReading& reading);

// Asks the printer on `device` for its status, in a PJL block of its own
// (never inside a job's bytes), and reads the answer for at most
// `answerMs`: a socket device (`socket`) is polled with that bound; other
// devices read through PAPPL, whose USB read waits up to 10 s. Returns
// false when no answer came; bytes that are not a status message are
// ignored.
bool queryPjlStatus(pappl_device_t* device, bool socket, PjlStatusReading& reading,
                    int answerMs = kPjlAnswerMs);

// The connection's descriptor of a socket device, or -1.
int socketDescriptor(pappl_device_t* device);

// Asks the printer on `device` for unsolicited status messages on this
// connection, in a PJL block of its own. Returns false when it could not
// be sent.
bool requestPjlStatusMessages(pappl_device_t* device);

}  // namespace qvprinter
