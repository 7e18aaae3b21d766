// Row separations: one stored row of heights becomes a SeparationRow.
#include <cstring>

#include "depth/depth.h"
#include "image/image.h"

namespace rdsgen {

DepthTable makeDepthTable(const RunSettings& settings, std::int32_t patternWidth, const Image& image,
                          const DepthMapping& mapping) {
    DepthTable table;
    table.inverted = settings.Inv != 0;
    // 8-bit and colour heights carry a factor 1000 that the step matches.
    table.factor = image.kind == PixelKind::kGrey8 || image.kind == PixelKind::kColour ? 1000 : 1;
    table.step = mapping.step == 0 ? 1 : mapping.step;
    table.offset = mapping.offset;
    table.largest = patternWidth - std::int64_t{1};
    if (table.largest < 0) table.largest = 0;
    if (image.kind == PixelKind::kGrey24) return table;

    // Depths of every raw height an 8-bit, 16-bit or colour image can hold,
    // so that a row costs one look-up per pixel instead of a division.
    const std::int32_t values = image.kind == PixelKind::kGrey8    ? 256
                                : image.kind == PixelKind::kGrey16 ? 65536
                                                                   : 7651;
    table.depths.resize(static_cast<std::size_t>(values));
    for (std::int32_t v = 0; v < values; ++v) {
        std::int32_t h = 0;
        if (image.kind == PixelKind::kColour) {
            h = table.inverted ? 7650 - v : v;
        } else {
            const std::uint8_t stored[3] = {static_cast<std::uint8_t>(v & 0xFF),
                                            static_cast<std::uint8_t>(v >> 8), 0};
            h = rawHeight(stored, image.kind, table.inverted);
        }
        table.depths[static_cast<std::size_t>(v)] = table.depth(h);
    }
    if (image.kind == PixelKind::kGrey8) {
        table.sameFrom.resize(256);
        table.sameTo.resize(256);
        for (std::size_t v = 0; v < 256; ++v) {
            const bool joins = v > 0 && table.depths[v] == table.depths[v - 1];
            table.sameFrom[v] = joins ? table.sameFrom[v - 1] : static_cast<std::uint8_t>(v);
        }
        for (std::size_t v = 256; v-- > 0;) {
            const bool joins = v < 255 && table.depths[v] == table.depths[v + 1];
            table.sameTo[v] = joins ? table.sameTo[v + 1] : static_cast<std::uint8_t>(v);
        }
    }
    return table;
}

void makeSeparationRow(const Image& image, const DepthTable& table, std::int32_t row,
                       std::int32_t* separations) {
    const std::uint8_t* stored = imageRow(image, row);
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::int32_t* depths = table.depths.data();
    switch (image.kind) {
        case PixelKind::kGrey8:
            for (std::size_t x = 0; x < width; ++x) separations[x] = depths[stored[x]];
            break;
        case PixelKind::kGrey16:
            for (std::size_t x = 0; x < width; ++x) {
                separations[x] = depths[stored[2 * x] | std::size_t{stored[2 * x + 1]} << 8];
            }
            break;
        case PixelKind::kGrey24:
            for (std::size_t x = 0; x < width; ++x) {
                separations[x] = table.depth(rawHeight(stored + 3 * x, image.kind, table.inverted));
            }
            break;
        case PixelKind::kColour:
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint8_t* pixel = stored + 3 * x;
                separations[x] = depths[4 * std::size_t{pixel[0]} + 17 * std::size_t{pixel[1]} +
                                        9 * std::size_t{pixel[2]}];
            }
            break;
    }
}

}  // namespace rdsgen
