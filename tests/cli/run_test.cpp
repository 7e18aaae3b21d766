// The whole run as a process: sizes, refusals and output safety.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct Header {
    int type = 0, width = 0, height = 0, depth = 0, descriptor = 0;
};

Header readHeader(const std::string& path) {
    std::vector<std::uint8_t> bytes = readFileBytes(path);
    Header h;
    if (bytes.size() < 18) return h;
    h.type = bytes[2];
    h.width = bytes[12] | bytes[13] << 8;
    h.height = bytes[14] | bytes[15] << 8;
    h.depth = bytes[16];
    h.descriptor = bytes[17];
    return h;
}

// A directory holding a flat grey height image heights.tga of the given size.
std::string withHeights(int width, int height) {
    std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.TGA",
                   greyTga(width, height, std::vector<std::uint8_t>(std::size_t(width) * height, 100)));
    return dir;
}

ProcessResult runIn(const std::string& dir, std::vector<std::string> options) {
    std::vector<std::string> args = {"heights", "out"};
    args.insert(args.end(), options.begin(), options.end());
    return runRdsgenProcess(args, dir);
}

TEST(RunSizesTest, OutputSizesFollowTheOptions) {
    struct Case {
        std::vector<std::string> options;
        int type, width, height;
    };
    const Case cases[] = {
        {{"/Rand:1"}, 3, 708, 496},
        {{"/Rand:1", "/CutOff"}, 3, 640, 480},
        {{"/Rand:1", "/Double"}, 3, 1416, 992},
        {{"/Rand:1", "/PSiz:S8"}, 3, 720, 496},
        {{"/Rand:1", "/PSiz:S7"}, 3, 731, 496},
        {{"/Rand:1", "/PSiz:P20", "/PSiz:S8"}, 3, 720, 496},
        {{"/Rand:1", "/PatT:2"}, 3, 708, 496},
        {{"/Rand:1", "/PatT:2", "/TrueOut"}, 2, 708, 496},
        {{"/Rand:1", "/PatT:3"}, 2, 708, 496},
        {{"/Rand:1", "/FocP:0", "/VInc"}, 3, 708, 480},
    };
    std::string dir = withHeights(640, 480);
    for (const Case& c : cases) {
        ProcessResult r = runIn(dir, c.options);
        ASSERT_EQ(r.status, 0) << c.options.back() << r.err;
        Header h = readHeader(dir + "/out.TGA");
        EXPECT_EQ(h.type, c.type) << c.options.back();
        EXPECT_EQ(h.width, c.width) << c.options.back();
        EXPECT_EQ(h.height, c.height) << c.options.back();
        EXPECT_EQ(h.descriptor, 0x20);
        std::size_t pixelBytes = std::size_t(h.width) * h.height * (h.type == 2 ? 3 : 1);
        EXPECT_EQ(readFileBytes(dir + "/out.TGA").size(), 18 + pixelBytes) << c.options.back();
    }
}

