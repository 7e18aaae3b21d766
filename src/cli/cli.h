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
//   kOptions is the one table of the options; parseOptions fills one text
//   slot per entry of the parser's table made from it; convertSlots turns
//   the slots into Settings and start-up values (readDecimal, readStretch).
//   printUsage prints the twenty usage lines from the table (--help: and the
//   later options' lines). The page's
//   engine (web/api.cpp) uses the same code, so the texts these return
//   (refusals, warnings) are printed only by the driver.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

// --- The option table ---
//
// Every option of the command line, once: the parser's table (kOptionTable),
// the slot layout, the usage text and the page's controls are made from it.
// Adding an option is one entry here plus its use (convertSlots).

// What an option's value is, which also tells how it is shown.
enum class OptionKind {
    kHelp,     // asks for the usage text
    kPattern,  // a pattern type (kPatternTypes) or a pattern image's file name
    kNumber,   // a decimal number (readDecimal)
    kChoice,   // a number from low to high, each with a name (choices)
    kSeed,     // the random seed; 0 asks for one
    kColour,   // an rrrgggbbb number
    kLetters,  // the stretch letters (kStretchLetters)
    kFlag,     // on when given
    kSequence, // a frame-sequence value, read by the driver (no usage line, no control on the page)
};

struct OptionSpec {
    const char* entry;        // as the parser matches it: "!" marks a flag, text after ':' a fixed prefix of the value
    OptionKind kind;
    const char* defaultText;  // the value a run without the option has, as typed ("" none)
    std::int32_t low;         // the accepted values when low <= high
    std::int32_t high;
    const char* choices;      // names of the values low..high, comma-separated ("" none)
    const char* help;         // the usage line's text; {types} stands for the pattern type numbers ("" no line)
    const char* label;        // a short name for a control
    const char* moreHelp = "";  // a line shown by --help after the usage ("" none)
};

inline constexpr std::int32_t kFirstPatternType = kPatternTypes[0].number;
inline constexpr std::int32_t kLastPatternType = kPatternTypes[std::size(kPatternTypes) - 1].number;

inline constexpr OptionSpec kOptions[] = {
    {"!h", OptionKind::kHelp, "", 0, -1, "", "", ""},
    {"!?", OptionKind::kHelp, "", 0, -1, "", "", ""},
    {"PatT:", OptionKind::kPattern, "1", kFirstPatternType, kLastPatternType, "",
     "pattern type ({types} or tga filename)", "Type"},
    {"PSiz:P", OptionKind::kNumber, "68", 0, -1, "",
     "pattern width (/PSiz:P# in pixels, /PSiz:S# in stripes)", "pixels"},
    {"PSiz:S", OptionKind::kNumber, "", 0, -1, "", "", "stripes"},
    {"PUse:", OptionKind::kNumber, "24", 0, -1, "", "usage percentage of pattern",
     "Depth (% of the pattern width)"},
    {"PPos:", OptionKind::kChoice, "2", 1, 3, "left,centre,right",
     "pattern position (1=left, 2=center, 3=right)", "Position"},
    {"Dens:", OptionKind::kNumber, "45", 0, -1, "",
     "set % of black pixels (p-type 1&5) set # of dots (p-type 6&7)", "Density"},
    {"Rand:", OptionKind::kSeed, "0", 0, -1, "", "set random seed (0=random)", "Seed"},
    {"FocP:", OptionKind::kChoice, "1", 0, 2, "none,above the image,in the image",
     "focus points (0=none, 1=top of image; 2=in image)", "Focus marks"},
    {"TopF:", OptionKind::kColour, "255248000", 0, -1, "",
     "top foreground color for p-type 5&6&7 (rrrgggbbb)", "Top foreground"},
    {"BotF:", OptionKind::kColour, "255090140", 0, -1, "",
     "bottom foreground color for p-type 5&6&7 (rrrgggbbb)", "Bottom foreground"},
    {"TopB:", OptionKind::kColour, "090060255", 0, -1, "",
     "top background color for p-type 3&5&6&7 (rrrgggbbb)", "Top background"},
    {"BotB:", OptionKind::kColour, "000140095", 0, -1, "",
     "bottom background color for p-type 3&5&6&7 (rrrgggbbb)", "Bottom background"},
    {"Stret:", OptionKind::kLetters, "A", 0, -1, "",
     "stretch pattern image: A)utomatic,X,Y,Z,keep R)atio,adj. P)Siz", "Fitting the pattern image"},
    {"!NoRD", OptionKind::kFlag, "", 0, -1, "", "no Random Dots; insert parts of pattern insted",
     "no random dots"},
    {"!TrueOut", OptionKind::kFlag, "", 0, -1, "", "force output image to TARGA type 3 (true color)",
     "colour output"},
    {"!VInc", OptionKind::kFlag, "", 0, -1, "",
     "virtually increase Resolution (for more depth planes)", "more depth planes"},
    {"!Inv", OptionKind::kFlag, "", 0, -1, "", "reverse elevations (invert the input image)",
     "inverted heights"},
    {"!CutOff", OptionKind::kFlag, "", 0, -1, "", "cut output image to the size of the input image",
     "as wide as the input"},
    {"!Hidden", OptionKind::kFlag, "", 0, -1, "",
     "enable hidden surface checking (don't know if it helps)", "hidden surfaces"},
    {"!Double", OptionKind::kFlag, "", 0, -1, "",
     "double output image resolution (for better 3D effect)", "doubled size"},
    {"Width:", OptionKind::kNumber, "0", 0, -1, "",
     "resample the height image to this width first (0=as it is)", "Height image width"},
    {"First:", OptionKind::kSequence, "0 or 1", 0, -1, "", "", "first frame",
     "number of the first input frame (%d in the input name)"},
    {"Rate:", OptionKind::kSequence, "25", 0, -1, "", "", "frames per second",
     "frames per second of an animated PNG or GIF"},
    {"Dots:", OptionKind::kSequence, "Same", 0, -1, "Same|New", "", "dots",
     "Same: the same dots each frame; New: new dots each frame"},
};

