// A fixed seed reproduces the whole output file, for every generated pattern.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

std::vector<std::uint8_t> runToFile(const std::string& dir, const std::string& output,
                                    const std::vector<std::string>& options) {
    std::vector<std::string> args = {"heights", output};
    args.insert(args.end(), options.begin(), options.end());
    ProcessResult result = runRdsgenProcess(args, dir);
    EXPECT_EQ(result.status, 0) << result.err;
    return readFileBytes(dir + "/" + output + ".TGA");
}

TEST(Seed, SameRandGivesIdenticalFilesForEveryType) {
    std::string dir = temporaryDirectory();
    std::vector<std::uint8_t> heights(40 * 30, 0);
    for (int y = 10; y < 20; ++y) {
        for (int x = 10; x < 30; ++x) heights[y * 40 + x] = 200;
    }
    writeFileBytes(dir + "/heights.TGA", greyTga(40, 30, heights));
    for (int type = 1; type <= 7; ++type) {
        for (bool noRD : {false, true}) {
            SCOPED_TRACE(testing::Message() << "PatT " << type << " NoRD " << noRD);
            std::vector<std::string> options = {"/PatT:" + std::to_string(type)};
            if (noRD) options.push_back("/NoRD");
            options.push_back("/Rand:1234");
            auto first = runToFile(dir, "a", options);
            auto second = runToFile(dir, "b", options);
            options.back() = "/Rand:4321";
            auto other = runToFile(dir, "c", options);
            EXPECT_GT(first.size(), 18u);
            EXPECT_EQ(first, second);
            EXPECT_NE(first, other);
        }
    }
}

}  // namespace
