// Row linking: the pattern strip is propagated along each row's links, and
// pixels no usable link reaches are filled from their neighbourhood or from
// the pattern source row. The passes work on pixel indices, for rows of one
// byte (grey) or three bytes (blue, green, red) per pixel.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "depth/depth.h"
#include "stereo/stereo.h"

namespace rdsgen {

namespace {

template <int PixelBytes>
inline void copyPixel(std::uint8_t* row, std::int32_t target, std::int32_t source) {
    std::uint8_t* to = row + PixelBytes * static_cast<std::ptrdiff_t>(target);
    const std::uint8_t* from = row + PixelBytes * static_cast<std::ptrdiff_t>(source);
    for (int k = 0; k < PixelBytes; ++k) to[k] = from[k];
}

// Pixels [target, target + count) each copy the pixel `distance` to their
// left, in order, so a copy may be copied again: the bytes repeat with that
// period. Each piece comes from the period before the run, doubling in
// length as the repeated part grows.
template <int PixelBytes>
void copyRun(std::uint8_t* row, std::int32_t target, std::int32_t distance, std::int32_t count) {
    std::uint8_t* to = row + PixelBytes * static_cast<std::ptrdiff_t>(target);
    const std::uint8_t* from = to - PixelBytes * static_cast<std::ptrdiff_t>(distance);
    const std::size_t length = PixelBytes * static_cast<std::size_t>(count);
    for (std::size_t done = 0; done < length;) {
        const std::size_t piece = std::min(length - done, static_cast<std::size_t>(to + done - from));
        std::memcpy(to + done, from, piece);
        done += piece;
    }
}

// The mirror of copyRun: pixels [first, first + count) each copy the pixel
// `distance` to their right, from right to left.
template <int PixelBytes>
void copyRunLeftwards(std::uint8_t* row, std::int32_t first, std::int32_t distance, std::int32_t count) {
    std::uint8_t* end = row + PixelBytes * static_cast<std::ptrdiff_t>(first + count);
    const std::uint8_t* fromEnd = end + PixelBytes * static_cast<std::ptrdiff_t>(distance);
    const std::size_t length = PixelBytes * static_cast<std::size_t>(count);
    for (std::size_t done = 0; done < length;) {
        const std::size_t piece = std::min(length - done, static_cast<std::size_t>(fromEnd - (end - done)));
        std::memcpy(end - done - piece, fromEnd - piece, piece);
        done += piece;
    }
}

using Lanes = std::uint8_t __attribute__((vector_size(16)));

// Lanes outside [low, high] as a bit mask of eight bits per lane, in two
// halves; false where the machine's byte order does not allow it.
bool lanesOutside(const std::uint8_t* bytes, std::uint8_t low, std::uint8_t high, std::uint64_t (&halves)[2]) {
    if constexpr (std::endian::native != std::endian::little) return false;
    Lanes lanes;
    std::memcpy(&lanes, bytes, sizeof lanes);
    Lanes lows{};
    Lanes highs{};
    lows += low;
    highs += high;
    const auto outside = (lanes < lows) | (lanes > highs);  // 0 or all ones per lane
    std::memcpy(halves, &outside, sizeof halves);
    return true;
}

// The first index from k on, below limit, whose byte lies outside
// [low, high]; limit when there is none. Sixteen bytes at a time.
std::int32_t firstOutside(const std::uint8_t* bytes, std::int32_t k, std::int32_t limit, std::uint8_t low,
                          std::uint8_t high) {
    std::uint64_t halves[2];
    for (; k + 16 <= limit && lanesOutside(bytes + k, low, high, halves); k += 16) {
        if (halves[0] != 0) return k + std::countr_zero(halves[0]) / 8;
        if (halves[1] != 0) return k + 8 + std::countr_zero(halves[1]) / 8;
    }
    for (; k < limit; ++k) {
        if (bytes[k] < low || bytes[k] > high) return k;
    }
    return limit;
}

// The last index below k whose byte lies outside [low, high]; -1 when
// there is none.
std::int32_t lastOutside(const std::uint8_t* bytes, std::int32_t k, std::uint8_t low, std::uint8_t high) {
    std::uint64_t halves[2];
    for (; k >= 16 && lanesOutside(bytes + k - 16, low, high, halves); k -= 16) {
        if (halves[1] != 0) return k - 1 - std::countl_zero(halves[1]) / 8;
        if (halves[0] != 0) return k - 9 - std::countl_zero(halves[0]) / 8;
    }
    while (--k >= 0) {
        if (bytes[k] < low || bytes[k] > high) return k;
    }
    return -1;
}

// The depths of a row: the SeparationRow.
struct SeparationDepths {
    const std::int32_t* separations;
    std::int32_t operator[](std::int32_t i) const { return separations[i]; }
    // The end of the run of equal depths that starts at i.
    std::int32_t runEnd(std::int32_t i, std::int32_t end) const {
        const std::int32_t s = separations[i];
        std::int32_t j = i + 1;
        while (j < end && separations[j] == s) ++j;
        return j;
    }
    // The start of the run of equal depths that ends at i.
    std::int32_t runStart(std::int32_t i) const {
        const std::int32_t s = separations[i];
        std::int32_t j = i;
        while (j > 0 && separations[j - 1] == s) --j;
        return j;
    }
};

// The depths of a row of 8-bit heights straight from the image row and the
// depth table (no SeparationRow: link i is at stored pixel i / scale).
struct HeightDepths {
    const std::uint8_t* stored;
    const DepthTable* table;
    int shift;  // log2 of the scale factor
    std::int32_t operator[](std::int32_t i) const { return table->depths[stored[i >> shift]]; }
    // The end of the run of equal depths that starts at i, found from the
    // stored bytes: a run lasts while they stay in the range of equal depth.
    std::int32_t runEnd(std::int32_t i, std::int32_t end) const {
        const std::uint8_t value = stored[i >> shift];
        const std::int32_t storedEnd = ((end - 1) >> shift) + 1;
        const std::int32_t next =
            firstOutside(stored, (i >> shift) + 1, storedEnd, table->sameFrom[value], table->sameTo[value]);
        return std::min(next << shift, end);
    }
    std::int32_t runStart(std::int32_t i) const {
        const std::uint8_t value = stored[i >> shift];
        return (lastOutside(stored, i >> shift, table->sameFrom[value], table->sameTo[value]) + 1) << shift;
    }
};

// What a pass needs at every pixel.
template <int PixelBytes, typename Depths = SeparationDepths>
struct Pass {
    const RunSettings& settings;
    const RowGeometry& geometry;
    RowWork& work;
    std::uint8_t* row;
    std::uint32_t seed;
    std::int32_t last;  // the row's last pixel, N + P - 1
    Depths sep;

