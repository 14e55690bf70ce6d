// image_filter.cc - JPEG and PNG jobs, in place of PAPPL 1.3's filters.
//
// PAPPL registers its JPEG and PNG filters when the system is created and
// refuses a second filter for the same formats, so qvprinter replaces the
// two functions themselves (_papplJobFilterJPEG and _papplJobFilterPNG are
// exported, and libpappl takes their addresses through the GOT, so the
// definitions at the end of this file, exported from the executable, are
// the ones it registers). PAPPL's own filters are not safe to leave running:
// after any libpng error its PNG filter calls png_read_end in its clean-up,
// which fails again and jumps back to the same clean-up, forever, logging
// each turn (a 74-byte PNG that declares 60000 x 60000 pixels fills the log
// with gigabytes and holds the device until the server is killed); its
// JPEG filter prints a truncated image as a whole page filled with gray;
// neither looks at a cancel while decoding, and neither says why a job was
// aborted in its state message.
#include "printer/image_filter.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include "common/unique_file.h"

namespace qvprinter {
namespace {

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
using Options = std::unique_ptr<pappl_pr_options_t, OptionsDeleter>;

struct FreeDeleter {
  void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};

// A decoded image as papplJobFilterImage takes it: gray or RGB rows, top first.
struct Image {
  std::unique_ptr<std::uint8_t, FreeDeleter> pixels;
  int width = 0, height = 0;
  int depth = 1;  // bytes per pixel: 1 gray, 3 RGB
  int ppi = 0;    // 0 for unknown
};

enum class Decoded { kImage, kCancelled, kFailed };

// Ends the job with `message` as its state message and `reason` among its
// reasons; the job is then aborted.
bool refuseJob(pappl_job_t* job, pappl_jreason_t reason, const std::string& message) {
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
  papplJobSetMessage(job, "%s", message.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  return false;
}

// The job's print options for an image with or without colour, and the
// depth its pixels must have for them (the colour model prints in gray
// when the job asks for monochrome).
bool makeOptions(pappl_job_t* job, bool colour, Options& options, int& depth) {
  options.reset(papplJobCreatePrintOptions(job, 1, colour));
  if (!options) return false;
  depth = options->header.cupsNumColors >= 3 ? 3 : 1;
  return true;
}

std::size_t rowBytes(const Image& image) {
  return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.depth);
}

// The pixel buffer of a checked size; false when memory is short.
bool allocate(Image& image) {
  image.pixels.reset(static_cast<std::uint8_t*>(
      std::malloc(rowBytes(image) * static_cast<std::size_t>(image.height))));
  return image.pixels != nullptr;
}

// --- JPEG -----------------------------------------------------------------

// libjpeg leaves a failing call through error_exit, which must not return:
// it jumps back to the setjmp of the phase that made the call. The phases
// (header, pixels) are functions whose frames hold nothing with a destructor,
// so the jump skips nothing that needs one.
struct JpegError {
  jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  info->err->format_message(info, error->message);
  std::longjmp(error->jump, 1);
}

// libjpeg reports a damaged or truncated stream as a warning and fills the
// rest of the image with gray; here a warning that pixels were lost ends the
// job: a page that is not the document must not be reported printed. The
// other warnings (stray bytes before a marker, an unknown JFIF revision or
// Adobe transform, a bad ICC profile) are common in photos that decode whole.
void jpegMessage(j_common_ptr info, int level) {
  if (level >= 0) return;  // trace messages
  switch (info->err->msg_code) {
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
      jpegFail(info);
    default:
      info->err->num_warnings++;
  }
}

// libjpeg's decompressor, destroyed on every way out.
struct JpegDecoder {
  jpeg_decompress_struct info{};
  JpegError error{};
  bool created = false;
  ~JpegDecoder() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

// A progressive image's coefficients are held whole: cap libjpeg's memory
// so that a declared size within the budget cannot take more than this.
constexpr long kJpegMemoryLimit = 512L * 1024 * 1024;

bool readJpegHeader(JpegDecoder& decoder, std::FILE* file) {
  decoder.info.err = jpeg_std_error(&decoder.error.manager);
  decoder.error.manager.error_exit = jpegFail;
  decoder.error.manager.emit_message = jpegMessage;
  if (setjmp(decoder.error.jump)) return false;
  jpeg_create_decompress(&decoder.info);
  decoder.created = true;
  decoder.info.mem->max_memory_to_use = kJpegMemoryLimit;
  jpeg_stdio_src(&decoder.info, file);
  jpeg_read_header(&decoder.info, TRUE);
  return true;
}

Decoded readJpegPixels(pappl_job_t* job, JpegDecoder& decoder, Image& image) {
  if (setjmp(decoder.error.jump)) return Decoded::kFailed;
  jpeg_decompress_struct& info = decoder.info;
  info.out_color_space = image.depth == 3 ? JCS_RGB : JCS_GRAYSCALE;
  info.quantize_colors = FALSE;
  jpeg_start_decompress(&info);
  if (info.output_width != static_cast<JDIMENSION>(image.width) ||
      info.output_height != static_cast<JDIMENSION>(image.height) ||
      info.output_components != image.depth) {
    std::snprintf(decoder.error.message, sizeof decoder.error.message,
                  "it decodes to %u x %u x %d, not its declared size", info.output_width,
                  info.output_height, info.output_components);
    return Decoded::kFailed;
  }
  while (info.output_scanline < info.output_height) {
    if (papplJobIsCanceled(job)) return Decoded::kCancelled;
    JSAMPROW row = image.pixels.get() + info.output_scanline * rowBytes(image);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  return Decoded::kImage;
}

// Density in pixels per inch when both axes agree, else 0.
int jpegPpi(const jpeg_decompress_struct& info) {
  if (info.X_density != info.Y_density) return 0;
  if (info.density_unit == 1) return info.X_density;
  if (info.density_unit == 2) return info.X_density * 254 / 100;
  return 0;
}

Decoded decodeJpeg(pappl_job_t* job, std::FILE* file, Options& options, Image& image) {
  JpegDecoder decoder;
  const char* path = papplJobGetFilename(job);
  const auto fail = [&](const std::string& why) {
    refuseJob(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
              "The JPEG image cannot be read: " + why + "; the job was not printed.");
    return Decoded::kFailed;
  };
  if (!readJpegHeader(decoder, file)) return fail(decoder.error.message);
  const jpeg_decompress_struct& info = decoder.info;
  if (const std::string refused = checkImageSize(info.image_width, info.image_height);
      !refused.empty()) {
    refuseJob(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, refused);
    return Decoded::kFailed;
  }
  image.width = static_cast<int>(info.image_width);
  image.height = static_cast<int>(info.image_height);
  image.ppi = jpegPpi(info);
  if (!makeOptions(job, info.num_components > 1, options, image.depth)) return Decoded::kFailed;
  if (!allocate(image)) return fail("there is not enough memory for it");
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "JPEG image %s is %dx%dx%d.", path, image.width,
              image.height, image.depth);
  const Decoded decoded = readJpegPixels(job, decoder, image);
  if (decoded == Decoded::kFailed) return fail(decoder.error.message);
  return decoded;
}

// --- PNG ------------------------------------------------------------------

// libpng's simplified reader reports its errors as return values (its jumps
// stay inside libpng), composites transparency onto the background given,
// and expands palettes, low depths and 16-bit samples to 8-bit gray or RGB.
struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
};

Decoded decodePng(pappl_job_t* job, std::FILE* file, Options& options, Image& image) {
  PngImage png;
  const auto fail = [&](const char* why) {
    refuseJob(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
              std::string("The PNG image cannot be read: ") + why + "; the job was not printed.");
    return Decoded::kFailed;
  };
  if (!png_image_begin_read_from_stdio(&png.image, file)) return fail(png.image.message);
  if (const std::string refused = checkImageSize(png.image.width, png.image.height);
      !refused.empty()) {
    refuseJob(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, refused);
    return Decoded::kFailed;
  }
  image.width = static_cast<int>(png.image.width);
  image.height = static_cast<int>(png.image.height);
  const bool colour = (png.image.format & PNG_FORMAT_FLAG_COLOR) != 0;
  if (!makeOptions(job, colour, options, image.depth)) return Decoded::kFailed;
  if (!allocate(image)) return fail("there is not enough memory for it");
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "PNG image %s is %dx%dx%d.", papplJobGetFilename(job),
              image.width, image.height, image.depth);
  // Decoding is not interrupted for a cancel: the budget bounds it to about
  // a second, and the cancel is seen as the page is sent.
  png.image.format = image.depth == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&png.image, &white, image.pixels.get(), 0, nullptr))
    return fail(png.image.message);
  return papplJobIsCanceled(job) ? Decoded::kCancelled : Decoded::kImage;
}

