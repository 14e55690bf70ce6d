// ipp_fuzz.cc - requests serialised by libcups, their mutations, and a POST
// that gives up after a bounded time.
#include "tests/printer/ipp_fuzz.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

namespace qvtest {
namespace {

std::size_t load16(std::string_view bytes, std::size_t at) {
  return static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[at]) << 8 |
                                  static_cast<std::uint8_t>(bytes[at + 1]));
}

void store16(std::string& bytes, std::size_t at, std::size_t value) {
  bytes[at] = static_cast<char>((value >> 8) & 0xFF);
  bytes[at + 1] = static_cast<char>(value & 0xFF);
}

std::string hex(std::size_t value) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return "0x" + text;
}

// The name of the value record at `start`, or what stands in for it.
std::string nameAt(std::string_view message, std::size_t start) {
  const std::size_t length = load16(message, start + 1);
  return length == 0 ? std::string("(another value)")
                     : std::string(message.substr(start + 3, length));
}

// Value tags a record may be given instead of its own: out-of-band values,
// integers, strings, collections and their members, the extension tag, and
// tags no version of IPP assigns.
constexpr std::array<std::uint8_t, 24> kValueTags = {
    0x10, 0x12, 0x13, 0x15, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33, 0x34,
    0x35, 0x36, 0x37, 0x41, 0x42, 0x44, 0x45, 0x47, 0x48, 0x4A, 0x7F, 0x5E};
// Group tags: operation, job, end, printer, unsupported, subscription,
// event notification, and two never assigned.
constexpr std::array<std::uint8_t, 9> kGroupTags = {0x01, 0x02, 0x03, 0x04, 0x05,
                                                    0x06, 0x07, 0x00, 0x0F};

struct Insert {
  std::uint8_t tag;
  const char* name;
};
constexpr std::array<Insert, 9> kInserts = {{{0x41, "job-name"},
                                             {0x49, "document-format"},
                                             {0x44, "media"},
                                             {0x42, "requesting-user-name"},
                                             {0x30, "job-password"},
                                             {0x34, "media-col"},
                                             {0x45, "printer-uri"},
                                             {0x4A, ""},
                                             {0x21, "copies"}}};
constexpr std::array<std::size_t, 6> kValueLengths = {0, 1, 4, 1023, 32767, 65535};

}  // namespace

std::string encodeIpp(ipp_t* request) {
  std::string out;
  const ipp_iocb_t append = [](void* context, ipp_uchar_t* buffer, size_t bytes) -> ssize_t {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), bytes);
    return static_cast<ssize_t>(bytes);
  };
  ippSetState(request, IPP_STATE_IDLE);
  if (ippWriteIO(&out, append, 1, nullptr, request) != IPP_STATE_DATA) out.clear();
  return out;
}

std::vector<IppMutator::Record> IppMutator::records(std::string_view message) {
  std::vector<Record> found;
  std::size_t at = 8;  // after version, operation and request id
  while (at < message.size()) {
    const auto tag = static_cast<std::uint8_t>(message[at]);
    if (tag < 0x10) {
      found.push_back({at, at + 1, true});
      if (tag == IPP_TAG_END) break;
      ++at;
      continue;
    }
    if (at + 3 > message.size()) break;
    const std::size_t valueAt = at + 3 + load16(message, at + 1);
    if (valueAt + 2 > message.size()) break;
    const std::size_t end = valueAt + 2 + load16(message, valueAt);
    if (end > message.size()) break;
    found.push_back({at, end, false});
    at = end;
  }
  return found;
}

