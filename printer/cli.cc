// cli.cc - qvprinter's own `options`, `status` and `testpage`, and `submit -n`.
#include "printer/cli.h"

#include <cups/cups.h>
#include <pappl/pappl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

#include "printer/job_plan.h"
#include "printer/test_page.h"

extern char** environ;

namespace qvprinter {
namespace {

// The main loop's options that take a value (mainloop.c).
bool takesValue(std::string_view word) {
  return word.size() == 2 && word[0] == '-' &&
         std::string_view("dhjmnotuv").find(word[1]) != std::string_view::npos;
}

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using UniqueHttp = std::unique_ptr<http_t, HttpCloser>;
using UniqueIpp = std::unique_ptr<ipp_t, IppDeleter>;

// The server's local domain socket, where PAPPL's main loop puts it
// (_papplMainloopGetServerPath): per user in the temporary directory, for
// root in $SNAP_COMMON or /run (Debian's libpappl).
std::string socketPath(const char* program, uid_t uid) {
  if (uid != 0)
    return std::string(papplGetTempDir()) + "/" + program + std::to_string(uid) + ".sock";
  if (const char* common = std::getenv("SNAP_COMMON"); common != nullptr)
    return std::string(common) + "/" + program + ".sock";
  return std::string("/run/") + program + ".sock";
}

UniqueHttp connectTo(const std::string& path) {
  return UniqueHttp(httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED,
                                 1, 30000, nullptr));
}

UniqueHttp connectServer(const char* program) {
  UniqueHttp http = connectTo(socketPath(program, getuid()));
  if (!http && getuid() != 0) http = connectTo(socketPath(program, 0));
  return http;
}

// As PAPPL's sub-commands that need printers: a server of the user's own,
// "private-server=true", when none runs. Waits up to 10 seconds for it.
UniqueHttp connectOrStartServer(const char* program) {
  if (UniqueHttp http = connectServer(program)) return http;
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return nullptr;
  self[length] = '\0';
  char server[] = "server", o[] = "-o", privateServer[] = "private-server=true";
  char* args[] = {self, server, o, privateServer, nullptr};
  posix_spawnattr_t attrs;
  posix_spawnattr_init(&attrs);
  posix_spawnattr_setpgroup(&attrs, 0);
  posix_spawnattr_setflags(&attrs, POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, self, nullptr, &attrs, args, environ);
  posix_spawnattr_destroy(&attrs);
  if (rc != 0) {
    std::fprintf(stderr, "%s: Unable to start server: %s\n", program, std::strerror(rc));
    return nullptr;
  }
  for (int tries = 0; tries < 40; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (UniqueHttp http = connectServer(program)) return http;
  }
  std::fprintf(stderr, "%s: Unable to connect to server: %s\n", program, cupsLastErrorString());
  return nullptr;
}

UniqueIpp systemRequest(ipp_op_t op) {
  UniqueIpp request(ippNewRequest(op));
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr,
               "ipp://localhost/ipp/system");
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

// The printer's resource as PAPPL names it (_papplMainloopAddPrinterURI):
// unsafe characters as "_", runs of them as one, none at the end.
std::string printerResource(std::string_view name) {
  std::string path = "/ipp/print/";
  for (const char c : name) {
    const bool unsafe = static_cast<unsigned char>(c) <= ' ' || c == 0x7f ||
                        std::string_view("/\\'\"?#").find(c) != std::string_view::npos;
    const char out = unsafe ? '_' : c;
    if (out == '_' && !path.empty() && path.back() == '_' && path.size() > 11) continue;
    path += out;
  }
  if (path.size() > 11 && path.back() == '_') path.pop_back();
  return path;
}

// A value as submit takes it (PAPPL's get_value, for the tags our printers use).
std::string valueText(ipp_attribute_t* attr, const char* name, int index) {
  char buffer[256] = "";
  switch (ippGetValueTag(attr)) {
    case IPP_TAG_ENUM:
      return ippEnumString(name, ippGetInteger(attr, index));
    case IPP_TAG_INTEGER:
      return std::to_string(ippGetInteger(attr, index));
    case IPP_TAG_BOOLEAN:
      return ippGetBoolean(attr, index) ? "true" : "false";
    case IPP_TAG_RANGE: {
      int upper = 0;
      const int lower = ippGetRange(attr, index, &upper);
      return std::to_string(lower) + " to " + std::to_string(upper);
    }
    case IPP_TAG_RESOLUTION: {
      int yres = 0;
      ipp_res_t units;
      const int xres = ippGetResolution(attr, index, &yres, &units);
      const char* unit = units == IPP_RES_PER_INCH ? "dpi" : "dpcm";
      if (xres == yres)
        std::snprintf(buffer, sizeof buffer, "%d%s", xres, unit);
      else
        std::snprintf(buffer, sizeof buffer, "%dx%d%s", xres, yres, unit);
      return buffer;
    }
    default: {
      const char* text = ippGetString(attr, index, nullptr);
      return text != nullptr ? text : "";
    }
  }
}

// "-o NAME=VALUE" for the default, then for every other supported value.
void printOption(ipp_t* printer, const char* name) {
  const std::string supportedName = std::string(name) + "-supported";
  ipp_attribute_t* supported = ippFindAttribute(printer, supportedName.c_str(), IPP_TAG_ZERO);
  if (supported == nullptr) return;
  const std::string defaultName = std::strncmp(name, "media-", 6) == 0
                                      ? std::string("media-col-default/") + name
                                      : std::string(name) + "-default";
  ipp_attribute_t* fallback = ippFindAttribute(printer, defaultName.c_str(), IPP_TAG_ZERO);
  const std::string chosen = fallback != nullptr ? valueText(fallback, name, 0) : "";
  if (!chosen.empty()) std::printf("  -o %s=%s (default)\n", name, chosen.c_str());
  if (ippGetValueTag(supported) == IPP_TAG_BOOLEAN) {
    for (const char* value : {"false", "true"})
      if (chosen != value) std::printf("  -o %s=%s\n", name, value);
    return;
  }
  for (int i = 0, count = ippGetCount(supported); i < count; ++i)
    if (const std::string value = valueText(supported, name, i); value != chosen)
      std::printf("  -o %s=%s\n", name, value.c_str());
}

UniqueIpp printerAttributes(http_t* http, const std::string& name) {
  UniqueIpp request(ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES));
  const std::string resource = printerResource(name);
  char uri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                  resource.c_str());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return UniqueIpp(cupsDoRequest(http, request.release(), resource.c_str()));
}

