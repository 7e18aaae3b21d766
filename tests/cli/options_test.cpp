#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace rdsgen {
namespace {

struct Parsed {
    int result = 0;
    std::vector<std::string> slots;
    std::string errors;
};

Parsed parse(std::vector<std::string> args) {
    std::vector<const char*> argv = {"rdsgen"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    Parsed parsed;
    testing::internal::CaptureStderr();
    parsed.result = parseOptions(parsed.slots, kOptionTable, static_cast<int>(argv.size()), argv.data());
    parsed.errors = testing::internal::GetCapturedStderr();
    return parsed;
}

TEST(UpcaseTest, CodePage437Letters) {
    EXPECT_EQ(upcaseChar('a'), 'A');
    EXPECT_EQ(upcaseChar('z'), 'Z');
    EXPECT_EQ(upcaseChar('A'), 'A');
    EXPECT_EQ(upcaseChar('1'), '1');
    const unsigned char pairs[][2] = {{0x81, 0x9A}, {0x82, 0x90}, {0x84, 0x8E}, {0x86, 0x8F},
                                      {0x87, 0x80}, {0x94, 0x99}, {0xA4, 0xA5}};
    for (const auto& pair : pairs) EXPECT_EQ(upcaseChar(pair[0]), pair[1]);
    int unchanged = 0;
    for (int c = 0x80; c <= 0xFF; ++c) unchanged += upcaseChar(static_cast<unsigned char>(c)) == c;
    EXPECT_EQ(unchanged, 128 - 7);
}

TEST(UpcaseTest, OptionNameUpToColonOnly) {
    std::string text = "/patt:pattern.tga";
    upcaseOptionName(text.data());
    EXPECT_EQ(text, "/PATT:pattern.tga");
    text = "plain.tga";
    upcaseOptionName(text.data());
    EXPECT_EQ(text, "plain.tga");
    text = "!nord";
    upcaseOptionName(text.data());
    EXPECT_EQ(text, "!nord");
}

TEST(ParseOptionsTest, NoArgumentsLeavesEverySlotEmpty) {
    Parsed p = parse({});
    EXPECT_EQ(p.result, 0);
    // The 24 slots of the single-image options, /Width, then those of frame sequences.
    ASSERT_EQ(p.slots.size(), 28u);
    for (const std::string& slot : p.slots) EXPECT_EQ(slot, "");
}

TEST(ParseOptionsTest, AcceptedArgumentsFillTheirSlots) {
    struct Case {
        std::vector<std::string> args;
        int slot;
        std::string value;
    };
    const Case cases[] = {
        {{"/NoRD"}, kSlotNoRD, ">"},
        {{"-nord"}, kSlotNoRD, ">"},
        {{"/NORD"}, kSlotNoRD, ">"},
        {{"/PatT:Pattern.tga"}, kSlotPatT, "Pattern.tga"},
        {{"/patt:3"}, kSlotPatT, "3"},
        {{"/PATT:3"}, kSlotPatT, "3"},
        {{"/PatT:"}, kSlotPatT, ">"},
        {{"/PatT:1", "/PatT:5"}, kSlotPatT, "5"},
        {{"/PatT:5", "!PATT"}, kSlotPatT, ""},
        {{"/PSiz:P20"}, kSlotPSizP, "20"},
        {{"/psiz:P20"}, kSlotPSizP, "20"},
        {{"/PSiz:S6"}, kSlotPSizS, "6"},
        {{"/h"}, kSlotHelp, ">"},
        {{"/?"}, kSlotQuestion, ">"},
        {{"/Stret:xr"}, kSlotStret, "xr"},
        {{"in", "out"}, kSlotOutput, "out"},
        {{"", "out"}, kSlotInput, ""},
        {{"", "out"}, kSlotOutput, "out"},
        {{"-", "out"}, kSlotInput, "-"},
        {{"in", "-"}, kSlotOutput, "-"},
        {{"/dots:New"}, kSlotDots, "New"},
        {{"/RATE:12"}, kSlotRate, "12"},
        {{"/First:3"}, kSlotFirst, "3"},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.result, 0) << c.args[0];
        EXPECT_EQ(p.slots[c.slot], c.value) << c.args[0];
        EXPECT_EQ(p.errors, "") << c.args[0];
    }
}

TEST(ParseOptionsTest, RefusedArgumentsAreReportedAsTyped) {
    const char* refused[] = {"/PatT", "/PatT=3", "/PatT3", "/PSiz:20", "/PSiz:p20",
                             "/NoRD:1", "!patt", "!nord", "/help", "/",
                             "/Rnd:5", "/tmp", "/tmp:x/y", "--HELP", "--helpx", "---"};
    for (const char* arg : refused) {
        Parsed p = parse({arg});
        EXPECT_EQ(p.result, 1) << arg;
        EXPECT_EQ(p.errors, std::string("ERROR: Unknown option: ") + arg + "\n");
    }
}

TEST(ParseOptionsTest, EveryRefusalGetsItsLineInArgumentOrder) {
    Parsed p = parse({"a", "/bad", "b", "c", "/PatT:4", "!x"});
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.errors,
              "ERROR: Unknown option: /bad\n"
              "ERROR: Too many arguments at: c\n"
              "ERROR: Unknown option: !x\n");
    EXPECT_EQ(p.slots[kSlotInput], "a");
    EXPECT_EQ(p.slots[kSlotOutput], "b");
    EXPECT_EQ(p.slots[kSlotPatT], "4");
}

