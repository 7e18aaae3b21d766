// Command line and run control.
//
// ABOUT
//   runRdsgen is the whole program: banner, option parsing, settings, the
//   file names, image loading, the engine's preparation steps, the output
//   file and the rendering, ending in the exit status (0 after a completed
//   run, 1 otherwise). main only calls it. This is the only code that prints:
//   every message of a run is printed here, from the engine's statuses,
//   warnings and progress reports.
//
// OPTIONS
//   parseOptions fills one text slot per entry of an option table; the
//   driver converts the slots into Settings (readDecimal, splitColour,
//   parseStretch). printUsage prints the twenty usage lines with the defaults.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

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
// `errors` (none when it is null), in argument order.
// File names: an argument beginning with '/' whose text before its first ':'
// holds another '/' is a file name (an absolute path), and every argument
// after a "--" is one. "--help" and "--version" before any "--" fill no slot:
// findInfoRequest has answered them before parsing.
int parseOptions(std::vector<std::string>& slots, const char* table, int argc,
                 const char* const* argv, std::FILE* errors = stderr);

// What "--help" or "--version" asks for: the first of them in argv[1..argc-1]
// that comes before any "--" (later they are file names).
enum class InfoRequest { kNone, kHelp, kVersion };
InfoRequest findInfoRequest(int argc, const char* const* argv);

// --- Settings ---

// Reads a decimal integer: leading blanks, one sign, digits up to the first
// other character; no digits reads 0; clamped to the 32-bit signed range.
std::int32_t readDecimal(const char* text);

// Reads the Stret letters into the stretch flags of settings, printing its
// warnings on standard output. Changes text in place.
void parseStretch(char* text, Settings& settings);

// Prints the twenty usage lines with the default settings.
void printUsage(std::FILE* out, const char* programName);

// --- Run driver ---

// The part of path after its last '/', cut at its last '.', at most 30 characters.
std::string programName(const char* path);

// Appends extension when the name's last path component has no '.'; with
// existsTest, a readable name that exists and is not a directory stays as it
// is (tested without opening it). A name
// of an existing device or pipe (/dev/null), or of any existing file directly
// in /dev or in /proc (/dev/stdout, /dev/fd/3), always stays as it is.
std::string addDefaultExtension(const std::string& name, const char* extension, bool existsTest);

// Draws the 67-column '#' progress bar up to row of rows; barColumns carries
// the columns drawn so far from call to call.
void showProgress(std::int32_t row, std::int32_t rows, std::int32_t& barColumns);

// The whole program; returns the exit status.
int runRdsgen(int argc, const char* const* argv);

}  // namespace rdsgen
