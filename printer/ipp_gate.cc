// ipp_gate.cc - the gate in front of PAPPL's IPP dispatchers.
//
// PAPPL 1.3 accepts any document-format once ipp-attribute-fidelity is true
// and then crashes on a format that no filter handles; it trusts a declared
// format without looking at the bytes; it returns every job attribute to
// every client, logs request attributes at debug level and writes job
// attributes to its spool. qvprinter therefore wraps PAPPL's own functions
// (the program defines them; RTLD_NEXT reaches PAPPL's, see the end of this
// file):
//  - _papplClientProcessIPP: before PAPPL logs the request, the PIN
//    attributes (qv-secure-pin, job-password) are taken out of it;
//  - the three dispatchers: before PAPPL sees the operation, a document of
//    a type the drivers do not print, or whose bytes are not of the declared
//    type, and a PIN that is not four digits are refused with the request's
//    answer; a valid PIN goes into the vault, and the job gets only the
//    vault's key (kPinRefAttr); printer settings and media collections
//    that PAPPL would apply unchecked are refused as unsupported (see
//    kSettable). After it, Get-Printer-Attributes answers
//    list the PIN attributes in job-creation-attributes-supported;
//  - _papplJobProcess: a job of another format (from an older spool) aborts
//    with a message instead of reaching the device; and the thread runs the
//    printer's oldest pending job (job_queue.h, firstInLine).
#include "printer/ipp_gate.h"

#include <sys/random.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "printer/device_status.h"
#include "printer/job_plan.h"
#include "printer/job_queue.h"
#include "printer/replaced.h"

namespace qvprinter {
namespace {

constexpr const char* kJobPasswordAttr = "job-password";
constexpr const char* kPinDefaultAttr = "qv-secure-pin-default";
constexpr std::string_view kOctetStream = "application/octet-stream";

// The printable formats and the bytes each starts with (those PAPPL's own
// auto-typing looks for).
struct Format {
  std::string_view type, magic;
};
constexpr Format kFormats[] = {
    {"application/pdf", "%PDF"},        {"image/jpeg", "\xff\xd8\xff"},
    {"image/png", "\x89PNG\r\n\x1a\n"}, {"image/pwg-raster", "RaS2"},
    {"image/urf", {"UNIRAST\0", 8}},
};

// ---- The vault -------------------------------------------------------------

// The PINs of jobs that have not started printing, by the random key in the
// job's attributes. PAPPL's client and job threads reach it only through
// the interposed functions and the driver callbacks, so it is one
// process-wide object behind a mutex. Its lock is never held while PAPPL is
// called: a job thread may hold PAPPL's locks when it takes a PIN.
class PinVault {
 public:
  // Stores `pin` under a new key; "" when no random key can be drawn.
  std::string put(std::string_view pin) {
    std::array<unsigned char, 16> random{};
    if (getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size()))
      return "";
    std::string key;
    for (const unsigned char byte : random) {
      key += "0123456789abcdef"[byte >> 4];
      key += "0123456789abcdef"[byte & 15];
    }
    const std::lock_guard lock(mutex_);
    entries_[key].pin = pin;
    return key;
  }
  // Notes the job that `key` belongs to, so that sweep can forget it.
  void bind(std::string_view key, int printerId, int jobId) {
    const std::lock_guard lock(mutex_);
    if (const auto entry = entries_.find(key); entry != entries_.end())
      entry->second.job = {printerId, jobId};
  }
  bool take(std::string_view key, std::string& pin) {
    const std::lock_guard lock(mutex_);
    const auto entry = entries_.find(key);
    if (entry == entries_.end()) return false;
    pin = entry->second.pin;
    eraseLocked(entry);
    return true;
  }
  void erase(std::string_view key) {
    const std::lock_guard lock(mutex_);
    if (const auto entry = entries_.find(key); entry != entries_.end()) eraseLocked(entry);
  }
  // Forgets the PINs of jobs that have ended (cancelled or aborted before
  // they printed) or are gone.
  void sweep(pappl_system_t* system) {
    std::vector<std::pair<std::string, JobKey>> bound;
    {
      const std::lock_guard lock(mutex_);
      for (const auto& [key, entry] : entries_)
        if (entry.job.jobId > 0) bound.emplace_back(key, entry.job);
    }
    for (const auto& [key, job] : bound) {
      pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, job.printerId, nullptr);
      pappl_job_t* found = printer != nullptr ? papplPrinterFindJob(printer, job.jobId) : nullptr;
      if (found == nullptr || papplJobGetState(found) >= IPP_JSTATE_CANCELED) erase(key);
    }
  }