// The printer "-d" names, else the server's default; false when there is none.
bool chosenPrinter(const MainloopArgs& args, http_t* http, const char* program, std::string& name) {
  if (const std::string* given = args.option("-d")) {
    name = *given;
    return true;
  }
  UniqueIpp request = systemRequest(IPP_OP_CUPS_GET_DEFAULT);
  UniqueIpp response(cupsDoRequest(http, request.release(), "/ipp/system"));
  const char* found =
      ippGetString(ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME), 0, nullptr);
  if (found == nullptr) {
    std::fprintf(stderr, "%s: No default printer available.\n", program);
    return false;
  }
  name = found;
  return true;
}

int showOptions(const MainloopArgs& args, const char* program) {
  UniqueHttp http = connectOrStartServer(program);
  std::string name;
  if (!http || !chosenPrinter(args, http.get(), program, name)) return 1;
  UniqueIpp printer = printerAttributes(http.get(), name);
  if (cupsLastError() != IPP_STATUS_OK) {
    std::fprintf(stderr, "%s: Unable to get printer options: %s\n", program, cupsLastErrorString());
    return 1;
  }
  std::printf("Print job options:\n");
  std::printf("  -n COPIES (1 to 999)\n");
  for (const char* option :
       {"media", "media-source", "media-type", "sides", "output-bin", "multiple-document-handling",
        "orientation-requested", "print-color-mode", "print-content-optimize", "print-quality",
        "printer-resolution", "qv-toner-save"})
    printOption(printer.get(), option);
  if (ippFindAttribute(printer.get(), "page-ranges-supported", IPP_TAG_BOOLEAN))
    std::printf("  -o page-ranges=FIRST-LAST\n");
  // The secure-print PIN: the job waits at the printer until it is typed.
  std::printf("  -o job-password=NNNN\n");
  std::printf("  -o qv-secure-pin=NNNN\n\n");
  std::printf("Printer options:\n");
  std::printf("  -o printer-geo-location='geo:LATITUDE,LONGITUDE'\n");
  std::printf("  -o printer-location='LOCATION'\n");
  std::printf("  -o printer-organization='ORGANIZATION'\n");
  std::printf("  -o printer-organizational-unit='UNIT/SECTION'\n");
  return 0;
}