TEST(ParseOptionsTest, RefusalsCanBeKeptAsTexts) {
    const char* argv[] = {"rdsgen", "a", "/bad", "b", "c"};
    std::vector<std::string> slots;
    std::vector<std::string> refusals;
    testing::internal::CaptureStderr();
    EXPECT_EQ(parseOptions(slots, kOptionTable, 5, argv, refusals), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(refusals, (std::vector<std::string>{"ERROR: Unknown option: /bad", "ERROR: Too many arguments at: c"}));
}

TEST(OptionsJsonTest, TextsAreEscaped) {
    EXPECT_EQ(jsonString("a\"b\\c\n\x01\xE9"), "\"a\\\"b\\\\c\\u000a\\u0001\xE9\"");
    const std::string json = optionsJson();
    EXPECT_NE(json.find("{\"slot\":" + std::to_string(kSlotPSizS) + ",\"name\":\"PSiz\",\"prefix\":\"S\",\"kind\":\"number\""),
              std::string::npos);
    EXPECT_NE(json.find("\"low\":1,\"high\":3,\"choices\":[\"left\",\"centre\",\"right\"]"), std::string::npos);
}

TEST(OptionsJsonTest, PageHintsFollowTheirOptions) {
    const std::string json = optionsJson();
    // Each hint sits in its own option's entry, not a neighbour's.
    const auto entryOf = [&](int slot) {
        const std::size_t start = json.find("{\"slot\":" + std::to_string(slot) + ",");
        return json.substr(start, json.find('}', start) - start);
    };
    EXPECT_NE(entryOf(kSlotInv).find("\"role\":\"crossEyed\""), std::string::npos);
    EXPECT_NE(entryOf(kSlotDouble).find("\"role\":\"doubled\""), std::string::npos);
    EXPECT_NE(entryOf(kSlotDens).find("\"noEffect\":[3,4,0]"), std::string::npos);
    EXPECT_NE(entryOf(kSlotTopB).find("\"noEffect\":[1,2,4,0]"), std::string::npos);
    EXPECT_NE(entryOf(kSlotPUse).find("\"role\":\"\",\"noEffect\":[]"), std::string::npos);
    EXPECT_NE(json.find("{\"letter\":\"Z\",\"label\":\"use the actual height range\",\"heights\":true}"),
              std::string::npos);
    EXPECT_NE(json.find("\"letter\":\"X\",\"label\":\"stretch across\",\"heights\":false"), std::string::npos);
}

TEST(ParseOptionsTest, AbsolutePathsAreFileNames) {
    Parsed p = parse({"/home/me/depth.tga", "/PatT:/home/me/pattern.png", "/data/a:b.tga"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.slots[kSlotInput], "/home/me/depth.tga");
    EXPECT_EQ(p.slots[kSlotOutput], "/data/a:b.tga");
    EXPECT_EQ(p.slots[kSlotPatT], "/home/me/pattern.png");

    p = parse({"a", "b", "/tmp/c"});
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.errors, "ERROR: Too many arguments at: /tmp/c\n");
}

TEST(ParseOptionsTest, DoubleDashMakesEveryLaterArgumentAFileName) {
    Parsed p = parse({"/NoRD", "--", "-in", "/Double"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.slots[kSlotNoRD], ">");
    EXPECT_EQ(p.slots[kSlotInput], "-in");
    EXPECT_EQ(p.slots[kSlotOutput], "/Double");
    EXPECT_EQ(p.slots[kSlotDouble], "");

    p = parse({"--", "--help", "--"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.slots[kSlotInput], "--help");
    EXPECT_EQ(p.slots[kSlotOutput], "--");

    p = parse({"--", "a", "b", "!PATT"});
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.errors, "ERROR: Too many arguments at: !PATT\n");
}

TEST(InfoRequestTest, FirstHelpOrVersionBeforeDoubleDash) {
    struct Case {
        std::vector<const char*> argv;
        InfoRequest request;
    };
    const Case cases[] = {
        {{"rdsgen"}, InfoRequest::kNone},
        {{"rdsgen", "--help"}, InfoRequest::kHelp},
        {{"rdsgen", "in", "out", "/Bogus", "--version"}, InfoRequest::kVersion},
        {{"rdsgen", "--version", "--help"}, InfoRequest::kVersion},
        {{"rdsgen", "/?", "--help", "--version"}, InfoRequest::kHelp},
        {{"rdsgen", "--", "--help"}, InfoRequest::kNone},
        {{"rdsgen", "--HELP", "-help", "/version"}, InfoRequest::kNone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findInfoRequest(static_cast<int>(c.argv.size()), c.argv.data()), c.request)
            << c.argv.size();
    }

    // The parser passes over them: they were answered before parsing.
    Parsed p = parse({"in", "--version", "out", "--help"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.slots[kSlotOutput], "out");
}

TEST(ParseOptionsTest, LongArgumentsAreKeptWhole) {
    std::string longName(1000, 'n');
    Parsed p = parse({longName, "/PatT:" + longName});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.slots[kSlotInput], longName);
    EXPECT_EQ(p.slots[kSlotPatT], longName);
}

}  // namespace
}  // namespace rdsgen
