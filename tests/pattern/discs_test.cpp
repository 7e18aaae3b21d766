// Hard and soft discs: set-up, coverage, soft weights and renewal.
#include <gtest/gtest.h>

#include <climits>

#include "pattern/pattern.h"
#include "pattern/pattern_test_support.h"
#include "support/test_support.h"

namespace {

struct DiscCase {
    bool hard;
    int w, dens, radius, discs;
};

TEST(Discs, RadiusCountAndSetUpDraws) {
    const DiscCase cases[] = {
        {true, 68, 45, 3, 14},  {true, 85, 45, 4, 14},      {false, 68, 45, 18, 13},
        {false, 85, 45, 23, 13}, {true, 68, 44, 3, 14},     {true, 68, 2, 3, 0},
        {true, 68, INT_MAX, 3, 69}, {false, 68, INT_MIN, 18, 0}, {true, 10, 45, 1, 14},
        {false, 3, 45, 1, 13},  {true, 1, 45, 1, 14},
    };
    for (const DiscCase& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.hard ? "hard" : "soft") << " w " << c.w);
        resetRunState();
        settings.Dens = c.dens;
        PatternState state{};
        Pixels pixels(3 * c.w);
        int draws = countDraws([&] { drawDiscs(pixels.data(), c.w, 0, state, c.hard); });
        ASSERT_EQ(state.values[0], c.radius);
        ASSERT_EQ(state.values[1], c.discs);
        int renewed = 0;
        for (int i = 0; i < c.discs; ++i) {
            const std::int32_t* disc = state.values + 2 + 3 * i;
            EXPECT_TRUE(disc[0] >= 0 && disc[0] < c.w);
            EXPECT_TRUE(disc[1] >= -c.radius && disc[1] <= c.radius);
            EXPECT_TRUE(disc[2] >= 0 && disc[2] <= 2);
            renewed += disc[1] == c.radius;  // a set-up y stays below R
        }
        EXPECT_EQ(draws, 3 * c.discs + 2 * renewed);  // renewal: x and kind
    }
}

TEST(Discs, NoDiscsGiveBackgroundAndNoDraws) {
    resetRunState();
    settings.Dens = 2;
    RowB = Colour{1, 2, 3};
    PatternState state{};
    Pixels pixels(3 * 68);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(countDraws([&] { drawDiscs(pixels.data(), 68, row, state, true); }), 0);
        for (int x = 0; x < 68; ++x) EXPECT_EQ(rgb(pixels, x), (std::array<int, 3>{1, 2, 3}));
    }
}

// One disc of the given radius and kind at (x, y), drawn on `row` of width w.
Pixels drawOneDisc(int w, int radius, int x, int y, int kind, int row, bool hard) {
    PatternState state{};
    state.values[0] = radius;
    state.values[1] = 1;
    state.values[2] = x;
    state.values[3] = y;
    state.values[4] = kind;
    Pixels pixels(3 * w);
    drawDiscs(pixels.data(), w, row, state, hard);
    return pixels;
}

TEST(Discs, HardDiscCoverageIncludingWrap) {
    resetRunState();
    RowB = Colour{0, 0, 0};
    // row -> first and last covered pixel of a radius 3 disc at pixel 10, row 5
    const int spans[][3] = {{5, 7, 13}, {3, 8, 12}, {4, 8, 12}, {6, 8, 12}, {7, 8, 12},
                            {2, 10, 10}, {8, 10, 10}, {1, 1, 0}, {9, 1, 0}};
    for (const auto& span : spans) {
        Pixels pixels = drawOneDisc(68, 3, 10, 5, 0, span[0], true);
        for (int x = 0; x < 68; ++x) {
            int expected = x >= span[1] && x <= span[2] ? 255 : 0;
            EXPECT_EQ(rgb(pixels, x)[0], expected) << "row " << span[0] << " pixel " << x;
        }
    }
    Pixels wrapped = drawOneDisc(68, 3, 1, 5, 0, 5, true);
    for (int x : {66, 67, 0, 4}) EXPECT_EQ(rgb(wrapped, x)[0], 255) << x;
    for (int x : {65, 5}) EXPECT_EQ(rgb(wrapped, x)[0], 0) << x;
}

TEST(Discs, SoftDiscWeightsFallWithDistance) {
    resetRunState();
    RowB = Colour{0, 0, 0};
    Pixels pixels = drawOneDisc(68, 8, 20, 5, 0, 5, false);
    EXPECT_EQ(rgb(pixels, 20)[1], 255);  // centre, weight 1
    EXPECT_EQ(rgb(pixels, 24)[1], 63);   // half radius, weight 0.25
    EXPECT_EQ(rgb(pixels, 28)[1], 0);    // at the radius, weight 0
    RowF = Colour{200, 100, 40};
    Pixels foreground = drawOneDisc(68, 8, 20, 5, 2, 9, false);  // dy 4: e 0.5
    EXPECT_EQ(rgb(foreground, 20), (std::array<int, 3>{50, 25, 10}));
}

TEST(Discs, LeftBehindDiscIsRenewedBelowTheRow) {
    resetRunState();
    PatternState state{};
    state.values[0] = 3;
    state.values[1] = 2;
    const std::int32_t discs[6] = {10, 5, 0, 30, 6, 1};
    std::copy(discs, discs + 6, state.values + 2);
    Pixels pixels(3 * 68);
    EXPECT_EQ(countDraws([&] { drawDiscs(pixels.data(), 68, 8, state, true); }), 2);
    EXPECT_EQ(state.values[3], 8 + 3);  // renewed just below row 8
    EXPECT_EQ(state.values[6], 6);      // still crossed by the next row
}

}  // namespace
