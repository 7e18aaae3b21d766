// The pattern row dispatch and the pattern image rows.
#include <gtest/gtest.h>

#include <cstring>

#include "pattern/pattern.h"
#include "pattern/pattern_test_support.h"
#include "support/test_support.h"

namespace {

constexpr int kP = 68;
constexpr int kW = (5 * kP + 2) / 4;

void generate(int type, std::uint8_t* pixels, int w, int row, PatternState& state) {
    switch (type) {
        case 1: drawBlackWhiteDots(pixels, w); break;
        case 2: drawStripes(pixels, w, row, state); break;
        case 3: drawDashes(pixels, w, row, state); break;
        case 4: drawFiveColourDots(pixels, w); break;
        case 5: drawGradientDots(pixels, w); break;
        default: drawDiscs(pixels, w, row, state, type == 6); break;
    }
}

// Every row's strip and pattern source row, one after the other.
Pixels makeRows(int rows, int seed) {
    Pixels out;
    PatternState stripState{}, sourceState{};
    Pixels strip(3 * kP), source(3 * kW, 0);
    std::srand(static_cast<unsigned>(seed));
    for (int row = 0; row < rows; ++row) {
        makePatternRow(strip.data(), settings.NoRD ? source.data() : nullptr, stripState,
                       sourceState, row);
        out.insert(out.end(), strip.begin(), strip.end());
        out.insert(out.end(), source.begin(), source.end());
    }
    return out;
}

TEST(MakePatternRow, StripDrawsFirstThenSourceRowWithItsOwnState) {
    for (int type = 1; type <= 7; ++type) {
        for (int noRD : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "PatT " << type << " NoRD " << noRD);
            resetRunState();
            settings.PatT = type;
            settings.NoRD = noRD;
            settings.TopB = Colour{0, 0, 0};
            settings.DiffB = Colour{250, 100, 50};
            run.heightImage.height = 6;
            run.patternSourcePeriod = kW;
            Pixels made = makeRows(6, 99);
            EXPECT_EQ(makeRows(6, 99), made);

            Pixels expected;
            PatternState stripState{}, sourceState{};
            Pixels strip(3 * kP), source(3 * kW, 0);
            std::srand(99);
            for (int row = 0; row < 6; ++row) {
                updateRowColours(row);
                generate(type, strip.data(), kP, row, stripState);
                if (noRD) generate(type, source.data(), kW, row, sourceState);
                expected.insert(expected.end(), strip.begin(), strip.end());
                expected.insert(expected.end(), source.begin(), source.end());
            }
            EXPECT_EQ(made, expected);
        }
    }
}

TEST(MakePatternRow, WithoutNoRDTheSourceRowAndItsStateStayUntouched) {
    resetRunState();
    settings.PatT = 3;
    run.heightImage.height = 10;
    run.patternSourcePeriod = kW;
    PatternState stripState{}, sourceState{};
    std::memset(&sourceState, 0x5a, sizeof sourceState);
    PatternState before = sourceState;
    Pixels strip(3 * kP), source(3 * kW, 0x33);
    for (int row = 0; row < 3; ++row) {
        makePatternRow(strip.data(), source.data(), stripState, sourceState, row);
    }
    EXPECT_EQ(std::memcmp(&before, &sourceState, sizeof before), 0);
    EXPECT_EQ(source, Pixels(3 * kW, 0x33));
}

// A pattern image whose pixel (x, y) holds x in blue and red (low, high) and y in green.
void setPatternImage(int width, int height) {
    run.patternImage.width = width;
    run.patternImage.height = height;
    run.patternImage.rowBytes = 3 * width;
    run.patternImage.pixels = allocateBytes(static_cast<std::size_t>(3 * width * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = run.patternImage.pixels.get() + 3 * (y * width + x);
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x >> 8);
        }
    }
    run.patternSourceRow = allocateBytes(static_cast<std::size_t>(3 * (width + 1)));
}

struct ImageCase {
    int wp, hp, p, h;
    bool x, y, r;
    int row, imageRow;
    std::vector<std::pair<int, int>> pixels;  // strip pixel -> image pixel
};

TEST(PatternImage, RowAndPixelMappings) {
    const ImageCase cases[] = {
        {100, 30, 68, 10, true, false, false, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {67, 99}}},
        {68, 30, 68, 10, true, false, false, 0, 0, {{0, 0}, {33, 33}, {67, 67}}},
        {1, 5, 4, 10, true, false, false, 7, 2, {{0, 0}, {3, 0}}},
        {50, 5, 1, 10, true, false, false, 0, 0, {{0, 0}}},
        {10, 51, 10, 101, false, true, false, 50, 25, {{9, 9}}},
        {10, 51, 10, 101, false, true, false, 100, 50, {}},
        {10, 51, 10, 1, false, true, false, 0, 0, {}},
        {200, 150, 100, 300, true, false, true, 10, 20, {{99, 199}}},
        {200, 150, 100, 300, true, false, true, 80, 10, {}},
        {100, 50, 68, 120, false, false, false, 100, 0, {{67, 67}}},
        {100, 50, 68, 120, false, false, false, 119, 19, {}},
        {100, 50, 68, 120, false, false, false, 49, 49, {}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.wp << "x" << c.hp << " row " << c.row);
        resetRunState();
        settings.PatT = 0;
        settings.PSiz = c.p;
        settings.StretX = c.x;
        settings.StretY = c.y;
        settings.StretR = c.r;
        run.heightImage.height = c.h;
        setPatternImage(c.wp, c.hp);
        PatternState unused{};
        Pixels strip(3 * c.p + 3, 0xee);
        int draws = countDraws([&] {
            makePatternRow(strip.data(), run.patternSourceRow.get(), unused, unused, c.row);
        });
        EXPECT_EQ(draws, 0);
        Pixels source(run.patternSourceRow.get(), run.patternSourceRow.get() + 3 * c.wp);
        Pixels imageRow(run.patternImage.pixels.get() + 3 * c.wp * c.imageRow,
                        run.patternImage.pixels.get() + 3 * c.wp * (c.imageRow + 1));
        EXPECT_EQ(source, imageRow);
        for (auto [k, x] : c.pixels) {
            EXPECT_EQ(rgb(strip, k), (std::array<int, 3>{x >> 8, c.imageRow, x & 255})) << k;
        }
        EXPECT_EQ(strip[3 * c.p], 0xee);
    }
}

}  // namespace
