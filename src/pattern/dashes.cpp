// Moving dashes: 70 short horizontal dashes over the row's background colour
// that drift, age, die and are reborn from row to row.
#include <cmath>

#include "pattern/pattern.h"

namespace rdsgen {

namespace {

// Dash state layout: dash i at element 3i: x, kind + 5 * age, step.
constexpr std::int32_t kDashCount = 70;
constexpr std::int32_t kMaxAge = 20;

enum DashKind { kBlack = 0, kWhite = 1, kDark = 2, kLight = 3, kBase = 4 };

struct Dash {
    std::int32_t& x;
    std::int32_t& kindAge;
    std::int32_t& step;
};

Dash dashAt(PatternState& state, std::int32_t index) {
    std::int32_t* d = state.values + 3 * index;
    return Dash{d[0], d[1], d[2]};
}

// Sizes derived from the width on every call.
struct DashSizes {
    std::int32_t length;  // L
    std::int32_t h;       // H
    std::int32_t s;       // step size
};

DashSizes dashSizes(std::int32_t w) {
    DashSizes sizes{};
    sizes.length = static_cast<std::int32_t>((static_cast<std::int64_t>(w) + 20) / 66);
    if (sizes.length < 1) sizes.length = 1;
    sizes.h = sizes.length / 2 + sizes.length % 2;  // (L + 1) / 2 without overflow
    if (sizes.h < 1) sizes.h = 1;
    sizes.s = static_cast<std::int32_t>(std::sqrt(sizes.length / 2.0) + 0.5);
    if (sizes.s < 1) sizes.s = 1;
    return sizes;
}

// Kind colours for the row, blue, green, red bytes.
struct KindColours {
    std::uint8_t bgr[5][3];
};

void setKind(KindColours& colours, int kind, std::int32_t red, std::int32_t green,
             std::int32_t blue) {
    colours.bgr[kind][0] = static_cast<std::uint8_t>(blue);
    colours.bgr[kind][1] = static_cast<std::uint8_t>(green);
    colours.bgr[kind][2] = static_cast<std::uint8_t>(red);
}

KindColours kindColours(const Colour& background) {
    KindColours colours{};
    std::int32_t red = background.red;
    std::int32_t green = background.green;
    std::int32_t blue = background.blue;
    setKind(colours, kBlack, 0, 0, 0);
    setKind(colours, kWhite, 255, 255, 255);
    setKind(colours, kDark, red / 2, green / 2, blue / 2);
    setKind(colours, kLight, (red + 255) / 2, (green + 255) / 2, (blue + 255) / 2);
    setKind(colours, kBase, red, green, blue);
    return colours;
}

std::int32_t kindDraw(Random& random) {
    std::int32_t k = random.next() % 7;
    return k == 5 ? kBlack : (k == 6 ? kWhite : k);
}

std::int32_t stepDraw(Random& random, std::int32_t s) { return (random.next() % 3) * s - s; }

void initialiseDashes(Random& random, std::int32_t w, std::int32_t s, PatternState& state) {
    for (std::int32_t i = 0; i < kDashCount; ++i) {
        Dash dash = dashAt(state, i);
        dash.x = random.next() % w;
        dash.kindAge = kindDraw(random);
        dash.step = stepDraw(random, s);
    }
}

void putBytes(std::uint8_t* pixels, std::int64_t x, const std::uint8_t* bgr) {
    std::uint8_t* pixel = pixels + 3 * x;
    pixel[0] = bgr[0];
    pixel[1] = bgr[1];
    pixel[2] = bgr[2];
}

// Paints the dash's length pixels from x on, wrapped into the period.
void paintDash(std::uint8_t* pixels, std::int32_t w, std::int32_t x, std::int32_t length,
               const std::uint8_t* bgr) {
    std::int64_t first = x % w;
    if (first < 0) first += w;
    for (std::int32_t j = 0; j < length; ++j) putBytes(pixels, (first + j) % w, bgr);
}

// Survival test, then either the move or the rebirth of one dash.
void ageDash(Random& random, PatternState& state, Dash dash, std::int32_t w, const DashSizes& sizes) {
    std::int32_t age = dash.kindAge / 5;
    std::int32_t r = random.next();
    bool young = age <= static_cast<std::int64_t>(sizes.length) * sizes.h;
    if (age <= kMaxAge && (r % 4 != 0 || young)) {
        if (9 % sizes.h == 0) dash.step = stepDraw(random, sizes.s);
        dash.kindAge += 5;
        dash.x += dash.step;
        return;
    }
    if (random.next() % (4 * sizes.s) != 0) {
        Dash model = dashAt(state, random.next() % kDashCount);
        std::int32_t x = model.x;
        std::int32_t kind = model.kindAge % 5;
        std::int32_t step = model.step;
        dash.x = x;
        dash.kindAge = kind;
        dash.step = step;
    } else {
        dash.x = random.next() % w;
        dash.kindAge = kindDraw(random);
    }
}

}  // namespace

void drawDashes(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
                PatternState& state) {
    if (w <= 0) return;
    DashSizes sizes = dashSizes(w);
    if (row == 0) initialiseDashes(context.random, w, sizes.s, state);
    KindColours colours = kindColours(context.colours.background);
    for (std::int32_t x = 0; x < w; ++x) putBytes(pixels, x, colours.bgr[kBase]);
    for (std::int32_t i = 0; i < kDashCount; ++i) {
        Dash dash = dashAt(state, i);
        std::int32_t kind = dash.kindAge % 5;
        if (kind < 0) kind += 5;  // only a record never initialised holds negatives
        paintDash(pixels, w, dash.x, sizes.length, colours.bgr[kind]);
        ageDash(context.random, state, dash, w, sizes);
    }
}

}  // namespace rdsgen
