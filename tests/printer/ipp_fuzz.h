// ipp_fuzz.h - mutated IPP requests for a printer application on loopback:
// well-formed requests serialised by libcups, then damaged the ways a hostile
// or broken client damages them, reproducibly from a seed.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest {

// One request as it goes on the wire: the IPP message (its attributes ended
// by the end tag) and the document data after it, for a resource such as
// "/ipp/print/mono".
struct IppRequest {
  std::string resource;
  std::string message;
  std::string document;
};

// `request` in IPP's wire encoding (version, operation, request id,
// attribute groups, end tag). Empty when libcups cannot write it.
std::string encodeIpp(ipp_t* request);

// Damages requests: byte flips, truncation, duplicated and dropped
// attributes, wrong value tags, huge or off-by-one lengths, groups out of
// order, oversized values, another version or request id. Each call draws
// from the generator seeded once, so a seed and a count replay a run. The
// operation stays one of `allowedOperations` (a flip must not turn a query
// into Delete-Printer or Shutdown-All-Printers: those are the client's to ask
// for, not faults).
class IppMutator {
 public:
  IppMutator(std::uint32_t seed, std::vector<ipp_op_t> allowedOperations)
      : random_(seed), allowed_(std::move(allowedOperations)) {}

  // The mutated bytes of `request` (message and document); `what` says which
  // mutations were made, for the message of a failure.
  std::string mutate(const IppRequest& request, std::string& what);

 private:
  struct Record {
    std::size_t start = 0, end = 0;  // the tag byte through the value
    bool delimiter = false;          // a group tag (0x00-0x0F), one byte
  };
  // The records of a message from its first group tag to its end tag.
  static std::vector<Record> records(std::string_view message);
  std::size_t below(std::size_t bound) { return bound == 0 ? 0 : random_() % bound; }
  void mutateOnce(std::string& message, std::string& what);

  std::mt19937 random_;
  std::vector<ipp_op_t> allowed_;
};

// How a request sent by postIpp ended.
enum class PostOutcome {
  kAnswered,      // an HTTP answer came (`httpStatus`; `ippStatus` when it carried IPP)
  kClosed,        // the server closed the connection without an answer
  kTimedOut,      // no answer within the time given: a server thread is stuck
  kNoConnection,  // nothing listens: the server is gone
};

// POSTs `body` as application/ipp to 127.0.0.1:`port``resource` on a
// connection of its own, waiting at most `seconds` for each step.
PostOutcome postIpp(int port, const std::string& resource, std::string_view body, double seconds,
                    int& httpStatus, int& ippStatus);

}  // namespace qvtest
