// The run driver's pieces that the frame-sequence runs share with the
// single-image run (driver.cpp, sequence.cpp).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/files.h"
#include "rdsgen/rdsgen.h"

namespace rdsgen {

// The temporary output file the signal handler removes ("" none).
void setPendingOutput(const std::string& temporary);
// Every text the run prints on standard output goes to standard error.
void printTextsOnStandardError();
// Wipes a progress text written without a newline.
void blankProgressText();
// Prints a refusal of the run; fileName is the image a reader's refusal is about.
void printError(const Status& status, const std::string& fileName = "");
// RDSGEN_THREADS when it is a positive number, else 0 (every online core).
std::int32_t requestedThreads();
// Loads an input image with its progress text; prints any refusal.
bool loadInput(const std::string& fileName, bool heightImage, Image& image, const PixelsNeeded& pixelsNeeded = {});
// The plan's warnings, in bit order.
void printWarnings(unsigned warnings);
bool sameFile(const struct stat& a, const std::string& path);
// An output name ending in ".png", in any case.
bool hasPngExtension(const std::string& name);
// Whether a plan lets the image's pixels be of use.
bool pixelsWanted(const Plan& planned);
// Plans the run with the height image, loading the pattern image when the
// plan asks for one (only the pixels the plan can use, with
// onlyWantedPixels); prints the warnings, or the refusal and returns false.
bool planRun(const Settings& settings, const Image& heights, const std::string& patternName, bool onlyWantedPixels,
             Image& pattern, Plan& planned);

// Carries out a run whose input or output is more than one image (numbered
// frames, a stream, an animated file) or a standard stream ("-"), setting
// the exit status; false for a single input and output, which the caller
// runs as one image.
bool runFrameSequence(const std::vector<std::string>& slots, const Settings& settings, const std::string& patternName,
                      std::uint32_t seed, int& exitStatus);

}  // namespace rdsgen
