// Resampling height images: sizes, exact averages and interpolation at each
// sample's own precision.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/image.h"

namespace {

using namespace rdsgen;

// A grey image of the given sample values (row-major, top row first).
Image greyImage(std::int32_t width, std::int32_t height, PixelKind kind, const std::vector<std::uint32_t>& values) {
    Image image = makeImage(width, height, kind);
    const std::int32_t bytes = pixelBytes(kind);
    for (std::size_t k = 0; k < values.size(); ++k) {
        for (std::int32_t b = 0; b < bytes; ++b) {
            image.pixels[k * static_cast<std::size_t>(bytes) + static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(values[k] >> (8 * b));
        }
    }
    return image;
}

std::vector<std::uint32_t> greyValues(const Image& image) {
    std::vector<std::uint32_t> values;
    const std::int32_t bytes = pixelBytes(image.kind);
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(image.width) * image.height; ++k) {
        std::uint32_t value = 0;
        for (std::int32_t b = 0; b < bytes; ++b) value |= std::uint32_t{image.pixels[k * bytes + b]} << (8 * b);
        values.push_back(value);
    }
    return values;
}

Image resampled(const Image& source, std::int32_t width) {
    Image result;
    EXPECT_TRUE(resampleImage(source, resampledHeader(headerOf(source), width), result));
    return result;
}

TEST(ResampleTest, HeightKeepsTheAspectRounded) {
    const auto size = [](std::int32_t w, std::int32_t h, std::int32_t width) {
        const ImageHeader header = resampledHeader(ImageHeader{w, h, PixelKind::kGrey16}, width);
        EXPECT_EQ(header.kind, PixelKind::kGrey16);
        return std::vector<std::int32_t>{header.width, header.height};
    };
    EXPECT_EQ(size(97, 61, 50), (std::vector<std::int32_t>{50, 31}));    // 31.44
    EXPECT_EQ(size(97, 61, 200), (std::vector<std::int32_t>{200, 126}));  // 125.77
    EXPECT_EQ(size(4, 2, 3), (std::vector<std::int32_t>{3, 2}));          // 1.5 rounds up
    EXPECT_EQ(size(1000, 1, 1), (std::vector<std::int32_t>{1, 1}));       // never 0 rows
    EXPECT_EQ(size(97, 61, 0), (std::vector<std::int32_t>{97, 61}));      // off
    EXPECT_EQ(size(0, 5, 40), (std::vector<std::int32_t>{0, 5}));         // nothing to resample
}

TEST(ResampleTest, ConstantImagesStayConstantAtEveryPrecision) {
    for (PixelKind kind : {PixelKind::kGrey8, PixelKind::kGrey16, PixelKind::kGrey24, PixelKind::kColour}) {
        const std::uint32_t value = kind == PixelKind::kGrey8 ? 201 : kind == PixelKind::kGrey16 ? 54321 : 16777001;
        Image image = makeImage(13, 7, kind);
        if (kind == PixelKind::kColour) {
            for (std::int32_t k = 0; k < 13 * 7; ++k) {
                image.pixels[3 * k] = 9, image.pixels[3 * k + 1] = 200, image.pixels[3 * k + 2] = 255;
            }
        } else {
            image = greyImage(13, 7, kind, std::vector<std::uint32_t>(13 * 7, value));
        }
        for (std::int32_t width : {1, 5, 12, 14, 40}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + " to " + std::to_string(width));
            const Image result = resampled(image, width);
            ASSERT_EQ(result.width, width);
            ASSERT_EQ(result.kind, kind);
            if (kind == PixelKind::kColour) {
                for (std::int32_t k = 0; k < result.width * result.height; ++k) {
                    ASSERT_EQ(result.pixels[3 * k], 9);
                    ASSERT_EQ(result.pixels[3 * k + 1], 200);
                    ASSERT_EQ(result.pixels[3 * k + 2], 255);
                }
            } else {
                const std::vector<std::uint32_t> values = greyValues(result);
                EXPECT_EQ(values, std::vector<std::uint32_t>(values.size(), value));
            }
        }
    }
}

TEST(ResampleTest, ShrinkingAveragesAreasExactly) {
    // 2x2 blocks of 16-bit heights: each output is the block's mean, rounded
    // (halves up), without losing the low byte.
    const Image blocks = greyImage(4, 2, PixelKind::kGrey16,
                                   {65535, 0, 1000, 1001,  //
                                    65535, 1, 1000, 1001});
    EXPECT_EQ(greyValues(resampled(blocks, 2)), (std::vector<std::uint32_t>{32768, 1001}));

    // Three pixels into two: each output covers one and a half inputs.
    const Image row = greyImage(3, 1, PixelKind::kGrey8, {0, 3, 7});
    EXPECT_EQ(greyValues(resampled(row, 2)), (std::vector<std::uint32_t>{1, 6}));  // 3/3, 17/3

    // 24-bit heights, 6 x 3 into 2 x 1: every output averages a 3 x 3 box.
    std::vector<std::uint32_t> deep(18, 0);
    for (std::size_t k = 0; k < 18; ++k) deep[k] = (k % 6 < 3 ? 16777215 : 9) - static_cast<std::uint32_t>(k / 6);
    EXPECT_EQ(greyValues(resampled(greyImage(6, 3, PixelKind::kGrey24, deep), 2)),
              (std::vector<std::uint32_t>{16777214, 8}));

    // Colour: each channel on its own.
    Image colour = makeImage(2, 2, PixelKind::kColour);
    const std::uint8_t bgr[12] = {0, 10, 255, 1, 20, 255, 2, 30, 0, 4, 41, 0};
    std::copy(bgr, bgr + 12, colour.pixels.get());
    const Image mean = resampled(colour, 1);
    EXPECT_EQ((std::vector<int>{mean.pixels[0], mean.pixels[1], mean.pixels[2]}),
              (std::vector<int>{2, 25, 128}));  // 7/4, 101/4, 510/4 rounded
}

TEST(ResampleTest, EnlargingInterpolatesBetweenPixelCentres) {
    // 2 x 2 into 4 x 4: the corners keep their values, the inner pixels lie
    // a quarter and three quarters of the way between the centres.
    const Image corners = greyImage(2, 2, PixelKind::kGrey16, {0, 400, 800, 1200});
    EXPECT_EQ(greyValues(resampled(corners, 4)), (std::vector<std::uint32_t>{
                                                     0,   100, 300,  400,   //
                                                     200, 300, 500,  600,   //
                                                     600, 700, 900,  1000,  //
                                                     800, 900, 1100, 1200}));
    // Rounding happens once, on the two-dimensional sum: 1/16 of 8 is 0.5.
    const Image single = greyImage(2, 2, PixelKind::kGrey8, {8, 0, 0, 0});
    EXPECT_EQ(greyValues(resampled(single, 4))[5], 5u);  // 8 * 9/16 = 4.5
    EXPECT_EQ(greyValues(resampled(single, 4))[10], 1u);  // 8 * 1/16 = 0.5
}

}  // namespace
