#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "engine/engine.h"
#include "pattern/pattern.h"
#include "support/test_support.h"

namespace rdsgen {
namespace {

TEST(ProgramNameTest, LastPathComponentWithoutExtension) {
    EXPECT_EQ(programName("/usr/local/bin/rdsgen"), "rdsgen");
    EXPECT_EQ(programName("tools/my.prog.exe"), "my.prog");
    EXPECT_EQ(programName("rdsgen"), "rdsgen");
    EXPECT_EQ(programName("dir.d/plain"), "plain");
    EXPECT_EQ(programName(std::string(40, 'p').c_str()), std::string(30, 'p'));
}

TEST(DefaultExtensionTest, AppendedOnlyWithoutDotInLastComponent) {
    EXPECT_EQ(addDefaultExtension("out", ".TGA", false), "out.TGA");
    EXPECT_EQ(addDefaultExtension("out.tga", ".TGA", false), "out.tga");
    EXPECT_EQ(addDefaultExtension("old.maps/out", ".TGA", false), "old.maps/out.TGA");
    EXPECT_EQ(addDefaultExtension(">", ".TGA", false), ">.TGA");
}

TEST(DefaultExtensionTest, ExistingFileKeepsItsName) {
    std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights", {1, 2, 3});
    EXPECT_EQ(addDefaultExtension(dir + "/heights", ".TGA", true), dir + "/heights");
    EXPECT_EQ(addDefaultExtension(dir + "/missing", ".TGA", true), dir + "/missing.TGA");
    EXPECT_EQ(addDefaultExtension(dir + "/heights", ".TGA", false), dir + "/heights.TGA");
    // A device keeps its name; a directory does not.
    EXPECT_EQ(addDefaultExtension("/dev/null", ".TGA", false), "/dev/null");
    EXPECT_EQ(addDefaultExtension(dir, ".TGA", false), dir + ".TGA");
}

TEST(OutputSizeTest, DerivedFromInputAndOptions) {
    struct Case {
        std::int32_t cutOff, doubled, focP;
        std::int64_t width, height;
    };
    const Case cases[] = {{0, 0, 1, 708, 496}, {1, 0, 2, 640, 480}, {0, 1, 1, 1416, 992},
                          {0, 0, 0, 708, 480}, {1, 1, 2, 1280, 960}};
    const Image heights = makeImage(640, 480, PixelKind::kGrey8);
    for (const Case& c : cases) {
        Settings settings;
        settings.CutOff = c.cutOff;
        settings.Double = c.doubled;
        settings.FocP = c.focP;
        const Plan planned = plan(settings, headerOf(heights));
        ASSERT_TRUE(planned);
        EXPECT_EQ(planned.outputWidth, c.width);
        EXPECT_EQ(planned.outputHeight, c.height);
    }
}

struct Decision {
    RunSettings flags;
    unsigned warnings = 0;
};

Decision decide(RunSettings settings, int patternWidth, int patternHeight, bool psizGiven,
                PixelKind heightKind = PixelKind::kGrey8) {
    settings.psizGiven = psizGiven;
    const ImageHeader heights{640, 480, heightKind};
    const ImageHeader pattern{patternWidth, patternHeight, PixelKind::kColour};
    const unsigned warnings = decidePatternImageStretch(settings, heights, pattern);
    return {settings, warnings};
}

TEST(PatternImageDecisionTest, AutomaticChoices) {
    Decision d = decide({}, 80, 80, false);
    EXPECT_EQ(d.flags.StretP, 1);
    EXPECT_EQ(d.flags.StretX, 0);
    EXPECT_EQ(d.flags.PSiz, 80);
    EXPECT_EQ(d.flags.PNarrow, 1);

    d = decide({}, 80, 80, true);  // /PSiz:P68 given
    EXPECT_EQ(d.flags.StretP, 0);
    EXPECT_EQ(d.flags.StretX, 1);
    EXPECT_EQ(d.flags.StretR, 1);
    EXPECT_EQ(d.flags.PSiz, 68);

    d = decide({}, 40, 300, false);
    EXPECT_EQ(d.flags.StretX, 1);
    EXPECT_EQ(d.flags.StretY, 1);
    EXPECT_EQ(d.flags.StretR, 0);

    d = decide({}, 300, 300, false);
    EXPECT_EQ(d.flags.StretX + d.flags.StretY + d.flags.StretR + d.flags.StretP, 0);
    EXPECT_EQ(d.flags.PNarrow, 0);
    EXPECT_EQ(d.flags.PSiz, 68);
    EXPECT_EQ(d.flags.StretZ, 0);
    EXPECT_EQ(d.warnings, 0u);

    d = decide({}, 300, 300, false, PixelKind::kGrey16);
    EXPECT_EQ(d.flags.StretZ, 1);
}

TEST(PatternImageDecisionTest, NarrowImageWithoutAutomaticModeWarns) {
    RunSettings settings;
    settings.StretA = 0;
    settings.StretY = 1;
    Decision d = decide(settings, 50, 50, false);
    EXPECT_EQ(d.flags.StretX, 1);
    EXPECT_EQ(d.warnings, kWarnStretchXAssumed);

    // The run prints the warning on standard error and goes on.
    std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.TGA", greyTga(64, 40, std::vector<std::uint8_t>(64 * 40, 100)));
    writeFileBytes(dir + "/pattern.TGA", greyTga(50, 50, std::vector<std::uint8_t>(50 * 50, 7)));
    ProcessResult r = runRdsgenProcess({"heights", "out", "/PatT:pattern", "/Stret:Y", "/Rand:1"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "WARNING: Pattern input image too small in width. Stretching option 'X' assumed.\n");
}

// --- The executable as a process ---

const std::string kBanner =
    "RDSGEN V2.0 - random-dot stereogram generator, by the rdsgen authors\n"
    "Free software under the MIT licence; it comes without any warranty.\n";

const std::string kUsageFirstLine = "USAGE: RDSGEN input[.tga] output[.tga] /options [/?]\n";
const std::string kEmptyLineAndUsage = "\n" + kUsageFirstLine;

TEST(RunProcessTest, MissingNamesAndHelpShowTheUsage) {
    ProcessResult r = runRdsgenProcess({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: missing input and output filename.\n");
    EXPECT_EQ(r.out.substr(0, kBanner.size() + 1 + kUsageFirstLine.size()),
              kBanner + kEmptyLineAndUsage);

    r = runRdsgenProcess({"heights"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: missing output filename.\n");
    EXPECT_EQ(r.out.substr(kBanner.size(), 1 + kUsageFirstLine.size()), kEmptyLineAndUsage);

    for (const char* help : {"/?", "-h"}) {
        r = runRdsgenProcess({"missing-input", "out", help, "/PatT:5"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.substr(0, kBanner.size() + kUsageFirstLine.size()), kBanner + kUsageFirstLine);
        EXPECT_NE(r.out.find("/PatT:n [ 1]"), std::string::npos);  // defaults, not the options
        EXPECT_EQ(r.out.find("Reading"), std::string::npos);
    }

    r = runRdsgenProcess({"in", "out", "/Bogus"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Unknown option: /Bogus\n");
    EXPECT_EQ(r.out.substr(kBanner.size(), kUsageFirstLine.size()), kUsageFirstLine);
}

TEST(RunProcessTest, HelpAndVersionAnywhereAnswerFirstWithStatusZero) {
    const std::string bannerAndUsage = runRdsgenProcess({"/?"}).out;
    ASSERT_EQ(bannerAndUsage.substr(0, kBanner.size() + kUsageFirstLine.size()),
              kBanner + kUsageFirstLine);

    const std::vector<std::vector<std::string>> helps = {
        {"--help"}, {"missing-input", "out", "/Bogus", "--help"}, {"--help", "a", "b", "c", "--version"}};
    for (const auto& args : helps) {
        ProcessResult r = runRdsgenProcess(args);
        EXPECT_EQ(r.status, 0) << args.size();
        EXPECT_EQ(r.err, "") << args.size();
        // --help also lists the options added after the twenty usage lines,
        // then the options of frame sequences.
        const std::string widthLine = "  /Width:n [ 0] resample the height image to this width first (0=as it is)\n";
        EXPECT_EQ(r.out.substr(0, bannerAndUsage.size() + widthLine.size()), bannerAndUsage + widthLine)
            << args.size();
        EXPECT_NE(r.out.find("\n  /Rate:n [25] ", bannerAndUsage.size()), std::string::npos) << args.size();
    }

    const std::vector<std::vector<std::string>> versions = {
        {"--version"}, {"/Rnd:5", "missing-input", "--version"}, {"a", "b", "c", "--version", "--help"}};
    for (const auto& args : versions) {
        ProcessResult r = runRdsgenProcess(args);
        EXPECT_EQ(r.status, 0) << args.size();
        EXPECT_EQ(r.err, "") << args.size();
        EXPECT_EQ(r.out, "rdsgen 2.0.0\n") << args.size();
    }

    // After "--" they are file names.
    ProcessResult r = runRdsgenProcess({"--", "--help"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: missing output filename.\n");
    r = runRdsgenProcess({"--", "--version", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Can't open input file '--version.TGA'.\n");
}

TEST(RunProcessTest, MissingInputFileIsReported) {
    ProcessResult r = runRdsgenProcess({"heights", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Can't open input file 'heights.TGA'.\n");
}

}  // namespace
}  // namespace rdsgen