 private:
  struct JobKey {
    int printerId = 0, jobId = 0;
  };
  struct Entry {
    std::string pin;
    JobKey job;
  };
  using Entries = std::map<std::string, Entry, std::less<>>;
  void eraseLocked(Entries::iterator entry) {
    std::fill(entry->second.pin.begin(), entry->second.pin.end(), '\0');
    entries_.erase(entry);
  }
  std::mutex mutex_;
  Entries entries_;
};

PinVault& pinVault() {
  static PinVault vault;
  return vault;
}

// ---- The PIN attributes of the request being processed ---------------------

struct StrippedPin {
  std::string name;
  ipp_tag_t tag = IPP_TAG_ZERO;
  int count = 0;
  std::string value;  // the first value as text, when it is a string
};

// What _papplClientProcessIPP took out of the request before PAPPL saw it,
// for the dispatcher it calls. PAPPL serves each connection on its own
// thread and calls the dispatcher on it synchronously, so this thread's
// record is the current request's.
struct Stripped {
  std::vector<StrippedPin> pins;
  bool defaultGiven = false;  // qv-secure-pin-default: a PIN has no default

  void forget() {
    for (StrippedPin& pin : pins) std::fill(pin.value.begin(), pin.value.end(), '\0');
    pins.clear();
    defaultGiven = false;
  }
};
thread_local Stripped tStripped;

void stripPinAttributes(ipp_t* request) {
  tStripped.forget();
  if (request == nullptr) return;
  std::vector<ipp_attribute_t*> gone;
  for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr;
       attr = ippNextAttribute(request)) {
    const char* name = ippGetName(attr);
    if (name == nullptr) continue;
    const std::string_view view(name);
    if (view == kPinAttr || view == kJobPasswordAttr) {
      StrippedPin pin{name, ippGetValueTag(attr), ippGetCount(attr), ""};
      if (pin.tag == IPP_TAG_STRING) {
        int length = 0;
        const void* data = ippGetOctetString(attr, 0, &length);
        if (data != nullptr && length > 0)
          pin.value.assign(static_cast<const char*>(data), static_cast<std::size_t>(length));
      } else if (const char* text = ippGetString(attr, 0, nullptr); text != nullptr) {
        pin.value = text;
      }
      tStripped.pins.push_back(std::move(pin));
    } else if (view == kPinDefaultAttr) {
      tStripped.defaultGiven = true;
    } else if (view != kPinRefAttr) {
      continue;
    }
    gone.push_back(attr);
  }
  for (ipp_attribute_t* attr : gone) ippDeleteAttribute(request, attr);
}

// ---- Checks before the dispatcher ------------------------------------------

// Refuses the request for the value of `name`, which is not repeated: the
// unsupported group names the attribute with the out-of-band "unsupported".
void refusePin(pappl_client_t* client, const char* name, const char* message) {
  papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", message);
  ippAddOutOfBand(papplClientGetResponse(client), IPP_TAG_UNSUPPORTED_GROUP,
                  IPP_TAG_UNSUPPORTED_VALUE, name);
}

bool isStringTag(ipp_tag_t tag) {
  return tag == IPP_TAG_TEXT || tag == IPP_TAG_TEXTLANG || tag == IPP_TAG_NAME ||
         tag == IPP_TAG_NAMELANG || tag == IPP_TAG_KEYWORD || tag == IPP_TAG_STRING;
}

