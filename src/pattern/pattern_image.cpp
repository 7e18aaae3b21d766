// The pattern image as pattern source: one image row per input row, cut or
// resampled to the pattern width.
#include <cstring>

#include "image/image.h"
#include "pattern/pattern.h"

namespace {

// The pattern image row for input row `row`.
std::int32_t chooseImageRow(std::int32_t row, std::int32_t imageWidth, std::int32_t imageHeight) {
    std::int64_t r = 0;
    if (settings.StretY) {
        // A one-row input takes the image's first row.
        std::int32_t height = inputHeight();
        if (height > 1) r = static_cast<std::int64_t>(row) * (imageHeight - 1) / (height - 1);
        if (r >= imageHeight) r = imageHeight - 1;
    } else if (settings.StretR && settings.PSiz > 0) {
        r = static_cast<std::int64_t>(row) * imageWidth / settings.PSiz % imageHeight;
    } else {
        r = row % imageHeight;
    }
    return r < 0 ? 0 : static_cast<std::int32_t>(r);
}

// The image pixel that strip pixel k takes.
std::int32_t sourcePixel(std::int32_t k, std::int32_t stripWidth, std::int32_t imageWidth) {
    if (settings.StretX) {
        // A one-pixel strip takes the image's first pixel.
        if (stripWidth <= 1) return 0;
        return static_cast<std::int32_t>(static_cast<std::int64_t>(k) * (imageWidth - 1) /
                                         (stripWidth - 1));
    }
    // Unstretched strips wider than the image (never set up so by the run
    // driver) repeat the image row instead of reading past it.
    return k % imageWidth;
}

}  // namespace

void stretchPatternImageRow(std::uint8_t* strip, std::int32_t row) {
    const TgaImage& image = run.patternImage;
    std::uint8_t* source = run.patternSourceRow.get();
    if (image.width <= 0 || image.height <= 0 || !image.pixels || source == nullptr) return;
    copyImageRow(image, source, chooseImageRow(row, image.width, image.height));
    std::int32_t stripWidth = settings.PSiz;
    for (std::int32_t k = 0; k < stripWidth; ++k) {
        std::int32_t from = sourcePixel(k, stripWidth, image.width);
        std::memcpy(strip + 3 * static_cast<std::ptrdiff_t>(k),
                    source + 3 * static_cast<std::ptrdiff_t>(from), 3);
    }
}
