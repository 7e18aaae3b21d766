// Pattern sources: one period of pattern for every row.
//
// ABOUT
//   makePatternRow writes the pattern strip (PSiz pixels) for one input row,
//   from the pattern image (PatT 0) or one of seven generators, and, with
//   NoRD, a second generated line of pattern-source-period pixels into the
//   pattern source row. Every random number comes from the run's Random, in
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

#include "run/run.h"

namespace rdsgen {

// The C library's rand() sequence after srand(seed), as glibc makes it (an
// additive feedback generator over 31 words), on every platform.
class Random {
public:
    explicit Random(std::uint32_t seed = 1) { reseed(seed); }
    void reseed(std::uint32_t seed);
    // The next number, 0 ... 2^31 - 1.
    std::int32_t next() {
        const std::uint32_t value =
            static_cast<std::uint32_t>(table_[front_]) + static_cast<std::uint32_t>(table_[rear_]);
        table_[front_] = static_cast<std::int32_t>(value);
        front_ = front_ == kDegree - 1 ? 0 : front_ + 1;
        rear_ = rear_ == kDegree - 1 ? 0 : rear_ + 1;
        return static_cast<std::int32_t>(value >> 1);
    }

private:
    static constexpr int kDegree = 31;
    std::int32_t table_[kDegree] = {};
    int front_ = 3;
    int rear_ = 0;
};

// State a generator carries from row to row.
struct PatternState {
    std::int32_t values[220];
};

// One row's foreground and background colours (types 3, 5, 6, 7).
struct RowColours {
    Colour foreground;  // RowF
    Colour background;  // RowB
};

// The colours of input row `row` of inputHeight rows (no draws).
RowColours rowColours(const RunSettings& settings, std::int32_t inputHeight, std::int32_t row);

// What the generators read and draw from.
struct PatternContext {
    const RunSettings& settings;
    Random& random;
    RowColours colours{};  // the current row's, set by makePatternRow
};

// Writes the strip for input row `row` at strip; with NoRD (or PatT 0) also
// the pattern source row (geometry.sourcePeriod pixels), which may be null
// when neither is in use. patternImage is used with PatT 0.
void makePatternRow(PatternContext& context, const RowGeometry& geometry, const Image* patternImage,
                    std::uint8_t* strip, std::uint8_t* patternSourceRow, PatternState& stripState,
                    PatternState& sourceState, std::int32_t row);

void drawBlackWhiteDots(PatternContext& context, std::uint8_t* pixels, std::int32_t w);
void drawStripes(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
                 PatternState& state);
void drawFiveColourDots(PatternContext& context, std::uint8_t* pixels, std::int32_t w);
void drawGradientDots(PatternContext& context, std::uint8_t* pixels, std::int32_t w);
void drawDiscs(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
               PatternState& state, bool hard);
void drawDashes(PatternContext& context, std::uint8_t* pixels, std::int32_t w, std::int32_t row,
                PatternState& state);

// Copies the chosen pattern image row into patternSourceRow and makes the
// strip from it (the first PSiz pixels, or resampled with StretX).
void stretchPatternImageRow(const RunSettings& settings, std::int32_t inputHeight, const Image& image,
                            std::uint8_t* strip, std::uint8_t* patternSourceRow, std::int32_t row);

// The pattern-image decisions: the stretch flags, PNarrow and the pattern
// width, from the sizes of the two images. Returns kWarnStretchXAssumed when
// stretching X had to be assumed without the automatic choice, else 0.
unsigned decidePatternImageStretch(RunSettings& settings, const ImageHeader& heights, const ImageHeader& pattern);

}  // namespace rdsgen
