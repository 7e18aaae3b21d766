// Moving dashes: sizes by width, kind colours, wrapping, ageing and rebirth.
#include <gtest/gtest.h>

#include "pattern/pattern.h"
#include "pattern/pattern_test_support.h"
#include "support/test_support.h"

namespace {

// Every one of the 70 dashes at x with the given kind, age and step.
PatternState sameDashes(int x, int kind, int age, int step) {
    PatternState state{};
    for (int i = 0; i < 70; ++i) {
        state.values[3 * i] = x;
        state.values[3 * i + 1] = kind + 5 * age;
        state.values[3 * i + 2] = step;
    }
    return state;
}

struct DashCase {
    int w, length, s;
    bool newStepEachRow;  // H is 1, 3 or 9
};

TEST(Dashes, LengthStepAndDrawsFollowWidth) {
    const DashCase cases[] = {{68, 1, 1, true},  {85, 1, 1, true},   {111, 1, 1, true},
                              {112, 2, 1, true}, {177, 2, 1, true},  {178, 3, 1, false},
                              {309, 4, 1, false}, {310, 5, 2, true}, {375, 5, 2, true},
                              {1, 1, 1, true}};
    for (const DashCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "w " << c.w);
        resetRunState();
        RowB = Colour{0, 0, 0};
        PatternState state = sameDashes(0, 1, 0, 0);  // young white dashes: all survive
        Pixels pixels(3 * c.w);
        int draws = countDraws([&] { drawDashes(pixels.data(), c.w, 1, state); });
        EXPECT_EQ(draws, c.newStepEachRow ? 140 : 70);
        for (int x = 0; x < c.w; ++x) EXPECT_EQ(rgb(pixels, x)[0], x < c.length ? 255 : 0) << x;
        bool fullStepSeen = false;
        for (int i = 0; i < 70; ++i) {
            int step = state.values[3 * i + 2];
            EXPECT_TRUE(step == -c.s || step == 0 || step == c.s);
            EXPECT_EQ(state.values[3 * i], step);  // moved by the new step
            EXPECT_EQ(state.values[3 * i + 1], 1 + 5);
            fullStepSeen = fullStepSeen || step != 0;
        }
        EXPECT_EQ(fullStepSeen, c.newStepEachRow);
    }
}

TEST(Dashes, KindColoursAndWrapping) {
    resetRunState();
    RowB = Colour{100, 50, 201};
    PatternState state = sameDashes(0, 4, 0, 0);
    state.values[0] = 68 + 3;  // dark, drifted past the right end
    state.values[1] = 2;
    state.values[3] = -2;      // light, drifted past the left end
    state.values[4] = 3;
    Pixels pixels(3 * 68);
    drawDashes(pixels.data(), 68, 1, state);
    EXPECT_EQ(rgb(pixels, 3), (std::array<int, 3>{50, 25, 100}));
    EXPECT_EQ(rgb(pixels, 66), (std::array<int, 3>{177, 152, 228}));
    for (int x : {1, 2, 4, 65, 67}) EXPECT_EQ(rgb(pixels, x), (std::array<int, 3>{100, 50, 201}));
}

TEST(Dashes, OldDashesAreRebornWithAgeZero) {
    resetRunState();
    PatternState state = sameDashes(5, 1, 21, 1);
    Pixels pixels(3 * 68);
    int draws = countDraws([&] { drawDashes(pixels.data(), 68, 1, state); });
    EXPECT_GE(draws, 70 * 3);  // survival draw and at least two rebirth draws each
    EXPECT_LE(draws, 70 * 4);
    for (int i = 0; i < 70; ++i) {
        EXPECT_LT(state.values[3 * i + 1], 5);
        EXPECT_TRUE(state.values[3 * i] >= 0 && state.values[3 * i] < 68);
    }
}

TEST(Dashes, RowZeroPlacesEveryDashInsideThePeriod) {
    resetRunState();
    PatternState state{};
    Pixels pixels(3 * 85);
    // Set-up: x, kind and step per dash; then every newborn dash survives and
    // draws a new step.
    EXPECT_EQ(countDraws([&] { drawDashes(pixels.data(), 85, 0, state); }), 70 * 3 + 70 * 2);
    for (int i = 0; i < 70; ++i) {
        EXPECT_TRUE(state.values[3 * i] >= -1 && state.values[3 * i] <= 85);
        EXPECT_EQ(state.values[3 * i + 1] / 5, 1);
    }
}

}  // namespace
