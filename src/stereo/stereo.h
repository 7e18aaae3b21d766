// Stereogram synthesis: the calculation loop and the work on one row.
//
// ABOUT
//   renderStereogram (called by render(), rdsgen.h) produces every output row: for each
//   input row the pattern strip (makePatternRow) is written into a RowWork,
//   the seeds of the linking passes are drawn, and then the strip is
//   widened, the row's depths become a widened SeparationRow, linkRow fills
//   the rest of the RowBuffer, VInc halves it again, FocP 2 paints the focus
//   marks and finishRow makes the output bytes. Rows reach the sink in
//   order. Threads take batches of rows in turn and draw a batch's random
//   numbers once the batch before it has been drawn, so they are drawn in
//   the same order whatever the number of threads.
//
// ROW WORK (one per row in flight, all in one block: allocateRowWork)
//   row            the RowBuffer: one row at working resolution,
//                  geometry.rowPixels pixels (blue, green, red; see below).
//   separations    the SeparationRow: one std::int32_t per link, the depth in
//                  pixels at working resolution; -1 marks a removed link.
//   sourceRow      the pattern source row (NoRD or PatT 0), else null.
//   Rows hold geometry.pixelBytes bytes per pixel: 3, or 1 for grey output,
//   whose pixels are all grey (the generators' three-byte strip is then
//   made in `strip` and its first bytes copied into the row). The strip
//   lies at pixel geometry.stripStart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "run/run.h"

namespace rdsgen {

// The buffers lie in a block that allocateRowWork returns (null: none).
struct RowWork {
    std::uint8_t* row = nullptr;
    std::uint8_t* separations = nullptr;
    std::uint8_t* sourceRow = nullptr;
    std::uint8_t* strip = nullptr;      // the strip at three bytes per pixel, for grey rows
    std::int32_t y = 0;                 // the input row
    std::uint32_t seeds[2] = {0, 0};    // of the left-to-right and right-to-left passes
    const std::uint8_t* output = nullptr;  // the finished row, outputRowBytes bytes
};

// The bytes of each buffer of a RowWork (0: not allocated).
struct RowWorkSizes {
    std::size_t row = 0;
    std::size_t separations = 0;
    std::size_t strip = 0;
    std::size_t sourceRow = 0;
    std::size_t total() const { return row + separations + strip + sourceRow; }
};
RowWorkSizes rowWorkSizes(const RowGeometry& geometry, bool separations = true);

// Allocates the buffers of every RowWork of works, zero-filled, in one
// block, which the result owns; null without memory. One block is cleared
// by the kernel as its pages are first touched, where separate small blocks
// were each cleared page by page (hundreds of page faults). Without
// separations (rows linked straight from 8-bit heights), no SeparationRow is
// allocated.
[[nodiscard]] Bytes allocateRowWork(const RowGeometry& geometry, std::span<RowWork> works, bool separations = true);
[[nodiscard]] inline Bytes allocateRowWork(const RowGeometry& geometry, RowWork& work, bool separations = true) {
    return allocateRowWork(geometry, std::span<RowWork>(&work, 1), separations);
}

inline std::int32_t* separationRow(RowWork& work) { return reinterpret_cast<std::int32_t*>(work.separations); }

// --- Row linking (P: geometry.patternWidth, N: geometry.scaledInputWidth) ---
// Hidden-surface removal when on, then the passes PPos asks for, with the
// seeds in work.seeds.
void linkRow(const RunSettings& settings, const RowGeometry& geometry, RowWork& work);
// Whether rows of heights of this kind are linked straight from the heights
// and table (linkRowFromHeights), without a SeparationRow: 8-bit grey
// heights, no hidden-surface removal, a depth for each of the 256 heights.
bool linksFromHeights(const RunSettings& settings, PixelKind kind, const struct DepthTable& table);
// linkRow for a row of 8-bit heights (stored, the image row) whose depths
// come from table (indexed by the height) as the links are made, without a
// SeparationRow. False, with nothing done, where linksFromHeights says no.
bool linkRowFromHeights(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                        const std::uint8_t* stored, const struct DepthTable& table);
void linkLeftToRight(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed);
void linkRightToLeft(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                     std::uint32_t seed);
// p: byte offset of the pixel (geometry.pixelBytes per pixel); direction -1
// copies from the left, +1 from the right.
void fillUnlinkedPixel(const RunSettings& settings, const RowGeometry& geometry, RowWork& work,
                       std::int32_t p, std::uint32_t seed, std::int32_t direction);
// Copies the pattern source row's pixel for working column `column`.
void copyPatternSourcePixel(const RunSettings& settings, const RowGeometry& geometry,
                            const RowWork& work, std::uint8_t* destination, std::int32_t column);

// --- Hidden-surface removal ---
void removeHiddenLinks(const RowGeometry& geometry, RowWork& work);

// --- Focus points: marks on band or image row c ---
void drawFocusMarks(const RunSettings& settings, const RowGeometry& geometry, std::uint8_t* row,
                    std::int32_t c);

// --- Row resolution scaling ---
void widenPatternStrip(const RunSettings& settings, const RowGeometry& geometry, RowWork& work);
void widenSeparationRow(const RowGeometry& geometry, RowWork& work);
void reduceRow(const RowGeometry& geometry, RowWork& work);

// Writes the stereogram of planned settings and geometry (images already
// checked against them) to sink.
Status renderStereogram(const RunSettings& settings, const RowGeometry& geometry, const Image& heights,
                        const Image* pattern, const RenderOptions& options, RowSink sink, Progress progress);

// The number of worker threads for a requested count (0: online cores),
// at most kMaxThreads.
std::int32_t threadCount(std::int32_t requested);

// Everything of one row after its pattern strip and seeds: separations,
// linking, scaling, marks and finishing; sets work.output.
void computeRow(const RunSettings& settings, const RowGeometry& geometry, const Image& heights,
                const struct DepthTable& depths, RowWork& work);

}  // namespace rdsgen
