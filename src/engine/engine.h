// The engine: one run from images in memory to a stereogram in a sink.
//
// ABOUT
//   prepareStereogram, renderStereogram and generateStereogram (rdsgen.h)
//   are the library's entry points. The steps of preparation are offered
//   one by one as well, so that a client that loads its images itself (the
//   command line) can report each refusal at the moment it arises:
//
//     normalisePatternType  resolveStripes  checkPatternImage
//     fitPatternImage       adjustSettings  makeRowGeometry
//
//   makeRowGeometry makes every limit check of the run (pattern width,
//   buffers of at most 1 GiB, output sides of at most 65535); no other code
//   derives a size.
#pragma once

#include <cstdint>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

// kInvalidSetting for a flag that is not 0 or 1.
Status checkFlags(const Settings& settings);

// kNotPrepared unless settings, geometry and images are what preparing the
// run gives: flags 0 or 1, the pattern type normalised, the stripes
// resolved, images whose rows fit their pixels, and the same geometry.
Status checkPrepared(const Settings& settings, const RowGeometry& geometry, const Image& heights,
                     const Image* pattern);

// A PatT outside 1..7 names the pattern image (0); pattern types other than
// 1 and 2 force true-colour output.
void normalisePatternType(Settings& settings);

// With psizInStripes, turns the number of stripes in PSiz into a width in
// pixels (and clears psizInStripes). kNoStripes for fewer than 1 stripe.
Status resolveStripes(Settings& settings, std::int32_t inputWidth);

// kPatternImageEmpty when PatT 0 has no pattern image or one without pixels
// (a width or height of 0).
Status checkPatternImage(const Settings& settings, const Image* pattern);

// The stretch decisions for the pattern image (PatT 0; clears the stretch
// flags otherwise). Returns Warning bits.
unsigned fitPatternImage(Settings& settings, const Image& heights, const Image* pattern);

// The adjustments that come with warnings: CutOff with FocP 1 takes FocP 2;
// Hidden with PPos 2 or 3 is noted. Returns Warning bits.
unsigned adjustSettings(Settings& settings);

// Every size of the run, after every limit check.
Status makeRowGeometry(const Settings& settings, const Image& heights, const Image* pattern,
                       RowGeometry& geometry);

// The number of worker threads for a requested count (0: online cores),
// at most kMaxThreads.
std::int32_t threadCount(std::int32_t requested);

}  // namespace rdsgen