void IppMutator::mutateOnce(std::string& message, std::string& what) {
  const std::vector<Record> all = records(message);
  std::vector<Record> values;
  std::copy_if(all.begin(), all.end(), std::back_inserter(values),
               [](const Record& r) { return !r.delimiter; });
  // A record boundary: where something may be inserted.
  const std::size_t boundary = all.empty() ? message.size() : all[below(all.size())].start;
  const Record* value = values.empty() ? nullptr : &values[below(values.size())];
  std::string done;
  switch (below(9)) {
    case 0: {  // bytes flipped anywhere in the message
      const std::size_t flips = 1 + below(4);
      done = "flip";
      for (std::size_t i = 0; i < flips && !message.empty(); ++i) {
        const std::size_t at = below(message.size());
        message[at] = static_cast<char>(random_() & 0xFF);
        done += " " + std::to_string(at);
      }
      break;
    }
    case 1: {  // the message cut short (the document then follows at once)
      const std::size_t at = below(message.size());
      message.resize(at);
      done = "cut at " + std::to_string(at);
      break;
    }
    case 2:  // an attribute sent twice
      if (value == nullptr) break;
      done = "duplicate " + nameAt(message, value->start);
      message.insert(below(2) == 0 ? value->end : boundary,
                     message.substr(value->start, value->end - value->start));
      break;
    case 3: {  // a value tag that does not fit the attribute
      if (value == nullptr) break;
      const std::uint8_t tag = kValueTags[below(kValueTags.size())];
      done = "tag " + hex(tag) + " on " + nameAt(message, value->start);
      message[value->start] = static_cast<char>(tag);
      break;
    }
    case 4: {  // a name or value length that disagrees with the bytes
      if (value == nullptr) break;
      const bool name = below(2) == 0;
      const std::size_t at =
          name ? value->start + 1 : value->start + 3 + load16(message, value->start + 1);
      const std::size_t was = load16(message, at);
      const std::array<std::size_t, 6> lengths = {
          0xFFFF, 0x8000, 0x7FFF, was + 1, was == 0 ? 1 : was - 1, 0};
      const std::size_t length = lengths[below(lengths.size())] & 0xFFFF;
      done = std::string(name ? "name" : "value") + " length " + std::to_string(length) + " on " +
             nameAt(message, value->start);
      store16(message, at, length);
      break;
    }
    case 5: {  // groups out of order: a group tag changed, added or removed
      const std::uint8_t tag = kGroupTags[below(kGroupTags.size())];
      std::vector<Record> groups;
      std::copy_if(all.begin(), all.end(), std::back_inserter(groups),
                   [](const Record& r) { return r.delimiter; });
      const std::size_t choice = below(3);
      if (choice == 0 && !groups.empty()) {
        const Record& group = groups[below(groups.size())];
        done = "group tag at " + std::to_string(group.start) + " made " + hex(tag);
        message[group.start] = static_cast<char>(tag);
      } else if (choice == 1 && !groups.empty()) {
        const Record& group = groups[below(groups.size())];
        done = "group tag at " + std::to_string(group.start) + " removed";
        message.erase(group.start, 1);
      } else {
        done = "group tag " + hex(tag) + " inserted at " + std::to_string(boundary);
        message.insert(boundary, 1, static_cast<char>(tag));
      }
      break;
    }
    case 6:  // an attribute left out
      if (value == nullptr) break;
      done = "drop " + nameAt(message, value->start);
      message.erase(value->start, value->end - value->start);
      break;
    case 7: {  // an attribute with an oversized or empty value
      const Insert& insert = kInserts[below(kInserts.size())];
      const std::size_t length = kValueLengths[below(kValueLengths.size())];
      const std::string name = insert.name;
      std::string record(1, static_cast<char>(insert.tag));
      record += std::string(2, '\0') + name + std::string(2, '\0');
      store16(record, 1, name.size());
      store16(record, 3 + name.size(), length);
      const char fill = below(2) == 0 ? 'A' : static_cast<char>(random_() & 0xFF);
      record += std::string(length, fill);
      done = "insert " + hex(insert.tag) + " " + (name.empty() ? "(member name)" : name) + " of " +
             std::to_string(length) + " bytes at " + std::to_string(boundary);
      message.insert(boundary, record);
      break;
    }
    default:  // another version or request id
      if (message.size() < 8) break;
      if (below(2) == 0) {
        store16(message, 0, random_() & 0xFFFF);
        done = "version " + hex(load16(message, 0));
      } else {
        for (std::size_t i = 4; i < 8; ++i) message[i] = static_cast<char>(random_() & 0xFF);
        done = "request id changed";
      }
      break;
  }
  if (done.empty()) done = "nothing to mutate";
  what += what.empty() ? done : "; " + done;
}

std::string IppMutator::mutate(const IppRequest& request, std::string& what) {
  std::string message = request.message;
  what.clear();
  // Mostly one mutation: most requests with more never get past the parser.
  const std::size_t mutations = 1 + below(3) / 2;
  for (std::size_t i = 0; i < mutations; ++i) mutateOnce(message, what);
  if (message.size() >= 4 && request.message.size() >= 4) {
    const auto op = static_cast<ipp_op_t>(load16(message, 2));
    if (std::find(allowed_.begin(), allowed_.end(), op) == allowed_.end())
      message.replace(2, 2, request.message, 2, 2);
  }
  std::string body = message + request.document;
  if (below(10) == 0 && !body.empty()) {  // the connection ends early, in the document too
    const std::size_t at = below(body.size());
    body.resize(at);
    what += "; body cut at " + std::to_string(at);
  }
  return body;
}

PostOutcome postIpp(int port, const std::string& resource, std::string_view body, double seconds,
                    int& httpStatus, int& ippStatus) {
  httpStatus = ippStatus = 0;
  const std::unique_ptr<http_t, void (*)(http_t*)> http(
      httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                   static_cast<int>(seconds * 1000), nullptr),
      httpClose);
  if (!http) return PostOutcome::kNoConnection;
  // A wait longer than `seconds` ends the request.
  httpSetTimeout(
      http.get(), seconds, [](http_t*, void*) { return 0; }, nullptr);
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  httpSetLength(http.get(), body.size());
  if (httpPost(http.get(), resource.c_str()) != 0) return PostOutcome::kClosed;
  // The server may answer before it has read everything (a request it
  // refuses early); the answer is read in any case.
  (void)httpWrite2(http.get(), body.data(), body.size());
  http_status_t status = HTTP_STATUS_CONTINUE;
  for (int interim = 0; status == HTTP_STATUS_CONTINUE && interim < 100; ++interim)
    status = httpUpdate(http.get());
  if (status == HTTP_STATUS_ERROR)
    return httpError(http.get()) == ETIMEDOUT ? PostOutcome::kTimedOut : PostOutcome::kClosed;
  httpStatus = static_cast<int>(status);
  if (status == HTTP_STATUS_OK) {
    const std::unique_ptr<ipp_t, void (*)(ipp_t*)> response(ippNew(), ippDelete);
    const ipp_state_t read = ippRead(http.get(), response.get());
    if (read == IPP_STATE_DATA)
      ippStatus = static_cast<int>(ippGetStatusCode(response.get()));
    else if (httpError(http.get()) == ETIMEDOUT)
      return PostOutcome::kTimedOut;
  }
  return PostOutcome::kAnswered;
}

}  // namespace qvtest
