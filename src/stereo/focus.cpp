// Focus marks: two black open discs, one pattern period apart, painted over
// the rows of the band above the image or the first rows of the image.
#include <cstdint>
#include <cstring>

#include "stereo/stereo.h"

namespace rdsgen {

namespace {

// Largest k >= 0 with k * k <= value (value >= 0).
std::int32_t integerSquareRoot(std::int32_t value) {
    std::int32_t k = 0;
    while (static_cast<std::int64_t>(k + 1) * (k + 1) <= value) ++k;
    return k;
}

void paintSpan(std::uint8_t* row, std::int32_t from, std::int32_t to, std::int32_t pixels, std::int32_t bytes) {
    if (from < 0) from = 0;
    if (to > pixels - 1) to = pixels - 1;
    if (from > to) return;
    std::memset(row + static_cast<std::ptrdiff_t>(bytes) * from, 0,
                static_cast<std::size_t>(bytes) * static_cast<std::size_t>(to - from + 1));
}

}  // namespace

void drawFocusMarks(const RunSettings& settings, const RowGeometry& geometry, std::uint8_t* row,
                    std::int32_t c) {
    const std::int32_t A = geometry.markDistance;
    const std::int32_t B = geometry.bandHeight;
    const std::int32_t f = B / 2 - 1;
    const std::int32_t r = f - B / 9;
    std::int32_t l = r * r - (c - f) * (c - f);
    if (settings.Double) l *= 4;
    if (l <= 0) return;
    // (x - centre)^2 < l holds exactly for |x - centre| <= half.
    const std::int32_t half = integerSquareRoot(l - 1);
    std::int32_t xL = (geometry.outputWidth - A) / 2;
    if (settings.CutOff) xL += A / 2;
    const std::int32_t xR = xL + A;
    paintSpan(row, xL - half, xL + half, geometry.rowPixels, geometry.pixelBytes);
    paintSpan(row, xR - half, xR + half, geometry.rowPixels, geometry.pixelBytes);
}

}  // namespace rdsgen