    Pass(const RunSettings& s, const RowGeometry& g, RowWork& w, std::uint32_t passSeed)
        : Pass(s, g, w, passSeed, Depths{separationRow(w)}) {}
    Pass(const RunSettings& s, const RowGeometry& g, RowWork& w, std::uint32_t passSeed, Depths depths)
        : settings(s), geometry(g), work(w), row(w.row), seed(passSeed),
          last(g.scaledInputWidth + g.patternWidth - 1), sep(depths) {}

    // The random-dot fill: a copy of the pixel 1 ... m + 2 pixels away in
    // `direction`, the distance hashed from the pixel's offset at three
    // bytes per pixel and the pass's seed. Sources outside the row use its
    // first or last pixel. With NoRD, the pattern source row's pixel.
    void fill(std::int32_t i, std::int32_t direction) const {
        if (settings.NoRD) {
            copyPatternSourcePixel(settings, geometry, work, row + PixelBytes * static_cast<std::ptrdiff_t>(i),
                                   i / geometry.scale);
            return;
        }
        const std::uint32_t up = 3u * static_cast<std::uint32_t>(i);
        std::uint32_t h = (3u * up + seed) >> 1;
        h *= up;
        const std::int32_t P = geometry.patternWidth;
        const std::uint32_t m = P / 6 > 0 ? static_cast<std::uint32_t>(P / 6) : 1u;
        const std::uint32_t a = h % m;
        const std::uint32_t b = (7u * up + seed) % 3u;
        std::int32_t source = i + direction * static_cast<std::int32_t>(a + b + 1);
        if (source < 0) source = 0;
        if (source > last) source = last;
        copyPixel<PixelBytes>(row, i, source);
    }

    // The loops keep what they read in locals: a byte written to the row
    // may alias anything, which would make every member be read again.
    void leftToRight() const {
        const Depths depths = sep;
        std::uint8_t* const pixels = row;
        const std::int32_t P = geometry.patternWidth;
        const std::int32_t end = geometry.scaledInputWidth;
        std::int32_t lastSource = -1;
        for (std::int32_t i = geometry.stripStart; i < end;) {
            const std::int32_t s = depths[i];
            if (i + s < lastSource || s == -1) {
                fill(i + P, -1);
                ++i;
                continue;
            }
            // Along a run of equal depths every source lies right of the
            // last one, so the whole run is copied.
            const std::int32_t runEnd = depths.runEnd(i, end);
            copyRun<PixelBytes>(pixels, i + P, P - s, runEnd - i);
            lastSource = runEnd - 1 + s;
            i = runEnd;
        }
    }