// The letters of the stretch option, in the order they are looked for.
struct StretchLetter {
    char letter;
    const char* label;
};
inline constexpr StretchLetter kStretchLetters[] = {
    {'A', "automatic"},   {'X', "stretch across"},      {'Y', "stretch down"},
    {'R', "keep its ratio"}, {'P', "width from the image"}, {'Z', "use the actual height range"}};

// The two positional slots (input and output file) come first.
inline constexpr int kPositionalSlots = 2;
inline constexpr int kSlotCount = kPositionalSlots + static_cast<int>(std::size(kOptions));
inline constexpr int kSlotSize = 255;

// Whether an option's slot is called name: its entry without '!' and ':'.
constexpr bool slotNamed(const char* entry, std::string_view name) {
    std::size_t at = 0;
    for (; *entry != '\0'; ++entry) {
        if (*entry == '!' || *entry == ':') continue;
        if (at >= name.size() || name[at++] != *entry) return false;
    }
    return at == name.size();
}

// The slot of the option named name; no such option does not compile.
consteval int slotOf(std::string_view name) {
    for (std::size_t k = 0; k < std::size(kOptions); ++k) {
        if (slotNamed(kOptions[k].entry, name)) return kPositionalSlots + static_cast<int>(k);
    }
    throw "no option of this name";
}

// The option of a slot after the positional ones.
constexpr const OptionSpec& optionOfSlot(int slot) { return kOptions[slot - kPositionalSlots]; }

inline constexpr int kSlotInput = 0;
inline constexpr int kSlotOutput = 1;
inline constexpr int kSlotHelp = slotOf("h");
inline constexpr int kSlotQuestion = slotOf("?");
inline constexpr int kSlotPatT = slotOf("PatT");
inline constexpr int kSlotPSizP = slotOf("PSizP");
inline constexpr int kSlotPSizS = slotOf("PSizS");
inline constexpr int kSlotPUse = slotOf("PUse");
inline constexpr int kSlotPPos = slotOf("PPos");
inline constexpr int kSlotDens = slotOf("Dens");
inline constexpr int kSlotRand = slotOf("Rand");
inline constexpr int kSlotFocP = slotOf("FocP");
inline constexpr int kSlotTopF = slotOf("TopF");
inline constexpr int kSlotBotF = slotOf("BotF");
inline constexpr int kSlotTopB = slotOf("TopB");
inline constexpr int kSlotBotB = slotOf("BotB");
inline constexpr int kSlotStret = slotOf("Stret");
inline constexpr int kSlotNoRD = slotOf("NoRD");
inline constexpr int kSlotTrueOut = slotOf("TrueOut");
inline constexpr int kSlotVInc = slotOf("VInc");
inline constexpr int kSlotInv = slotOf("Inv");
inline constexpr int kSlotCutOff = slotOf("CutOff");
inline constexpr int kSlotHidden = slotOf("Hidden");
inline constexpr int kSlotDouble = slotOf("Double");
inline constexpr int kSlotWidth = slotOf("Width");

// The usage of /h, /? and a refused command line lists the options up to
// /Double, as it always has; --help lists every option.
inline constexpr std::size_t kUsageOptions = kSlotDouble - kPositionalSlots + 1;

