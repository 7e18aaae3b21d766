// The random generator and the generators: stripes, dots, row colours, discs and dashes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "pattern/pattern.h"
#include "pattern/pattern_test_support.h"

namespace {

using namespace rdsgen;

const Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255};

TEST(Random, FollowsTheCLibraryRandSequence) {
    Random random;  // seed 1, as rand() without srand()
    EXPECT_EQ(random.next(), 1804289383);
    EXPECT_EQ(random.next(), 846930886);
#ifdef __GLIBC__
    // Seed 0 acts as 1; seeds from 2^31 on are taken as negative words.
    for (unsigned seed : {0u, 1u, 4242u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
        random.reseed(seed);
        std::srand(seed);
        for (int n = 0; n < 1000; ++n) {
            ASSERT_EQ(random.next(), std::rand()) << seed << " draw " << n;
        }
    }
#endif
}

TEST(Stripes, WidthSlotsAndDrawsFollowDensAndWidth) {
    // Dens, w, stripe width a, slot end n, moves per row (two draws each)
    const int cases[][5] = {{45, 68, 2, 21, 3},  {45, 85, 3, 21, 3},      {5, 68, 2, 3, 0},
                            {100, 68, 2, 65, 14}, {228, 68, 2, 218, 52}, {INT_MAX, 68, 2, 218, 52},
                            {0, 68, 2, 2, 0},    {INT_MIN, 68, 2, 2, 0},  {45, 14, 0, 21, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "Dens " << c[0] << " w " << c[1]);
        PatternRun run;
        run.settings.Dens = c[0];
        PatternState state{};
        Pixels pixels(3 * c[1] + 3, 7);
        EXPECT_EQ(countDraws(run.random,
                             [&] { drawStripes(run.context, pixels.data(), c[1], 0, state); }),
                  c[3] - 2 + 2 * c[4]);
        EXPECT_EQ(state.values[0], c[2]);
        EXPECT_EQ(state.values[1], c[3]);
        for (int j = 2; j < c[3]; ++j) EXPECT_LE(state.values[j], c[1] - c[2]);
        EXPECT_EQ(countDraws(run.random,
                             [&] { drawStripes(run.context, pixels.data(), c[1], 1, state); }),
                  2 * c[4]);
        EXPECT_EQ(pixels[3 * c[1]], 7);  // nothing written past the period
        if (c[0] == 5) {  // one stripe: a bar of width a at its start
            for (int x = 0; x < c[1]; ++x) {
                bool bar = x >= state.values[2] && x < state.values[2] + c[2];
                EXPECT_EQ(rgb(pixels, x), bar ? kBlack : kWhite);
            }
        }
        for (int x = 0; c[2] == 0 && x < c[1]; ++x) EXPECT_EQ(rgb(pixels, x), kWhite);
    }
}

TEST(Dots, ColoursAndDrawsPerPixel) {
    PatternRun run;
    const int w = 200;
    Pixels pixels(3 * w);
    auto all = [&](auto test) {
        for (int x = 0; x < w; ++x) EXPECT_TRUE(test(rgb(pixels, x))) << x;
    };
    run.settings.Dens = 0;
    EXPECT_EQ(countDraws(run.random, [&] { drawBlackWhiteDots(run.context, pixels.data(), w); }),
              w);
    all([](Rgb c) { return c == kWhite; });
    EXPECT_EQ(countDraws(run.random, [&] { drawFiveColourDots(run.context, pixels.data(), w); }),
              w);
    // Gradient dots: a black or white pixel costs a second draw; Dens decides which.
    run.context.colours = RowColours{Colour{255, 248, 0}, Colour{90, 60, 255}};
    for (int dens : {0, 100}) {
        run.settings.Dens = dens;
        int draws =
            countDraws(run.random, [&] { drawGradientDots(run.context, pixels.data(), w); });
        int extra = 0;
        for (int x = 0; x < w; ++x) extra += rgb(pixels, x) == (dens ? kWhite : kBlack);
        all([&](Rgb c) { return c != (dens ? kBlack : kWhite); });
        EXPECT_GT(extra, 0);
        EXPECT_EQ(draws, w + extra);
    }
}

TEST(RowColours, GradientPositionTruncates) {
    // input height, row, top, difference, component
    const int cases[][5] = {{100, 50, 0, 255, 128}, {100, 99, 0, 255, 252}, {100, 99, 255, -255, 4},
                            {1, 0, 10, 200, 10},    {2, 1, 0, 200, 100},    {100, 1, 0, -149, 0}};
    for (const auto& c : cases) {
        RunSettings settings;
        auto top = static_cast<std::int16_t>(c[2]), diff = static_cast<std::int16_t>(c[3]);
        settings.TopB = Colour{top, top, top};
        settings.DiffB = Colour{diff, diff, diff};
        settings.TopF = Colour{0, top, 0};
        settings.DiffF = Colour{0, diff, 0};
        RowColours colours = rowColours(settings, c[0], c[1]);
        EXPECT_EQ(colours.background.red, c[4]);
        EXPECT_EQ(colours.background.blue, c[4]);
        EXPECT_EQ(colours.foreground.green, c[4]);
        EXPECT_EQ(colours.foreground.red, 0);
    }
}

TEST(Discs, RadiusCountAndSetUpDraws) {
    // hard, w, Dens, R, D
    const int cases[][5] = {{1, 68, 45, 3, 14},      {1, 85, 45, 4, 14}, {0, 68, 45, 18, 13},
                            {0, 85, 45, 23, 13},     {1, 68, 44, 3, 14}, {1, 68, 2, 3, 0},
                            {1, 68, INT_MAX, 3, 69}, {0, 68, INT_MIN, 18, 0},
                            {1, 10, 45, 1, 14},      {0, 3, 45, 1, 13}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "hard " << c[0] << " w " << c[1] << " Dens " << c[2]);
        PatternRun run;
        run.settings.Dens = c[2];
        run.context.colours.background = Colour{1, 2, 3};
        PatternState state{};
        Pixels pixels(3 * c[1]);
        int draws = countDraws(
            run.random, [&] { drawDiscs(run.context, pixels.data(), c[1], 0, state, c[0] == 1); });
        ASSERT_EQ(state.values[0], c[3]);
        ASSERT_EQ(state.values[1], c[4]);
        int renewed = 0;
        for (int i = 0; i < c[4]; ++i) {
            const std::int32_t* disc = state.values + 2 + 3 * i;
            EXPECT_TRUE(disc[0] >= 0 && disc[0] < c[1] && disc[2] >= 0 && disc[2] <= 2);
            EXPECT_TRUE(disc[1] >= -c[3] && disc[1] <= c[3]);
            renewed += disc[1] == c[3];  // set-up y stays below R; renewed y = row + R
        }
        EXPECT_EQ(draws, 3 * c[4] + 2 * renewed);  // set-up x, kind, y; renewal x, kind
        if (c[4] == 0) {
            for (int x = 0; x < c[1]; ++x) EXPECT_EQ(rgb(pixels, x), (Rgb{1, 2, 3}));
        }
    }
}