    void rightToLeft() const {
        const Depths depths = sep;
        std::uint8_t* const pixels = row;
        const std::int32_t P = geometry.patternWidth;
        const std::int32_t lastPixel = last;
        std::int32_t frontier = geometry.stripStart - 1;
        for (std::int32_t i = geometry.stripStart - 1; i >= 0;) {
            const std::int32_t s = depths[i];
            const std::int32_t t = i + s;
            if (t < frontier) {
                // A gap no link reaches: its right end repeats its neighbour,
                // the rest is filled from the right.
                copyPixel<PixelBytes>(pixels, frontier, frontier + 1);
                for (std::int32_t q = frontier - 1; q > t; --q) fill(q, +1);
            }
            // A run of equal depths, leftwards, has targets without gaps.
            const std::int32_t runStart = depths.runStart(i);
            copyRunLeftwards<PixelBytes>(pixels, runStart + s, P - s, i - runStart + 1);
            frontier = runStart + s - 1;
            i = runStart - 1;
        }
        // The pixels left of the last target repeat those one period to their
        // right; running leftwards lets a repeated pixel repeat again. Sources
        // past the row's end (only for rows narrower than a period) use its last pixel.
        std::int32_t x = frontier;
        for (; x >= 0 && x + P > lastPixel; --x) copyPixel<PixelBytes>(pixels, x, lastPixel);
        if (x >= 0) copyRunLeftwards<PixelBytes>(pixels, 0, P, x + 1);
    }
};

template <typename Run>
void withPass(const RunSettings& settings, const RowGeometry& geometry, RowWork& work, std::uint32_t seed,
              Run run) {
    if (geometry.pixelBytes == 1) {
        run(Pass<1>(settings, geometry, work, seed));
    } else {
        run(Pass<3>(settings, geometry, work, seed));
    }
}

}  // namespace

void copyPatternSourcePixel(const RunSettings& settings, const RowGeometry& geometry,
                            const RowWork& work, std::uint8_t* destination, std::int32_t column) {
    const std::int32_t Q = geometry.sourcePeriod;
    const std::uint8_t* source = work.sourceRow;
    if (Q <= 0 || source == nullptr) return;  // no pattern source row: the pixel stays
    std::int32_t k = column % Q;
    if (settings.PNarrow) k = Q - 1 - k;
    // The source row holds three bytes per pixel; a grey row takes the first.
    std::memcpy(destination, source + 3 * k, static_cast<std::size_t>(geometry.pixelBytes));
}

void fillUnlinkedPixel(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                       std::int32_t p, std::uint32_t seed, std::int32_t direction) {
    withPass(settings, geometry, work, seed, [&](const auto& pass) { pass.fill(p / geometry.pixelBytes, direction); });
}

void linkLeftToRight(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed) {
    withPass(settings, geometry, work, seed, [](const auto& pass) { pass.leftToRight(); });
}

void linkRightToLeft(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed) {
    withPass(settings, geometry, work, seed, [](const auto& pass) { pass.rightToLeft(); });
}

bool linksFromHeights(const RunSettings& settings, PixelKind kind, const DepthTable& table) {
    return kind == PixelKind::kGrey8 && !settings.Hidden && table.depths.size() == 256 &&
           table.sameFrom.size() == 256;
}

bool linkRowFromHeights(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                        const std::uint8_t* stored, const DepthTable& table) {
    if (!linksFromHeights(settings, PixelKind::kGrey8, table)) return false;
    const int shift = geometry.scale == 4 ? 2 : geometry.scale == 2 ? 1 : 0;
    const HeightDepths depths{stored, &table, shift};
    const auto run = [&](const auto& pass) {
        if (settings.PPos <= 2) pass.leftToRight();
    };
    const auto runBack = [&](const auto& pass) {
        if (settings.PPos >= 2) pass.rightToLeft();
    };
    if (geometry.pixelBytes == 1) {
        run(Pass<1, HeightDepths>(settings, geometry, work, work.seeds[0], depths));
        runBack(Pass<1, HeightDepths>(settings, geometry, work, work.seeds[1], depths));
    } else {
        run(Pass<3, HeightDepths>(settings, geometry, work, work.seeds[0], depths));
        runBack(Pass<3, HeightDepths>(settings, geometry, work, work.seeds[1], depths));
    }
    return true;
}

void linkRow(const RunSettings& settings, const RowGeometry& geometry, RowWork& work) {
    if (settings.Hidden) removeHiddenLinks(geometry, work);
    if (settings.PPos <= 2) linkLeftToRight(settings, geometry, work, work.seeds[0]);
    if (settings.PPos >= 2) linkRightToLeft(settings, geometry, work, work.seeds[1]);
}

}  // namespace rdsgen
