// Black-and-white dots, stripes, five-colour dots, gradient dots, row colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "pattern/pattern.h"
#include "pattern/pattern_test_support.h"
#include "support/test_support.h"

namespace {

struct StripeCase {
    int dens, w, a, n, drawsRow0, drawsRow1;
};

TEST(Stripes, WidthSlotsAndDrawsFollowDensAndWidth) {
    const StripeCase cases[] = {
        {45, 68, 2, 21, 19 + 2 * 3, 6},    {45, 85, 3, 21, 19 + 2 * 3, 6},
        {5, 68, 2, 3, 1, 0},               {100, 68, 2, 65, 63 + 2 * 14, 28},
        {228, 68, 2, 218, 216 + 2 * 52, 104}, {INT_MAX, 68, 2, 218, 216 + 2 * 52, 104},
        {0, 68, 2, 2, 0, 0},               {INT_MIN, 68, 2, 2, 0, 0},
        {45, 14, 0, 21, 19 + 2 * 3, 6},    {45, 1, 0, 21, 19 + 2 * 3, 6},
    };
    for (const StripeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "Dens " << c.dens << " w " << c.w);
        resetRunState();
        settings.Dens = c.dens;
        PatternState state{};
        Pixels pixels(3 * c.w + 3, 7);
        EXPECT_EQ(countDraws([&] { drawStripes(pixels.data(), c.w, 0, state); }), c.drawsRow0);
        EXPECT_EQ(state.values[0], c.a);
        EXPECT_EQ(state.values[1], c.n);
        for (int j = 2; j < c.n; ++j) EXPECT_LE(state.values[j], c.w - c.a);
        EXPECT_EQ(countDraws([&] { drawStripes(pixels.data(), c.w, 1, state); }), c.drawsRow1);
        EXPECT_EQ(pixels[3 * c.w], 7);  // nothing written past the period
        if (c.a == 0) {
            EXPECT_EQ(Pixels(pixels.begin(), pixels.end() - 3), Pixels(3 * c.w, 255));
        }
    }
}

TEST(Stripes, OneStripeIsABlackBarOfStripeWidth) {
    resetRunState();
    settings.Dens = 5;
    PatternState state{};
    Pixels pixels(3 * 90);
    drawStripes(pixels.data(), 90, 0, state);
    for (int x = 0; x < 90; ++x) {
        bool inside = x >= state.values[2] && x < state.values[2] + 3;
        EXPECT_EQ(rgb(pixels, x), (std::array<int, 3>{inside ? 0 : 255, inside ? 0 : 255,
                                                      inside ? 0 : 255}));
    }
}

TEST(Dots, ColoursAndDrawsPerPixel) {
    resetRunState();
    const int w = 200;
    Pixels pixels(3 * w);
    auto is = [&](int x, const std::array<int, 3>& colour) { return rgb(pixels, x) == colour; };
    const std::array<int, 3> black{0, 0, 0}, white{255, 255, 255};

    settings.Dens = 0;
    EXPECT_EQ(countDraws([&] { drawBlackWhiteDots(pixels.data(), w); }), w);
    for (int x = 0; x < w; ++x) EXPECT_TRUE(is(x, white));
    settings.Dens = 100;
    drawBlackWhiteDots(pixels.data(), w);
    for (int x = 0; x < w; ++x) EXPECT_TRUE(is(x, black));

    EXPECT_EQ(countDraws([&] { drawFiveColourDots(pixels.data(), w); }), w);
    const std::array<int, 3> five[] = {black, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}, white};
    for (int x = 0; x < w; ++x) EXPECT_TRUE(std::find(std::begin(five), std::end(five),
                                                      rgb(pixels, x)) != std::end(five));

    // Gradient dots: black or white pixels cost a second draw; Dens decides which.
    RowF = Colour{255, 248, 0};
    RowB = Colour{90, 60, 255};
    for (int dens : {0, 100}) {
        settings.Dens = dens;
        int draws = countDraws([&] { drawGradientDots(pixels.data(), w); });
        int extra = 0;
        for (int x = 0; x < w; ++x) {
            EXPECT_FALSE(is(x, dens == 0 ? white : black));
            extra += is(x, black) || is(x, white);
        }
        EXPECT_GT(extra, 0);
        EXPECT_EQ(draws, w + extra);
    }
}

struct ColourCase {
    int height, row, top, difference, expected;
};

TEST(RowColours, GradientPositionTruncates) {
    const ColourCase cases[] = {
        {100, 50, 0, 255, 128}, {100, 99, 0, 255, 252}, {100, 99, 255, -255, 4},
        {1, 0, 10, 200, 10},    {2, 1, 0, 200, 100},    {100, 1, 0, -149, 0},
        {100, 0, 300, 0, 300},
    };
    for (const ColourCase& c : cases) {
        resetRunState();
        run.heightImage.height = c.height;
        auto s = static_cast<std::int16_t>(c.top);
        auto d = static_cast<std::int16_t>(c.difference);
        settings.TopB = Colour{s, s, s};
        settings.DiffB = Colour{d, d, d};
        settings.TopF = Colour{s, 0, 0};
        settings.DiffF = Colour{d, 0, 0};
        updateRowColours(c.row);
        EXPECT_EQ(RowB.red, c.expected);
        EXPECT_EQ(RowB.blue, c.expected);
        EXPECT_EQ(RowF.red, c.expected);
        EXPECT_EQ(RowF.green, 0);
    }
}

}  // namespace
