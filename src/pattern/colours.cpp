// Row colours and the coloured generators: gradient dots, hard and soft discs.
#include <cmath>
#include <cstdlib>

#include "pattern/pattern.h"

Colour RowF;
Colour RowB;

namespace {

// Disc state layout: element 0 the radius R, element 1 the number of discs D,
// then D discs of three elements from element 2 on: centre x, centre row y, kind.
constexpr int kRadius = 0;
constexpr int kDiscCount = 1;
constexpr int kFirstDisc = 2;
constexpr std::int32_t kMaxDiscs = 69;

enum DiscKind { kWhite = 0, kBlack = 1, kForeground = 2, kNoDisc = -1 };

struct Disc {
    std::int32_t& x;
    std::int32_t& y;
    std::int32_t& kind;
};

Disc discAt(PatternState& state, std::int32_t index) {
    std::int32_t* d = state.values + kFirstDisc + 3 * index;
    return Disc{d[0], d[1], d[2]};
}

// A colour's components as red, green, blue integers.
struct Rgb {
    std::int32_t c[3];
};

Rgb toRgb(const Colour& colour) { return Rgb{{colour.red, colour.green, colour.blue}}; }

Rgb kindColour(std::int32_t kind) {
    if (kind == kWhite) return Rgb{{255, 255, 255}};
    if (kind == kBlack) return Rgb{{0, 0, 0}};
    if (kind == kForeground) return toRgb(RowF);
    return toRgb(RowB);
}

// Stores the low 8 bits of each component, blue first.
void putColour(std::uint8_t* pixels, std::int32_t x, const Rgb& colour) {
    std::uint8_t* pixel = pixels + 3 * static_cast<std::ptrdiff_t>(x);
    pixel[0] = static_cast<std::uint8_t>(colour.c[2]);
    pixel[1] = static_cast<std::uint8_t>(colour.c[1]);
    pixel[2] = static_cast<std::uint8_t>(colour.c[0]);
}

std::int16_t blend(std::int16_t top, std::int16_t difference, std::int32_t t) {
    // Wraps to 16 bits as every colour component does.
    return static_cast<std::int16_t>(top + (t * difference + 50) / 100);
}

std::int32_t kindDraw(bool hard) {
    std::int32_t k = std::rand() % (hard ? 4 : 6);
    return k > 2 ? 2 : k;
}

// Radius, at least 1 so that narrow periods still get (tiny) discs.
std::int32_t discRadius(std::int32_t w, bool hard) {
    std::int64_t r = hard ? w / 20 : (3 * static_cast<std::int64_t>(w)) / 11;
    return r < 1 ? 1 : static_cast<std::int32_t>(r);
}

std::int32_t discCount(bool hard) {
    std::int64_t dens = settings.Dens;
    std::int64_t e = hard ? dens - 1 : (95 * dens + 50) / 100 - 1;
    if (e > 3 * kMaxDiscs + 2) e = 3 * kMaxDiscs + 2;
    return e >= 1 ? static_cast<std::int32_t>((e - 1) / 3) : 0;
}

void initialiseDiscs(std::int32_t w, bool hard, PatternState& state) {
    std::int32_t radius = discRadius(w, hard);
    std::int32_t count = discCount(hard);
    state.values[kRadius] = radius;
    state.values[kDiscCount] = count;
    for (std::int32_t i = 0; i < count; ++i) {
        Disc disc = discAt(state, i);
        disc.x = std::rand() % w;
        disc.kind = kindDraw(hard);
        disc.y = std::rand() % (2 * radius) - radius;
    }
}

// Calls visit(dx) for each horizontal place at which the disc centred at cx
// is seen from pixel x of the wrapping period, within R of the centre.
template <typename Visit>
void forEachPlace(std::int32_t x, std::int32_t cx, std::int32_t w, std::int32_t radius,
                  Visit visit) {
    std::int64_t places[3];
    int count = 0;
    if (x < radius) places[count++] = static_cast<std::int64_t>(w) + x;
    if (std::llabs(static_cast<std::int64_t>(x) - cx) <= radius) places[count++] = x;
    if (x > static_cast<std::int64_t>(w) - radius) {
        places[count++] = static_cast<std::int64_t>(x) - w;
    }
    for (int i = 0; i < count; ++i) {
        std::int64_t dx = places[i] - cx;
        if (std::llabs(dx) <= radius) visit(dx);
    }
}

Rgb hardDiscPixel(PatternState& state, std::int32_t x, std::int32_t w, std::int32_t row) {
    std::int32_t radius = state.values[kRadius];
    std::int64_t radiusSquared = static_cast<std::int64_t>(radius) * radius;
    std::int32_t kind = kNoDisc;
    for (std::int32_t i = 0; i < state.values[kDiscCount]; ++i) {
        Disc disc = discAt(state, i);
        std::int64_t dy = static_cast<std::int64_t>(row) - disc.y;
        forEachPlace(x, disc.x, w, radius, [&](std::int64_t dx) {
            if (dx * dx + dy * dy <= radiusSquared) kind = disc.kind;
        });
    }
    return kindColour(kind);
}

Rgb softDiscPixel(PatternState& state, std::int32_t x, std::int32_t w, std::int32_t row) {
    std::int32_t radius = state.values[kRadius];
    Rgb a = toRgb(RowB);
    for (std::int32_t i = 0; i < state.values[kDiscCount]; ++i) {
        Disc disc = discAt(state, i);
        double dy = static_cast<double>(row) - disc.y;
        Rgb c = kindColour(disc.kind);
        forEachPlace(x, disc.x, w, radius, [&](std::int64_t dx) {
            double e = std::sqrt(static_cast<double>(dx) * dx + dy * dy) / radius;
            if (e > 1.0) return;
            double g = (1.0 - e) * (1.0 - e);
            for (int k = 0; k < 3; ++k) {
                a.c[k] = static_cast<std::int32_t>(a.c[k] * (1.0 - g) + c.c[k] * g);
            }
        });
    }
    return a;
}

// Renews, below the current row, every disc the row has left behind.
void renewDiscs(PatternState& state, std::int32_t w, std::int32_t row, bool hard) {
    std::int32_t radius = state.values[kRadius];
    for (std::int32_t i = 0; i < state.values[kDiscCount]; ++i) {
        Disc disc = discAt(state, i);
        if (static_cast<std::int64_t>(row) - disc.y < radius) continue;
        disc.x = std::rand() % w;
        disc.y = row + radius;
        disc.kind = kindDraw(hard);
    }
}

}  // namespace

