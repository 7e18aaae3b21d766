// Focus marks, row widening and halving, and the progress bar.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "support/planned_run.h"
#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

// The geometry of a run over a grey image of the given size.
// Its rows hold three bytes per pixel.
rdsgen::RowGeometry geometryFor(const rdsgen::RunSettings& settings, std::int32_t width, std::int32_t height) {
    rdsgen::RowGeometry geometry = planRun(settings, rdsgen::ImageHeader{width, height}).geometry;
    geometry.pixelBytes = 3;
    return geometry;
}

std::vector<std::int32_t> blackPixels(const std::vector<std::uint8_t>& row, std::int32_t pixels) {
    std::vector<std::int32_t> black;
    for (std::int32_t x = 0; x < pixels; ++x) {
        if (row[3 * x] == 0 && row[3 * x + 1] == 0 && row[3 * x + 2] == 0) black.push_back(x);
    }
    return black;
}

// Draws the marks of row c into a white RowBuffer of the run's size followed
// by 30 guard bytes of 0x77; returns the buffer.
std::vector<std::uint8_t> markedRow(const rdsgen::RunSettings& settings, const rdsgen::RowGeometry& geometry,
                                    std::int32_t c) {
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(geometry.rowPixels), 255);
    row.resize(row.size() + 30, 0x77);
    rdsgen::drawFocusMarks(settings, geometry, row.data(), c);
    return row;
}

}  // namespace

TEST(FocusMarks, DiscGeometry) {
    struct Case {
        std::int32_t inputH, pSiz, doubled, cutOff, row, xL, half;  // half < 0: unmarked
    };
    const std::vector<Case> cases = {
        {480, 68, 0, 0, 7, 320, 5},   {480, 68, 1, 0, 7, 640, 11},  // B 16, f 7, r 6
        {480, 68, 0, 0, 2, 320, 3},   {480, 68, 0, 0, 12, 320, 3},  // l = 11
        {480, 68, 0, 0, 1, 0, -1},    {480, 68, 0, 0, 13, 0, -1},
        {480, 67, 0, 1, 7, 319, 5},   {480, 68, 0, 1, 7, 320, 5},   // (640 - A) / 2 + A / 2
        {150, 68, 0, 0, 1, 320, 0},   {150, 68, 1, 0, 1, 640, 1},   // B 5, f 1, r 1
        {150, 68, 0, 0, 0, 0, -1},    {150, 68, 0, 0, 5, 0, -1},    {119, 68, 0, 0, 0, 0, -1},
    };
    for (const Case& c : cases) {
        rdsgen::RunSettings settings;
        settings.PSiz = c.pSiz;
        settings.Double = c.doubled;
        settings.CutOff = c.cutOff;
        const rdsgen::RowGeometry geometry = geometryFor(settings, 640, c.inputH);
        ASSERT_EQ(geometry.markDistance, (c.doubled + 1) * c.pSiz);
        std::vector<std::int32_t> expected;
        for (std::int32_t centre : {c.xL, c.xL + geometry.markDistance}) {
            for (std::int32_t x = centre - c.half; x <= centre + c.half && c.half >= 0; ++x) expected.push_back(x);
        }
        EXPECT_EQ(blackPixels(markedRow(settings, geometry, c.row), geometry.rowPixels), expected)
            << "height " << c.inputH << ", PSiz " << c.pSiz << ", Double " << c.doubled << ", CutOff " << c.cutOff
            << ", row " << c.row;
    }
    // 6000 rows over 10 columns (B 200): radius 77 around 5 and 11 covers the
    // whole buffer, and no more.
    rdsgen::RunSettings settings;
    settings.PSiz = 6;
    const rdsgen::RowGeometry geometry = geometryFor(settings, 10, 6000);
    const std::vector<std::uint8_t> row = markedRow(settings, geometry, 99);
    EXPECT_EQ(blackPixels(row, geometry.rowPixels).size(), static_cast<std::size_t>(geometry.rowPixels));
    for (int k = 0; k < 30; ++k) EXPECT_EQ(row[3 * geometry.rowPixels + k], 0x77);
}