// One disc of radius R and the given kind at (x, y), drawn on `row` of a 68-pixel period.
Pixels drawOneDisc(PatternContext& context, int radius, int x, int y, int kind, int row,
                   bool hard) {
    PatternState state{{radius, 1, x, y, kind}};
    Pixels pixels(3 * 68);
    drawDiscs(context, pixels.data(), 68, row, state, hard);
    return pixels;
}

TEST(Discs, HardCoverageSoftWeightsAndRenewal) {
    PatternRun run;
    run.context.colours.background = Colour{0, 0, 0};
    // row, first and last white pixel of a radius 3 disc at pixel 10, row 5
    const int spans[][3] = {{5, 7, 13}, {3, 8, 12}, {4, 8, 12}, {6, 8, 12}, {7, 8, 12},
                            {2, 10, 10}, {8, 10, 10}, {1, 1, 0}, {9, 1, 0}};
    for (const auto& s : spans) {
        Pixels pixels = drawOneDisc(run.context, 3, 10, 5, 0, s[0], true);
        for (int x = 0; x < 68; ++x) EXPECT_EQ(rgb(pixels, x)[0], x >= s[1] && x <= s[2] ? 255 : 0);
    }
    Pixels wrapped = drawOneDisc(run.context, 3, 1, 5, 0, 5, true);
    for (int x : {66, 67, 0, 4}) EXPECT_EQ(rgb(wrapped, x), kWhite) << x;
    for (int x : {65, 5}) EXPECT_EQ(rgb(wrapped, x), kBlack) << x;

    Pixels soft = drawOneDisc(run.context, 8, 20, 5, 0, 5, false);
    EXPECT_EQ(rgb(soft, 20), kWhite);  // centre: weight 1
    EXPECT_EQ(rgb(soft, 24)[1], 63);   // half radius: weight 0.25
    EXPECT_EQ(rgb(soft, 28), kBlack);  // at the radius: weight 0
    run.context.colours.foreground = Colour{200, 100, 40};
    EXPECT_EQ(rgb(drawOneDisc(run.context, 8, 20, 5, 2, 9, false), 20), (Rgb{50, 25, 10}));

    PatternState state{{3, 2, 10, 5, 0, 30, 6, 1}};
    Pixels pixels(3 * 68);
    EXPECT_EQ(
        countDraws(run.random, [&] { drawDiscs(run.context, pixels.data(), 68, 8, state, true); }),
        2);
    EXPECT_EQ(state.values[3], 8 + 3);  // left behind: renewed just below row 8
    EXPECT_EQ(state.values[6], 6);      // still reached by row 9
}

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

