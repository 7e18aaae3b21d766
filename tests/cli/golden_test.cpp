// Golden hashes: whole output files of the real executable for fixed seeds,
// over every pattern type and the options that change the synthesis. They
// protect the exact output while the code is changed or optimised. The
// random dots come from the program's own generator, so the hashes hold on
// every platform, and for any number of worker threads: every case is run
// with RDSGEN_THREADS as inherited and set to 1, 2, 3 and 8.
//
// To re-record after a deliberate change of output, run
//   RDSGEN_GOLDEN_PRINT=1 ./test_cli --gtest_filter='Golden*'
// and paste the printed table over kGoldenCases (the table is also printed
// whenever a hash differs).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct GoldenCase {
    const char* input;                // dome8.tga, low8.tga, dome24.tga
    std::vector<std::string> options;
    std::uint64_t hash;               // FNV-1a 64 of the output file
};

// clang-format off
const std::vector<GoldenCase> kGoldenCases = {
    {"dome8.tga", {"/Rand:11", "/PatT:1"}, 0x84cddb7cf675118cULL},
    {"dome8.tga", {"/Rand:12", "/PatT:2"}, 0xfd01142010ac5f73ULL},
    {"dome8.tga", {"/Rand:13", "/PatT:3"}, 0x22a6f848736bed7fULL},
    {"dome8.tga", {"/Rand:14", "/PatT:4"}, 0xa3c2dbe3b3fb75a6ULL},
    {"dome8.tga", {"/Rand:15", "/PatT:5"}, 0xcec431706b7c31beULL},
    {"dome8.tga", {"/Rand:16", "/PatT:6"}, 0x704bc186912eddddULL},
    {"dome8.tga", {"/Rand:17", "/PatT:7"}, 0x0b40abdfa485b13bULL},
    {"dome8.tga", {"/Rand:21", "/PatT:1", "/NoRD"}, 0xe4979906f4e6c27dULL},
    {"dome8.tga", {"/Rand:22", "/PatT:2", "/NoRD"}, 0x19a2144010e20328ULL},
    {"dome8.tga", {"/Rand:23", "/PatT:3", "/NoRD"}, 0x6ef0fb6d5dbf2438ULL},
    {"dome8.tga", {"/Rand:24", "/PatT:4", "/NoRD"}, 0x26f0fa7bc16fb67dULL},
    {"dome8.tga", {"/Rand:25", "/PatT:5", "/NoRD"}, 0xd745ce70ba633c62ULL},
    {"dome8.tga", {"/Rand:26", "/PatT:6", "/NoRD"}, 0x8e01aff66bd807afULL},
    {"dome8.tga", {"/Rand:27", "/PatT:7", "/NoRD"}, 0x4388f8a35889a59aULL},
    {"dome8.tga", {"/Rand:31", "/VInc"}, 0x333fc9dde8ac2e8aULL},
    {"dome8.tga", {"/Rand:32", "/Double"}, 0xdcd6925a5946c4d5ULL},
    {"dome8.tga", {"/Rand:33", "/Double", "/VInc", "/PatT:6"}, 0xae806b95b9d0eb54ULL},
    {"dome8.tga", {"/Rand:34", "/CutOff"}, 0xbbdf935c48279ebbULL},
    {"dome8.tga", {"/Rand:35", "/Hidden", "/PPos:1"}, 0x1b2e58e7468f6288ULL},
    {"dome8.tga", {"/Rand:36", "/PPos:3"}, 0x0264fa97b68e580fULL},
    {"dome8.tga", {"/Rand:37", "/Inv"}, 0x24ed8667446e3de8ULL},
    {"dome8.tga", {"/Rand:38", "/FocP:2"}, 0x4feab60be20085abULL},
    {"dome8.tga", {"/Rand:7", "/PPos:4"}, 0xe46df77d538a8c47ULL},
    {"low8.tga", {"/Rand:39", "/Stret:Z", "/PatT:5"}, 0xf8aa708c734b0b43ULL},
    {"low8.tga", {"/Rand:39", "/PatT:5"}, 0x699487c3cffe628bULL},
    {"dome8.tga", {"/Rand:40", "/PatT:2", "/TrueOut", "/PSiz:S5", "/PUse:40"}, 0x958f3c819d7f72abULL},
    {"dome8.tga", {"/Rand:41", "/PatT:pattern.tga"}, 0x51b07b212e28dc5cULL},
    {"dome8.tga", {"/Rand:42", "/PatT:pattern.tga", "/NoRD", "/PSiz:P30", "/Stret:XR"}, 0x0e9a4e40c223a23eULL},
    {"dome24.tga", {"/Rand:51", "/PatT:1"}, 0x701697b1a8269f07ULL},
    {"dome24.tga", {"/Rand:52", "/PatT:7", "/NoRD", "/Double"}, 0xa9d082e61d24415cULL},
    {"dome24.tga", {"/Rand:53", "/PatT:3", "/Hidden", "/PPos:1", "/Inv"}, 0xe79dad64a59e4842ULL},
};
// clang-format on