void updateRowColours(std::int32_t row) {
    std::int32_t height = inputHeight();
    std::int64_t t64 = height > 0 ? static_cast<std::int64_t>(row) * 100 / height : 0;
    // t stays within 0 to 100 even for a row index outside the image.
    auto t = static_cast<std::int32_t>(t64 < 0 ? 0 : (t64 > 100 ? 100 : t64));
    RowF.red = blend(settings.TopF.red, settings.DiffF.red, t);
    RowF.green = blend(settings.TopF.green, settings.DiffF.green, t);
    RowF.blue = blend(settings.TopF.blue, settings.DiffF.blue, t);
    RowB.red = blend(settings.TopB.red, settings.DiffB.red, t);
    RowB.green = blend(settings.TopB.green, settings.DiffB.green, t);
    RowB.blue = blend(settings.TopB.blue, settings.DiffB.blue, t);
}

void drawGradientDots(std::uint8_t* pixels, std::int32_t w) {
    for (std::int32_t x = 0; x < w; ++x) {
        std::int32_t m = std::rand() % 4;
        if (m == 1) {
            putColour(pixels, x, toRgb(RowF));
        } else if (m >= 2) {
            putColour(pixels, x, toRgb(RowB));
        } else {
            putColour(pixels, x, kindColour(std::rand() % 100 < settings.Dens ? kWhite : kBlack));
        }
    }
}

void drawDiscs(std::uint8_t* pixels, std::int32_t w, std::int32_t row, PatternState& state,
               bool hard) {
    if (w <= 0) return;
    if (row == 0) initialiseDiscs(w, hard, state);
    // Kept in range so that a record never initialised cannot index outside itself.
    if (state.values[kDiscCount] < 0 || state.values[kDiscCount] > kMaxDiscs) {
        state.values[kDiscCount] = 0;
    }
    if (state.values[kRadius] < 1) state.values[kRadius] = 1;
    for (std::int32_t x = 0; x < w; ++x) {
        putColour(pixels, x,
                  hard ? hardDiscPixel(state, x, w, row) : softDiscPixel(state, x, w, row));
    }
    renewDiscs(state, w, row, hard);
}
