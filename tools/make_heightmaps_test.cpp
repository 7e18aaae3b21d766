// The example height images: valid 8-bit grey TARGA files that rdsgen's own
// reader accepts, with the shapes they are named for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/load_image.h"

namespace fs = std::filesystem;

namespace rdsgen {
namespace {

fs::path outputDirectory() {
    fs::path dir = fs::temp_directory_path() / ("make-heightmaps-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

int runGenerator(const std::string& arguments) {
    std::string command = std::string(MAKE_HEIGHTMAPS_EXECUTABLE) + " " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads a generated file through the program's reader.
Image readWithRdsgen(const fs::path& path) {
    Image image;
    const Status status = loadImageFile(path.c_str(), image);
    EXPECT_EQ(status.code, StatusCode::kOk) << path << ": " << statusText(status);
    return image;
}

std::uint8_t at(const Image& image, int x, int y) {
    return image.pixels[static_cast<std::size_t>(y) * image.rowBytes + x];
}

class MakeHeightmapsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = outputDirectory();
        ASSERT_EQ(runGenerator("-s 160x120 " + dir.string()), 0);
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }
    static fs::path dir;
};
fs::path MakeHeightmapsTest::dir;

TEST_F(MakeHeightmapsTest, EveryShapeIsAnUncompressedGreyTopFirstTarga) {
    for (const char* shape : {"dome", "torus", "terraces", "ramp", "text"}) {
        std::vector<std::uint8_t> bytes = readBytes(dir / (std::string(shape) + ".tga"));
        ASSERT_EQ(bytes.size(), 18u + 160u * 120u) << shape;
        const std::uint8_t header[18] = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 160, 0, 120, 0, 8, 0x20};
        EXPECT_TRUE(std::equal(header, header + 18, bytes.begin())) << shape;

        Image image = readWithRdsgen(dir / (std::string(shape) + ".tga"));
        ASSERT_NE(image.pixels, nullptr) << shape;
        EXPECT_EQ(image.kind, PixelKind::kGrey8);
        EXPECT_EQ(image.width, 160);
        EXPECT_EQ(image.height, 120);
        // The border is background except for the ramp, which spans the image.
        if (std::string(shape) != "ramp") {
            EXPECT_EQ(at(image, 0, 0), 0) << shape;
        }
    }
}

TEST_F(MakeHeightmapsTest, ShapesHaveTheirForm) {
    Image dome = readWithRdsgen(dir / "dome.tga");
    EXPECT_GE(at(dome, 80, 60), 250);
    EXPECT_GT(at(dome, 80, 60), at(dome, 100, 60));
    EXPECT_GT(at(dome, 100, 60), at(dome, 120, 60));

    Image torus = readWithRdsgen(dir / "torus.tga");
    EXPECT_EQ(at(torus, 80, 60), 0);             // the hole
    EXPECT_GE(at(torus, 80 + 33, 60), 240);      // the ring's crest at 0.55 of 60 pixels

    Image ramp = readWithRdsgen(dir / "ramp.tga");
    EXPECT_EQ(at(ramp, 5, 0), 0);
    EXPECT_EQ(at(ramp, 5, 119), 255);
    for (int y = 1; y < 120; ++y) EXPECT_GE(at(ramp, 5, y), at(ramp, 5, y - 1));

    std::set<int> levels;
    Image terraces = readWithRdsgen(dir / "terraces.tga");
    for (int y = 0; y < 120; ++y) levels.insert(at(terraces, 80, y));
    EXPECT_EQ(levels, (std::set<int>{0, 50, 100, 150, 200, 250}));

    std::set<int> textValues;
    Image text = readWithRdsgen(dir / "text.tga");
    for (int i = 0; i < 160 * 120; ++i) textValues.insert(text.pixels[static_cast<std::size_t>(i)]);
    EXPECT_EQ(textValues, (std::set<int>{0, 200}));
}

// --frames writes one loop of the ball's motion: numbered frames in which it
// moves and comes nearer, the last one leading back to the first.
TEST(MakeHeightmapsArguments, FramesOfTheMovingBall) {
    fs::path dir = outputDirectory();
    ASSERT_EQ(runGenerator("-s 80x60 --frames 4 " + dir.string()), 0);
    EXPECT_FALSE(fs::exists(dir / "ball_0000.tga"));
    EXPECT_FALSE(fs::exists(dir / "ball_0005.tga"));
    int peaks[4] = {};
    std::vector<std::uint8_t> previous;
    for (int k = 1; k <= 4; ++k) {
        Image frame = readWithRdsgen(dir / ("ball_000" + std::to_string(k) + ".tga"));
        ASSERT_EQ(frame.width, 80);
        std::vector<std::uint8_t> pixels(frame.pixels.get(), frame.pixels.get() + 80 * 60);
        peaks[k - 1] = *std::max_element(pixels.begin(), pixels.end());
        EXPECT_NE(pixels, previous) << k;
        previous = pixels;
    }
    EXPECT_LT(peaks[0], peaks[1]);  // nearer a quarter round on, then back
    EXPECT_GT(peaks[1], peaks[2]);
    EXPECT_GT(peaks[2], peaks[3]);
    EXPECT_NE(runGenerator("--frames 0 " + dir.string()), 0);
    fs::remove_all(dir);
}

TEST(MakeHeightmapsArguments, RefusesBadSizesAndShapes) {
    fs::path dir = outputDirectory();
    EXPECT_NE(runGenerator("-s 0x10 " + dir.string()), 0);
    EXPECT_NE(runGenerator("-s 70000x10 " + dir.string()), 0);
    EXPECT_NE(runGenerator("-s 10x10x " + dir.string()), 0);
    EXPECT_NE(runGenerator(dir.string() + " cube"), 0);
    EXPECT_NE(runGenerator(""), 0);
    EXPECT_NE(runGenerator((dir / "missing" / "deeper").string() + " dome"), 0);
    EXPECT_EQ(runGenerator("-s 7x3 -t AZ " + dir.string() + " text"), 0);
    EXPECT_EQ(readBytes(dir / "text.tga").size(), 18u + 21u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace rdsgen
