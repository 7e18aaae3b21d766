// Focus marks, row widening and halving, and the progress bar.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

constexpr std::uint8_t kGuard = 0x77;

// A RowBuffer of the driver's size, all white, followed by guard bytes.
std::int32_t setUpWhiteRow(std::int32_t inputW, std::int32_t inputH, std::int32_t pSiz,
                           std::int32_t doubled, std::int32_t cutOff) {
    resetRunState();
    settings.PSiz = pSiz;
    settings.Double = doubled;
    settings.CutOff = cutOff;
    run.heightImage.width = inputW;
    run.heightImage.height = inputH;
    run.outputImage.width = (cutOff ? inputW : inputW + pSiz) * (doubled + 1);
    const std::int32_t pixels = (inputW + pSiz + 1) * scaleFactor();
    run.rowBuffer = allocateBytes(static_cast<std::size_t>(pixels) * 3 + 30);
    std::memset(run.rowBuffer.get(), 255, static_cast<std::size_t>(pixels) * 3);
    std::memset(run.rowBuffer.get() + 3 * pixels, kGuard, 30);
    return pixels;
}

std::vector<std::int32_t> blackPixels(std::int32_t pixels) {
    std::vector<std::int32_t> black;
    const std::uint8_t* row = run.rowBuffer.get();
    for (std::int32_t x = 0; x < pixels; ++x) {
        if (row[3 * x] == 0 && row[3 * x + 1] == 0 && row[3 * x + 2] == 0) black.push_back(x);
    }
    return black;
}

std::vector<std::int32_t> spans(std::int32_t a, std::int32_t b, std::int32_t half) {
    std::vector<std::int32_t> xs;
    for (std::int32_t x = a - half; x <= a + half; ++x) xs.push_back(x);
    for (std::int32_t x = b - half; x <= b + half; ++x) xs.push_back(x);
    return xs;
}

}  // namespace

TEST(FocusMarks, DiscGeometry) {
    struct Case {
        std::int32_t inputH, pSiz, doubled, cutOff, row;
        std::int32_t xL, half;  // half < 0: no mark on this row
    };
    const std::vector<Case> cases = {
        {480, 68, 0, 0, 7, 320, 5},     // B 16, f 7, r 6
        {480, 68, 1, 0, 7, 640, 11},    // W 1416, A 136
        {480, 68, 0, 0, 2, 320, 3},     // l = 36 - 25 = 11: 3 * 3 < 11
        {480, 68, 0, 0, 12, 320, 3},
        {480, 68, 0, 0, 1, 0, -1},
        {480, 68, 0, 0, 13, 0, -1},
        {480, 67, 0, 1, 7, 319, 5},     // (640 - 67) / 2 + 33
        {480, 68, 0, 1, 7, 320, 5},     // (640 - 68) / 2 + 34
        {150, 68, 0, 0, 1, 320, 0},     // B 5, f 1, r 1: one pixel
        {150, 68, 1, 0, 1, 640, 1},     // three pixels with Double
        {150, 68, 0, 0, 0, 0, -1},
        {150, 68, 0, 0, 5, 0, -1},      // row B stays unmarked
        {119, 68, 0, 0, 0, 0, -1},      // B 3: r 0
    };
    for (const Case& c : cases) {
        const std::int32_t pixels = setUpWhiteRow(640, c.inputH, c.pSiz, c.doubled, c.cutOff);
        const std::int32_t A = (c.doubled + 1) * c.pSiz;
        drawFocusMarks(A, c.inputH / 30, c.row);
        const std::vector<std::int32_t> expected =
            c.half < 0 ? std::vector<std::int32_t>{} : spans(c.xL, c.xL + A, c.half);
        EXPECT_EQ(blackPixels(pixels), expected)
            << "height " << c.inputH << ", PSiz " << c.pSiz << ", Double " << c.doubled
            << ", CutOff " << c.cutOff << ", row " << c.row;
    }
}

TEST(FocusMarks, PixelsOutsideTheRowBufferAreLeftOut) {
    // 6000 rows over 10 columns: radius 77 around centres 5 and 11.
    const std::int32_t pixels = setUpWhiteRow(10, 6000, 6, 0, 0);
    drawFocusMarks(6, 200, 99);
    EXPECT_EQ(blackPixels(pixels).size(), static_cast<std::size_t>(pixels));
    for (int k = 0; k < 30; ++k) EXPECT_EQ(run.rowBuffer[3 * pixels + k], kGuard);
}

