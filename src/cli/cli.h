// Command line and run control.
//
// ABOUT
//   runRdsgen is the whole program: banner, option parsing, settings, image
//   loading, sizes and buffers, the output file, height scaling and the
//   calculation loop, ending in the exit status (0 after a completed run,
//   1 otherwise). main only calls it.
//
// PROCESS-WIDE RECORDS
//   settings  every option value and derived flag (defaults below); written by
//             the driver at start-up, read by every later step.
//   run       the three images and the three buffers of one run, owned by the
//             driver, used by the other subsystems directly.
//
// OPTIONS
//   parseOptions fills one text slot per entry of an option table; the
//   driver converts the slots into settings (readDecimal, splitColour,
//   parseStretch). printUsage prints the twenty usage lines with the defaults.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image.h"

// A colour as three signed 16-bit components.
struct Colour {
    std::int16_t red = 0;
    std::int16_t green = 0;
    std::int16_t blue = 0;
};

// Every option value and derived flag of the run. Flags hold 0 or 1.
struct Settings {
    std::int32_t PatT = 1;      // pattern type 1..7; 0: the PatT text names a pattern image
    std::int32_t PSiz = 68;     // pattern width in pixels
    std::int32_t PUse = 24;     // largest depth as a percentage of the pattern width
    std::int32_t FocP = 1;      // focus points: 0 none, 1 band above the image, 2 in the image
    std::int32_t Dens = 45;     // density of the generated patterns
    std::int32_t TrueOut = 0;   // true-colour output
    std::int32_t VInc = 0;      // virtually doubled resolution while linking
    std::int32_t Inv = 0;       // inverted elevations
    std::int32_t NoRD = 0;      // fill unlinked pixels from the pattern source row
    std::int32_t PPos = 2;      // pattern position: 1 left, 2 centre, 3 right
    std::int32_t CutOff = 0;    // output cut to the input width
    std::int32_t Hidden = 0;    // hidden-surface checking
    std::int32_t Double = 0;    // doubled output resolution
    std::int32_t PNarrow = 0;   // pattern image narrower than a third of the input
    std::int32_t StretA = 1;    // automatic choice of the stretch flags
    std::int32_t StretX = 0;
    std::int32_t StretY = 0;
    std::int32_t StretR = 0;
    std::int32_t StretP = 0;
    std::int32_t StretZ = 0;
    Colour TopF{255, 248, 0};
    Colour DiffF{0, -158, 140};
    Colour TopB{90, 60, 255};
    Colour DiffB{-90, 80, -160};
};

// The images and buffers of one run.
struct RunData {
    TgaImage heightImage;
    TgaImage patternImage;      // filled only when PatT is 0
    TgaImage outputImage;
    // First a stored row of the height image (for height scaling and
    // makeSeparationRow), then the SeparationRow: one std::int32_t per pixel
    // at working resolution. (input width + 1) * 4 * scale factor bytes.
    Bytes separationBuffer;
    // The RowBuffer: (input width + pattern width + 1) * 3 * scale factor bytes.
    Bytes rowBuffer;
    // (pattern source period + 1) * 3 * scale factor bytes, when NoRD or PatT 0.
    Bytes patternSourceRow;
    std::int32_t patternSourcePeriod = 0;
};

extern Settings settings;
extern RunData run;

// Run terms derived from the settings and the height image.
inline std::int32_t scaleFactor() { return (settings.VInc + 1) * (settings.Double + 1); }
inline std::int32_t inputWidth() { return run.heightImage.width; }
inline std::int32_t inputHeight() { return run.heightImage.height; }

// The option table of the program and its slot layout.
inline constexpr const char* kOptionTable =
    "__,!h,!?,PatT:,PSiz:P,PSiz:S,PUse:,PPos:,Dens:,Rand:,FocP:,TopF:,BotF:,TopB:,BotB:,"
    "Stret:,!NoRD,!TrueOut,!VInc,!Inv,!CutOff,!Hidden,!Double";
inline constexpr int kSlotCount = 24;
inline constexpr int kSlotSize = 255;
enum Slot {
    kSlotInput, kSlotOutput, kSlotHelp, kSlotQuestion, kSlotPatT, kSlotPSizP, kSlotPSizS,
    kSlotPUse, kSlotPPos, kSlotDens, kSlotRand, kSlotFocP, kSlotTopF, kSlotBotF, kSlotTopB,
    kSlotBotB, kSlotStret, kSlotNoRD, kSlotTrueOut, kSlotVInc, kSlotInv, kSlotCutOff,
    kSlotHidden, kSlotDouble
};

// --- Option-table parser ---

// Upper-cases one byte as code page 437 does.
unsigned char upcaseChar(unsigned char c);
// Upper-cases a zero-terminated text in place.
void upcaseString(char* text);
// Upper-cases an option's name (from its leading '-' or '/' up to the first
// ':'); leaves any other text unchanged.
void upcaseOptionName(char* text);

// Parses argv[1..argc-1] against table into slots, one text per table
// position: "" when the option is absent, ">" for a flag or an empty value,
// else the value as typed. Arguments of any length are kept whole. Returns 0,
// or 1 when any argument was refused; every refusal has been printed on
// standard error, in argument order.
// File names: an argument beginning with '/' whose text before its first ':'
// holds another '/' is a file name (an absolute path), and every argument
// after a "--" is one. "--help" and "--version" before any "--" fill no slot:
// findInfoRequest has answered them before parsing.
int parseOptions(std::vector<std::string>& slots, const char* table, int argc,
                 const char* const* argv);

// What "--help" or "--version" asks for: the first of them in argv[1..argc-1]
// that comes before any "--" (later they are file names).
enum class InfoRequest { kNone, kHelp, kVersion };
InfoRequest findInfoRequest(int argc, const char* const* argv);

// --- Settings ---

// Reads a decimal integer: leading blanks, one sign, digits up to the first
// other character; no digits reads 0; clamped to the 32-bit signed range.
std::int32_t readDecimal(const char* text);

// Splits an rrrgggbbb number into red, green and blue, unclamped.
void splitColour(std::int32_t number, Colour& colour);

// Reads the Stret letters into the stretch flags of settings, printing its
// warnings on standard output. Changes text in place.
void parseStretch(char* text);

// Prints the twenty usage lines with the default settings.
void printUsage(std::FILE* out, const char* programName);

// --- Run driver ---

// The part of path after its last '/', cut at its last '.', at most 30 characters.
std::string programName(const char* path);

// Appends extension when the name's last path component has no '.'; with
// existsTest, a name that can be opened for reading stays as it is. A name
// of an existing device or pipe (/dev/null) always stays as it is.
std::string addDefaultExtension(const std::string& name, const char* extension, bool existsTest);

// Pattern-image decisions: the stretch flags, PNarrow and the pattern width,
// from the sizes of the two images (run.heightImage, run.patternImage).
// psizGiven: a form of PSiz appeared on the command line.
void decidePatternImageStretch(bool psizGiven);

// Output size for the current settings and height image (before the limit check).
std::int64_t outputWidth();
std::int64_t outputHeight();

// The whole program; returns the exit status.
int runRdsgen(int argc, const char* const* argv);
