// gs_render.cc - Ghostscript's display device in rectangle mode, rendering
// band by band into the page slots that qvrender shares with its caller.
#include "host/gs_render.h"

#include <stddef.h>  // gdevdsp.h uses size_t unqualified
//
#include <ghostscript/gdevdsp.h>
#include <ghostscript/iapi.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qv::host {
namespace {

// One rendering: the slots, where the page in progress stands, the band
// Ghostscript renders into.
//
// Ghostscript renders a sheet band by band, asking for a rectangle and a
// block of memory each time. It is given full-width bands of its own band
// height, and only the bands that cover the imaging area: the band's lines,
// cut to the imaging area, are copied into the slot while still in the
// cache. (Handing Ghostscript the slot itself with the margins cut off does
// not work: it writes whole lines of the band.)
struct Rendering {
  RenderArea area;
  std::span<std::uint8_t> slots;
  int control = -1;
  std::vector<std::uint8_t> band;
  std::size_t bandRaster = 0;
  int bandHeight = 0;
  long pages = 0;                // pages published
  int freeSlots = 2;             // slots the caller does not hold
  std::uint8_t* page = nullptr;  // the slot of the page in progress
  long nextLine = 0;             // the next sheet line to ask for
  long bandStart = -1;           // the sheet line of the band's first line
  int bandLines = 0;
  bool stopped = false;  // the caller has gone
};

// Waits for the caller to give a slot back. False when it has gone.
bool takeSlot(Rendering& r) {
  while (r.freeSlots == 0) {
    std::uint8_t given = 0;
    const ssize_t n = ::read(r.control, &given, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return false;
    ++r.freeSlots;
  }
  --r.freeSlots;
  return true;
}

bool publishPage(Rendering& r) {
  const auto slot = static_cast<std::uint8_t>(r.pages % 2);
  for (;;) {
    const ssize_t n = ::write(r.control, &slot, 1);
    if (n == 1) break;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
  ++r.pages;
  return true;
}

// The band's lines that lie in the imaging area, into the page's slot.
void keepBand(Rendering& r) {
  if (r.bandStart < 0) return;
  const RenderArea& a = r.area;
  for (int i = 0; i < r.bandLines; ++i) {
    const long y = r.bandStart + i - a.top;
    if (y < 0 || y >= a.height) continue;
    std::memcpy(r.page + static_cast<std::size_t>(y) * a.lineBytes(),
                r.band.data() + static_cast<std::size_t>(i) * r.bandRaster +
                    static_cast<std::size_t>(a.left) * 3,
                a.lineBytes());
  }
  r.bandStart = -1;
}

int onOpen(void*, void*) { return 0; }
int onPreclose(void*, void*) { return 0; }
int onClose(void*, void*) { return 0; }
int onPresize(void*, void*, int, int, int, unsigned int) { return 0; }
int onSize(void*, void*, int, int, int, unsigned int, unsigned char*) { return 0; }
int onSync(void*, void*) { return 0; }
int onPage(void*, void*, int, int) { return 0; }
// No page-sized bitmap: Ghostscript then asks for rectangles.
void* onMemalloc(void*, void*, size_t) { return nullptr; }
int onMemfree(void*, void*, void*) { return 0; }

int onBandHeight(void* handle, void*, int bandHeight) {
  static_cast<Rendering*>(handle)->bandHeight = bandHeight;
  return 0;
}

// Each call ends the rectangle before it. The first call of a page takes a
// slot; the call after the imaging area's last band publishes the page and
// answers with an empty rectangle, which ends the page.
int onRectangle(void* handle, void*, void** memory, int* ox, int* oy, int* raster, int* planeRaster,
                int* x, int* y, int* w, int* h) {
  auto& r = *static_cast<Rendering*>(handle);
  const RenderArea& a = r.area;
  keepBand(r);
  if (r.page == nullptr) {
    if (!takeSlot(r)) {
      r.stopped = true;
      return -1;
    }
    r.page = r.slots.data() + static_cast<std::size_t>(r.pages % 2) * a.pageBytes();
    r.nextLine = a.top;
  }
  if (r.nextLine >= a.top + a.height) {
    r.page = nullptr;
    *w = *h = 0;
    if (!publishPage(r)) {
      r.stopped = true;
      return -1;
    }
    return 0;
  }
  const int lines = static_cast<int>(
      std::min<long>(r.bandHeight > 0 ? r.bandHeight : 64, a.top + a.height - r.nextLine));
  // Ghostscript writes the band with its own line pitch, the width padded to
  // the 8 bytes the format asks for, whatever pitch is answered here.
  r.bandRaster = *raster > 0 ? static_cast<std::size_t>(*raster)
                             : (static_cast<std::size_t>(a.sheetWidth) * 3 + 7) / 8 * 8;
  const std::size_t need = r.bandRaster * static_cast<std::size_t>(lines);
  if (r.band.size() < need) r.band.resize(need);
  *memory = r.band.data();
  *ox = 0;
  *oy = static_cast<int>(r.nextLine);
  *raster = static_cast<int>(r.bandRaster);
  *planeRaster = 0;
  *x = 0;
  *y = static_cast<int>(r.nextLine);
  *w = static_cast<int>(a.sheetWidth);
  *h = lines;
  r.bandStart = r.nextLine;
  r.bandLines = lines;
  r.nextLine += lines;
  return 0;
}

display_callback makeCallback() {
  display_callback callback{};
  callback.size = sizeof callback;
  callback.version_major = DISPLAY_VERSION_MAJOR;
  callback.version_minor = DISPLAY_VERSION_MINOR;
  callback.display_open = onOpen;
  callback.display_preclose = onPreclose;
  callback.display_close = onClose;
  callback.display_presize = onPresize;
  callback.display_size = onSize;
  callback.display_sync = onSync;
  callback.display_page = onPage;
  callback.display_memalloc = onMemalloc;
  callback.display_memfree = onMemfree;
  callback.display_adjust_band_height = onBandHeight;
  callback.display_rectangle_request = onRectangle;
  return callback;
}

struct Callout {
  display_callback* callback;
  Rendering* rendering;
};

int onCallout(void*, void* handle, const char* device, int id, int, void* data) {
  if (device == nullptr || std::strcmp(device, "display") != 0 ||
      id != DISPLAY_CALLOUT_GET_CALLBACK)
    return -1;
  auto* callout = static_cast<Callout*>(handle);
  auto* get = static_cast<gs_display_get_callback_t*>(data);
  get->callback = callout->callback;
  get->caller_handle = callout->rendering;
  return 0;
}

// Ghostscript's own output, its messages and PostScript's stdout alike, goes
// to standard error; it has no input.
int noInput(void*, char*, int) { return 0; }
int toStderr(void*, const char* text, int length) {
  return static_cast<int>(std::fwrite(text, 1, static_cast<std::size_t>(length), stderr));
}

struct Instance {
  void* gs = nullptr;
  ~Instance() {
    if (gs != nullptr) gsapi_delete_instance(gs);
  }
};

}  // namespace

int renderDocument(const char* document, const RenderArea& area, std::span<std::uint8_t> slots,
                   int control) {
  Rendering rendering;
  rendering.area = area;
  rendering.slots = slots;
  rendering.control = control;
  display_callback callback = makeCallback();
  Callout callout{&callback, &rendering};
  Instance instance;
  if (gsapi_new_instance(&instance.gs, nullptr) < 0) return kRenderFailed;
  gsapi_set_stdio_with_handle(instance.gs, noInput, toStderr, toStderr, nullptr);
  if (gsapi_register_callout(instance.gs, onCallout, &callout) < 0) return kRenderFailed;
  // The colour filter's lines: 8-bit RGB, red first, top line first; lines
  // of the band padded to 8 bytes.
  const unsigned format =
      static_cast<unsigned>(DISPLAY_COLORS_RGB) | static_cast<unsigned>(DISPLAY_DEPTH_8) |
      static_cast<unsigned>(DISPLAY_BIGENDIAN) | static_cast<unsigned>(DISPLAY_TOPFIRST) |
      static_cast<unsigned>(DISPLAY_ROW_ALIGN_8);
  std::vector<std::string> args = {
      "qvrender",
      "-q",
      "-dSAFER",
      "-dBATCH",
      "-dNOPAUSE",
      "-sDEVICE=display",
      "-dDisplayFormat=" + std::to_string(format),
      "-r" + std::to_string(area.dpi) + "x" + std::to_string(area.dpi),
      "-g" + std::to_string(area.sheetWidth) + "x" + std::to_string(area.sheetHeight),
      "-dFIXEDMEDIA",
      "-f",
      document};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  gsapi_set_arg_encoding(instance.gs, GS_ARG_ENCODING_UTF8);
  const int code = gsapi_init_with_args(instance.gs, static_cast<int>(argv.size()), argv.data());
  const int exitCode = gsapi_exit(instance.gs);
  if (rendering.stopped) return kRenderFailed;
  return code == 0 && exitCode == 0 && rendering.page == nullptr ? 0 : kRenderFailed;
}

int runQvrender(int argc, char** argv) {
  long values[7] = {};
  if (argc != 9) {
    std::fprintf(
        stderr,
        "Usage: qvrender DOCUMENT DPI SHEET-WIDTH SHEET-HEIGHT LEFT TOP WIDTH HEIGHT\n"
        "(started by qvprinter and qvcupsfilter, with page slots and a socket as 3 and 4)\n");
    return kRenderUsage;
  }
  for (int i = 0; i < 7; ++i) {
    char* end = nullptr;
    errno = 0;
    values[i] = std::strtol(argv[i + 2], &end, 10);
    if (errno != 0 || end == argv[i + 2] || *end != '\0' || values[i] < 0 || values[i] > 100000) {
      std::fprintf(stderr, "qvrender: bad number \"%s\"\n", argv[i + 2]);
      return kRenderUsage;
    }
  }
  const RenderArea area{static_cast<int>(values[0]),
                        values[1],
                        values[2],
                        values[3],
                        values[4],
                        values[5],
                        values[6]};
  struct stat slotsFile {};
  if (!area.valid() || ::fstat(kRenderSlotsFd, &slotsFile) != 0 ||
      slotsFile.st_size < static_cast<off_t>(2 * area.pageBytes())) {
    std::fprintf(stderr, "qvrender: no page slots for that area\n");
    return kRenderUsage;
  }
  const std::size_t size = 2 * area.pageBytes();
  void* slots = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, kRenderSlotsFd, 0);
  if (slots == MAP_FAILED) {
    std::fprintf(stderr, "qvrender: cannot map the page slots: %s\n", std::strerror(errno));
    return kRenderUsage;
  }
  const int status =
      renderDocument(argv[1], area, {static_cast<std::uint8_t*>(slots), size}, kRenderControlFd);
  ::munmap(slots, size);
  return status;
}

}  // namespace qv::host