inline constexpr int kSlotFirst = slotOf("First");
inline constexpr int kSlotRate = slotOf("Rate");
inline constexpr int kSlotDots = slotOf("Dots");

// The parser's table: "__" (the two positional slots), then every entry,
// comma-separated.
constexpr std::size_t optionTableLength() {
    std::size_t length = 2;
    for (const OptionSpec& option : kOptions) length += 1 + std::string_view(option.entry).size();
    return length;
}
constexpr std::array<char, optionTableLength() + 1> makeOptionTable() {
    std::array<char, optionTableLength() + 1> table{};
    std::size_t at = 0;
    table[at++] = '_';
    table[at++] = '_';
    for (const OptionSpec& option : kOptions) {
        table[at++] = ',';
        for (const char* c = option.entry; *c != '\0'; ++c) table[at++] = *c;
    }
    table[at] = '\0';
    return table;
}
inline constexpr std::array<char, optionTableLength() + 1> kOptionTableText = makeOptionTable();
inline constexpr const char* kOptionTable = kOptionTableText.data();

// The slot count, the table (each option with its slot), the pattern types
// and the stretch letters as one JSON object, for the page.
std::string optionsJson();
// A text as a JSON string: quotes, backslashes and control characters
// escaped, other bytes as they are.
std::string jsonString(std::string_view text);

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
// The same, keeping the refusals (each an "ERROR: " line without its
// newline) in refusals instead of printing them.
int parseOptions(std::vector<std::string>& slots, const char* table, int argc,
                 const char* const* argv, std::vector<std::string>& refusals);

// What "--help" or "--version" asks for: the first of them in argv[1..argc-1]
// that comes before any "--" (later they are file names).
enum class InfoRequest { kNone, kHelp, kVersion };
InfoRequest findInfoRequest(int argc, const char* const* argv);

// --- Settings ---

// Reads a decimal integer: leading blanks, one sign, digits up to the first
// other character; no digits reads 0; clamped to the 32-bit signed range.
std::int32_t readDecimal(const char* text);

// Reads the Stret letters into the stretch flags of settings and returns
// its warnings (each a "WARNING: " text without its last newline). Changes
// text in place.
std::vector<std::string> readStretch(char* text, Settings& settings);
// readStretch, printing the warnings on standard output.
void parseStretch(char* text, Settings& settings);

// The number an option's slot text stands for, or its default's when the
// slot is empty.
std::int32_t slotNumber(const std::vector<std::string>& slots, int slot);

// Start-up values that are not settings: the seed (0: none given) and the
// four colours as rrrgggbbb numbers.
struct StartValues {
    std::int32_t seed = 0;
    std::int32_t topF = readDecimal(optionOfSlot(kSlotTopF).defaultText);
    std::int32_t botF = readDecimal(optionOfSlot(kSlotBotF).defaultText);
    std::int32_t topB = readDecimal(optionOfSlot(kSlotTopB).defaultText);
    std::int32_t botB = readDecimal(optionOfSlot(kSlotBotB).defaultText);
};

// Converts the slots into settings and start-up values, in slot order; the
// stretch letters' warnings are added to warnings.
void convertSlots(std::vector<std::string>& slots, Settings& settings, StartValues& start,
                  std::vector<std::string>& warnings);

// The text of one warning bit of a plan (a "WARNING: " text without its
// last newline); "" for a bit that is no warning.
std::string planWarningText(unsigned warning);

// Prints the twenty usage lines with the default settings; with
// everyOption, a line for each later option besides (--help).
void printUsage(std::FILE* out, const char* programName, bool everyOption = false);
// Prints the lines --help adds after the usage: the options of frame
// sequences and the names that make one.
void printMoreUsage(std::FILE* out);

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

// --- Frame sequences ---

// A file name that may hold one frame number: "%d", or "%0Nd" for at least
// N digits; "%%" stands for a literal '%'.
enum class NameKind {
    kSingle,      // no frame number: one image (name holds it with every "%%" as '%')
    kNumbered,    // one frame number between before and after
    kTwoNumbers,  // more than one frame number: refused
};
struct FrameName {
    NameKind kind = NameKind::kSingle;
    std::string before;    // the name up to the number ('%' unescaped); the whole name when single
    std::string after;     // the name after the number
    std::int32_t digits = 0;  // at least this many digits, zero-padded
};
// Reads a name as above. A name with a '%' that starts none of "%%", "%d"
// and "%0Nd" is taken as it is, a single image, as names always were.
FrameName readFrameName(const std::string& name);
// The name of frame `number` of a numbered name.
std::string frameFileName(const FrameName& name, std::uint32_t number);

// The whole program; returns the exit status.
int runRdsgen(int argc, const char* const* argv);

}  // namespace rdsgen
