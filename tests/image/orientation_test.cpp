// The EXIF orientation of PNG (eXIf) and JPEG (APP1) files: the readers turn
// the image upright as viewers show it, headers included.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/image_files.h"

namespace rdsgen {
namespace {

using ByteVector = std::vector<std::uint8_t>;

// An EXIF block (TIFF header, first IFD) whose only entry is the
// Orientation tag: a SHORT by default.
ByteVector exifBlock(int orientation, bool little, int type = 3) {
    const auto put16 = [little](ByteVector& out, unsigned v) {
        out.push_back(static_cast<std::uint8_t>(little ? v & 0xFF : v >> 8));
        out.push_back(static_cast<std::uint8_t>(little ? v >> 8 : v & 0xFF));
    };
    const auto put32 = [&](ByteVector& out, unsigned v) {
        put16(out, little ? v & 0xFFFF : v >> 16);
        put16(out, little ? v >> 16 : v & 0xFFFF);
    };
    ByteVector out = {little ? std::uint8_t('I') : std::uint8_t('M'), little ? std::uint8_t('I') : std::uint8_t('M')};
    put16(out, 42);
    put32(out, 8);
    put16(out, 2);
    put16(out, 0x010F);  // Make, an ASCII entry before it
    put16(out, 2);
    put32(out, 4);
    out.insert(out.end(), {'a', 'b', 'c', 0});
    put16(out, 0x0112);
    put16(out, static_cast<unsigned>(type));
    put32(out, 1);
    put16(out, static_cast<unsigned>(orientation));
    put16(out, 0);
    put32(out, 0);
    return out;
}

ByteVector withApp1(ByteVector jpeg, const ByteVector& exif) {
    ByteVector segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), exif.begin(), exif.end());
    segment[2] = static_cast<std::uint8_t>((segment.size() - 2) >> 8);
    segment[3] = static_cast<std::uint8_t>((segment.size() - 2) & 0xFF);
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    return jpeg;
}

// Where the stored pixel (column c, row r) of a width x height image is
// shown, by the tag's meaning: where the stored first row and first column
// end up (1: top, left; 2: top, right; 3: bottom, right; 4: bottom, left;
// 5: left, top; 6: right, top; 7: right, bottom; 8: left, bottom).
std::pair<int, int> shownAt(int orientation, int c, int r, int width, int height) {
    switch (orientation) {
        case 2: return {width - 1 - c, r};
        case 3: return {width - 1 - c, height - 1 - r};
        case 4: return {c, height - 1 - r};
        case 5: return {r, c};
        case 6: return {height - 1 - r, c};
        case 7: return {height - 1 - r, width - 1 - c};
        case 8: return {r, width - 1 - c};
        default: return {c, r};
    }
}

// The stored pixels of `upright` (pixel bytes each) as shown with orientation.
ByteVector shown(const Image& stored, int orientation) {
    const int pixel = pixelBytes(stored.kind);
    const bool swap = orientation >= 5;
    const int shownWidth = swap ? stored.height : stored.width;
    ByteVector out(std::size_t(stored.width) * stored.height * pixel);
    for (int r = 0; r < stored.height; ++r) {
        for (int c = 0; c < stored.width; ++c) {
            const auto [x, y] = shownAt(orientation, c, r, stored.width, stored.height);
            for (int k = 0; k < pixel; ++k) {
                out[(std::size_t(y) * shownWidth + x) * pixel + k] = imageRow(stored, r)[c * pixel + k];
            }
        }
    }
    return out;
}

ByteVector pixelsOf(const Image& image) {
    return ByteVector(image.pixels.get(), image.pixels.get() + std::size_t(image.rowBytes) * image.height);
}

TEST(Orientation, PngEXifTurnsTheImageForEveryValue) {
    PngLayout layout;
    layout.width = 3;
    layout.height = 2;
    layout.colourType = kPngGrey;
    layout.bitDepth = 16;
    layout.samples = {100, 2000, 30000, 400, 5000, 60000};
    Image upright;
    ASSERT_TRUE(readPng(buildPng(layout), upright));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        PngLayout turned = layout;
        turned.extraChunks = {{"eXIf", exifBlock(orientation, orientation % 2 == 0)}};
        const ByteVector file = buildPng(turned);
        Image image;
        ASSERT_TRUE(readPng(file, image));
        const bool swap = orientation >= 5;
        EXPECT_EQ(image.width, swap ? 2 : 3);
        EXPECT_EQ(image.height, swap ? 3 : 2);
        EXPECT_EQ(image.rowBytes, image.width * 2);
        EXPECT_EQ(pixelsOf(image), shown(upright, orientation));
        Image header;
        ASSERT_TRUE(decodePng(file, header, true));
        EXPECT_EQ(header.width, image.width);
        EXPECT_EQ(header.height, image.height);
    }
}

TEST(Orientation, JpegApp1TurnsTheImage) {
    JpegLayout layout;
    layout.width = 13;
    layout.height = 7;
    layout.source = JpegSource::kColour;
    for (int i = 0; i < 13 * 7 * 3; ++i) layout.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    const ByteVector plain = buildJpeg(layout);
    ASSERT_FALSE(plain.empty());
    Image upright;
    ASSERT_TRUE(readJpeg(plain, upright));
    for (const bool little : {true, false}) {
        for (const int orientation : {3, 6, 8}) {
            SCOPED_TRACE(std::to_string(orientation) + (little ? " II" : " MM"));
            const ByteVector file = withApp1(plain, exifBlock(orientation, little));
            Image image;
            ASSERT_TRUE(readJpeg(file, image));
            EXPECT_EQ(image.width, orientation == 3 ? 13 : 7);
            EXPECT_EQ(image.height, orientation == 3 ? 7 : 13);
            EXPECT_EQ(pixelsOf(image), shown(upright, orientation));
            Image header;
            ASSERT_TRUE(decodeJpeg(file, header, true));
            EXPECT_EQ(header.width, image.width);
        }
    }
}

// Tags that are not a plain SHORT from 1 to 8, and broken blocks, leave the
// image upright.
TEST(Orientation, UnreadableTagsMeanUpright) {
    EXPECT_EQ(exifOrientation(exifBlock(6, true)), 6);
    EXPECT_EQ(exifOrientation(exifBlock(9, true)), 1);
    EXPECT_EQ(exifOrientation(exifBlock(0, false)), 1);
    EXPECT_EQ(exifOrientation(exifBlock(6, true, 4)), 1);
    const ByteVector whole = exifBlock(6, false);
    const ByteVector cut(whole.begin(), whole.begin() + 24);  // ends inside the Orientation entry
    EXPECT_EQ(exifOrientation(cut), 1);
    ByteVector farIfd = exifBlock(6, true);
    farIfd[4] = 0xF0;
    EXPECT_EQ(exifOrientation(farIfd), 1);
    EXPECT_EQ(exifOrientation({}), 1);
}

}  // namespace
}  // namespace rdsgen