TEST(Dashes, LengthStepAndDrawsFollowWidth) {
    // w, dash length L, step size s, new step each row (H is 1, 3 or 9)
    const int cases[][4] = {{68, 1, 1, 1},  {85, 1, 1, 1},  {111, 1, 1, 1}, {112, 2, 1, 1},
                            {177, 2, 1, 1}, {178, 3, 1, 0}, {309, 4, 1, 0}, {310, 5, 2, 1},
                            {375, 5, 2, 1}, {1, 1, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "w " << c[0]);
        PatternRun run;
        run.context.colours.background = Colour{0, 0, 0};
        PatternState state = sameDashes(0, 1, 0, 0);  // young white dashes: all survive
        Pixels pixels(3 * c[0]);
        EXPECT_EQ(
            countDraws(run.random, [&] { drawDashes(run.context, pixels.data(), c[0], 1, state); }),
            70 + 70 * c[3]);
        for (int x = 0; x < c[0]; ++x) EXPECT_EQ(rgb(pixels, x)[0], x < c[1] ? 255 : 0) << x;
        bool moved = false;
        for (const std::int32_t* dash = state.values; dash < state.values + 210; dash += 3) {
            EXPECT_TRUE(dash[2] == -c[2] || dash[2] == 0 || dash[2] == c[2]);
            EXPECT_EQ(dash[0], dash[2]);  // moved by its new step
            EXPECT_EQ(dash[1], 1 + 5);    // one row older
            moved = moved || dash[2] != 0;
        }
        EXPECT_EQ(moved, c[3] == 1);
    }
}

TEST(Dashes, KindColoursAndWrapping) {
    PatternRun run;
    run.context.colours.background = Colour{100, 50, 201};
    PatternState state = sameDashes(0, 4, 0, 0);
    state.values[0] = 68 + 3;  // dark, drifted past the right end
    state.values[1] = 2;
    state.values[3] = -2;      // light, drifted past the left end
    state.values[4] = 3;
    Pixels pixels(3 * 68);
    drawDashes(run.context, pixels.data(), 68, 1, state);
    EXPECT_EQ(rgb(pixels, 3), (Rgb{50, 25, 100}));
    EXPECT_EQ(rgb(pixels, 66), (Rgb{177, 152, 228}));
    for (int x : {0, 2, 4, 65, 67}) EXPECT_EQ(rgb(pixels, x), (Rgb{100, 50, 201}));
}

TEST(Dashes, SetUpAndRebirth) {
    PatternRun run;
    PatternState state{};
    Pixels pixels(3 * 85);
    // Set-up: x, kind and step per dash; then every newborn survives and draws a step.
    EXPECT_EQ(countDraws(run.random, [&] { drawDashes(run.context, pixels.data(), 85, 0, state); }),
              70 * 3 + 70 * 2);
    state = sameDashes(5, 1, 21, 1);  // too old: every dash is reborn with age 0, unmoved
    int draws =
        countDraws(run.random, [&] { drawDashes(run.context, pixels.data(), 68, 1, state); });
    EXPECT_TRUE(draws >= 70 * 3 && draws <= 70 * 4);  // survival draw, then 2 or 3
    for (const std::int32_t* dash = state.values; dash < state.values + 210; dash += 3) {
        EXPECT_TRUE(dash[1] >= 0 && dash[1] < 5 && dash[0] >= 0 && dash[0] < 68);
    }
}

}  // namespace