// `testpage`: the built-in test page for the printer's model, default paper
// and resolution (as the web page's Print Test Page button makes it), sent
// as a PDF job.
int printTestPage(const MainloopArgs& args, const char* program) {
  UniqueHttp http = connectOrStartServer(program);
  std::string name;
  if (!http || !chosenPrinter(args, http.get(), program, name)) return 1;
  UniqueIpp printer = printerAttributes(http.get(), name);
  const char* makeAndModel = ippGetString(
      ippFindAttribute(printer.get(), "printer-make-and-model", IPP_TAG_TEXT), 0, nullptr);
  TestPageInfo info;
  for (const ModelInfo& model : kModels)
    if (makeAndModel != nullptr && info.driverName.empty() &&
        std::string_view(makeAndModel) == model.makeAndModel) {
      info.makeAndModel = model.makeAndModel;
      info.driverName = model.driverName;
    }
  if (cupsLastError() != IPP_STATUS_OK || info.driverName.empty()) {
    std::fprintf(stderr, "%s: \"%s\" is not a QV printer of this server: %s\n", program,
                 name.c_str(), cupsLastErrorString());
    return 1;
  }
  info.printerName = name;
  ipp_t* media = ippGetCollection(
      ippFindAttribute(printer.get(), "media-col-default", IPP_TAG_BEGIN_COLLECTION), 0);
  ipp_t* size =
      ippGetCollection(ippFindAttribute(media, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
  const int width = ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER), 0);
  const int length = ippGetInteger(ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER), 0);
  if (width > 0 && length > 0) {
    info.widthHmm = width;
    info.lengthHmm = length;
    const char* sizeName =
        ippGetString(ippFindAttribute(media, "media-size-name", IPP_TAG_ZERO), 0, nullptr);
    info.mediaName = sizeName != nullptr ? sizeName : "";
  }
  int ydpi = 0;
  ipp_res_t units = IPP_RES_PER_INCH;
  const int xdpi = ippGetResolution(
      ippFindAttribute(printer.get(), "printer-resolution-default", IPP_TAG_RESOLUTION), 0, &ydpi,
      &units);
  if (xdpi > 0 && units == IPP_RES_PER_INCH) info.dpi = xdpi;
  const std::string pdf = testPagePdf(info);

  const std::string resource = printerResource(name);
  char uri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                  resource.c_str());
  UniqueIpp request(ippNewRequest(IPP_OP_PRINT_JOB));
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "Test page");
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               "application/pdf");
  http_status_t status = cupsSendRequest(http.get(), request.get(), resource.c_str(), pdf.size());
  if (status == HTTP_STATUS_CONTINUE)
    status = cupsWriteRequestData(http.get(), pdf.data(), pdf.size());
  UniqueIpp response(cupsGetResponse(http.get(), resource.c_str()));
  const int id = ippGetInteger(ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER), 0);
  if (status != HTTP_STATUS_CONTINUE || cupsLastError() > IPP_STATUS_OK_CONFLICTING || id <= 0) {
    std::fprintf(stderr, "%s: The test page was not accepted: %s\n", program,
                 cupsLastErrorString());
    return 1;
  }
  std::printf("%d\n", id);  // as submit prints its job's id
  return 0;
}

// One printer of the Get-Printers answer.
struct PrinterEntry {
  std::string name, uri, reasons;
  int state = IPP_PSTATE_IDLE;
};

std::vector<PrinterEntry> listPrinters(http_t* http) {
  static const char* const wanted[] = {"printer-name", "printer-state", "printer-state-reasons",
                                       "printer-uri-supported"};
  UniqueIpp request = systemRequest(IPP_OP_GET_PRINTERS);
  ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(wanted)), nullptr, wanted);
  UniqueIpp response(cupsDoRequest(http, request.release(), "/ipp/system"));
  std::vector<PrinterEntry> printers;
  PrinterEntry entry;
  // The printers come one attribute group each, separated by a nameless attribute.
  for (ipp_attribute_t* attr = ippFirstAttribute(response.get());;
       attr = ippNextAttribute(response.get())) {
    const char* name = attr != nullptr ? ippGetName(attr) : nullptr;
    if (name == nullptr) {
      if (!entry.name.empty()) printers.push_back(entry);
      entry = PrinterEntry{};
      if (attr == nullptr) break;
      continue;
    }
    if (ippGetGroupTag(attr) != IPP_TAG_PRINTER) continue;
    const std::string_view key(name);
    if (key == "printer-name") {
      entry.name = ippGetString(attr, 0, nullptr);
    } else if (key == "printer-state") {
      entry.state = ippGetInteger(attr, 0);
    } else if (key == "printer-uri-supported") {
      entry.uri = ippGetString(attr, 0, nullptr);
    } else if (key == "printer-state-reasons") {
      for (int i = 0, count = ippGetCount(attr); i < count; ++i)
        if (const std::string_view reason = ippGetString(attr, i, nullptr); reason != "none")
          entry.reasons += std::string(entry.reasons.empty() ? "" : ", ") + std::string(reason);
    }
  }
  return printers;
}

const char* stateText(int state) {
  return state == IPP_PSTATE_PROCESSING ? "processing"
         : state == IPP_PSTATE_STOPPED  ? "stopped"
                                        : "idle";
}

