// The pattern row dispatch and the pattern image rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "support/planned_run.h"
#include "pattern/pattern.h"
#include "pattern/pattern_test_support.h"
#include "support/test_support.h"

namespace {

using namespace rdsgen;

constexpr int kP = 68;
constexpr int kW = (5 * kP + 2) / 4;

void generate(PatternContext& context, int type, std::uint8_t* pixels, int w, int row,
              PatternState& state) {
    switch (type) {
        case 1: drawBlackWhiteDots(context, pixels, w); break;
        case 2: drawStripes(context, pixels, w, row, state); break;
        case 3: drawDashes(context, pixels, w, row, state); break;
        case 4: drawFiveColourDots(context, pixels, w); break;
        case 5: drawGradientDots(context, pixels, w); break;
        default: drawDiscs(context, pixels, w, row, state, type == 6); break;
    }
}

TEST(MakePatternRow, StripDrawsFirstThenSourceRowWithItsOwnState) {
    for (int type = 1; type <= 7; ++type) {
        for (int noRD : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "PatT " << type << " NoRD " << noRD);
            PatternRun run, want;
            run.settings.PatT = type;
            run.settings.NoRD = noRD;
            run.settings.DiffB = Colour{250, 100, 50};
            want.settings = run.settings;
            const RowGeometry geometry = planRun(run.settings, ImageHeader{40, 4}).geometry;
            PatternState made[2] = {}, expected[2] = {}, before{};
            std::memset(&made[1], 0x5a, sizeof before);
            before = made[1];
            Pixels strip(3 * kP), source(3 * kW, 0x33), stripWant(3 * kP), sourceWant = source;
            for (int row = 0; row < 4; ++row) {
                run.random.reseed(static_cast<unsigned>(row + 1));
                makePatternRow(run.context, geometry, nullptr, strip.data(), source.data(), made[0],
                               made[1], row);
                want.random.reseed(static_cast<unsigned>(row + 1));
                want.context.colours = rowColours(want.settings, 4, row);
                generate(want.context, type, stripWant.data(), kP, row, expected[0]);
                if (noRD) generate(want.context, type, sourceWant.data(), kW, row, expected[1]);
                EXPECT_EQ(strip, stripWant);
                EXPECT_EQ(source, sourceWant);  // untouched without NoRD
            }
            bool stateless = type == 1 || type == 4 || type == 5;
            EXPECT_EQ(std::memcmp(&made[1], &before, sizeof before) == 0, !noRD || stateless);
        }
    }
}

// A pattern image whose pixel (x, y) holds x in blue and red (low, high) and y in green.
Image patternImage(int width, int height) {
    Image image = makeImage(width, height, PixelKind::kColour);
    for (int i = 0; i < width * height; ++i) {
        image.pixels[3 * i] = static_cast<std::uint8_t>(i % width);
        image.pixels[3 * i + 1] = static_cast<std::uint8_t>(i / width);
        image.pixels[3 * i + 2] = static_cast<std::uint8_t>(i % width >> 8);
    }
    return image;
}

struct ImageCase {
    int wp, hp, p, h, stretX, stretY, stretR, row, imageRow;
    std::vector<std::pair<int, int>> pixels;  // strip pixel -> image pixel
};

TEST(PatternImage, RowAndPixelMappings) {
    const ImageCase cases[] = {
        {100, 30, 68, 10, 1, 0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {67, 99}}},
        {68, 30, 68, 10, 1, 0, 0, 0, 0, {{0, 0}, {33, 33}, {67, 67}}},
        {1, 5, 4, 10, 1, 0, 0, 7, 2, {{0, 0}, {3, 0}}},
        {50, 5, 1, 10, 1, 0, 0, 0, 0, {{0, 0}}},
        {10, 51, 10, 101, 0, 1, 0, 50, 25, {{9, 9}}},
        {10, 51, 10, 101, 0, 1, 0, 100, 50, {}},
        {10, 51, 10, 1, 0, 1, 0, 0, 0, {}},
        {200, 150, 100, 300, 1, 0, 1, 10, 20, {{99, 199}}},
        {200, 150, 100, 300, 1, 0, 1, 80, 10, {}},
        {100, 50, 68, 120, 0, 0, 0, 100, 0, {{67, 67}}},
        {100, 50, 68, 120, 0, 0, 0, 119, 19, {}},
        {100, 50, 68, 120, 0, 0, 0, 49, 49, {}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.wp << "x" << c.hp << " row " << c.row);
        PatternRun run;
        run.settings.PatT = 0;
        run.settings.PSiz = c.p;
        run.settings.StretX = c.stretX;
        run.settings.StretY = c.stretY;
        run.settings.StretR = c.stretR;
        const Image heights = makeImage(100, c.h, PixelKind::kGrey8);
        const Image image = patternImage(c.wp, c.hp);
        // The flags above are the case's own: nothing automatic in the plan.
        Settings planned = run.settings;
        planned.StretA = 0;
        const ImageHeader imageHeader = headerOf(image);
        const RowGeometry geometry = planRun(planned, headerOf(heights), &imageHeader).geometry;
        PatternState unused{};
        Pixels strip(3 * c.p + 3, 0xee), source(3 * (geometry.sourcePeriod + 1));
        auto make = [&] {
            makePatternRow(run.context, geometry, &image, strip.data(), source.data(), unused,
                           unused, c.row);
        };
        EXPECT_EQ(countDraws(run.random, make), 0);
        const std::uint8_t* imageRow = image.pixels.get() + 3 * c.wp * c.imageRow;
        EXPECT_EQ(std::memcmp(source.data(), imageRow, 3 * c.wp), 0);
        for (auto [k, x] : c.pixels) {
            EXPECT_EQ(rgb(strip, k), (Rgb{x >> 8, c.imageRow, x & 255})) << k;
        }
        EXPECT_EQ(strip[3 * c.p], 0xee);
    }
}

TEST(Seed, SameRandGivesIdenticalFilesForEveryType) {
    std::string dir = temporaryDirectory();
    std::vector<std::uint8_t> heights(40 * 30, 0);
    std::fill(heights.begin() + 400, heights.begin() + 800, 200);
    writeFileBytes(dir + "/heights.TGA", greyTga(40, 30, heights));
    auto runToFile = [&](const char* output, const std::vector<std::string>& options) {
        std::vector<std::string> args = {"heights", output};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(runRdsgenProcess(args, dir).status, 0);
        return readFileBytes(dir + "/" + output + ".TGA");
    };
    for (int type = 1; type <= 7; ++type) {
        for (const char* noRD : {"/PPos:2", "/NoRD"}) {
            SCOPED_TRACE(testing::Message() << "PatT " << type << " " << noRD);
            std::string patT = "/PatT:" + std::to_string(type);
            auto first = runToFile("a", {patT, noRD, "/Rand:1234"});
            EXPECT_GT(first.size(), 18u);
            EXPECT_EQ(runToFile("b", {patT, noRD, "/Rand:1234"}), first);
            EXPECT_NE(runToFile("c", {patT, noRD, "/Rand:4321"}), first);
        }
    }
}

}  // namespace
