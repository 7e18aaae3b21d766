// Height scaling and row separations.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "depth/depth.h"
#include "support/test_support.h"

namespace {

// A height image in memory; its height follows from the number of bytes.
TgaImage heightImage(int greyBytes, int width, const std::vector<std::uint8_t>& bytes) {
    TgaImage image;
    image.greyBytes = std::int16_t(greyBytes);
    image.width = width;
    image.rowBytes = width * (greyBytes == 0 ? 3 : greyBytes);
    image.height = int(bytes.size()) / image.rowBytes;
    image.pixels = allocateBytes(bytes.size());
    std::memcpy(image.pixels.get(), bytes.data(), bytes.size());
    return image;
}

// Little-endian stored bytes of 16- or 24-bit values.
std::vector<std::uint8_t> wide(int bytesPerValue, const std::vector<int>& values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values) {
        for (int b = 0; b < bytesPerValue; ++b) bytes.push_back(std::uint8_t(v >> (8 * b)));
    }
    return bytes;
}

std::string scale(TgaImage& image, bool stretchZ) {
    std::vector<std::uint8_t> scratch(std::size_t(image.rowBytes));
    testing::internal::CaptureStdout();
    scaleHeights(image, scratch.data(), stretchZ ? 1 : 0);
    return testing::internal::GetCapturedStdout();
}

std::vector<std::int32_t> separations(const TgaImage& image, int row = 0) {
    // Sized as the run driver sizes the separation buffer.
    std::vector<std::uint8_t> buffer(std::size_t(image.width + 1) * 4 * scaleFactor());
    makeSeparationRow(image, buffer.data(), row);
    std::vector<std::int32_t> result(std::size_t(image.width));
    std::memcpy(result.data(), buffer.data(), result.size() * 4);
    return result;
}

using Depths = std::vector<std::int32_t>;

class Depth : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
};

TEST_F(Depth, EightBitFixedAndStretchedRange) {
    TgaImage image = heightImage(1, 3, {0, 128, 255});
    EXPECT_EQ(scale(image, false), "");
    EXPECT_EQ(image.depthStep, 15625);
    EXPECT_EQ(image.depthOffset, 7812);
    EXPECT_EQ(separations(image), (Depths{0, 7, 15}));
    settings.Inv = 1;
    EXPECT_EQ(separations(image), (Depths{15, 7, 0}));
    settings.Inv = 0;
    EXPECT_EQ(scale(image, true), "Scaling height (Z) information...\r" + std::string(67, ' ') + "\r");
    EXPECT_EQ(image.depthStep, 15625);
    EXPECT_EQ(image.depthOffset, -7812);
    EXPECT_EQ(separations(image), (Depths{0, 8, 16}));
}

// Background 0 (with Inv 65535) and objects 1000 ... 2000, over two rows.
TEST_F(Depth, SixteenBitStretchLiftsObjectsOffTheBackground) {
    for (int inv : {0, 1}) {
        SCOPED_TRACE(inv);
        settings.Inv = inv;
        auto stored = [inv](int h) { return inv ? 65535 - h : h; };
        TgaImage image = heightImage(2, 2, wide(2, {stored(0), stored(1000), stored(2000), stored(1500)}));
        scale(image, true);
        EXPECT_EQ(image.depthStep, 66);
        EXPECT_EQ(image.depthOffset, 884);
        EXPECT_EQ(separations(image, 0), (Depths{0, 1}));
        EXPECT_EQ(separations(image, 1), (Depths{16, 9}));
    }
}

TEST_F(Depth, StretchOfASingleValueOrOnlyBackground) {
    // One pixel must set both the largest and the smallest height.
    TgaImage flat = heightImage(1, 1, {100});
    scale(flat, true);
    EXPECT_EQ(flat.depthStep, 1);
    EXPECT_EQ(flat.depthOffset, 100000);
    EXPECT_EQ(separations(flat), (Depths{0}));

    TgaImage empty = heightImage(3, 2, wide(3, {0, 0}));
    scale(empty, true);
    EXPECT_EQ(empty.depthStep, 1);
    EXPECT_EQ(empty.depthOffset, 0);
    EXPECT_EQ(separations(empty), (Depths{0, 0}));
}

// Several pixels per row check the in-place conversion for each pixel size.
TEST_F(Depth, WideGreyAndColourRows) {
    struct Case {
        int greyBytes;
        std::vector<std::uint8_t> bytes;
        Depths plain, inverted;
    };
    const std::vector<Case> cases = {
        // step 4015, offset 2007; stored 0x10 0x27 is 10000.
        {2, {0x10, 0x27, 0xFF, 0xFF, 0x00, 0x00}, {1, 15, 0}, {13, 0, 0}},
        // step 1028015, offset 514007.
        {3, wide(3, {16777215, 8388608, 0, 1}), {15, 7, 0, 0}, {0, 7, 0, 15}},
        // step 468750, offset 234375: white, blue, green, red.
        {0, {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255}, {15, 1, 8, 4}, {0, 13, 6, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.greyBytes);
        settings.Inv = 0;
        TgaImage image = heightImage(c.greyBytes, int(c.plain.size()), c.bytes);
        scale(image, false);
        EXPECT_EQ(separations(image), c.plain);
        settings.Inv = 1;
        EXPECT_EQ(separations(image), c.inverted);
    }
}

TEST_F(Depth, ExtremeSettingsStayInRange) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    struct Case {
        std::int32_t PSiz, PUse, Double, VInc, highest;
    };
    const std::vector<Case> cases = {
        {68, 1000, 0, 0, 67}, {68, 1000, 1, 0, 135}, {68, -24, 0, 0, 0}, {68, kMax, 1, 1, 271},
        {68, 0, 0, 0, 0},  // divisor 0 taken as 1: step 25500000
        {kMax, kMax, 1, 1, 255000},  // divisor beyond 64 bits: step 1, offset 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "PSiz " << c.PSiz << " PUse " << c.PUse);
        settings.PSiz = c.PSiz;
        settings.PUse = c.PUse;
        settings.Double = c.Double;
        settings.VInc = c.VInc;
        TgaImage image = heightImage(1, 2, {0, 255});
        scale(image, false);
        EXPECT_EQ(separations(image), (Depths{0, c.highest}));
    }
}

}  // namespace
