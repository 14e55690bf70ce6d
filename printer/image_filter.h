// image_filter.h - JPEG and PNG jobs: the image's declared size checked
// against qvprinter's pixel budget before anything is allocated, the image
// decoded here (libjpeg, libpng) with every error ending the job, and its
// pixels placed on the page by PAPPL's papplJobFilterImage.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace qvprinter {

// The pixel budget of an image job. The decoded image is held whole while
// PAPPL scales it to the page: 50 million pixels is 150 MB as RGB, more
// than a US Legal sheet at 600 dpi (42.8 million), and no side may pass
// 16384 pixels, the size PAPPL advertises in jpeg-x/y-dimension-supported.
inline constexpr std::uint32_t kMaxImageSide = 16384;
inline constexpr std::uint64_t kMaxImagePixels = 50'000'000;

// "" when a `width` x `height` image is within the budget, else the
// sentence for the job's state message.
std::string checkImageSize(std::uint64_t width, std::uint64_t height);

// The filters that take the place of PAPPL's own (see image_filter.cc).
bool jpegFilter(pappl_job_t* job, pappl_device_t* device, void* data);
bool pngFilter(pappl_job_t* job, pappl_device_t* device, void* data);

// Called where the system is set up: advertises the budget's sides, and
// links in the replacement of PAPPL's image filters.
void setImageLimits(pappl_system_t* system);

}  // namespace qvprinter
