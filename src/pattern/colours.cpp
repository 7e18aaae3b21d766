// Row colours and the coloured generators: gradient dots, hard and soft discs.
#include <cmath>
#include <cstdlib>

#include "pattern/pattern.h"

namespace rdsgen {

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

Rgb kindColour(const RowColours& colours, std::int32_t kind) {
    if (kind == kWhite) return Rgb{{255, 255, 255}};
    if (kind == kBlack) return Rgb{{0, 0, 0}};
    if (kind == kForeground) return toRgb(colours.foreground);
    return toRgb(colours.background);
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

std::int32_t kindDraw(Random& random, bool hard) {
    std::int32_t k = random.next() % (hard ? 4 : 6);
    return k > 2 ? 2 : k;
}

// Radius, at least 1 so that narrow periods still get (tiny) discs.
std::int32_t discRadius(std::int32_t w, bool hard) {
    std::int64_t r = hard ? w / 20 : (3 * static_cast<std::int64_t>(w)) / 11;
    return r < 1 ? 1 : static_cast<std::int32_t>(r);
}

std::int32_t discCount(std::int32_t density, bool hard) {
    std::int64_t dens = density;
    std::int64_t e = hard ? dens - 1 : (95 * dens + 50) / 100 - 1;
    if (e > 3 * kMaxDiscs + 2) e = 3 * kMaxDiscs + 2;
    return e >= 1 ? static_cast<std::int32_t>((e - 1) / 3) : 0;
}

void initialiseDiscs(PatternContext& context, std::int32_t w, bool hard, PatternState& state) {
    Random& random = context.random;
    std::int32_t radius = discRadius(w, hard);
    std::int32_t count = discCount(context.settings.Dens, hard);
    state.values[kRadius] = radius;
    state.values[kDiscCount] = count;
    for (std::int32_t i = 0; i < count; ++i) {
        Disc disc = discAt(state, i);
        disc.x = random.next() % w;
        disc.kind = kindDraw(random, hard);
        disc.y = random.next() % (2 * radius) - radius;
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

Rgb hardDiscPixel(const RowColours& colours, PatternState& state, std::int32_t x, std::int32_t w,
                  std::int32_t row) {
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
    return kindColour(colours, kind);
}

Rgb softDiscPixel(const RowColours& colours, PatternState& state, std::int32_t x, std::int32_t w,
                  std::int32_t row) {
    std::int32_t radius = state.values[kRadius];
    Rgb a = toRgb(colours.background);
    for (std::int32_t i = 0; i < state.values[kDiscCount]; ++i) {
        Disc disc = discAt(state, i);
        double dy = static_cast<double>(row) - disc.y;
        Rgb c = kindColour(colours, disc.kind);
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
void renewDiscs(Random& random, PatternState& state, std::int32_t w, std::int32_t row, bool hard) {
    std::int32_t radius = state.values[kRadius];
    for (std::int32_t i = 0; i < state.values[kDiscCount]; ++i) {
        Disc disc = discAt(state, i);
        if (static_cast<std::int64_t>(row) - disc.y < radius) continue;
        disc.x = random.next() % w;
        disc.y = row + radius;
        disc.kind = kindDraw(random, hard);
    }
}

}  // namespace

RowColours rowColours(const RunSettings& settings, std::int32_t inputHeight, std::int32_t row) {
    std::int64_t t64 = inputHeight > 0 ? static_cast<std::int64_t>(row) * 100 / inputHeight : 0;
    // t stays within 0 to 100 even for a row index outside the image.
    auto t = static_cast<std::int32_t>(t64 < 0 ? 0 : (t64 > 100 ? 100 : t64));
    RowColours colours;
    colours.foreground.red = blend(settings.TopF.red, settings.DiffF.red, t);
    colours.foreground.green = blend(settings.TopF.green, settings.DiffF.green, t);
    colours.foreground.blue = blend(settings.TopF.blue, settings.DiffF.blue, t);
    colours.background.red = blend(settings.TopB.red, settings.DiffB.red, t);
    colours.background.green = blend(settings.TopB.green, settings.DiffB.green, t);
    colours.background.blue = blend(settings.TopB.blue, settings.DiffB.blue, t);
    return colours;
}

void drawGradientDots(PatternContext& context, std::uint8_t* pixels, std::int32_t w) {
    const RowColours& colours = context.colours;
    Random random = context.random;  // kept in registers, as for the black and white dots
    for (std::int32_t x = 0; x < w; ++x) {
        std::int32_t m = random.next() % 4;
        if (m == 1) {
            putColour(pixels, x, toRgb(colours.foreground));
        } else if (m >= 2) {
            putColour(pixels, x, toRgb(colours.background));
        } else {
            const bool white = random.next() % 100 < context.settings.Dens;
            putColour(pixels, x, kindColour(colours, white ? kWhite : kBlack));
        }
    }
    context.random = random;
}

void drawDiscs(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
               PatternState& state, bool hard) {
    if (w <= 0) return;
    if (row == 0) initialiseDiscs(context, w, hard, state);
    // Kept in range so that a record never initialised cannot index outside itself.
    if (state.values[kDiscCount] < 0 || state.values[kDiscCount] > kMaxDiscs) {
        state.values[kDiscCount] = 0;
    }
    if (state.values[kRadius] < 1) state.values[kRadius] = 1;
    for (std::int32_t x = 0; x < w; ++x) {
        putColour(pixels, x, hard ? hardDiscPixel(context.colours, state, x, w, row)
                                  : softDiscPixel(context.colours, state, x, w, row));
    }
    renewDiscs(context.random, state, w, row, hard);
}

}  // namespace rdsgen
