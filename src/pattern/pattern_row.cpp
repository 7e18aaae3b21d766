// The pattern row dispatch and the three generators without colours:
// black-and-white dots, vertical stripes and five-colour dots.
#include <algorithm>
#include <cmath>

#include "pattern/pattern.h"

namespace rdsgen {

namespace {

// Stripe state layout: element 0 the stripe width, element 1 the slot end n,
// elements 2 to n - 1 the start pixel of each stripe.
constexpr int kStripeWidth = 0;
constexpr int kSlotEnd = 1;
constexpr std::int32_t kFirstStripe = 2;
constexpr std::int32_t kMaxSlotEnd = 218;

void putRgb(std::uint8_t* pixels, std::int32_t x, std::uint8_t red, std::uint8_t green,
            std::uint8_t blue) {
    std::uint8_t* pixel = pixels + 3 * static_cast<std::ptrdiff_t>(x);
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
}

void putGrey(std::uint8_t* pixels, std::int32_t x, std::uint8_t value) {
    putRgb(pixels, x, value, value, value);
}

// n = integer part of (d^1.5 / 4.32 + 2.5) with d = Dens * 42 / 100; no
// stripes for Dens 0 or less; capped at 218 before any conversion to int.
std::int32_t stripeSlotEnd(std::int32_t dens) {
    double d = static_cast<double>(dens) * 42.0 / 100.0;
    if (!(d > 0.0)) return kFirstStripe;
    double n = std::pow(d, 1.5) / 4.32 + 2.5;
    if (n >= kMaxSlotEnd) return kMaxSlotEnd;
    return static_cast<std::int32_t>(n);
}

void initialiseStripes(PatternContext& context, std::int32_t w, PatternState& state) {
    auto a = static_cast<std::int32_t>((static_cast<std::int64_t>(w) + 15) / 30);
    std::int32_t n = stripeSlotEnd(context.settings.Dens);
    std::int32_t m = w - a + 1;
    state.values[kStripeWidth] = a;
    state.values[kSlotEnd] = n;
    for (std::int32_t j = kFirstStripe; j < n; ++j) state.values[j] = context.random.next() % m;
}

// True when some stripe covers pixel x.
bool stripeCovers(const PatternState& state, std::int32_t n, std::int32_t x) {
    std::int32_t a = state.values[kStripeWidth];
    for (std::int32_t j = kFirstStripe; j < n; ++j) {
        std::int32_t start = state.values[j];
        if (start <= x && x - start < a) return true;
    }
    return false;
}

void callGenerator(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
                   PatternState& state) {
    switch (context.settings.PatT) {
        case 1: drawBlackWhiteDots(context, pixels, w); break;
        case 2: drawStripes(context, pixels, w, row, state); break;
        case 3: drawDashes(context, pixels, w, row, state); break;
        case 4: drawFiveColourDots(context, pixels, w); break;
        case 5: drawGradientDots(context, pixels, w); break;
        case 6: drawDiscs(context, pixels, w, row, state, true); break;
        case 7: drawDiscs(context, pixels, w, row, state, false); break;
        default: break;
    }
}

}  // namespace

void makePatternRow(PatternContext& context, const RowGeometry& geometry, const Image* patternImage,
                    std::uint8_t* strip, std::uint8_t* patternSourceRow, PatternState& stripState,
                    PatternState& sourceState, std::int32_t row) {
    const RunSettings& settings = context.settings;
    std::int32_t type = settings.PatT;
    if (type == 0) {
        if (patternImage != nullptr) {
            stretchPatternImageRow(settings, geometry.inputHeight, *patternImage, strip,
                                   patternSourceRow, row);
        }
        return;
    }
    if (patternType(type) == nullptr) return;
    if (type == 3 || type >= 5) context.colours = rowColours(settings, geometry.inputHeight, row);
    callGenerator(context, strip, settings.PSiz, row, stripState);
    if (settings.NoRD && patternSourceRow != nullptr) {
        callGenerator(context, patternSourceRow, geometry.sourcePeriod, row, sourceState);
    }
}

void drawBlackWhiteDots(PatternContext& context, std::uint8_t* pixels, std::int32_t w) {
    const std::int32_t dens = context.settings.Dens;
    // A local generator: the pixels written cannot alias it, so its state
    // stays in registers instead of going through memory at every draw.
    Random random = context.random;
    for (std::int32_t x = 0; x < w; ++x) {
        // 0 or 255 without a branch: the choice is random, so a branch would
        // be mispredicted about every other pixel.
        const auto grey = static_cast<std::uint8_t>((random.next() % 100 < dens) - 1);
        putGrey(pixels, x, grey);
    }
    context.random = random;
}

void drawStripes(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
                 PatternState& state) {
    if (w <= 0) return;
    if (row == 0) initialiseStripes(context, w, state);
    // Kept in range so that a record never initialised cannot index outside itself.
    std::int32_t n = std::clamp(state.values[kSlotEnd], kFirstStripe, kMaxSlotEnd);
    std::int32_t m = w - std::clamp(state.values[kStripeWidth], 0, w) + 1;
    for (std::int32_t i = kFirstStripe; i < n / 4; ++i) {
        std::int32_t r1 = context.random.next();
        std::int32_t r2 = context.random.next();
        state.values[kFirstStripe + r1 % (n - kFirstStripe)] = r2 % m;
    }
    for (std::int32_t x = 0; x < w; ++x) putGrey(pixels, x, stripeCovers(state, n, x) ? 0 : 255);
}

void drawFiveColourDots(PatternContext& context, std::uint8_t* pixels, std::int32_t w) {
    // black, yellow, magenta, cyan, white as red, green, blue
    static constexpr std::uint8_t kColours[5][3] = {
        {0, 0, 0}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    Random random = context.random;  // kept in registers, as for the black and white dots
    for (std::int32_t x = 0; x < w; ++x) {
        const std::uint8_t* c = kColours[random.next() % 5];
        putRgb(pixels, x, c[0], c[1], c[2]);
    }
    context.random = random;
}

}  // namespace rdsgen
