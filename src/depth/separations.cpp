// Row separations: one stored row of heights becomes a SeparationRow.
#include <cstring>

#include "cli/cli.h"
#include "depth/depth.h"

void makeSeparationRow(const TgaImage& image, std::uint8_t* separationBuffer, std::int32_t row) {
    copyImageRow(image, separationBuffer, row);

    const std::int32_t greyBytes = image.greyBytes;
    const std::size_t pixelBytes = greyBytes == 0 ? 3 : static_cast<std::size_t>(greyBytes);
    const bool inverted = settings.Inv != 0;
    // 8-bit and colour heights carry a factor 1000 that depthStep matches.
    const std::int64_t factor = greyBytes <= 1 ? 1000 : 1;
    const std::int64_t step = image.depthStep == 0 ? 1 : image.depthStep;
    const std::int64_t offset = image.depthOffset;
    std::int64_t largest = std::int64_t{scaleFactor()} * settings.PSiz - 1;
    if (largest < 0) largest = 0;

    // An entry (4 bytes) is wider than a stored pixel (at most 3), so
    // converting from the last pixel never overwrites one still to be read.
    for (std::size_t x = static_cast<std::size_t>(image.width); x-- > 0;) {
        std::int32_t h = rawHeight(separationBuffer + x * pixelBytes, greyBytes, inverted);
        std::int32_t depth = 0;
        if (h >= 0) {
            std::int64_t value = (factor * h - offset) / step;
            depth = static_cast<std::int32_t>(value < 0 ? 0 : value > largest ? largest : value);
        }
        std::memcpy(separationBuffer + 4 * x, &depth, sizeof depth);
    }
}