TEST(RowScaling, WidenStripAndSeparations) {
    rdsgen::RunSettings settings;
    settings.PSiz = 2;
    settings.PPos = 1;  // the strip at pixel 0
    rdsgen::RowGeometry geometry = geometryFor(settings, 2, 1);
    // Only the scale is varied; factor 3, which no run has, must leave both
    // rows alone like factor 1.
    for (std::int32_t factor : {1, 2, 3, 4}) {
        geometry.scale = factor;
        const std::vector<std::uint8_t> strip = {1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        const std::vector<std::int32_t> sep = {5, -1, 0, 0, 0, 0, 0, 0};
        const rdsgen::Bytes row = rdsgen::allocateBytes(strip.size());
        const rdsgen::Bytes separations = rdsgen::allocateBytes(sep.size() * sizeof(std::int32_t));
        rdsgen::RowWork work;
        work.row = row.get();
        work.separations = separations.get();
        std::memcpy(work.row, strip.data(), strip.size());
        std::memcpy(work.separations, sep.data(), sep.size() * sizeof(std::int32_t));
        rdsgen::widenPatternStrip(settings, geometry, work);
        rdsgen::widenSeparationRow(geometry, work);
        const std::int32_t f = factor == 2 || factor == 4 ? factor : 1;
        for (std::int32_t x = 0; x < 8; ++x) {
            const std::uint8_t first = x < f ? 1 : x < 2 * f ? 4 : 0;
            EXPECT_EQ(work.row[3 * x], first) << "factor " << factor << ", pixel " << x;
            EXPECT_EQ(work.row[3 * x + 2], first ? first + 2 : 0);
            EXPECT_EQ(rdsgen::separationRow(work)[x], x < f ? 5 : x < 2 * f ? -1 : 0)
                << "factor " << factor << ", entry " << x;
        }
    }
}

TEST(RowScaling, ReduceRowAveragesPairsUpToTheWrittenWidth) {
    // Input width 1, pattern width 1, VInc: six pixels of room at scale 2.
    const std::vector<std::uint8_t> row = {10, 20, 31, 11, 21, 32, 255, 255, 0, 255, 254, 1, 90, 90, 90, 90, 90, 90};
    const std::vector<std::uint8_t> two = {10, 20, 31, 255, 254, 0, 255, 255, 0};
    const std::vector<std::uint8_t> one = {10, 20, 31, 11, 21, 32, 255, 255, 0};
    struct Case {
        std::int32_t cutOff, outputWidth;
        std::vector<std::uint8_t> expected;
    };
    // CutOff: one pixel more. Width 1 without CutOff is narrower than a run
    // writes: only the written pixels are averaged.
    for (const Case& c : {Case{0, 2, two}, Case{0, 1, one}, Case{1, 1, two}}) {
        rdsgen::RunSettings settings;
        settings.VInc = 1;
        settings.PSiz = 1;
        settings.CutOff = c.cutOff;
        rdsgen::RowGeometry geometry = geometryFor(settings, 1, 1);
        ASSERT_EQ(geometry.rowPixels * 3, static_cast<std::int32_t>(row.size()));
        geometry.outputWidth = c.outputWidth;
        rdsgen::RowWork work;
        const rdsgen::Bytes workMemory = rdsgen::allocateRowWork(geometry, work);
        ASSERT_TRUE(workMemory);
        std::memcpy(work.row, row.data(), row.size());
        rdsgen::reduceRow(geometry, work);
        EXPECT_EQ(std::vector<std::uint8_t>(work.row, work.row + 9), c.expected)
            << "CutOff " << c.cutOff << ", width " << c.outputWidth;
    }
}

// The updates the command line makes from the engine's reports for 1, 8, 100 and 0 rows.
TEST(ShowProgress, ExactOutput) {
    auto barFor = [](std::int32_t rows) {
        std::int32_t barColumns = 0;
        testing::internal::CaptureStdout();
        for (std::int32_t y = 0; y < rows; y += 8) rdsgen::showProgress(y, rows, barColumns);
        rdsgen::showProgress(rows, rows, barColumns);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(barFor(1), std::string(67, '#'));
    EXPECT_EQ(barFor(8), std::string(67, '#'));
    EXPECT_EQ(barFor(0), "");
    // Targets a for rows 0, 8, ..., 96 of 100: 0, 11, 21, 32, 43, 54, 64, 75, 86, 96, 107, 118, 129; then 134.
    const std::string six = "\b######";
    EXPECT_EQ(barFor(100), "#####|" "\b#####|" + six + six + "|" + six + six + six + "|" + six + six + six + "|" +
                               six + six + "|" + "\b###");
}
