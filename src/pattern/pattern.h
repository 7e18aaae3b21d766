// Pattern sources: one period of pattern for every row.
//
// ABOUT
//   makePatternRow writes the pattern strip (pattern width pixels) for one
//   input row, from the pattern image (PatT 0) or one of seven generators,
//   and, with NoRD, a second generated line of pattern source period pixels
//   into the pattern source row. All random numbers come from std::rand, in
//   a fixed order: the strip's draws, then the pattern source row's.
//
// GENERATORS (PatT)
//   1 drawBlackWhiteDots   2 drawStripes        3 drawDashes
//   4 drawFiveColourDots   5 drawGradientDots   6, 7 drawDiscs (hard, soft)
//   0 stretchPatternImageRow
//   A generator given w pixels writes exactly those w pixels (3 bytes each,
//   blue, green, red). Generators with state keep it in a PatternState that
//   they initialise on row 0.
#pragma once

#include <cstdint>

#include "cli/cli.h"

// State a generator carries from row to row.
struct PatternState {
    std::int32_t values[220];
};

// The current row's foreground and background colours (types 3, 5, 6, 7).
extern Colour RowF;
extern Colour RowB;

// Writes the strip for input row `row`; with NoRD (or PatT 0) also the
// pattern source row. patternSourceRow may be null when neither is in use.
void makePatternRow(std::uint8_t* strip, std::uint8_t* patternSourceRow, PatternState& stripState,
                    PatternState& sourceState, std::int32_t row);

void drawBlackWhiteDots(std::uint8_t* pixels, std::int32_t w);
void drawStripes(std::uint8_t* pixels, std::int32_t w, std::int32_t row, PatternState& state);
void drawFiveColourDots(std::uint8_t* pixels, std::int32_t w);

// Sets RowF and RowB for input row `row` (no draws).
void updateRowColours(std::int32_t row);
void drawGradientDots(std::uint8_t* pixels, std::int32_t w);
void drawDiscs(std::uint8_t* pixels, std::int32_t w, std::int32_t row, PatternState& state,
               bool hard);

void drawDashes(std::uint8_t* pixels, std::int32_t w, std::int32_t row, PatternState& state);

// Copies the chosen pattern image row into run.patternSourceRow and makes the
// strip from it (first pattern width pixels, or resampled with StretX).
void stretchPatternImageRow(std::uint8_t* strip, std::int32_t row);
