// Height scaling: how raw heights map onto depths, fixed once per run.
#include <cstdio>
#include <limits>

#include "cli/cli.h"
#include "depth/depth.h"

namespace {

// Largest magnitude kept for the divisor: far beyond every full scale and
// height range, so a larger divisor gives the same (zero) step.
constexpr std::int64_t kDivisorLimit = std::int64_t{1} << 40;

std::int32_t clampToInt32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// D = scale factor * PSiz * PUse, saturated at kDivisorLimit; 0 is taken as 1.
std::int64_t depthDivisor() {
    std::int64_t scaledWidth = std::int64_t{scaleFactor()} * settings.PSiz;
    std::int64_t percent = settings.PUse;
    std::int64_t divisor = 0;
    if (scaledWidth != 0 && percent != 0) {
        bool negative = (scaledWidth < 0) != (percent < 0);
        std::int64_t a = scaledWidth < 0 ? -scaledWidth : scaledWidth;
        std::int64_t b = percent < 0 ? -percent : percent;
        divisor = a > kDivisorLimit / b ? kDivisorLimit : a * b;
        if (negative) divisor = -divisor;
    }
    return divisor == 0 ? 1 : divisor;
}

// Full range of each kind of height image, by greyBytes (0 is colour).
std::int64_t fullScale(std::int32_t greyBytes) {
    switch (greyBytes) {
        case 1: return 25500000;
        case 2: return 6553500;
        case 3: return 1677721500;
        default: return 765000000;
    }
}

struct HeightRange {
    std::int32_t min = 16777216;
    std::int32_t max = 0;
    bool background = false;
    bool counted = false;
};

HeightRange scanHeights(const TgaImage& image, std::uint8_t* scratch) {
    HeightRange range;
    const bool inverted = settings.Inv != 0;
    const std::size_t pixelBytes = image.greyBytes == 0 ? 3 : static_cast<std::size_t>(image.greyBytes);
    for (std::int32_t row = 0; row < image.height; ++row) {
        copyImageRow(image, scratch, row);
        for (std::int32_t x = 0; x < image.width; ++x) {
            std::int32_t h = rawHeight(scratch + x * pixelBytes, image.greyBytes, inverted);
            if (h < 0) {
                range.background = true;
                continue;
            }
            range.counted = true;
            if (h > range.max) range.max = h;
            if (h < range.min) range.min = h;
        }
    }
    return range;
}

void stretchHeights(TgaImage& image, std::uint8_t* scratch) {
    HeightRange range = scanHeights(image, scratch);
    if (!range.counted) {
        // Only background: every pixel gets depth 0 whatever the step.
        image.depthStep = 1;
        image.depthOffset = 0;
        return;
    }
    std::int64_t min = range.min;
    if (range.background) {
        // Lift the lowest object a twelfth of the range off the background.
        min -= (range.max - min) / 12;
        if (min < 0) min = 0;
    }
    const std::int64_t span = range.max - min;
    const std::int64_t divisor = depthDivisor();
    std::int64_t step = 0;
    std::int64_t offset = 0;
    if (image.greyBytes <= 1) {
        step = 100000 * span / divisor;
        offset = 1000 * min - step / 2;
    } else {
        step = 100 * span / divisor;
        offset = min - step / 2;
    }
    image.depthStep = step == 0 ? 1 : clampToInt32(step);
    image.depthOffset = clampToInt32(offset);
}

}  // namespace

void scaleHeights(TgaImage& image, std::uint8_t* scratch, std::int32_t stretchZ) {
    if (stretchZ == 0) {
        std::int64_t step = fullScale(image.greyBytes) / depthDivisor();
        image.depthStep = step == 0 ? 1 : clampToInt32(step);
        image.depthOffset = image.depthStep / 2;
        return;
    }
    std::fputs("Scaling height (Z) information...", stdout);
    stretchHeights(image, scratch);
    blankProgressText();
}