// The request's PIN into `pin` ("" for none: an empty value is a dialog's
// blank field). Returns false after refusing the request.
bool checkPin(pappl_client_t* client, ipp_op_t op, std::string& pin) {
  pin.clear();
  if (tStripped.defaultGiven) {
    refusePin(client, kPinDefaultAttr, "A secure-print PIN has no default: give it with each job.");
    return false;
  }
  const bool creates =
      op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB || op == IPP_OP_VALIDATE_JOB;
  for (const StrippedPin& given : tStripped.pins) {
    if (given.count == 1 && isStringTag(given.tag) && given.value.empty()) continue;
    if (!creates) {
      refusePin(client, given.name.c_str(),
                "A secure-print PIN is given with the job's Print-Job or Create-Job request.");
      return false;
    }
    if (given.count != 1 || !isStringTag(given.tag) || !pinIsValid(given.value)) {
      refusePin(client, given.name.c_str(),
                "The secure-print PIN must be exactly 4 digits (0-9), sent as text; the job "
                "was not accepted.");
      return false;
    }
    if (given.name == kJobPasswordAttr) {
      const char* encryption = ippGetString(
          ippFindAttribute(papplClientGetRequest(client), "job-password-encryption", IPP_TAG_ZERO),
          0, nullptr);
      if (encryption != nullptr && std::strcmp(encryption, "none") != 0) {
        refusePin(client, "job-password-encryption",
                  "The printer takes the job password unencrypted (job-password-encryption "
                  "none).");
        return false;
      }
    }
    if (!pin.empty() && pin != given.value) {
      refusePin(client, given.name.c_str(),
                "qv-secure-pin and job-password give different PINs; the job was not accepted.");
      return false;
    }
    pin = given.value;
  }
  return true;
}

void refuseFormat(pappl_client_t* client, std::string_view format, const std::string& message) {
  papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED, "%s",
                        message.c_str());
  ippAddString(papplClientGetResponse(client), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_MIMETYPE,
               "document-format", nullptr, std::string(format).c_str());
}

