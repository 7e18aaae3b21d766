// Row resolution scaling: strip and separations are widened by the scale
// factor before linking; with VInc the linked row is halved again.
#include <cstdint>
#include <cstring>

#include "stereo/stereo.h"

namespace rdsgen {

void widenPatternStrip(const RunSettings& settings, const RowGeometry& geometry, RowWork& work) {
    const std::int32_t factor = geometry.scale;
    if (factor != 2 && factor != 4) return;
    const std::int32_t N = geometry.pixelBytes;
    std::uint8_t* strip = work.row + static_cast<std::ptrdiff_t>(N) * geometry.stripStart;
    // From the last pixel down, so that no pixel is overwritten before it is read.
    for (std::int32_t k = settings.PSiz - 1; k >= 0; --k) {
        std::uint8_t pixel[3];
        std::memcpy(pixel, strip + N * k, static_cast<std::size_t>(N));
        std::uint8_t* target = strip + N * factor * k;
        for (std::int32_t n = 0; n < factor; ++n, target += N) std::memcpy(target, pixel, static_cast<std::size_t>(N));
    }
}

void widenSeparationRow(const RowGeometry& geometry, RowWork& work) {
    const std::int32_t factor = geometry.scale;
    if (factor != 2 && factor != 4) return;
    std::int32_t* separations = separationRow(work);
    for (std::int32_t k = geometry.inputWidth - 1; k >= 0; --k) {
        const std::int32_t value = separations[k];
        for (std::int32_t n = 0; n < factor; ++n) separations[factor * k + n] = value;
    }
}

void reduceRow(const RowGeometry& geometry, RowWork& work) {
    // The output pixels and, with CutOff, the part of the row finishRow skips.
    std::int32_t n = geometry.outputWidth + geometry.cutOffPixels;
    // Never read past the RowBuffer, whatever the output width says.
    if (n > geometry.rowPixels / 2) n = geometry.rowPixels / 2;
    std::uint8_t* row = work.row;
    const std::int32_t N = geometry.pixelBytes;
    // Upwards: output pixel j is written after pixels 2j and 2j + 1 were read.
    for (std::int32_t j = 0; j < N * n; j += N) {
        for (std::int32_t k = 0; k < N; ++k) {
            const std::int32_t sum = row[2 * j + k] + row[2 * j + N + k];
            row[j + k] = static_cast<std::uint8_t>(sum / 2);
        }
    }
}

}  // namespace rdsgen
