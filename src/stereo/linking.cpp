// Row linking: the pattern strip is propagated along each row's links, and
// pixels no usable link reaches are filled from their neighbourhood or from
// the pattern source row.
#include <cstdint>
#include <cstring>

#include "stereo/stereo.h"

namespace rdsgen {

namespace {

inline void copyPixel(std::uint8_t* row, std::int32_t target, std::int32_t source) {
    row[target] = row[source];
    row[target + 1] = row[source + 1];
    row[target + 2] = row[source + 2];
}

// Byte offset of the row's last pixel, N + P - 1.
inline std::int32_t lastPixelOffset(const RowGeometry& geometry) {
    return 3 * (geometry.scaledInputWidth + geometry.patternWidth - 1);
}

// The random-dot fill: a copy of the pixel 1 ... m + 2 pixels away in
// `direction`, the distance hashed from the offset and the pass's seed.
// Sources outside the row use its first or last pixel.
inline void fillFromNeighbour(std::uint8_t* row, std::int32_t p, std::uint32_t seed,
                              std::int32_t P, std::int32_t direction, std::int32_t lastOffset) {
    const std::uint32_t up = static_cast<std::uint32_t>(p);
    std::uint32_t h = (3u * up + seed) >> 1;
    h *= up;
    const std::uint32_t m = P / 6 > 0 ? static_cast<std::uint32_t>(P / 6) : 1u;
    const std::uint32_t a = h % m;
    const std::uint32_t b = (7u * up + seed) % 3u;
    const std::int32_t n = static_cast<std::int32_t>(a + b + 1);
    std::int32_t source = p + direction * 3 * n;
    if (source < 0) source = 0;
    if (source > lastOffset) source = lastOffset;
    copyPixel(row, p, source);
}

// What a pass needs at every pixel.
struct Pass {
    const Settings& settings;
    const RowGeometry& geometry;
    RowWork& work;
    std::uint8_t* row;
    std::uint32_t seed;
    std::int32_t lastOffset;

    void fill(std::int32_t p, std::int32_t direction) const {
        if (settings.NoRD) {
            copyPatternSourcePixel(settings, geometry, work, row + p, p / (3 * geometry.scale));
        } else {
            fillFromNeighbour(row, p, seed, geometry.patternWidth, direction, lastOffset);
        }
    }
};

}  // namespace

void copyPatternSourcePixel(const Settings& settings, const RowGeometry& geometry,
                            const RowWork& work, std::uint8_t* destination, std::int32_t column) {
    const std::int32_t Q = geometry.sourcePeriod;
    const std::uint8_t* source = work.sourceRow.get();
    if (Q <= 0 || source == nullptr) return;  // no pattern source row: the pixel stays
    std::int32_t k = column % Q;
    if (settings.PNarrow) k = Q - 1 - k;
    std::memcpy(destination, source + 3 * k, 3);
}

void fillUnlinkedPixel(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                       std::int32_t p, std::uint32_t seed, std::int32_t direction) {
    const Pass pass{settings, geometry, work, work.row.get(), seed, lastPixelOffset(geometry)};
    pass.fill(p, direction);
}

void linkLeftToRight(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed) {
    const Pass pass{settings, geometry, work, work.row.get(), seed, lastPixelOffset(geometry)};
    std::uint8_t* row = pass.row;
    const std::int32_t* sep = separationRow(work);
    const std::int32_t P = geometry.patternWidth;
    std::int32_t lastSource = -1;
    for (std::int32_t i = geometry.stripStart; i < geometry.scaledInputWidth; ++i) {
        const std::int32_t s = sep[i];
        const std::int32_t t = 3 * (i + P);
        const std::int32_t u = t - 3 * (P - s);
        if (u < lastSource || s == -1) {
            pass.fill(t, -1);
        } else {
            copyPixel(row, t, u);
            lastSource = u;
        }
    }
}

void linkRightToLeft(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed) {
    const Pass pass{settings, geometry, work, work.row.get(), seed, lastPixelOffset(geometry)};
    std::uint8_t* row = pass.row;
    const std::int32_t* sep = separationRow(work);
    const std::int32_t P = geometry.patternWidth;
    const std::int32_t startOffset = 3 * geometry.stripStart;
    std::int32_t frontier = startOffset - 3;
    for (std::int32_t i = geometry.stripStart - 1; i >= 0; --i) {
        const std::int32_t u = 3 * (i + P);
        const std::int32_t t = u - 3 * (P - sep[i]);
        if (t < frontier) {
            // A gap no link reaches: its right end repeats its neighbour,
            // the rest is filled from the right.
            copyPixel(row, frontier, frontier + 3);
            for (std::int32_t q = frontier - 3; q > t; q -= 3) pass.fill(q, +1);
        }
        copyPixel(row, t, u);
        frontier = t - 3;
    }
    // The pixels left of the last target repeat those one period to their
    // right; running leftwards lets a repeated pixel repeat again. Sources
    // past the row's end (only for rows narrower than a period) use its last pixel.
    for (std::int32_t x = frontier; x >= 0; x -= 3) {
        const std::int32_t source = x + 3 * P;
        copyPixel(row, x, source > pass.lastOffset ? pass.lastOffset : source);
    }
}

void linkRow(const Settings& settings, const RowGeometry& geometry, RowWork& work) {
    if (settings.Hidden) removeHiddenLinks(geometry, work);
    if (settings.PPos <= 2) linkLeftToRight(settings, geometry, work, work.seeds[0]);
    if (settings.PPos >= 2) linkRightToLeft(settings, geometry, work, work.seeds[1]);
}

}  // namespace rdsgen
