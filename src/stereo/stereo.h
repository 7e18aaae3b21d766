// Stereogram synthesis: the calculation loop and the work on one row.
//
// ABOUT
//   runCalculation produces and writes every output row: for each input row
//   the pattern strip (makePatternRow) is widened, the row's depths become a
//   widened SeparationRow, linkRow fills the rest of the RowBuffer, VInc
//   halves it again, FocP 2 paints the focus marks, and the writer appends
//   it. showProgress draws the 67-column '#' bar.
//
// BUFFERS (owned by the run driver, see cli/cli.h)
//   RowBuffer      run.rowBuffer: 3 bytes per pixel (blue, green, red); one
//                  row at working resolution, S * (input width + PSiz) pixels.
//   SeparationRow  separationRow(): one std::int32_t per link, the depth in
//                  pixels at working resolution; -1 marks a removed link.
//   patternStart   pixel index of the strip: 0, S * (input width / 2) or
//                  S * input width by PPos. Positions are passed between the
//                  operations as byte offsets, 3 * pixel index.
#pragma once

#include <cstdint>

#include "cli/cli.h"

inline std::int32_t* separationRow() {
    return reinterpret_cast<std::int32_t*>(run.separationBuffer.get());
}

// The strip's pixel index for the current settings and input width.
std::int32_t patternStart();

// --- Calculation loop and progress ---
void runCalculation();
void showProgress(std::int32_t row, std::int32_t rows, std::int32_t& barColumns);

// --- Row linking (P, N: scaled pattern width and input width) ---
void linkRow(std::int32_t startOffset, std::int32_t P, std::int32_t N);
void linkLeftToRight(std::int32_t P, std::int32_t startOffset, std::int32_t N);
void linkRightToLeft(std::int32_t P, std::int32_t startOffset);
// p: byte offset of the pixel; direction -1 copies from the left, +1 from the right.
void fillUnlinkedPixel(std::int32_t p, std::uint32_t seed, std::int32_t P, std::int32_t direction);
void copyPatternSourcePixel(std::uint8_t* destination, std::int32_t column);

// --- Hidden-surface removal ---
void removeHiddenLinks(std::int32_t startOffset, std::int32_t N);

// --- Focus points (A: mark distance, B: band height) ---
void drawFocusMarks(std::int32_t A, std::int32_t B, std::int32_t c);
void writeFocusBand(std::int32_t A, std::int32_t B);

// --- Row resolution scaling ---
void widenPatternStrip(std::uint8_t* strip, std::int32_t factor);
void widenSeparationRow(std::int32_t* separations, std::int32_t factor);
void reduceRow();