TEST(RunSizesTest, CutOffAssumesInImageFocusPoints) {
    std::string dir = withHeights(64, 40);
    ProcessResult r = runIn(dir, {"/CutOff", "/Rand:3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("WARNING: 'CutOff' option may not be used with 'FocP=1'. '/FocP=2' assumed.\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\rfinished." + std::string(70, ' ') + "\n"), std::string::npos);
}

TEST(RunSizesTest, SameSeedSameFile) {
    std::string dir = withHeights(90, 33);
    ASSERT_EQ(runIn(dir, {"/Rand:77", "/PatT:6", "/NoRD"}).status, 0);
    std::vector<std::uint8_t> first = readFileBytes(dir + "/out.TGA");
    ASSERT_EQ(runIn(dir, {"/Rand:77", "/PatT:6", "/NoRD"}).status, 0);
    EXPECT_EQ(readFileBytes(dir + "/out.TGA"), first);
    ASSERT_EQ(runIn(dir, {"/Rand:78", "/PatT:6", "/NoRD"}).status, 0);
    EXPECT_NE(readFileBytes(dir + "/out.TGA"), first);
}

TEST(RunSizesTest, WidthRunsTheResampledHeightImage) {
    // Heights made of 2 x 2 blocks, halved with /Width, are the image of
    // the blocks themselves.
    std::vector<std::uint8_t> small;
    std::vector<std::uint8_t> blocks(128 * 80);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 64; ++x) {
            const std::uint8_t h = static_cast<std::uint8_t>(x > 16 && x < 48 && y > 10 && y < 30 ? 200 : x * 3 + y);
            small.push_back(h);
            for (int k = 0; k < 4; ++k) blocks[(2 * y + k / 2) * 128 + 2 * x + k % 2] = h;
        }
    }
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.TGA", greyTga(128, 80, blocks));
    writeFileBytes(dir + "/small.TGA", greyTga(64, 40, small));
    ASSERT_EQ(runRdsgenProcess({"small", "direct", "/Rand:5", "/PatT:6"}, dir).status, 0);
    const ProcessResult r = runIn(dir, {"/Width:64", "/Rand:5", "/PatT:6"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFileBytes(dir + "/out.TGA"), readFileBytes(dir + "/direct.TGA"));

    // Enlarged: 64 x 40 to 100 x 63 (62.5 rounded up).
    const std::string enlarged = withHeights(64, 40);
    ASSERT_EQ(runIn(enlarged, {"/Width:100", "/Rand:1"}).status, 0);
    const Header h = readHeader(enlarged + "/out.TGA");
    EXPECT_EQ(h.width, 168);
    EXPECT_EQ(h.height, 63 + 2);
}

TEST(RunRefusalTest, BadSizesEndWithOneErrorAndNoOutput) {
    struct Case {
        std::vector<std::string> options;
        std::string error;
    };
    const Case cases[] = {
        {{"/PSiz:S0"}, "ERROR: Number of stripes must be at least 1.\n"},
        {{"/PSiz:S-4"}, "ERROR: Number of stripes must be at least 1.\n"},
        {{"/PSiz:S1000"}, "ERROR: Pattern width must be at least 1 pixel.\n"},
        {{"/PSiz:P0"}, "ERROR: Pattern width must be at least 1 pixel.\n"},
        {{"/PSiz:P-7"}, "ERROR: Pattern width must be at least 1 pixel.\n"},
        {{"/PSiz:P65500"},
         "ERROR: Output image too large (65564 x 41 pixels, at most 65535 x 65535).\n"},
        {{"/PSiz:P65536", "/CutOff"}, "ERROR: Pattern width must be at most 65535 pixels.\n"},
        {{"/PSiz:P40000", "/Double"},
         "ERROR: Output image too large (80128 x 82 pixels, at most 65535 x 65535).\n"},
        {{"/PSiz:P2147483647"}, "ERROR: Pattern width must be at most 65535 pixels.\n"},
        {{"/PatT:missing"}, "ERROR: Can't open input file 'missing.TGA'.\n"},
        {{"/Width:-3"}, "ERROR: Width must be 1 to 65535 pixels (0: the height image's own).\n"},
        {{"/Width:65535"}, "ERROR: Output image too large (65603 x 42324 pixels, at most 65535 x 65535).\n"},
    };
    std::string dir = withHeights(64, 40);
    for (const Case& c : cases) {
        ProcessResult r = runIn(dir, c.options);
        EXPECT_EQ(r.status, 1) << c.options[0];
        EXPECT_EQ(r.err, c.error) << c.options[0];
        EXPECT_FALSE(fileExists(dir + "/out.TGA")) << c.options[0];
        EXPECT_EQ(r.out.find("Reading pattern image"), std::string::npos);
    }
}

TEST(RunRefusalTest, EmptyPatternImageIsRefused) {
    std::string dir = withHeights(64, 40);
    writeFileBytes(dir + "/empty.TGA", greyTga(0, 5, {}));
    ProcessResult r = runIn(dir, {"/PatT:empty"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Pattern image 'empty.TGA' has no pixels.\n");
    EXPECT_FALSE(fileExists(dir + "/out.TGA"));
}

// Each image is read behind a progress text that is blanked afterwards; a
// refusal of the reader ends the text's line first.
TEST(RunLoadTest, ProgressTextsAndReaderRefusals) {
    const std::string blank = "\r" + std::string(67, ' ') + "\r";
    const std::string heightsText = "Reading height (elevation) image...";
    const std::string patternText = "Reading pattern image...";
    std::string dir = withHeights(64, 40);
    writeFileBytes(dir + "/pattern.TGA", greyTga(30, 30, std::vector<std::uint8_t>(900, 7)));
    writeFileBytes(dir + "/bad.TGA", {0, 0, 9});
    ProcessResult r = runIn(dir, {"/PatT:pattern", "/Rand:1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(heightsText + blank + patternText + blank), std::string::npos);

    const std::string refusal = "ERROR: Can't read TARGA image type 9 (compressed image)\n";
    r = runIn(dir, {"/PatT:bad"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refusal);
    EXPECT_NE(r.out.find(heightsText + blank + patternText + "\n" + blank), std::string::npos);
    r = runRdsgenProcess({"bad", "out"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refusal);
    EXPECT_NE(r.out.find(heightsText + "\n" + blank), std::string::npos);
}

TEST(RunFileNameTest, AbsoluteNamesAndNamesAfterDoubleDash) {
    std::string dir = withHeights(64, 40);
    writeFileBytes(dir + "/pattern.tga", greyTga(30, 30, std::vector<std::uint8_t>(900, 7)));
    ProcessResult r = runRdsgenProcess({dir + "/heights.TGA", dir + "/out:1.tga",
                                        "/PatT:" + dir + "/pattern.tga", "/Rand:1"},
                                       temporaryDirectory());
    ASSERT_EQ(r.status, 0) << r.err;
    Header h = readHeader(dir + "/out:1.tga");
    EXPECT_EQ(h.type, 2);  // a pattern image gives true colour
    EXPECT_EQ(h.width, 64 + 68);

    writeFileBytes(dir + "/-heights.TGA", readFileBytes(dir + "/heights.TGA"));
    r = runRdsgenProcess({"/Rand:1", "--", "-heights", dir + "/-out"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readHeader(dir + "/-out.TGA").width, 64 + 68);
}

TEST(RunFileNameTest, DevNullAsOutputDiscardsTheImage) {
    std::string dir = withHeights(64, 40);
    ProcessResult r = runRdsgenProcess({"heights", "/dev/null", "/PatT:6"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\rfinished."), std::string::npos);
    EXPECT_FALSE(fileExists("/dev/null.TGA"));
    std::remove("/dev/null.TGA");
}

TEST(RunFileNameTest, MistypedOptionsAreStillRefused) {
    std::string dir = withHeights(64, 40);
    const std::string bannerAndUsage = runRdsgenProcess({"/?"}).out;
    for (const char* option : {"/Rnd:5", "/tmp"}) {
        ProcessResult r = runIn(dir, {option});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(r.err, std::string("ERROR: Unknown option: ") + option + "\n");
        EXPECT_EQ(r.out, bannerAndUsage) << option;
        EXPECT_FALSE(fileExists(dir + "/out.TGA")) << option;
    }
}

TEST(RunOutputSafetyTest, InputIsNeverOverwritten) {
    std::string dir = withHeights(64, 40);
    std::vector<std::uint8_t> before = readFileBytes(dir + "/heights.TGA");
    ProcessResult r = runRdsgenProcess({"heights.TGA", "heights.TGA"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Output file 'heights.TGA' would overwrite an input image.\n");
    EXPECT_EQ(readFileBytes(dir + "/heights.TGA"), before);

    writeFileBytes(dir + "/pattern.tga", greyTga(30, 30, std::vector<std::uint8_t>(900, 7)));
    std::vector<std::uint8_t> pattern = readFileBytes(dir + "/pattern.tga");
    r = runRdsgenProcess({"heights", "./pattern.tga", "/PatT:pattern.tga"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Output file './pattern.tga' would overwrite an input image.\n");
    EXPECT_EQ(readFileBytes(dir + "/pattern.tga"), pattern);
}

TEST(RunOutputSafetyTest, WriteFailureIsReportedAsFailure) {
    std::string dir = withHeights(64, 40);
    ASSERT_EQ(symlink("/dev/full", (dir + "/full.tga").c_str()), 0);
    ProcessResult r = runRdsgenProcess({"heights", "full.tga"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Can't write output file 'full.tga'.\n");
    EXPECT_EQ(r.out.find("finished."), std::string::npos);

    // A file-size limit: the header fits, the rows do not. The partial file goes.
    r = runRdsgenProcess({"heights", "out", "/Rand:1"}, dir, 5000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Can't write output file 'out.TGA'.\n");
    EXPECT_EQ(r.out.find("finished."), std::string::npos);
    EXPECT_FALSE(fileExists(dir + "/out.TGA"));
}

}  // namespace
