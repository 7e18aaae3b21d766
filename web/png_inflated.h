// Reading PNG and JPEG files in the WebAssembly build (png_inflated.cpp).
#pragma once

#include <cstdint>
#include <span>

#include "image/image.h"

namespace rdsgen {

// A PNG or JPEG file's sizes as it is shown (after its EXIF orientation),
// its number of colour components (PNG: 1 grey, 3 the others) and
// orientation. JPEG files the command line refuses by their header (CMYK,
// YCCK, an unknown colour space, sides too large) are refused here.
struct FileHeader {
    std::uint32_t width = 0, height = 0;
    std::int32_t components = 0;
    std::int32_t orientation = 1;
};
Status readImageHeader(std::span<const std::uint8_t> file, FileHeader& header);

// A PNG file whose image data (the IDAT chunks' zlib stream) was inflated
// into raw: the image as the command line reads it.
Status readInflatedPng(std::span<const std::uint8_t> file, std::span<const std::uint8_t> raw, Image& image);

}  // namespace rdsgen
