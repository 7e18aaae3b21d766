// The calculation loop in process and through the real executable.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "depth/depth.h"
#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

const std::string kOpening = "Calculating, please wait - press ESC to abbort...\n";
const std::string kScale =
    "0% ]................:................:................:................[ 100%\r0% ]";

// A grey height image: a dome of the given radius in the middle of the picture.
std::vector<std::uint8_t> domeHeights(int width, int height, double radius) {
    std::vector<std::uint8_t> heights;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = x - width / 2.0, dy = y - height / 2.0;
            const double inside = 1.0 - (dx * dx + dy * dy) / (radius * radius);
            heights.push_back(inside > 0 ? static_cast<std::uint8_t>(255 * std::sqrt(inside)) : 0);
        }
    }
    return heights;
}

// Loads the height image and fixes its depth mapping as the driver does.
void loadHeights(const std::string& path) {
    ASSERT_EQ(loadImage(run.heightImage, path.c_str(), true), 0);
    const std::int32_t S = scaleFactor();
    run.separationBuffer = allocateBytes(static_cast<std::size_t>(inputWidth() + 1) * 4 * S);
    scaleHeights(run.heightImage, run.separationBuffer.get(), 0);
}

// An in-process run with grey output at scale 1, ready for runCalculation.
void setUpRun(const std::string& dir, int width, int height, std::int32_t focP) {
    resetRunState();
    settings.PSiz = 20;
    settings.FocP = focP;
    writeFileBytes(dir + "/heights.tga", greyTga(width, height, domeHeights(width, height, 8)));
    loadHeights(dir + "/heights.tga");
    run.rowBuffer = allocateBytes(static_cast<std::size_t>(width + 20 + 1) * 3);
    run.outputImage.format = 1;
    run.outputImage.imageType = 3;
    run.outputImage.width = width + 20;
    run.outputImage.height = height + (focP == 1 ? height / 30 : 0);
    ASSERT_EQ(openOutputTga(run.outputImage, (dir + "/out.tga").c_str()), 0);
}

std::string calculate() {
    testing::internal::CaptureStdout();
    runCalculation();
    std::string out = testing::internal::GetCapturedStdout();
    std::fclose(run.outputImage.stream);
    run.outputImage.stream = nullptr;
    return out;
}

}  // namespace

TEST(RunCalculation, ZeroAndOneRowPrintTheScaleAndTheWholeBar) {
    const std::string dir = temporaryDirectory();
    setUpRun(dir, 4, 0, 1);
    EXPECT_EQ(calculate(), kOpening + kScale);
    EXPECT_EQ(readFileBytes(dir + "/out.tga").size(), 18u);

    setUpRun(dir, 4, 1, 1);
    EXPECT_EQ(calculate(), kOpening + kScale + std::string(67, '#'));
    EXPECT_EQ(readFileBytes(dir + "/out.tga").size(), 18u + 24u);
}

TEST(RunCalculation, FocusBandRowsComeFirst) {
    // Height 150: a band of 5 rows; only band row 1 carries one black pixel
    // per mark, at (120 - 20) / 2 = 50 and 70.
    const std::string dir = temporaryDirectory();
    setUpRun(dir, 100, 150, 1);
    calculate();
    const std::vector<std::uint8_t> file = readFileBytes(dir + "/out.tga");
    ASSERT_EQ(file.size(), 18u + 155u * 120u);
    for (int row = 0; row < 5; ++row) {
        for (int x = 0; x < 120; ++x) {
            const bool mark = row == 1 && (x == 50 || x == 70);
            EXPECT_EQ(file[18 + row * 120 + x], mark ? 0 : 255) << "band row " << row << ", x " << x;
        }
    }
}

// Every target an accepted left-to-right link reached repeats the pixel one
// link length to its left, in the file the executable wrote.
TEST(RunCalculation, DomeLinksAreVisibleInTheWrittenFile) {
    for (const bool doubled : {false, true}) {
        const std::string dir = temporaryDirectory();
        const int width = 160, height = 60;
        writeFileBytes(dir + "/dome.tga", greyTga(width, height, domeHeights(width, height, 28)));
        std::vector<std::string> args = {"dome.tga", "out", "/PPos:1", "/FocP:0", "/PatT:5", "/Rand:7"};
        if (doubled) args.push_back("/Double");
        const ProcessResult result = runRdsgenProcess(args, dir);
        ASSERT_EQ(result.status, 0) << result.err;

        resetRunState();
        settings.Double = doubled ? 1 : 0;
        loadHeights(dir + "/dome.tga");
        const std::int32_t S = scaleFactor(), P = S * 68, N = S * width;
        const std::vector<std::uint8_t> file = readFileBytes(dir + "/out.TGA");
        const std::size_t rowBytes = 3 * static_cast<std::size_t>(N + P);
        ASSERT_EQ(file.size(), 18 + rowBytes * height * S);

        std::int32_t accepted = 0, deepest = 0;
        for (std::int32_t y = 0; y < height; ++y) {
            makeSeparationRow(run.heightImage, run.separationBuffer.get(), y);
            widenSeparationRow(separationRow(), S);
            const std::uint8_t* row = file.data() + 18 + rowBytes * S * y;
            std::int32_t lastSource = -1;
            for (std::int32_t i = 0; i < N; ++i) {
                const std::int32_t s = separationRow()[i];
                if (i + s < lastSource) continue;
                lastSource = i + s;
                ++accepted;
                if (s > deepest) deepest = s;
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(row[3 * (i + P) + k], row[3 * (i + s) + k])
                        << "Double " << doubled << ", row " << y << ", link " << i;
                }
            }
        }
        EXPECT_GT(deepest, 10);  // the dome really stands out
        EXPECT_GT(accepted, height * N * 9 / 10);
    }
}
