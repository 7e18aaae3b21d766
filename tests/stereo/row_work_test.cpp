// Focus marks, row widening and halving, and the progress bar.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

// A white RowBuffer of the driver's size followed by 30 guard bytes; returns its pixels.
std::int32_t setUpWhiteRow(std::int32_t inputW, std::int32_t pSiz, std::int32_t doubled, std::int32_t cutOff) {
    resetRunState();
    settings.PSiz = pSiz;
    settings.Double = doubled;
    settings.CutOff = cutOff;
    run.heightImage.width = inputW;
    run.outputImage.width = (cutOff ? inputW : inputW + pSiz) * (doubled + 1);
    const std::int32_t pixels = (inputW + pSiz + 1) * scaleFactor();
    run.rowBuffer = allocateBytes(static_cast<std::size_t>(pixels) * 3 + 30);
    std::memset(run.rowBuffer.get(), 255, static_cast<std::size_t>(pixels) * 3);
    std::memset(run.rowBuffer.get() + 3 * pixels, 0x77, 30);
    return pixels;
}

std::vector<std::int32_t> blackPixels(std::int32_t pixels) {
    std::vector<std::int32_t> black;
    for (std::int32_t x = 0; x < pixels; ++x) {
        if (run.rowBuffer[3 * x] == 0 && run.rowBuffer[3 * x + 1] == 0 && run.rowBuffer[3 * x + 2] == 0) black.push_back(x);
    }
    return black;
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
        const std::int32_t pixels = setUpWhiteRow(640, c.pSiz, c.doubled, c.cutOff);
        const std::int32_t A = (c.doubled + 1) * c.pSiz;
        drawFocusMarks(A, c.inputH / 30, c.row);
        std::vector<std::int32_t> expected;
        for (std::int32_t centre : {c.xL, c.xL + A}) {
            for (std::int32_t x = centre - c.half; x <= centre + c.half && c.half >= 0; ++x) expected.push_back(x);
        }
        EXPECT_EQ(blackPixels(pixels), expected)
            << "height " << c.inputH << ", PSiz " << c.pSiz << ", Double " << c.doubled << ", CutOff " << c.cutOff
            << ", row " << c.row;
    }
    // 6000 rows over 10 columns: radius 77 around 5 and 11 covers the whole buffer, and no more.
    const std::int32_t pixels = setUpWhiteRow(10, 6, 0, 0);
    drawFocusMarks(6, 200, 99);
    EXPECT_EQ(blackPixels(pixels).size(), static_cast<std::size_t>(pixels));
    for (int k = 0; k < 30; ++k) EXPECT_EQ(run.rowBuffer[3 * pixels + k], 0x77);
}

TEST(RowScaling, WidenStripAndSeparations) {
    resetRunState();
    settings.PSiz = 2;
    run.heightImage.width = 2;
    for (std::int32_t factor : {1, 2, 3, 4}) {
        std::vector<std::uint8_t> strip = {1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        std::vector<std::int32_t> sep = {5, -1, 0, 0, 0, 0, 0, 0};
        widenPatternStrip(strip.data(), factor);
        widenSeparationRow(sep.data(), factor);
        const std::int32_t f = factor == 2 || factor == 4 ? factor : 1;
        for (std::int32_t x = 0; x < 8; ++x) {
            const std::uint8_t first = x < f ? 1 : x < 2 * f ? 4 : 0;
            EXPECT_EQ(strip[3 * x], first) << "factor " << factor << ", pixel " << x;
            EXPECT_EQ(strip[3 * x + 2], first ? first + 2 : 0);
            EXPECT_EQ(sep[x], x < f ? 5 : x < 2 * f ? -1 : 0) << "factor " << factor << ", entry " << x;
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
    for (const Case& c : {Case{0, 2, two}, Case{0, 1, one}, Case{1, 1, two}}) {  // CutOff: one pixel more
        resetRunState();
        settings.VInc = 1;
        settings.PSiz = 1;
        settings.CutOff = c.cutOff;
        run.heightImage.width = 1;
        run.outputImage.width = c.outputWidth;
        run.rowBuffer = allocateBytes(row.size());
        std::memcpy(run.rowBuffer.get(), row.data(), row.size());
        reduceRow();
        EXPECT_EQ(std::vector<std::uint8_t>(run.rowBuffer.get(), run.rowBuffer.get() + 9), c.expected)
            << "CutOff " << c.cutOff << ", width " << c.outputWidth;
    }
}

// The updates runCalculation makes for 1, 8, 100 and 0 rows.
TEST(ShowProgress, ExactOutput) {
    auto barFor = [](std::int32_t rows) {
        std::int32_t barColumns = 0;
        testing::internal::CaptureStdout();
        for (std::int32_t y = 0; y < rows; y += 8) showProgress(y, rows, barColumns);
        showProgress(rows, rows, barColumns);
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
