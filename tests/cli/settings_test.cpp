#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace rdsgen {
namespace {

struct StretchResult {
    Settings flags;
    std::string printed;
};

StretchResult stretch(const std::string& letters) {
    Settings settings;
    std::string text = letters;
    testing::internal::CaptureStdout();
    parseStretch(text.data(), settings);
    return {settings, testing::internal::GetCapturedStdout()};
}

TEST(ReadDecimalTest, StopsAtFirstNonDigitAndClamps) {
    EXPECT_EQ(readDecimal("68"), 68);
    EXPECT_EQ(readDecimal("  -12x"), -12);
    EXPECT_EQ(readDecimal("+7"), 7);
    EXPECT_EQ(readDecimal("3d.tga"), 3);
    EXPECT_EQ(readDecimal(">"), 0);
    EXPECT_EQ(readDecimal(""), 0);
    EXPECT_EQ(readDecimal("--1"), 0);
    EXPECT_EQ(readDecimal("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(readDecimal("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(readDecimal("-2147483648"), INT32_MIN);
}

TEST(SplitColourTest, RedGreenBlueFromDigits) {
    struct Case {
        std::int32_t number;
        int red, green, blue;
    };
    const Case cases[] = {{0, 0, 0, 0},          {128064032, 128, 64, 32}, {1000, 0, 1, 0},
                          {999999999, 999, 999, 999}, {90060255, 90, 60, 255}, {-1, 0, 0, -1},
                          {-1002003, -1, -2, -3}};
    for (const Case& c : cases) {
        Colour colour = splitColour(c.number);
        EXPECT_EQ(colour.red, c.red) << c.number;
        EXPECT_EQ(colour.green, c.green) << c.number;
        EXPECT_EQ(colour.blue, c.blue) << c.number;
    }
}

TEST(ParseStretchTest, LettersSetFlagsAndLeftoversAreReported) {
    StretchResult r = stretch("xr");
    EXPECT_EQ(r.flags.StretA, 0);
    EXPECT_EQ(r.flags.StretX, 1);
    EXPECT_EQ(r.flags.StretR, 1);
    EXPECT_EQ(r.printed, "");

    r = stretch("AQ");
    EXPECT_EQ(r.flags.StretA, 1);
    EXPECT_EQ(r.printed, "WARNING: Unknown '/Stret=' option(s) 'Q' ignored.\n");

    r = stretch("QXW");
    EXPECT_EQ(r.flags.StretX, 1);
    EXPECT_EQ(r.printed, "WARNING: Unknown '/Stret=' option(s) 'QW' ignored.\n");

    r = stretch("XX");
    EXPECT_EQ(r.flags.StretX, 1);
    EXPECT_EQ(r.printed, "WARNING: Unknown '/Stret=' option(s) 'X' ignored.\n");

    // The removed letter's place is taken by the last character.
    r = stretch("XQW");
    EXPECT_EQ(r.printed, "WARNING: Unknown '/Stret=' option(s) 'WQ' ignored.\n");

    r = stretch(">");
    EXPECT_EQ(r.flags.StretA, 0);
    EXPECT_EQ(r.printed, "");
}

TEST(ParseStretchTest, ConflictsClearOneFlag) {
    StretchResult r = stretch("PX");
    EXPECT_EQ(r.flags.StretP, 1);
    EXPECT_EQ(r.flags.StretX, 0);
    EXPECT_EQ(r.printed,
              "WARNING: The stretching option 'P' and 'X' may not be used together.\n"
              "         Option 'X' ignored.\n");

    r = stretch("YR");
    EXPECT_EQ(r.flags.StretY, 1);
    EXPECT_EQ(r.flags.StretR, 0);
    EXPECT_EQ(r.printed,
              "WARNING: The stretching option 'Y' and 'R' may not be used together.\n"
              "         Option 'R' ignored.\n");

    r = stretch("R");
    EXPECT_EQ(r.flags.StretR, 0);
    EXPECT_EQ(r.printed,
              "WARNING: The stretching option 'R' has no effect without the 'X' option.\n"
              "         Option 'R' ignored.\n");
}

TEST(ParseStretchTest, ZIsNeverCleared) {
    Settings settings;
    settings.StretZ = 1;
    std::string text = "x";
    parseStretch(text.data(), settings);
    EXPECT_EQ(settings.StretZ, 1);
    StretchResult r = stretch("z");
    EXPECT_EQ(r.flags.StretZ, 1);
}

std::vector<std::string> emptySlots() { return std::vector<std::string>(kSlotCount); }

TEST(ConvertSlotsTest, LaterWidthUnitWinsAndStretchWarningsAreReturnedUnprinted) {
    std::vector<std::string> slots = emptySlots();
    slots[kSlotPSizP] = "40";
    slots[kSlotPSizS] = "6";
    slots[kSlotPatT] = "pat.tga";
    slots[kSlotStret] = "XPZ";
    slots[kSlotRand] = "-3";
    slots[kSlotBotB] = "-5";
    slots[kSlotDouble] = ">";
    Settings settings;
    StartValues start;
    std::vector<std::string> warnings;
    testing::internal::CaptureStdout();
    convertSlots(slots, settings, start, warnings);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(settings.PSiz, 6);
    EXPECT_TRUE(settings.psizInStripes);
    EXPECT_TRUE(settings.psizGiven);
    EXPECT_EQ(settings.PatT, 0);
    EXPECT_EQ(settings.StretP, 1);
    EXPECT_EQ(settings.StretX, 0);
    EXPECT_EQ(settings.StretZ, 1);
    EXPECT_EQ(settings.Double, 1);
    EXPECT_EQ(settings.NoRD, 0);
    EXPECT_EQ(start.seed, -3);
    EXPECT_EQ(start.botB, -5);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0],
              "WARNING: The stretching option 'P' and 'X' may not be used together.\n"
              "         Option 'X' ignored.");
}

// The table's defaults (shown in the usage text and on the page) are what a
// run without the options does: the library's defaults.
TEST(OptionTableTest, DefaultsChangeNothing) {
    std::vector<std::string> given = emptySlots();
    for (int slot = kPositionalSlots; slot < kSlotCount; ++slot) given[slot] = optionOfSlot(slot).defaultText;
    std::vector<std::string> none = emptySlots();
    Settings fromDefaults, fromNone;
    StartValues startDefaults, startNone;
    std::vector<std::string> warnings;
    convertSlots(given, fromDefaults, startDefaults, warnings);
    convertSlots(none, fromNone, startNone, warnings);
    setColours(fromDefaults, startDefaults.topF, startDefaults.botF, startDefaults.topB, startDefaults.botB);
    setColours(fromNone, startNone.topF, startNone.botF, startNone.topB, startNone.botB);
    const Settings library;
    for (const Settings* s : {&fromDefaults, &fromNone}) {
        EXPECT_EQ(s->PatT, library.PatT);
        EXPECT_EQ(s->PSiz, library.PSiz);
        EXPECT_EQ(s->PUse, library.PUse);
        EXPECT_EQ(s->PPos, library.PPos);
        EXPECT_EQ(s->Dens, library.Dens);
        EXPECT_EQ(s->FocP, library.FocP);
        EXPECT_EQ(s->StretA, library.StretA);
        EXPECT_EQ(s->StretX + s->StretY + s->StretR + s->StretP + s->StretZ, 0);
        for (auto colour : {&Settings::TopF, &Settings::BotF, &Settings::TopB, &Settings::BotB}) {
            EXPECT_EQ((s->*colour).red, (library.*colour).red);
            EXPECT_EQ((s->*colour).green, (library.*colour).green);
            EXPECT_EQ((s->*colour).blue, (library.*colour).blue);
        }
    }
    EXPECT_EQ(startDefaults.seed, 0);
    EXPECT_TRUE(warnings.empty());
}

TEST(OptionTableTest, EveryChoiceHasItsName) {
    for (const OptionSpec& option : kOptions) {
        if (option.kind == OptionKind::kPattern) {
            EXPECT_EQ(option.high - option.low + 1, static_cast<std::int32_t>(std::size(kPatternTypes)));
        }
        if (option.kind != OptionKind::kChoice) continue;
        const std::string choices = option.choices;
        EXPECT_EQ(std::count(choices.begin(), choices.end(), ',') + 1, option.high - option.low + 1)
            << option.entry;
        EXPECT_GE(readDecimal(option.defaultText), option.low) << option.entry;
        EXPECT_LE(readDecimal(option.defaultText), option.high) << option.entry;
    }
}

TEST(UsageTest, TwentyLinesWithTheDefaults) {
    testing::internal::CaptureStdout();
    printUsage(stdout, "RDSGEN");
    std::string usage = testing::internal::GetCapturedStdout();
    EXPECT_EQ(usage,
              "USAGE: RDSGEN input[.tga] output[.tga] /options [/?]\n"
              "  /PatT:n [ 1]  pattern type (1,2,3,4,5,6,7 or tga filename)\n"
              "  /PSiz:n [P68] pattern width (/PSiz:P# in pixels, /PSiz:S# in stripes)\n"
              "  /PUse:n [24]  usage percentage of pattern\n"
              "  /PPos:n [ 2]  pattern position (1=left, 2=center, 3=right)\n"
              "  /Dens:n [45]  set % of black pixels (p-type 1&5) set # of dots (p-type 6&7)\n"
              "  /Rand:n [ 0]  set random seed (0=random)\n"
              "  /FocP:n [ 1]  focus points (0=none, 1=top of image; 2=in image)\n"
              "  /TopF:n [255248000] top foreground color for p-type 5&6&7 (rrrgggbbb)\n"
              "  /BotF:n [255090140] bottom foreground color for p-type 5&6&7 (rrrgggbbb)\n"
              "  /TopB:n [090060255] top background color for p-type 3&5&6&7 (rrrgggbbb)\n"
              "  /BotB:n [000140095] bottom background color for p-type 3&5&6&7 (rrrgggbbb)\n"
              "  /Stret:n [A]  stretch pattern image: A)utomatic,X,Y,Z,keep R)atio,adj. P)Siz\n"
              "  /NoRD         no Random Dots; insert parts of pattern insted\n"
              "  /TrueOut      force output image to TARGA type 3 (true color)\n"
              "  /VInc         virtually increase Resolution (for more depth planes)\n"
              "  /Inv          reverse elevations (invert the input image)\n"
              "  /CutOff       cut output image to the size of the input image\n"
              "  /Hidden       enable hidden surface checking (don't know if it helps)\n"
              "  /Double       double output image resolution (for better 3D effect)\n");
}

}  // namespace
}  // namespace rdsgen
