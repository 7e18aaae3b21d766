// Height scaling and row separations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "depth/depth.h"
#include "support/test_support.h"

namespace {

using rdsgen::DepthMapping;
using rdsgen::Image;

// A height image in memory; its height follows from the number of bytes.
// greyBytes 0 makes a colour image.
Image heightImage(int greyBytes, int width, const std::vector<std::uint8_t>& bytes) {
    const int rowBytes = width * (greyBytes == 0 ? 3 : greyBytes);
    Image image = rdsgen::makeImage(width, int(bytes.size()) / rowBytes, static_cast<rdsgen::PixelKind>(greyBytes));
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

using Depths = std::vector<std::int32_t>;

class Depth : public testing::Test {
protected:
    rdsgen::RunSettings settings;

    std::int32_t scaleFactor() const { return (settings.VInc + 1) * (settings.Double + 1); }

    DepthMapping scale(const Image& image, bool stretchZ) {
        settings.StretZ = stretchZ ? 1 : 0;
        return rdsgen::scaleHeights(settings, scaleFactor(), image);
    }

    Depths separations(const Image& image, const DepthMapping& mapping, int row = 0) {
        // Pattern widths beyond 32 bits (which no run accepts) are held at the
        // largest; the depths checked here stay far below it.
        const std::int64_t patternWidth = std::int64_t{scaleFactor()} * settings.PSiz;
        const rdsgen::DepthTable table = rdsgen::makeDepthTable(
            settings, std::int32_t(std::min<std::int64_t>(patternWidth, std::numeric_limits<std::int32_t>::max())),
            image, mapping);
        Depths result(std::size_t(image.width));
        rdsgen::makeSeparationRow(image, table, row, result.data());
        return result;
    }
};

TEST_F(Depth, EightBitFixedAndStretchedRange) {
    const Image image = heightImage(1, 3, {0, 128, 255});
    DepthMapping mapping = scale(image, false);
    EXPECT_EQ(mapping.step, 15625);
    EXPECT_EQ(mapping.offset, 7812);
    EXPECT_EQ(separations(image, mapping), (Depths{0, 7, 15}));
    settings.Inv = 1;
    EXPECT_EQ(separations(image, mapping), (Depths{15, 7, 0}));
    settings.Inv = 0;
    mapping = scale(image, true);
    EXPECT_EQ(mapping.step, 15625);
    EXPECT_EQ(mapping.offset, -7812);
    EXPECT_EQ(separations(image, mapping), (Depths{0, 8, 16}));
}

// Background 0 (with Inv 65535) and objects 1000 ... 2000, over two rows.
TEST_F(Depth, SixteenBitStretchLiftsObjectsOffTheBackground) {
    for (int inv : {0, 1}) {
        SCOPED_TRACE(inv);
        settings.Inv = inv;
        auto stored = [inv](int h) { return inv ? 65535 - h : h; };
        const Image image = heightImage(2, 2, wide(2, {stored(0), stored(1000), stored(2000), stored(1500)}));
        const DepthMapping mapping = scale(image, true);
        EXPECT_EQ(mapping.step, 66);
        EXPECT_EQ(mapping.offset, 884);
        EXPECT_EQ(separations(image, mapping, 0), (Depths{0, 1}));
        EXPECT_EQ(separations(image, mapping, 1), (Depths{16, 9}));
    }
}

TEST_F(Depth, StretchOfASingleValueOrOnlyBackground) {
    // One pixel must set both the largest and the smallest height.
    const Image flat = heightImage(1, 1, {100});
    DepthMapping mapping = scale(flat, true);
    EXPECT_EQ(mapping.step, 1);
    EXPECT_EQ(mapping.offset, 100000);
    EXPECT_EQ(separations(flat, mapping), (Depths{0}));

    const Image empty = heightImage(3, 2, wide(3, {0, 0}));
    mapping = scale(empty, true);
    EXPECT_EQ(mapping.step, 1);
    EXPECT_EQ(mapping.offset, 0);
    EXPECT_EQ(separations(empty, mapping), (Depths{0, 0}));
}

// Several pixels per row check the conversion for each pixel size.
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
        const Image image = heightImage(c.greyBytes, int(c.plain.size()), c.bytes);
        const DepthMapping mapping = scale(image, false);
        EXPECT_EQ(separations(image, mapping), c.plain);
        settings.Inv = 1;
        EXPECT_EQ(separations(image, mapping), c.inverted);
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
        const Image image = heightImage(1, 2, {0, 255});
        EXPECT_EQ(separations(image, scale(image, false)), (Depths{0, c.highest}));
    }
}

}  // namespace
