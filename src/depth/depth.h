// Depth preparation: heights of the height image become depths in pixels.
//
// ABOUT
//   scaleHeights fixes, once per run, how raw heights map onto depths: a
//   DepthMapping from the full range of the image's kind or, with StretZ,
//   from a scan of its actual range. makeDepthTable turns the mapping into a
//   look-up table for the run, and makeSeparationRow turns one stored row
//   into a SeparationRow with it. The table is read-only once made, so any
//   number of threads may share it.
//
// RAW HEIGHT (by pixel kind; Inv inverts)
//   8-bit grey: the byte; 16- and 24-bit grey: the stored little-endian value
//   (a stored 0 is always background); colour: 4 * blue + 17 * green + 9 * red.
//
// SEPARATIONROW
//   One std::int32_t per pixel: the depth in output pixels, clamped to
//   0 ... P - 1 where P is the pattern width at working resolution.
#pragma once

#include <cstdint>
#include <vector>

#include "run/run.h"

namespace rdsgen {

// How raw heights map onto depths for one run.
struct DepthMapping {
    std::int32_t step = 0;
    std::int32_t offset = 0;
};

// The mapping for the settings (PSiz, PUse, Inv, StretZ) and the image; with
// StretZ the image is scanned for its range of heights.
DepthMapping scaleHeights(const RunSettings& settings, std::int32_t scale, const Image& image);

// Depths by raw height for one run.
struct DepthTable {
    std::int64_t factor = 0;    // 1000 for 8-bit and colour heights, else 1
    std::int64_t step = 1;
    std::int64_t offset = 0;
    std::int64_t largest = 0;   // P - 1, the deepest separation a link allows
    bool inverted = false;
    // Indexed by the stored value (8 and 16 bits) or the colour height;
    // empty for 24-bit grey, whose depths are computed per pixel.
    std::vector<std::int32_t> depths;
    // 8-bit heights only: for each stored value, the lowest and the highest
    // stored value of the unbroken range around it with the same depth, so
    // that a run of equal depths can be found from the stored bytes alone.
    std::vector<std::uint8_t> sameFrom;
    std::vector<std::uint8_t> sameTo;

    std::int32_t depth(std::int32_t h) const {
        if (h < 0) return 0;  // background of a 16- or 24-bit image
        const std::int64_t value = (factor * h - offset) / step;
        return static_cast<std::int32_t>(value < 0 ? 0 : value > largest ? largest : value);
    }
};

DepthTable makeDepthTable(const RunSettings& settings, std::int32_t patternWidth, const Image& image,
                          const DepthMapping& mapping);

// Converts stored row `row` of image into image.width SeparationRow entries.
void makeSeparationRow(const Image& image, const DepthTable& table, std::int32_t row,
                       std::int32_t* separations);

// Raw height of the stored pixel at `pixel` (of the kind's size), with Inv
// applied when inverted is set; -1 for background of a 16- or 24-bit image:
// a stored 0, or with Inv the largest value (65535, 16777215).
inline std::int32_t rawHeight(const std::uint8_t* pixel, PixelKind kind, bool inverted) {
    std::int32_t full = 0;
    std::int32_t value = 0;
    switch (kind) {
        case PixelKind::kGrey8:
            return inverted ? 255 - pixel[0] : pixel[0];
        case PixelKind::kGrey16:
            full = 65535;
            value = pixel[0] | (pixel[1] << 8);
            break;
        case PixelKind::kGrey24:
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

}  // namespace rdsgen
