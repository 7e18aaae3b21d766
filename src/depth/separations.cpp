// Row separations: one stored row of heights becomes a SeparationRow.
#include <cstring>
#include <vector>

#include "cli/cli.h"
#include "depth/depth.h"

namespace {

// The mapping from raw height to clamped depth for one run.
struct DepthMapping {
    std::int64_t factor = 0;   // 1000 for 8-bit and colour heights, else 1
    std::int64_t step = 1;
    std::int64_t offset = 0;
    std::int64_t largest = 0;  // P - 1, the deepest separation a link allows

    std::int32_t depth(std::int32_t h) const {
        if (h < 0) return 0;  // background of a 16- or 24-bit image
        std::int64_t value = (factor * h - offset) / step;
        return static_cast<std::int32_t>(value < 0 ? 0 : value > largest ? largest : value);
    }
    bool operator==(const DepthMapping&) const = default;
};

// Depths of every raw height an 8-bit, 16-bit or colour image can hold, so
// that a row costs one look-up per pixel instead of a division. Rebuilt only
// when the mapping changes (once per run).
struct DepthTable {
    DepthMapping mapping;
    std::int32_t greyBytes = -1;
    bool inverted = false;
    std::vector<std::int32_t> depths;  // indexed by the stored value (or colour height)
};

DepthTable table;

const std::vector<std::int32_t>& depthsFor(const DepthMapping& mapping, std::int32_t greyBytes,
                                           bool inverted) {
    if (table.greyBytes == greyBytes && table.inverted == inverted && table.mapping == mapping) {
        return table.depths;
    }
    table.mapping = mapping;
    table.greyBytes = greyBytes;
    table.inverted = inverted;
    const std::int32_t values = greyBytes == 1 ? 256 : greyBytes == 2 ? 65536 : 7651;
    table.depths.resize(static_cast<std::size_t>(values));
    for (std::int32_t v = 0; v < values; ++v) {
        std::int32_t h = 0;
        if (greyBytes == 0) {
            h = inverted ? 7650 - v : v;
        } else {
            const std::uint8_t stored[3] = {static_cast<std::uint8_t>(v & 0xFF),
                                            static_cast<std::uint8_t>(v >> 8), 0};
            h = rawHeight(stored, greyBytes, inverted);
        }
        table.depths[static_cast<std::size_t>(v)] = mapping.depth(h);
    }
    return table.depths;
}

}  // namespace

void makeSeparationRow(const TgaImage& image, std::uint8_t* separationBuffer, std::int32_t row) {
    copyImageRow(image, separationBuffer, row);

    const std::int32_t greyBytes = image.greyBytes;
    const bool inverted = settings.Inv != 0;
    DepthMapping mapping;
    // 8-bit and colour heights carry a factor 1000 that depthStep matches.
    mapping.factor = greyBytes <= 1 ? 1000 : 1;
    mapping.step = image.depthStep == 0 ? 1 : image.depthStep;
    mapping.offset = image.depthOffset;
    mapping.largest = std::int64_t{scaleFactor()} * settings.PSiz - 1;
    if (mapping.largest < 0) mapping.largest = 0;

    // An entry (4 bytes) is wider than a stored pixel (at most 3), so
    // converting from the last pixel never overwrites one still to be read.
    const std::uint8_t* stored = separationBuffer;
    std::size_t x = static_cast<std::size_t>(image.width);
    if (greyBytes == 3) {
        while (x-- > 0) {
            std::int32_t depth = mapping.depth(rawHeight(stored + 3 * x, greyBytes, inverted));
            std::memcpy(separationBuffer + 4 * x, &depth, sizeof depth);
        }
        return;
    }
    const std::int32_t* depths = depthsFor(mapping, greyBytes, inverted).data();
    if (greyBytes == 1) {
        while (x-- > 0) std::memcpy(separationBuffer + 4 * x, &depths[stored[x]], 4);
    } else if (greyBytes == 2) {
        while (x-- > 0) {
            const std::size_t v = stored[2 * x] | std::size_t{stored[2 * x + 1]} << 8;
            std::memcpy(separationBuffer + 4 * x, &depths[v], 4);
        }
    } else {
        while (x-- > 0) {
            const std::uint8_t* pixel = stored + 3 * x;
            const std::size_t h = 4 * std::size_t{pixel[0]} + 17 * std::size_t{pixel[1]} + 9 * std::size_t{pixel[2]};
            std::memcpy(separationBuffer + 4 * x, &depths[h], 4);
        }
    }
}