// Ends a zlib stream however the peek ends.
struct Inflater {
  z_stream stream{};
  bool open = false;
  explicit Inflater(int windowBits) : open(inflateInit2(&stream, windowBits) == Z_OK) {}
  ~Inflater() {
    if (open) inflateEnd(&stream);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
};

// The start of the document as it will be printed, into `start`; false when
// the request has no document data. A compressed document (compression gzip
// or deflate) is inflated here from the bytes HTTP holds: CUPS 2.4's
// httpPeek miscounts through its decompressor, and PAPPL would then find no
// document. `start` is empty when nothing can be inflated.
bool peekDocument(pappl_client_t* client, std::string& start) {
  start.clear();
  std::array<char, 1024> raw{};
  const ssize_t got = httpPeek(papplClientGetHTTP(client), raw.data(), raw.size());
  if (got <= 0) return false;
  const std::size_t rawBytes = static_cast<std::size_t>(got);
  const char* coding = ippGetString(
      ippFindAttribute(papplClientGetRequest(client), "compression", IPP_TAG_KEYWORD), 0, nullptr);
  const int windowBits = coding == nullptr                     ? 0
                         : std::strcmp(coding, "gzip") == 0    ? 16 + MAX_WBITS
                         : std::strcmp(coding, "deflate") == 0 ? -MAX_WBITS
                                                               : 0;
  if (windowBits == 0) {  // none, or a compression PAPPL refuses itself
    start.assign(raw.data(), std::min<std::size_t>(rawBytes, 16));
    return true;
  }
  Inflater inflater(windowBits);
  std::array<unsigned char, 16> out{};
  if (!inflater.open) return true;
  inflater.stream.next_in = reinterpret_cast<Bytef*>(raw.data());
  inflater.stream.avail_in = static_cast<uInt>(rawBytes);
  inflater.stream.next_out = out.data();
  inflater.stream.avail_out = static_cast<uInt>(out.size());
  if (inflate(&inflater.stream, Z_SYNC_FLUSH) < Z_OK) return true;
  start.assign(reinterpret_cast<const char*>(out.data()), out.size() - inflater.stream.avail_out);
  return true;
}

// Print-Job, Send-Document and Validate-Job: the declared format in lower
// case (PAPPL finds its filters by exact names), known to the drivers, and
// the document's bytes of that type; application/octet-stream is typed from
// the bytes. Returns false after refusing the request.
bool checkDocument(pappl_client_t* client, ipp_op_t op) {
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_SEND_DOCUMENT && op != IPP_OP_VALIDATE_JOB)
    return true;
  ipp_t* request = papplClientGetRequest(client);
  std::string declared(kOctetStream);
  if (ipp_attribute_t* attr = ippFindAttribute(request, "document-format", IPP_TAG_ZERO)) {
    const char* value = ippGetString(attr, 0, nullptr);
    if (ippGetCount(attr) != 1 || ippGetValueTag(attr) != IPP_TAG_MIMETYPE || value == nullptr) {
      papplClientRespondIPPUnsupported(client, attr);
      return false;
    }
    declared = value;
    std::transform(declared.begin(), declared.end(), declared.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (declared != value) ippSetString(request, &attr, 0, declared.c_str());
  }
  const bool octets = declared == kOctetStream;
  if (!octets && !isPrintableFormat(declared)) {
    refuseFormat(client, declared,
                 "Documents of type " + declared +
                     " cannot be printed; the printer takes PDF, JPEG, PNG, PWG raster and "
                     "Apple raster (image/urf).");
    return false;
  }
  if (op == IPP_OP_VALIDATE_JOB) return true;
  std::string start;
  if (!peekDocument(client, start)) return true;  // no document data: PAPPL answers that itself
  const std::string_view found = formatOfBytes(start);
  if (octets && found.empty()) {
    refuseFormat(client, declared,
                 "The document is not PDF, JPEG, PNG, PWG raster or Apple raster and cannot be "
                 "printed.");
    return false;
  }
  if (!octets && found != declared) {
    refuseFormat(client, declared,
                 "The document is not " + declared +
                     " as its document-format says; it was "
                     "not printed.");
    return false;
  }
  return true;
}

// ---- Printer settings and media collections ----------------------------------

// PAPPL's Set-Printer-Attributes (and Create-Printer) reports a settable
// attribute of the wrong syntax or with too many values as unsupported, and
// then applies it all the same: a printer-geo-location that is not a URI
// is read as a NULL string, more than PAPPL_MAX_SOURCE media-ready or
// media-col-ready values overrun its array of sources. These are the
// attributes it takes (its own list), with their syntax and most values.
struct Settable {
  std::string_view name;
  ipp_tag_t tag;
  int maxCount;
};
constexpr Settable kSettable[] = {
    {"label-mode-configured", IPP_TAG_KEYWORD, 1},
    {"label-tear-off-configured", IPP_TAG_INTEGER, 1},
    {"media-col-default", IPP_TAG_BEGIN_COLLECTION, 1},
    {"media-col-ready", IPP_TAG_BEGIN_COLLECTION, PAPPL_MAX_SOURCE},
    {"media-default", IPP_TAG_KEYWORD, 1},
    {"media-ready", IPP_TAG_KEYWORD, PAPPL_MAX_SOURCE},
    {"orientation-requested-default", IPP_TAG_ENUM, 1},
    {"print-color-mode-default", IPP_TAG_KEYWORD, 1},
    {"print-content-optimize-default", IPP_TAG_KEYWORD, 1},
    {"print-darkness-default", IPP_TAG_INTEGER, 1},
    {"print-quality-default", IPP_TAG_ENUM, 1},
    {"print-speed-default", IPP_TAG_INTEGER, 1},
    {"printer-contact-col", IPP_TAG_BEGIN_COLLECTION, 1},
    {"printer-darkness-configured", IPP_TAG_INTEGER, 1},
    {"printer-geo-location", IPP_TAG_URI, 1},
    {"printer-location", IPP_TAG_TEXT, 1},
    {"printer-organization", IPP_TAG_TEXT, 1},
    {"printer-organizational-unit", IPP_TAG_TEXT, 1},
    {"printer-resolution-default", IPP_TAG_RESOLUTION, 1},
    {"printer-wifi-password", IPP_TAG_STRING, 1},
    {"printer-wifi-ssid", IPP_TAG_NAME, 1},
};

// Whether PAPPL can import the media collection `col` (a job's media-col,
// media-col-default, a media-col-ready value). It copies media-source,
// media-type and media-tracking as strings unchecked, and takes the size of
// media-size-name or else of media-size/x-dimension and y-dimension from
// CUPS's table unchecked (no entry: a NULL size). libcups's lookup of
// "media-size/x-dimension" returns media-size itself when it is no
// collection, so a media-size of another syntax, or without a value, is
// read as a size of 0 by 0. PAPPL checks a job's media-size-name against
// media-supported, by the same lookup as the import, so `byName` is false
// for a job's media-col.
bool mediaColIsImportable(ipp_t* col, bool byName) {
  for (const char* member : {"media-source", "media-type", "media-tracking"})
    if (ipp_attribute_t* attr = ippFindAttribute(col, member, IPP_TAG_ZERO);
        attr != nullptr && ippGetString(attr, 0, nullptr) == nullptr)
      return false;
  if (ipp_attribute_t* name = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO))
    return !byName || pwgMediaForPWG(ippGetString(name, 0, nullptr)) != nullptr;
  ipp_attribute_t* x = ippFindAttribute(col, "media-size/x-dimension", IPP_TAG_INTEGER);
  ipp_attribute_t* y = ippFindAttribute(col, "media-size/y-dimension", IPP_TAG_INTEGER);
  return x == nullptr || y == nullptr ||
         pwgMediaForSize(ippGetInteger(x, 0), ippGetInteger(y, 0)) != nullptr;
}