std::uint64_t fnv1a64(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// Paraboloid heights, 0 outside a circle: integer arithmetic only, so the
// input is the same on every machine.
std::vector<std::uint8_t> domeHeights(int width, int height) {
    std::vector<std::uint8_t> heights(static_cast<std::size_t>(width) * height);
    const int radius = height / 2 - 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int dx = x - width / 2;
            int dy = y - height / 2;
            int inside = radius * radius - dx * dx - dy * dy;
            heights[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint8_t>(inside > 0 ? inside * 255 / (radius * radius) : 0);
        }
    }
    return heights;
}

// The dome as a 24-bit true-colour image stored bottom row first.
std::vector<std::uint8_t> colourDomeTga(int width, int height) {
    std::vector<std::uint8_t> heights = domeHeights(width, height);
    TgaLayout layout;
    layout.imageType = 2;
    layout.width = width;
    layout.height = height;
    layout.pixelDepth = 24;
    layout.descriptor = 0;
    for (int row = height - 1; row >= 0; --row) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t h = heights[static_cast<std::size_t>(row) * width + x];
            layout.pixels.push_back(h);                                     // blue
            layout.pixels.push_back(static_cast<std::uint8_t>(h / 2));      // green
            layout.pixels.push_back(static_cast<std::uint8_t>((x * 7) & 31));  // red
        }
    }
    return buildTga(layout);
}

// A small colourful pattern image, narrower than the default pattern width.
std::vector<std::uint8_t> patternTga(int width, int height) {
    TgaLayout layout;
    layout.imageType = 2;
    layout.width = width;
    layout.height = height;
    layout.pixelDepth = 24;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            layout.pixels.push_back(static_cast<std::uint8_t>(x * 6));
            layout.pixels.push_back(static_cast<std::uint8_t>(y * 5));
            layout.pixels.push_back(static_cast<std::uint8_t>((x * y) & 255));
        }
    }
    return buildTga(layout);
}

std::string describe(const GoldenCase& c) {
    std::string text = c.input;
    for (const std::string& option : c.options) text += " " + option;
    return text;
}

void printTable(const std::vector<GoldenCase>& cases, const std::vector<std::uint64_t>& hashes) {
    std::printf("const std::vector<GoldenCase> kGoldenCases = {\n");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::printf("    {\"%s\", {", cases[i].input);
        for (std::size_t k = 0; k < cases[i].options.size(); ++k) {
            std::printf("%s\"%s\"", k == 0 ? "" : ", ", cases[i].options[k].c_str());
        }
        std::printf("}, 0x%016llxULL},\n", static_cast<unsigned long long>(hashes[i]));
    }
    std::printf("};\n");
}

TEST(GoldenOutputTest, OutputFilesMatchRecordedHashes) {
    std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/dome8.tga", greyTga(97, 61, domeHeights(97, 61)));
    std::vector<std::uint8_t> low = domeHeights(97, 61);
    for (std::uint8_t& h : low) h = static_cast<std::uint8_t>(40 + h / 2);  // heights 40..167
    writeFileBytes(dir + "/low8.tga", greyTga(97, 61, low));
    writeFileBytes(dir + "/dome24.tga", colourDomeTga(97, 61));
    writeFileBytes(dir + "/pattern.tga", patternTga(40, 50));

    // "": RDSGEN_THREADS as inherited (normally unset: every online core).
    const std::vector<std::string> threadCounts = {"", "1", "2", "3", "8"};
    std::vector<std::uint64_t> hashes;
    bool allMatch = true;
    for (const GoldenCase& c : kGoldenCases) {
        std::vector<std::string> args = {c.input, "out.tga"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        for (const std::string& threads : threadCounts) {
            std::vector<std::string> environment;
            if (!threads.empty()) environment.push_back("RDSGEN_THREADS=" + threads);
            ProcessResult result = runRdsgenProcess(args, dir, 0, environment);
            ASSERT_EQ(result.status, 0) << describe(c) << "\n" << result.err;
            std::uint64_t hash = fnv1a64(readFileBytes(dir + "/out.tga"));
            if (threads.empty()) hashes.push_back(hash);
            if (hash != c.hash) {
                allMatch = false;
                ADD_FAILURE() << describe(c) << " (RDSGEN_THREADS "
                              << (threads.empty() ? "as inherited" : threads) << "): hash 0x" << std::hex
                              << hash << ", recorded 0x" << c.hash;
            }
        }
    }
    if (!allMatch || std::getenv("RDSGEN_GOLDEN_PRINT") != nullptr) printTable(kGoldenCases, hashes);
}

}  // namespace