using Decoder = Decoded (*)(pappl_job_t*, std::FILE*, Options&, Image&);

// Decodes the job's document with `decode`, then prints it through the
// raster callbacks (PAPPL scales and places it, and checks for a cancel on
// every line).
bool printImage(pappl_job_t* job, pappl_device_t* device, Decoder decode, bool smoothing) {
  const char* path = papplJobGetFilename(job);
  // A job cancelled before it started has no document any more.
  if (path == nullptr || papplJobIsCanceled(job)) return false;
  qv::UniqueFile file(std::fopen(path, "rb"));
  if (!file)
    return refuseJob(
        job, PAPPL_JREASON_ERRORS_DETECTED,
        std::string("The spooled document cannot be opened: ") + std::strerror(errno) + ".");
  papplJobSetImpressions(job, 1);
  Options options;
  Image image;
  const Decoded decoded = decode(job, file.get(), options, image);
  file.reset();
  if (decoded != Decoded::kImage) return false;  // a cancel: finish_job reports it
  return papplJobFilterImage(job, device, options.get(), image.pixels.get(), image.width,
                             image.height, image.depth, image.ppi, smoothing);
}

}  // namespace

std::string checkImageSize(std::uint64_t width, std::uint64_t height) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width == 0 || height == 0) return "The image declares no pixels (" + size + ").";
  if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
    return "The image is " + size + " pixels; images of up to " + std::to_string(kMaxImageSide) +
           " pixels a side and " + std::to_string(kMaxImagePixels / 1'000'000) +
           " million pixels are printed. The job was not printed.";
  return "";
}

bool jpegFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  return printImage(job, device, decodeJpeg, true);
}

bool pngFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  return printImage(job, device, decodePng, false);
}

void setImageLimits(pappl_system_t* system) {
  papplSystemSetMaxImageSize(system, static_cast<size_t>(kMaxImagePixels) * 3, kMaxImageSide,
                             kMaxImageSide);
}

}  // namespace qvprinter

// The replacements of PAPPL's filters (see the top of this file). The
// executable exports them (printer/CMakeLists.txt).
extern "C" bool _papplJobFilterJPEG(pappl_job_t* job, pappl_device_t* device, void* data) {
  return qvprinter::jpegFilter(job, device, data);
}
extern "C" bool _papplJobFilterPNG(pappl_job_t* job, pappl_device_t* device, void* data) {
  return qvprinter::pngFilter(job, device, data);
}