// Set-Printer-Attributes and Create-Printer: the printer attributes PAPPL
// applies in the syntax it takes, media collections it can import; a job's
// media-col with members and a size it can import. Returns false after
// refusing the request.
bool checkSettings(pappl_client_t* client, ipp_op_t op) {
  ipp_t* request = papplClientGetRequest(client);
  if (op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB || op == IPP_OP_VALIDATE_JOB) {
    for (ipp_attribute_t* attr = ippFindAttribute(request, "media-col", IPP_TAG_BEGIN_COLLECTION);
         attr != nullptr;
         attr = ippFindNextAttribute(request, "media-col", IPP_TAG_BEGIN_COLLECTION))
      if (!mediaColIsImportable(ippGetCollection(attr, 0), false)) {
        papplClientRespondIPPUnsupported(client, attr);
        return false;
      }
    return true;
  }
  if (op != IPP_OP_SET_PRINTER_ATTRIBUTES && op != IPP_OP_CREATE_PRINTER) return true;
  for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr;
       attr = ippNextAttribute(request)) {
    const char* name = ippGetName(attr);
    if (name == nullptr || ippGetGroupTag(attr) != IPP_TAG_PRINTER) continue;
    const auto known = std::find_if(std::begin(kSettable), std::end(kSettable),
                                    [&](const Settable& s) { return s.name == name; });
    if (known == std::end(kSettable)) continue;
    const int count = ippGetCount(attr);
    bool takes = ippGetValueTag(attr) == known->tag && count <= known->maxCount;
    for (int i = 0; takes && known->tag == IPP_TAG_BEGIN_COLLECTION && i < count; ++i)
      takes = known->name == "printer-contact-col" ||
              mediaColIsImportable(ippGetCollection(attr, i), true);
    if (!takes) {
      papplClientRespondIPPUnsupported(client, attr);
      return false;
    }
  }
  return true;
}

// ---- The dispatchers ---------------------------------------------------------

// PAPPL's lists of job attributes leave out the PIN attributes, which are
// not vendor attributes of the drivers (PAPPL would show a default for them
// in its web forms and settings): job-creation-attributes-supported gets
// them here, and a default PIN kept from an older state file is dropped.
void completePrinterAttributes(ipp_t* response) {
  std::vector<ipp_attribute_t*> defaults;
  for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;
       attr = ippNextAttribute(response)) {
    const char* name = ippGetName(attr);
    if (name == nullptr) continue;
    if (std::strcmp(name, kPinDefaultAttr) == 0) defaults.push_back(attr);
    if (std::strcmp(name, "job-creation-attributes-supported") != 0) continue;
    for (const char* added : {kPinAttr, kJobPasswordAttr})
      if (!ippContainsString(attr, added)) ippSetString(response, &attr, ippGetCount(attr), added);
  }
  for (ipp_attribute_t* attr : defaults) ippDeleteAttribute(response, attr);
}

using Dispatcher = void (*)(pappl_client_t*);

