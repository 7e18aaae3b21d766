// Height scaling: how raw heights map onto depths, fixed once per run.
#include <limits>

#include "depth/depth.h"
#include "image/image.h"

namespace rdsgen {

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
std::int64_t depthDivisor(const RunSettings& settings, std::int32_t scale) {
    std::int64_t scaledWidth = std::int64_t{scale} * settings.PSiz;
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

// Full range of each kind of height image.
std::int64_t fullScale(PixelKind kind) {
    switch (kind) {
        case PixelKind::kGrey8: return 25500000;
        case PixelKind::kGrey16: return 6553500;
        case PixelKind::kGrey24: return 1677721500;
        default: return 765000000;
    }
}

struct HeightRange {
    std::int32_t min = 16777216;
    std::int32_t max = 0;
    bool background = false;
    bool counted = false;
};

HeightRange scanHeights(const Image& image, bool inverted) {
    HeightRange range;
    const std::size_t bytes = static_cast<std::size_t>(pixelBytes(image.kind));
    for (std::int32_t row = 0; row < image.height; ++row) {
        const std::uint8_t* stored = imageRow(image, row);
        for (std::int32_t x = 0; x < image.width; ++x) {
            std::int32_t h = rawHeight(stored + x * bytes, image.kind, inverted);
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

DepthMapping stretchHeights(const RunSettings& settings, std::int32_t scale, const Image& image) {
    HeightRange range = scanHeights(image, settings.Inv != 0);
    if (!range.counted) {
        // Only background: every pixel gets depth 0 whatever the step.
        return DepthMapping{1, 0};
    }
    std::int64_t min = range.min;
    if (range.background) {
        // Lift the lowest object a twelfth of the range off the background.
        min -= (range.max - min) / 12;
        if (min < 0) min = 0;
    }
    const std::int64_t span = range.max - min;
    const std::int64_t divisor = depthDivisor(settings, scale);
    std::int64_t step = 0;
    std::int64_t offset = 0;
    if (image.kind == PixelKind::kGrey8 || image.kind == PixelKind::kColour) {
        step = 100000 * span / divisor;
        offset = 1000 * min - step / 2;
    } else {
        step = 100 * span / divisor;
        offset = min - step / 2;
    }
    return DepthMapping{step == 0 ? 1 : clampToInt32(step), clampToInt32(offset)};
}

}  // namespace

DepthMapping scaleHeights(const RunSettings& settings, std::int32_t scale, const Image& image) {
    if (settings.StretZ != 0) return stretchHeights(settings, scale, image);
    const std::int64_t step = fullScale(image.kind) / depthDivisor(settings, scale);
    DepthMapping mapping;
    mapping.step = step == 0 ? 1 : clampToInt32(step);
    mapping.offset = mapping.step / 2;
    return mapping;
}

}  // namespace rdsgen
