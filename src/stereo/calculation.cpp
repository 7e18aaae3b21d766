// The calculation loop: every input row becomes one output row, written at
// once, while a progress bar grows on standard output.
#include <cstdint>
#include <cstdio>

#include "depth/depth.h"
#include "image/image.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"

std::int32_t patternStart() {
    if (settings.PPos == 2) return scaleFactor() * (inputWidth() / 2);
    if (settings.PPos == 3) return scaleFactor() * inputWidth();
    return 0;
}

// The bar has 67 columns in 134 half steps; a half-filled column shows '|'.
void showProgress(std::int32_t row, std::int32_t rows, std::int32_t& barColumns) {
    std::int32_t a = 0;
    if (rows > 0) {
        a = static_cast<std::int32_t>((268 * static_cast<std::int64_t>(row) + rows) /
                                      (2 * static_cast<std::int64_t>(rows)));
    }
    if (barColumns > 0) {
        std::printf("%c", 8);
        --barColumns;
    }
    for (std::int32_t k = barColumns; k < a / 2; ++k) std::printf("#");
    barColumns = (a + 1) / 2;
    if (a % 2 != 0) std::printf("|");
}

namespace {

// One image row from pattern strip to written output.
void calculateRow(std::int32_t y, std::int32_t start, std::int32_t A, std::int32_t B,
                  PatternState& stripState, PatternState& sourceState) {
    const std::int32_t S = scaleFactor();
    std::uint8_t* strip = run.rowBuffer.get() + 3 * start;
    makePatternRow(strip, run.patternSourceRow.get(), stripState, sourceState, y);
    widenPatternStrip(strip, S);
    makeSeparationRow(run.heightImage, run.separationBuffer.get(), y);
    widenSeparationRow(separationRow(), S);
    linkRow(3 * start, S * settings.PSiz, S * inputWidth());
    if (settings.VInc) reduceRow();
    if (settings.FocP == 2 && y <= B) drawFocusMarks(A, B, y);
    writeOutputRow(run.outputImage, run.rowBuffer.get());
}

}  // namespace

void runCalculation() {
    std::printf("Calculating, please wait - press ESC to abbort...\n");
    const std::int32_t A = (settings.Double + 1) * settings.PSiz;
    const std::int32_t B = inputHeight() / 30;
    if (settings.FocP == 1) writeFocusBand(A, B);
    const std::int32_t start = patternStart();
    std::printf("0%% ]................:................:................:................[ 100%%\r0%% ]");

    PatternState stripState{};
    PatternState sourceState{};
    std::int32_t barColumns = 0;
    const std::int32_t rows = inputHeight();
    for (std::int32_t y = 0; y < rows; ++y) {
        // A failed write has closed the output for good: nothing more can be written.
        if (run.outputImage.format != 1) return;
        calculateRow(y, start, A, B, stripState, sourceState);
        if (y % 8 == 0) showProgress(y, rows, barColumns);
    }
    if (run.outputImage.format != 1) return;
    showProgress(rows, rows, barColumns);
}
