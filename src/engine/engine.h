// Planning and rendering: the library's entry points (rdsgen.h).
//
// ABOUT
//   plan() completes the caller's settings for the images' headers and fixes
//   every size of the run, in the order a run meets its refusals:
//
//     checkFlags  (Width: resampledHeader)  normalisePatternType  resolveStripes  (pattern header)
//     fitPatternImage  adjustSettings  makeRowGeometry
//
//   makeRowGeometry makes every limit check of the run (pattern width,
//   buffers of at most 1 GiB, output sides of at most 65535); no other code
//   derives a size. What render() needs is kept in the plan's PlanDetail,
//   which only the library reads. render() checks the images against the
//   plan and hands the rest to the calculation loop (stereo/).
#pragma once

#include <cstdint>

#include "run/run.h"

namespace rdsgen {

// The plan as render() carries it out: its own copy of everything it relies
// on, which the caller cannot change.
struct PlanDetail {
    RunSettings settings;
    RowGeometry geometry;
    ImageHeader heights;    // as given to render()
    ImageHeader resampled;  // as the run uses it (Width)
    ImageHeader pattern;    // PatT 0
};

// kInvalidSetting for a flag that is not 0 or 1.
Status checkFlags(const Settings& settings);

// The caller's settings with the colours as top and difference.
RunSettings runSettings(const Settings& settings);

// A PatT outside 1..7 names the pattern image (0); pattern types other than
// 1 and 2 force true-colour output.
void normalisePatternType(RunSettings& settings);

// With psizInStripes, turns the number of stripes in PSiz into a width in
// pixels (and clears psizInStripes). kNoStripes for fewer than 1 stripe.
Status resolveStripes(RunSettings& settings, std::int32_t inputWidth);

// The stretch decisions for the pattern image (PatT 0; clears the stretch
// flags otherwise). Returns Warning bits.
unsigned fitPatternImage(RunSettings& settings, const ImageHeader& heights, const ImageHeader* pattern);

// The adjustments that come with warnings: CutOff with FocP 1 takes FocP 2;
// Hidden with PPos 2 or 3 is noted. Returns Warning bits.
unsigned adjustSettings(RunSettings& settings);

// Every size of the run, after every limit check.
Status makeRowGeometry(const RunSettings& settings, const ImageHeader& heights, const ImageHeader* pattern,
                       RowGeometry& geometry);

}  // namespace rdsgen