// The printer's jobs that have not ended, one line each.
void printJobs(http_t* http, const PrinterEntry& printer) {
  static const char* const wanted[] = {"job-id", "job-name", "job-originating-user-name",
                                       "job-state", "job-state-reasons"};
  char scheme[32], userpass[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, printer.uri.c_str(), scheme, sizeof scheme, userpass,
                      sizeof userpass, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK)
    std::snprintf(resource, sizeof resource, "%s", printerResource(printer.name).c_str());
  UniqueIpp request(ippNewRequest(IPP_OP_GET_JOBS));
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               printer.uri.c_str());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
               "not-completed");
  ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(wanted)), nullptr, wanted);
  UniqueIpp response(cupsDoRequest(http, request.release(), resource));
  int id = 0, state = 0;
  std::string name, user, reasons;
  for (ipp_attribute_t* attr = ippFirstAttribute(response.get());;
       attr = ippNextAttribute(response.get())) {
    const char* key = attr != nullptr ? ippGetName(attr) : nullptr;
    if (key == nullptr) {
      if (id > 0)
        std::printf("  job %d: %s, \"%s\" by %s%s%s\n", id, ippEnumString("job-state", state),
                    name.c_str(), user.c_str(), reasons.empty() ? "" : " - ", reasons.c_str());
      id = state = 0;
      name.clear(), user.clear(), reasons.clear();
      if (attr == nullptr) break;
      continue;
    }
    if (ippGetGroupTag(attr) != IPP_TAG_JOB) continue;
    const std::string_view which(key);
    const char* text = ippGetString(attr, 0, nullptr);
    if (which == "job-id")
      id = ippGetInteger(attr, 0);
    else if (which == "job-state")
      state = ippGetInteger(attr, 0);
    else if (which == "job-name" && text != nullptr)
      name = text;
    else if (which == "job-originating-user-name" && text != nullptr)
      user = text;
    else if (which == "job-state-reasons")
      for (int i = 0, count = ippGetCount(attr); i < count; ++i)
        if (const std::string_view reason = ippGetString(attr, i, nullptr); reason != "none")
          reasons += std::string(reasons.empty() ? "" : ", ") + std::string(reason);
  }
}

int showStatus(const MainloopArgs& args, const char* program) {
  UniqueHttp http = connectServer(program);
  if (!http) {
    std::printf("Server is not running.\n");
    return 0;
  }
  const std::string* only = args.option("-d");
  const std::vector<PrinterEntry> printers = listPrinters(http.get());
  if (cupsLastError() != IPP_STATUS_OK) {
    std::fprintf(stderr, "%s: Unable to get the printers: %s\n", program, cupsLastErrorString());
    return 1;
  }
  std::printf("Running, %zu printer%s.\n", printers.size(), printers.size() == 1 ? "" : "s");
  bool found = only == nullptr;
  for (const PrinterEntry& printer : printers) {
    if (only != nullptr && *only != printer.name) continue;
    found = true;
    std::printf("%s: %s%s%s\n", printer.name.c_str(), stateText(printer.state),
                printer.reasons.empty() ? "" : ", ", printer.reasons.c_str());
    printJobs(http.get(), printer);
  }
  if (!found) {
    std::fprintf(stderr, "%s: No printer named \"%s\".\n", program, only->c_str());
    return 1;
  }
  return 0;
}

}  // namespace

MainloopArgs::MainloopArgs(int argc, char* argv[]) {
  bool filesOnly = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view word(argv[i]);
    if (i == 0 || filesOnly) {
      words_.emplace_back(word);
    } else if (word == "--") {
      words_.emplace_back(word);
      filesOnly = true;
    } else if (word == "-n" && i + 1 < argc) {
      words_.emplace_back("-o");
      words_.emplace_back(std::string("copies=") + argv[++i]);
    } else if (takesValue(word) && i + 1 < argc) {
      words_.emplace_back(word);
      words_.emplace_back(argv[++i]);
    } else {
      if (subcommand_.empty() && !word.starts_with("-")) subcommand_ = word;
      words_.emplace_back(word);
    }
  }
  for (std::string& word : words_) pointers_.push_back(word.data());
  pointers_.push_back(nullptr);
}

const std::string* MainloopArgs::option(const char* flag) const {
  for (std::size_t i = 1; i + 1 < words_.size(); ++i)
    if (words_[i] == flag) return &words_[i + 1];
  return nullptr;
}

bool runOwnSubcommand(const MainloopArgs& args, const char* program, int& status) {
  // A remote printer (-u) is left to PAPPL's own sub-commands.
  if (args.option("-u") != nullptr) return false;
  if (args.subcommand() == "options") {
    status = showOptions(args, program);
    return true;
  }
  if (args.subcommand() == "status") {
    status = showStatus(args, program);
    return true;
  }
  if (args.subcommand() == "testpage") {
    status = printTestPage(args, program);
    return true;
  }
  return false;
}

}  // namespace qvprinter
