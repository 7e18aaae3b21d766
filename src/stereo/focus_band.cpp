// The focus band: white rows carrying the focus marks, written above the image.
#include <cstdint>
#include <cstring>

#include "stereo/stereo.h"

void writeFocusBand(std::int32_t A, std::int32_t B) {
    std::int32_t W = run.outputImage.width;
    const std::int32_t pixels = (inputWidth() + settings.PSiz + 1) * scaleFactor();
    if (W > pixels) W = pixels;
    std::uint8_t* row = run.rowBuffer.get();
    for (std::int32_t c = 0; c < B; ++c) {
        if (W > 0) std::memset(row, 255, 3 * static_cast<std::size_t>(W));
        drawFocusMarks(A, B, c);
        writeOutputRow(run.outputImage, row);
    }
}
