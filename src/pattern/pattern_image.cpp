// The pattern image as pattern source: one image row per input row, cut or
// resampled to the pattern width; and how the image is fitted to the run.
#include <cstring>

#include "image/image.h"
#include "pattern/pattern.h"

namespace rdsgen {

namespace {

// The pattern image row for input row `row`.
std::int32_t chooseImageRow(const RunSettings& settings, std::int32_t inputHeight, std::int32_t row,
                            std::int32_t imageWidth, std::int32_t imageHeight) {
    std::int64_t r = 0;
    if (settings.StretY) {
        // A one-row input takes the image's first row.
        if (inputHeight > 1) r = static_cast<std::int64_t>(row) * (imageHeight - 1) / (inputHeight - 1);
        if (r >= imageHeight) r = imageHeight - 1;
    } else if (settings.StretR && settings.PSiz > 0) {
        r = static_cast<std::int64_t>(row) * imageWidth / settings.PSiz % imageHeight;
    } else {
        r = row % imageHeight;
    }
    return r < 0 ? 0 : static_cast<std::int32_t>(r);
}

// The image pixel that strip pixel k takes.
std::int32_t sourcePixel(bool stretchX, std::int32_t k, std::int32_t stripWidth,
                         std::int32_t imageWidth) {
    if (stretchX) {
        // A one-pixel strip takes the image's first pixel.
        if (stripWidth <= 1) return 0;
        return static_cast<std::int32_t>(static_cast<std::int64_t>(k) * (imageWidth - 1) /
                                         (stripWidth - 1));
    }
    // Unstretched strips wider than the image (never set up so by
    // decidePatternImageStretch) repeat the image row instead of reading past it.
    return k % imageWidth;
}

}  // namespace

void stretchPatternImageRow(const RunSettings& settings, std::int32_t inputHeight, const Image& image,
                            std::uint8_t* strip, std::uint8_t* patternSourceRow, std::int32_t row) {
    std::uint8_t* source = patternSourceRow;
    if (image.width <= 0 || image.height <= 0 || !image.pixels || source == nullptr) return;
    copyPatternRow(image, chooseImageRow(settings, inputHeight, row, image.width, image.height), source);
    const std::int32_t stripWidth = settings.PSiz;
    for (std::int32_t k = 0; k < stripWidth; ++k) {
        const std::int32_t from = sourcePixel(settings.StretX != 0, k, stripWidth, image.width);
        std::memcpy(strip + 3 * static_cast<std::ptrdiff_t>(k),
                    source + 3 * static_cast<std::ptrdiff_t>(from), 3);
    }
}

unsigned decidePatternImageStretch(RunSettings& settings, const ImageHeader& heights, const ImageHeader& pattern) {
    const std::int64_t imageWidth = pattern.width;
    const std::int64_t imageHeight = pattern.height;
    const std::int64_t width = heights.width;
    const std::int64_t patternWidth = settings.PSiz;
    if (settings.StretA) {
        if (imageWidth < width / 3) {
            if (imageWidth < 14 * patternWidth / 10 && imageWidth > 15 * patternWidth / 20 &&
                !settings.psizGiven) {
                settings.StretP = 1;
            } else {
                settings.StretX = 1;
            }
        }
        if (imageHeight * patternWidth / imageWidth > heights.height / 2) settings.StretY = 1;
        if (settings.StretX == 1 && settings.StretY == 0) settings.StretR = 1;
        if (heights.kind == PixelKind::kGrey16 || heights.kind == PixelKind::kGrey24) settings.StretZ = 1;
    }
    if (settings.StretP) {
        settings.StretX = 0;
        settings.PSiz = pattern.width;
    }
    if (imageWidth < width / 3) settings.PNarrow = 1;
    unsigned warnings = 0;
    if (settings.PSiz > pattern.width && !settings.StretX) {
        if (!settings.StretA) warnings |= kWarnStretchXAssumed;
        settings.StretX = 1;
    }
    return warnings;
}

}  // namespace rdsgen
