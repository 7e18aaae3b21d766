// Depth preparation: heights of the height image become depths in pixels.
//
// ABOUT
//   scaleHeights fixes, once per run, how raw heights map onto depths: it sets
//   depthStep and depthOffset in the height image's record, from the full
//   range of the image's kind or, with StretZ, from a scan of its actual
//   range. makeSeparationRow then turns one stored row into a SeparationRow.
//
// RAW HEIGHT (by greyBytes; Inv inverts)
//   1: the byte; 2, 3: the stored little-endian value (a stored 0 is always
//   background); 0 (colour): 4 * blue + 17 * green + 9 * red.
//
// SEPARATIONROW
//   One std::int32_t per pixel, written from the start of the separation
//   buffer: the depth in output pixels, clamped to 0 ... P - 1 where P is the
//   pattern width at working resolution (scale factor * PSiz).
#pragma once

#include <cstdint>

#include "image/image.h"

// Sets image.depthStep and image.depthOffset. scratch holds one stored row
// (rowBytes bytes); stretchZ scans the image for its range of heights.
void scaleHeights(TgaImage& image, std::uint8_t* scratch, std::int32_t stretchZ);

// Converts stored row `row` of image into width SeparationRow entries at the
// start of separationBuffer (which must hold width * 4 bytes and rowBytes).
void makeSeparationRow(const TgaImage& image, std::uint8_t* separationBuffer, std::int32_t row);

// Raw height of the stored pixel at `pixel` (greyBytes as in TgaImage), with
// Inv applied when inverted is set; -1 for background of a 16- or 24-bit image:
// a stored 0, or with Inv the largest value (65535, 16777215).
inline std::int32_t rawHeight(const std::uint8_t* pixel, std::int32_t greyBytes, bool inverted) {
    std::int32_t full = 0;
    std::int32_t value = 0;
    switch (greyBytes) {
        case 1:
            return inverted ? 255 - pixel[0] : pixel[0];
        case 2:
            full = 65535;
            value = pixel[0] | (pixel[1] << 8);
            break;
        case 3:
            full = 16777215;
            value = pixel[0] | (pixel[1] << 8) | (pixel[2] << 16);
            break;
        default: {
            std::int32_t h = 4 * pixel[0] + 17 * pixel[1] + 9 * pixel[2];
            return inverted ? 7650 - h : h;
        }
    }
    if (value == 0 || (inverted && value == full)) return -1;
    return inverted ? full - value : value;
}