void dispatch(pappl_client_t* client, Dispatcher next) {
  const ipp_op_t op = papplClientGetOperation(client);
  std::string pin;
  if (!checkPin(client, op, pin) || !checkSettings(client, op) || !checkDocument(client, op))
    return;
  std::string key;
  if (!pin.empty() && op != IPP_OP_VALIDATE_JOB) {
    key = pinVault().put(pin);
    std::fill(pin.begin(), pin.end(), '\0');
    if (key.empty()) {
      papplClientRespondIPP(client, IPP_STATUS_ERROR_INTERNAL,
                            "The secure-print PIN cannot be kept; the job was not accepted.");
      return;
    }
    ippAddString(papplClientGetRequest(client), IPP_TAG_JOB, IPP_TAG_KEYWORD, kPinRefAttr, nullptr,
                 key.c_str());
  }
  next(client);
  ipp_t* response = papplClientGetResponse(client);
  if (!key.empty()) {
    const int jobId = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
    pappl_printer_t* printer = papplClientGetPrinter(client);
    if (ippGetStatusCode(response) >= IPP_STATUS_ERROR_BAD_REQUEST || jobId <= 0 ||
        printer == nullptr)
      pinVault().erase(key);
    else
      pinVault().bind(key, papplPrinterGetID(printer), jobId);
  }
  completePrinterAttributes(response);
}

// Aborts a job of kDriverFormat (a document of no known type) before PAPPL
// would copy its bytes to the device.
bool refuseUnknownDocument(pappl_job_t* job, pappl_device_t*, void*) {
  papplJobSetMessage(job, "The document is of no type the printer takes; it was not printed.");
  return false;
}

bool sweepVault(pappl_system_t* system, void*) {
  pinVault().sweep(system);
  return true;
}

}  // namespace

bool isPrintableFormat(std::string_view format) {
  return std::any_of(std::begin(kFormats), std::end(kFormats),
                     [&](const Format& known) { return known.type == format; });
}

std::string_view formatOfBytes(std::string_view bytes) {
  for (const Format& known : kFormats)
    if (bytes.substr(0, known.magic.size()) == known.magic) return known.type;
  return {};
}

void installIppGate(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, kDriverFormat, kDriverFormat, refuseUnknownDocument, nullptr);
  constexpr int kSweepSeconds = 60;
  papplSystemAddTimerCallback(system, 0, kSweepSeconds, sweepVault, nullptr);
}

bool takeSecurePin(pappl_job_t* job, std::string& pin) {
  pin.clear();
  std::array<char, 64> key{};
  ipp_attribute_t* attr = papplJobGetAttribute(job, kPinRefAttr);
  if (attr == nullptr) return true;
  ippAttributeString(attr, key.data(), key.size());
  return pinVault().take(key.data(), pin);
}

}  // namespace qvprinter

// ---- PAPPL's functions, wrapped (linked with --export-dynamic-symbol) ------

extern "C" {

bool _papplClientProcessIPP(pappl_client_t* client) {
  static const auto original = qvprinter::originalFunction<bool (*)(pappl_client_t*)>(__func__);
  qvprinter::stripPinAttributes(papplClientGetRequest(client));
  const bool ok = original(client);
  qvprinter::tStripped.forget();
  return ok;
}

void _papplPrinterProcessIPP(pappl_client_t* client) {
  static const auto original = qvprinter::originalFunction<qvprinter::Dispatcher>(__func__);
  qvprinter::dispatch(client, original);
}

void _papplJobProcessIPP(pappl_client_t* client) {
  static const auto original = qvprinter::originalFunction<qvprinter::Dispatcher>(__func__);
  qvprinter::dispatch(client, original);
}

void _papplSystemProcessIPP(pappl_client_t* client) {
  static const auto original = qvprinter::originalFunction<qvprinter::Dispatcher>(__func__);
  qvprinter::dispatch(client, original);
}

// A job whose format no filter of qvprinter's takes (spooled by an older
// qvprinter, say) gets a state message; PAPPL then aborts it.
void* _papplJobProcess(pappl_job_t* started) {
  static const auto original = qvprinter::originalFunction<void* (*)(pappl_job_t*)>(__func__);
  pappl_job_t* job = qvprinter::firstInLine(started);
  const char* format = papplJobGetFormat(job);
  if (format == nullptr || !qvprinter::isPrintableFormat(format))
    papplJobSetMessage(job, "Documents of type %s cannot be printed; the job was not printed.",
                       format != nullptr ? format : "(none)");
  const qvprinter::StartingJob starting(job);
  return original(job);
}

}  // extern "C"
