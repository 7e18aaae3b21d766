// Row linking: the pattern strip is propagated along each row's links, and
// pixels no usable link reaches are filled from their neighbourhood or from
// the pattern source row. The passes work on pixel indices, for rows of one
// byte (grey) or three bytes (blue, green, red) per pixel.
#include <cstdint>
#include <cstring>

#include "stereo/stereo.h"

namespace rdsgen {

namespace {

template <int N>
inline void copyPixel(std::uint8_t* row, std::int32_t target, std::int32_t source) {
    std::uint8_t* to = row + N * static_cast<std::ptrdiff_t>(target);
    const std::uint8_t* from = row + N * static_cast<std::ptrdiff_t>(source);
    for (int k = 0; k < N; ++k) to[k] = from[k];
}

// The depths of a row: the SeparationRow.
struct SeparationDepths {
    const std::int32_t* separations;
    std::int32_t operator[](std::int32_t i) const { return separations[i]; }
};

// The depths of a row of 8-bit heights straight from the image row and the
// depth table (no SeparationRow: link i is at stored pixel i / scale).
struct HeightDepths {
    const std::uint8_t* stored;
    const std::int32_t* table;
    int shift;  // log2 of the scale factor
    std::int32_t operator[](std::int32_t i) const { return table[stored[i >> shift]]; }
};

// What a pass needs at every pixel.
template <int N, typename Depths = SeparationDepths>
struct Pass {
    const Settings& settings;
    const RowGeometry& geometry;
    RowWork& work;
    std::uint8_t* row;
    std::uint32_t seed;
    std::int32_t last;  // the row's last pixel, N + P - 1
    Depths sep;

    Pass(const Settings& s, const RowGeometry& g, RowWork& w, std::uint32_t passSeed)
        : Pass(s, g, w, passSeed, Depths{separationRow(w)}) {}
    Pass(const Settings& s, const RowGeometry& g, RowWork& w, std::uint32_t passSeed, Depths depths)
        : settings(s), geometry(g), work(w), row(w.row.get()), seed(passSeed),
          last(g.scaledInputWidth + g.patternWidth - 1), sep(depths) {}

    // The random-dot fill: a copy of the pixel 1 ... m + 2 pixels away in
    // `direction`, the distance hashed from the pixel's offset at three
    // bytes per pixel and the pass's seed. Sources outside the row use its
    // first or last pixel. With NoRD, the pattern source row's pixel.
    void fill(std::int32_t i, std::int32_t direction) const {
        if (settings.NoRD) {
            copyPatternSourcePixel(settings, geometry, work, row + N * static_cast<std::ptrdiff_t>(i),
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
        copyPixel<N>(row, i, source);
    }

    // The loops keep what they read in locals: a byte written to the row
    // may alias anything, which would make every member be read again.
    void leftToRight() const {
        const Depths depths = sep;
        std::uint8_t* const pixels = row;
        const std::int32_t P = geometry.patternWidth;
        const std::int32_t end = geometry.scaledInputWidth;
        std::int32_t lastSource = -1;
        for (std::int32_t i = geometry.stripStart; i < end; ++i) {
            const std::int32_t s = depths[i];
            const std::int32_t t = i + P;
            const std::int32_t u = i + s;
            if (u < lastSource || s == -1) {
                fill(t, -1);
            } else {
                copyPixel<N>(pixels, t, u);
                lastSource = u;
            }
        }
    }

    void rightToLeft() const {
        const Depths depths = sep;
        std::uint8_t* const pixels = row;
        const std::int32_t P = geometry.patternWidth;
        const std::int32_t lastPixel = last;
        std::int32_t frontier = geometry.stripStart - 1;
        for (std::int32_t i = geometry.stripStart - 1; i >= 0; --i) {
            const std::int32_t u = i + P;
            const std::int32_t t = i + depths[i];
            if (t < frontier) {
                // A gap no link reaches: its right end repeats its neighbour,
                // the rest is filled from the right.
                copyPixel<N>(pixels, frontier, frontier + 1);
                for (std::int32_t q = frontier - 1; q > t; --q) fill(q, +1);
            }
            copyPixel<N>(pixels, t, u);
            frontier = t - 1;
        }
        // The pixels left of the last target repeat those one period to their
        // right; running leftwards lets a repeated pixel repeat again. Sources
        // past the row's end (only for rows narrower than a period) use its last pixel.
        for (std::int32_t x = frontier; x >= 0; --x) {
            const std::int32_t source = x + P;
            copyPixel<N>(pixels, x, source > lastPixel ? lastPixel : source);
        }
    }
};

template <typename Run>
void withPass(const Settings& settings, const RowGeometry& geometry, RowWork& work, std::uint32_t seed,
              Run run) {
    if (geometry.pixelBytes == 1) {
        run(Pass<1>(settings, geometry, work, seed));
    } else {
        run(Pass<3>(settings, geometry, work, seed));
    }
}

}  // namespace

void copyPatternSourcePixel(const Settings& settings, const RowGeometry& geometry,
                            const RowWork& work, std::uint8_t* destination, std::int32_t column) {
    const std::int32_t Q = geometry.sourcePeriod;
    const std::uint8_t* source = work.sourceRow.get();
    if (Q <= 0 || source == nullptr) return;  // no pattern source row: the pixel stays
    std::int32_t k = column % Q;
    if (settings.PNarrow) k = Q - 1 - k;
    // The source row holds three bytes per pixel; a grey row takes the first.
    std::memcpy(destination, source + 3 * k, static_cast<std::size_t>(geometry.pixelBytes));
}

void fillUnlinkedPixel(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                       std::int32_t p, std::uint32_t seed, std::int32_t direction) {
    withPass(settings, geometry, work, seed, [&](const auto& pass) { pass.fill(p / geometry.pixelBytes, direction); });
}

void linkLeftToRight(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed) {
    withPass(settings, geometry, work, seed, [](const auto& pass) { pass.leftToRight(); });
}

void linkRightToLeft(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed) {
    withPass(settings, geometry, work, seed, [](const auto& pass) { pass.rightToLeft(); });
}

bool linkRowFromHeights(const Settings& settings, const RowGeometry& geometry, RowWork& work,
                        const std::uint8_t* stored, const std::int32_t* table) {
    if (settings.Hidden || table == nullptr) return false;
    const int shift = geometry.scale == 4 ? 2 : geometry.scale == 2 ? 1 : 0;
    const HeightDepths depths{stored, table, shift};
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

void linkRow(const Settings& settings, const RowGeometry& geometry, RowWork& work) {
    if (settings.Hidden) removeHiddenLinks(geometry, work);
    if (settings.PPos <= 2) linkLeftToRight(settings, geometry, work, work.seeds[0]);
    if (settings.PPos >= 2) linkRightToLeft(settings, geometry, work, work.seeds[1]);
}

}  // namespace rdsgen