TEST(RowScaling, WidenPatternStripKeepsPixelOrder) {
    resetRunState();
    settings.PSiz = 2;
    for (std::int32_t factor : {1, 2, 3, 4}) {
        std::vector<std::uint8_t> strip(3 * 8 + 3, 0);
        const std::uint8_t a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
        std::memcpy(&strip[0], a, 3);
        std::memcpy(&strip[3], b, 3);
        widenPatternStrip(strip.data(), factor);
        const std::int32_t widened = factor == 2 || factor == 4 ? factor : 1;
        for (std::int32_t x = 0; x < 2 * widened; ++x) {
            const std::uint8_t* want = x < widened ? a : b;
            EXPECT_EQ(0, std::memcmp(&strip[3 * x], want, 3)) << "factor " << factor << ", pixel " << x;
        }
        for (std::int32_t x = 2 * widened; x < 9; ++x) EXPECT_EQ(strip[3 * x], 0) << x;
    }
}

TEST(RowScaling, WidenSeparationRow) {
    resetRunState();
    run.heightImage.width = 3;
    std::vector<std::int32_t> sep = {5, -1, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    widenSeparationRow(sep.data(), 2);
    EXPECT_EQ(sep, (std::vector<std::int32_t>{5, 5, -1, -1, 7, 7, 0, 0, 0, 0, 0, 0}));
    sep = {5, -1, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    widenSeparationRow(sep.data(), 4);
    EXPECT_EQ(sep, (std::vector<std::int32_t>{5, 5, 5, 5, -1, -1, -1, -1, 7, 7, 7, 7}));
    sep = {5, -1, 7, 9};
    widenSeparationRow(sep.data(), 1);
    EXPECT_EQ(sep, (std::vector<std::int32_t>{5, -1, 7, 9}));
}

TEST(RowScaling, ReduceRowAveragesPairsUpToTheWrittenWidth) {
    // Input width 1, pattern width 1, VInc: six pixels of room at scale 2.
    const std::vector<std::uint8_t> row = {10, 20, 31, 11, 21, 32, 255, 255, 0,
                                           255, 254, 1, 90, 90, 90, 90, 90, 90};
    struct Case {
        std::int32_t cutOff, outputWidth;
        std::vector<std::uint8_t> expected;
    };
    const std::vector<Case> cases = {
        {0, 2, {10, 20, 31, 255, 254, 0, 255, 255, 0}},  // pixel 2 kept
        {0, 1, {10, 20, 31, 11, 21, 32, 255, 255, 0}},
        {1, 1, {10, 20, 31, 255, 254, 0, 255, 255, 0}},  // CutOff: one pixel more
    };
    for (const Case& c : cases) {
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

// --- Progress bar ---

namespace {

// The bar updates runCalculation makes for `rows` rows.
std::string barFor(std::int32_t rows) {
    std::int32_t barColumns = 0;
    testing::internal::CaptureStdout();
    for (std::int32_t y = 0; y < rows; y += 8) showProgress(y, rows, barColumns);
    showProgress(rows, rows, barColumns);
    return testing::internal::GetCapturedStdout();
}

// What a terminal shows for text written at the start of the bar.
std::string rendered(const std::string& text) {
    std::string line;
    std::size_t cursor = 0;
    for (char ch : text) {
        if (ch == '\b') {
            if (cursor > 0) --cursor;
            continue;
        }
        if (cursor < line.size()) line[cursor] = ch; else line += ch;
        ++cursor;
    }
    return line;
}

}  // namespace

TEST(ShowProgress, ExactOutput) {
    const std::string full(67, '#');
    EXPECT_EQ(barFor(1), full);
    EXPECT_EQ(barFor(8), full);
    EXPECT_EQ(barFor(0), "");
    // Targets a for rows 0, 8, ..., 96 of 100: 0, 11, 21, 32, 43, 54, 64, 75,
    // 86, 96, 107, 118, 129, then 134.
    const std::string six = "\b######";
    const std::string expected100 = "#####|" "\b#####|" + six + six + "|" + six + six + six + "|" +
                                    six + six + six + "|" + six + six + "|" + "\b###";
    EXPECT_EQ(barFor(100), expected100);
    EXPECT_EQ(rendered(expected100), full);
}

TEST(ShowProgress, EachUpdateShowsTheNearestHalfColumn) {
    for (std::int32_t rows : {7, 30, 333, 1000}) {
        std::int32_t barColumns = 0;
        std::string all;
        for (std::int32_t y = 0; y <= rows; y += 8) {
            testing::internal::CaptureStdout();
            showProgress(y, rows, barColumns);
            all += testing::internal::GetCapturedStdout();
            const std::int32_t a = static_cast<std::int32_t>(134.0 * y / rows + 0.5);
            EXPECT_EQ(rendered(all), std::string(a / 2, '#') + (a % 2 ? "|" : ""))
                << y << " of " << rows;
        }
    }
}
