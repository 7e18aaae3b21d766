// The run as every subsystem sees it: the settings completed by the plan and
// every size of the run, fixed once and then only read.
//
// ABOUT
//   RunSettings is the caller's Settings with what the plan derives from
//   them: PNarrow, and the colours as top and difference (DiffF, DiffB).
//   RowGeometry holds every size; "working resolution" is scale times the
//   output's own. Both are made by plan() (src/engine/) and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

struct RunSettings : Settings {
    std::int32_t PNarrow = 0;   // pattern image narrower than a third of the input
    Colour DiffF{0, -158, 140}; // BotF - TopF
    Colour DiffB{-90, 80, -160};  // BotB - TopB
};

struct RowGeometry {
    std::int32_t scale = 1;              // (VInc + 1) * (Double + 1): 1, 2 or 4
    std::int32_t inputWidth = 0;
    std::int32_t inputHeight = 0;
    std::int32_t patternWidth = 0;       // scale * PSiz: P
    std::int32_t scaledInputWidth = 0;   // scale * inputWidth
    std::int32_t stripStart = 0;         // pixel index of the pattern strip (patternStart)
    std::int32_t rowPixels = 0;          // room of a row buffer: scale * (inputWidth + PSiz + 1)
    std::int32_t sourcePeriod = 0;       // pixels of the pattern source row (0: none)
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    bool outputGrey = false;             // 8-bit grey output (else 24-bit colour)
    std::int32_t outputRowBytes = 0;
    std::int32_t cutOffPixels = 0;       // pixels of a finished row skipped with CutOff
    // Bytes per pixel of the working rows: 3 (blue, green, red), or 1 where
    // every pixel is grey (grey output).
    std::int32_t pixelBytes = 3;
    std::int32_t markDistance = 0;       // focus marks: A
    std::int32_t bandHeight = 0;         // focus marks: B
    std::int32_t bandRows = 0;           // rows of the focus band above the image (B or 0)
};

// A status with its details (the detail values and a reason, as the code uses them).
inline Status makeStatus(StatusCode code, std::int64_t first = 0, std::int64_t second = 0,
                         std::string reason = {}) {
    Status status;
    status.code = code;
    status.detail[0] = first;
    status.detail[1] = second;
    status.reason = std::move(reason);
    return status;
}

}  // namespace rdsgen
