// Reading PNG and JPEG files: every conversion on pixels the test knows,
// interlacing, colour chunks, JPEG against turbojpeg's own decoding, the
// choice of reader by the first bytes, and broken or oversized files.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/image_files.h"
#include "support/test_support.h"

namespace rdsgen {
namespace {

using ByteVector = std::vector<std::uint8_t>;

struct Decoded {
    Status status;
    Image image;
};

Decoded decodePng(const ByteVector& file) {
    Decoded d;
    d.status = readPng(file, d.image);
    return d;
}

Decoded decodeJpeg(const ByteVector& file) {
    Decoded d;
    d.status = readJpeg(file, d.image);
    return d;
}

ByteVector pixelsOf(const Image& image) {
    if (!image.pixels) return {};
    return ByteVector(image.pixels.get(), image.pixels.get() + std::size_t(image.rowBytes) * image.height);
}

// Expected stored bytes, by the rules of the format rather than the reader's
// arithmetic.
std::uint8_t scaled(unsigned v, int bits) { return static_cast<std::uint8_t>(v * 255 / ((1u << bits) - 1)); }
unsigned over(unsigned v, unsigned a, unsigned max) {
    return static_cast<unsigned>(std::lround(double(v) * a / max));
}
void grey16(ByteVector& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void colour(ByteVector& out, unsigned red, unsigned green, unsigned blue) {
    out.insert(out.end(), {static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                           static_cast<std::uint8_t>(red)});
}

PngLayout png(std::uint32_t width, std::uint32_t height, int colourType, int bitDepth,
            std::vector<std::uint16_t> samples) {
    PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.colourType = colourType;
    layout.bitDepth = bitDepth;
    layout.samples = std::move(samples);
    return layout;
}

// A colour-mapped TARGA (24-bit entries) with the palette and indices of a PNG.
ByteVector mappedTwin(const PngLayout& picture) {
    TgaLayout layout;
    layout.imageType = 1;
    layout.colourMapType = 1;
    layout.mapLength = static_cast<int>(picture.palette.size() / 3);
    layout.mapEntryBits = 24;
    for (std::size_t i = 0; i + 2 < picture.palette.size(); i += 3) {
        layout.colourMap.insert(layout.colourMap.end(), {picture.palette[i + 2], picture.palette[i + 1], picture.palette[i]});
    }
    layout.width = static_cast<int>(picture.width);
    layout.height = static_cast<int>(picture.height);
    for (std::uint16_t index : picture.samples) layout.pixels.push_back(static_cast<std::uint8_t>(index));
    return buildTga(layout);
}

struct Conversion {
    std::string name;
    PngLayout layout;
    PixelKind kind;
    ByteVector expected;
    bool mappedTwinToo = false;  // a palette image: its colour-mapped TARGA decodes alike
};

std::vector<Conversion> conversions() {
    std::vector<Conversion> cases;
    auto add = [&](std::string name, PngLayout layout, PixelKind kind, ByteVector expected, bool twin = false) {
        cases.push_back({std::move(name), std::move(layout), kind, std::move(expected), twin});
    };
    add("grey 8", png(3, 2, kPngGrey, 8, {0, 1, 127, 128, 254, 255}), PixelKind::kGrey8, {0, 1, 127, 128, 254, 255});
    {
        const std::vector<std::uint16_t> v = {0, 1, 0x00FF, 0x0100, 0x1234, 0xFFFF};
        ByteVector e;
        for (unsigned x : v) grey16(e, x);
        add("grey 16", png(3, 2, kPngGrey, 16, v), PixelKind::kGrey16, e);
    }
    for (int bits : {1, 2, 4}) {
        // Two rows of five pixels: rows that end inside a byte.
        std::vector<std::uint16_t> v;
        ByteVector e;
        for (unsigned i = 0; i < 10; ++i) {
            v.push_back(static_cast<std::uint16_t>((i * 7 + 3) % (1u << bits)));
            e.push_back(scaled(v.back(), bits));
        }
        add("grey " + std::to_string(bits), png(5, 2, kPngGrey, bits, v), PixelKind::kGrey8, e);
    }
    add("rgb 8", png(2, 1, kPngRgb, 8, {1, 2, 3, 250, 128, 0}), PixelKind::kColour, {3, 2, 1, 0, 128, 250});
    // Low bytes of 0x80 and above: a rounding reader would carry into the high byte.
    add("rgb 16", png(2, 1, kPngRgb, 16, {0x12FF, 0xAB80, 0x01FF, 0xFF00, 0x0080, 0x8000}), PixelKind::kColour,
        {0x01, 0xAB, 0x12, 0x80, 0x00, 0xFF});
    {
        PngLayout p = png(3, 2, kPngPalette, 8, {0, 1, 2, 2, 1, 0});
        p.palette = {255, 0, 0, 0, 128, 255, 10, 20, 30};
        ByteVector e;
        for (int i : {0, 1, 2, 2, 1, 0}) colour(e, p.palette[3 * i], p.palette[3 * i + 1], p.palette[3 * i + 2]);
        add("palette 8", p, PixelKind::kColour, e, true);
    }
    for (int bits : {1, 2, 4}) {
        PngLayout p = png(7, 1, kPngPalette, bits, {});
        ByteVector e;
        const unsigned entries = 1u << bits;
        for (unsigned i = 0; i < entries; ++i) {
            p.palette.insert(p.palette.end(), {static_cast<std::uint8_t>(i * 16 + 1), static_cast<std::uint8_t>(200 - i),
                                               static_cast<std::uint8_t>(i * 3)});
        }
        for (unsigned x = 0; x < 7; ++x) {
            const unsigned index = (x * 5 + 1) % entries;
            p.samples.push_back(static_cast<std::uint16_t>(index));
            colour(e, p.palette[3 * index], p.palette[3 * index + 1], p.palette[3 * index + 2]);
        }
        add("palette " + std::to_string(bits), p, PixelKind::kColour, e, true);
    }
    // Alpha: the first pixels are those where rounding and truncation differ.
    add("grey+alpha 8", png(5, 1, kPngGreyAlpha, 8, {201, 100, 3, 128, 200, 0, 77, 255, 255, 1}), PixelKind::kGrey8,
        {static_cast<std::uint8_t>(over(201, 100, 255)), static_cast<std::uint8_t>(over(3, 128, 255)), 0, 77, 1});
    {
        const std::vector<std::uint16_t> v = {3, 0x8000, 0xFFFF, 0x8000, 0x1234, 0, 0x8000, 511, 0xABCD, 0xFFFF};
        ByteVector e;
        for (std::size_t i = 0; i < v.size(); i += 2) grey16(e, over(v[i], v[i + 1], 65535));
        add("grey+alpha 16", png(5, 1, kPngGreyAlpha, 16, v), PixelKind::kGrey16, e);
    }
    {
        const std::vector<std::uint16_t> v = {201, 3, 255, 100, 10, 20, 30, 0, 9, 8, 7, 255};
        ByteVector e;
        for (std::size_t i = 0; i < v.size(); i += 4) {
            colour(e, over(v[i], v[i + 3], 255), over(v[i + 1], v[i + 3], 255), over(v[i + 2], v[i + 3], 255));
        }
        add("rgba 8", png(3, 1, kPngRgba, 8, v), PixelKind::kColour, e);
    }
    {
        // Composited at 16 bits, then the high byte: 0x8000 * 511 / 65535
        // rounds up to 256, and 0xFF00 over alpha 0x0100 gives 255, not 256.
        const std::vector<std::uint16_t> v = {0x8000, 0xFF00, 0xFFFF, 511, 0xFF00, 0xFFFF, 0x1234, 0x0100,
                                              0xABCD, 0x0123, 0x4567, 0};
        ByteVector e;
        for (std::size_t i = 0; i < v.size(); i += 4) {
            colour(e, over(v[i], v[i + 3], 65535) >> 8, over(v[i + 1], v[i + 3], 65535) >> 8,
                   over(v[i + 2], v[i + 3], 65535) >> 8);
        }
        add("rgba 16", png(3, 1, kPngRgba, 16, v), PixelKind::kColour, e);
    }
    {
        // Entry 0 clear, entry 1 partly clear, entry 2 opaque by its alpha,
        // entry 3 opaque for lack of one.
        PngLayout p = png(4, 1, kPngPalette, 8, {0, 1, 2, 3});
        p.palette = {255, 255, 255, 201, 3, 255, 10, 20, 30, 40, 50, 60};
        p.trns = {0, 100, 255};
        ByteVector e;
        colour(e, 0, 0, 0);
        colour(e, over(201, 100, 255), over(3, 100, 255), over(255, 100, 255));
        colour(e, 10, 20, 30);
        colour(e, 40, 50, 60);
        add("palette alpha", p, PixelKind::kColour, e);
    }
    {
        PngLayout p = png(4, 1, kPngGrey, 8, {50, 51, 0, 255});
        p.trns = pngGreyKey(50);
        add("grey 8 key", p, PixelKind::kGrey8, {0, 51, 0, 255});
    }
    {
        // The key is the whole 16-bit value: neither byte alone, nor swapped.
        PngLayout p = png(4, 1, kPngGrey, 16, {0x1234, 0x1235, 0x3412, 0x0034});
        p.trns = pngGreyKey(0x1234);
        ByteVector e;
        for (unsigned v : {0u, 0x1235u, 0x3412u, 0x0034u}) grey16(e, v);
        add("grey 16 key", p, PixelKind::kGrey16, e);
    }
    {
        PngLayout p = png(4, 1, kPngGrey, 2, {0, 1, 2, 3});
        p.trns = pngGreyKey(2);
        add("grey 2 key", p, PixelKind::kGrey8, {0, 85, 0, 255});
    }
    {
        // Keys wider than the bit depth count by their low bits: 5 at two
        // bits is 1, 0x0132 at eight bits is 0x32.
        PngLayout p = png(4, 1, kPngGrey, 2, {0, 1, 2, 3});
        p.trns = pngGreyKey(5);
        add("grey 2 key masked", p, PixelKind::kGrey8, {0, 0, 170, 255});
        p = png(3, 1, kPngGrey, 8, {0x32, 0x01, 0xFF});
        p.trns = pngGreyKey(0x0132);
        add("grey 8 key masked", p, PixelKind::kGrey8, {0, 1, 255});
        p = png(2, 1, kPngRgb, 8, {10, 20, 30, 11, 20, 30});
        p.trns = pngRgbKey(0x100A, 0xFF14, 0x011E);
        add("rgb 8 key masked", p, PixelKind::kColour, {0, 0, 0, 30, 20, 11});
    }
    {
        PngLayout p = png(3, 1, kPngRgb, 8, {10, 20, 30, 10, 20, 31, 30, 20, 10});
        p.trns = pngRgbKey(10, 20, 30);
        add("rgb 8 key", p, PixelKind::kColour, {0, 0, 0, 31, 20, 10, 10, 20, 30});
    }
    {
        PngLayout p = png(2, 1, kPngRgb, 16, {0x1234, 0x5678, 0x9ABC, 0x1234, 0x5678, 0x9ABD});
        p.trns = pngRgbKey(0x1234, 0x5678, 0x9ABC);
        add("rgb 16 key", p, PixelKind::kColour, {0, 0, 0, 0x9A, 0x56, 0x12});
    }
    return cases;
}

// Every PNG kind decodes to the stored pixels of the TARGA image it stands
// for; the header alone gives the same sizes and kind.
TEST(PngRead, EveryKindConvertsExactly) {
    for (const Conversion& c : conversions()) {
        SCOPED_TRACE(c.name);
        const ByteVector file = buildPng(c.layout);
        const Decoded d = decodePng(file);
        EXPECT_TRUE(d.status) << d.status.reason;
        if (!d.status) continue;
        EXPECT_EQ(d.image.width, static_cast<std::int32_t>(c.layout.width));
        EXPECT_EQ(d.image.height, static_cast<std::int32_t>(c.layout.height));
        EXPECT_EQ(d.image.kind, c.kind);
        EXPECT_EQ(d.image.rowBytes, d.image.width * pixelBytes(c.kind));
        EXPECT_EQ(pixelsOf(d.image), c.expected);
        if (c.mappedTwinToo) {
            Image twin;
            ASSERT_TRUE(readTga(mappedTwin(c.layout), twin));
            EXPECT_EQ(twin.kind, d.image.kind);
            EXPECT_EQ(pixelsOf(twin), pixelsOf(d.image));
        }
        Image header;
        ASSERT_TRUE(decodePng(file, header, true));
        EXPECT_EQ(header.width, d.image.width);
        EXPECT_EQ(header.height, d.image.height);
        EXPECT_EQ(header.kind, d.image.kind);
        EXPECT_EQ(header.pixels, nullptr);
    }
}

// Adam7 files, and files with every row filter in turn, hold the same pixels
// as plain ones, for sizes that leave passes empty and sizes that fill them all.
TEST(PngRead, InterlacedAndFilteredRowsGiveTheSamePixels) {
    struct Kind {
        int colourType, bitDepth;
    };
    const Kind kinds[] = {{kPngGrey, 1}, {kPngGrey, 8}, {kPngGrey, 16}, {kPngRgb, 16},
                          {kPngPalette, 2}, {kPngGreyAlpha, 8}, {kPngRgba, 16}};
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {2, 3}, {5, 7}, {8, 8}, {9, 9}, {17, 3}, {3, 17}, {33, 1}};
    for (const Kind& k : kinds) {
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE(std::to_string(k.colourType) + "/" + std::to_string(k.bitDepth) + " " +
                         std::to_string(width) + "x" + std::to_string(height));
            PngLayout plain = png(width, height, k.colourType, k.bitDepth,
                                noiseSamples(std::size_t(width) * height * pngChannels(k.colourType), k.bitDepth, width * 31 + height));
            if (k.colourType == kPngPalette) {
                for (int i = 0; i < 3 << k.bitDepth; ++i) plain.palette.push_back(static_cast<std::uint8_t>(i * 37));
            }
            const Decoded reference = decodePng(buildPng(plain));
            EXPECT_TRUE(reference.status) << reference.status.reason;
            if (!reference.status) continue;
            for (const auto& [interlaced, filter] : {std::pair{true, 0}, std::pair{true, 5}, std::pair{false, 5}}) {
                PngLayout other = plain;
                other.interlaced = interlaced;
                other.filter = filter;
                const Decoded d = decodePng(buildPng(other));
                ASSERT_TRUE(d.status) << d.status.reason;
                EXPECT_EQ(d.image.kind, reference.image.kind);
                EXPECT_EQ(pixelsOf(d.image), pixelsOf(reference.image)) << "interlaced " << interlaced;
            }
        }
    }
}

// Heights are data: gamma, ICC and sRGB chunks change no pixel.
TEST(PngRead, ColourChunksAreIgnored) {
    const std::vector<PngChunk> chunks[] = {
        {{"gAMA", {0, 0, 0xB1, 0x8F}}},  // 1/2.2
        {{"gAMA", {0, 0x01, 0x86, 0xA0}}},  // 1.0 ... far from 1/2.2
        {{"sRGB", {0}}},
        {{"iCCP", [] {
              ByteVector data = {'i', 'c', 'c', 0, 0};
              const ByteVector profile = zlibCompress(ByteVector(200, 7));
              data.insert(data.end(), profile.begin(), profile.end());
              return data;
          }()}},
        {{"gAMA", {0, 0, 0x3A, 0x98}}, {"cHRM", ByteVector(32, 1)}},
    };
    for (const PngLayout& plain : {png(4, 1, kPngGrey, 8, {0, 64, 128, 200}),
                                 png(2, 1, kPngRgb, 16, {0x1000, 0x8080, 0xC000, 0x4000, 0x2000, 0xFFFF})}) {
        const Decoded reference = decodePng(buildPng(plain));
        ASSERT_TRUE(reference.status);
        for (const auto& extra : chunks) {
            SCOPED_TRACE(extra.front().type + " on colour type " + std::to_string(plain.colourType));
            PngLayout layout = plain;
            layout.extraChunks = extra;
            const Decoded d = decodePng(buildPng(layout));
            ASSERT_TRUE(d.status) << d.status.reason;
            EXPECT_EQ(pixelsOf(d.image), pixelsOf(reference.image));
        }
    }
}

// Chunks the reader does not use are skipped whatever their number, size or
// contents: only the image's own data can refuse a file.
TEST(PngRead, UnusedChunksNeverRefuseAFile) {
    const PngLayout plain = png(3, 2, kPngGrey, 8, {0, 1, 127, 128, 254, 255});
    const Decoded reference = decodePng(buildPng(plain));
    ASSERT_TRUE(reference.status);
    auto text = [](std::size_t bytes) {
        PngChunk chunk{"tEXt", ByteVector(bytes, 'x')};
        chunk.data[7] = 0;  // after the keyword "xxxxxxx"
        return chunk;
    };
    std::vector<std::pair<std::string, std::vector<PngChunk>>> cases;
    cases.push_back({"empty eXIf", {{"eXIf", {}}}});
    cases.push_back({"5000 tEXt", std::vector<PngChunk>(5000, text(20))});
    cases.push_back({"tEXt over 64 MiB", {text((std::size_t{64} << 20) + 1)}});
    {
        // A colour profile that inflates to 65 MiB.
        ByteVector data = {'i', 'c', 'c', 0, 0};
        const ByteVector profile = zlibCompress(ByteVector(std::size_t{65} << 20, 0));
        data.insert(data.end(), profile.begin(), profile.end());
        cases.push_back({"iCCP bomb", {{"iCCP", data}}});
    }
    for (const auto& [name, chunks] : cases) {
        SCOPED_TRACE(name);
        PngLayout layout = plain;
        layout.extraChunks = chunks;
        const Decoded d = decodePng(buildPng(layout));
        EXPECT_TRUE(d.status) << d.status.reason;
        EXPECT_EQ(pixelsOf(d.image), pixelsOf(reference.image));
    }
}

// turbojpeg's own decoding of a file, as blue, green, red or grey bytes.
ByteVector turbojpegPixels(const ByteVector& file, int width, int height, bool grey) {
    tjhandle handle = tjInitDecompress();
    ByteVector pixels(std::size_t(width) * height * (grey ? 1 : 3));
    const int failed = tjDecompress2(handle, file.data(), file.size(), pixels.data(), width, 0, height,
                                     grey ? TJPF_GRAY : TJPF_BGR, TJFLAG_ACCURATEDCT);
    tjDestroy(handle);
    return failed == 0 ? pixels : ByteVector{};
}

JpegLayout jpeg(int width, int height, JpegSource source, JpegSubsampling subsampling = JpegSubsampling::k444,
              bool progressive = false) {
    JpegLayout layout;
    layout.width = width;
    layout.height = height;
    layout.source = source;
    layout.subsampling = subsampling;
    layout.progressive = progressive;
    const std::size_t channels = source == JpegSource::kGrey ? 1 : source == JpegSource::kColour ? 3 : 4;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (std::size_t c = 0; c < channels; ++c) {
                layout.pixels.push_back(static_cast<std::uint8_t>(x * 17 + y * 29 + c * 80));
            }
        }
    }
    return layout;
}

// Grey stays grey, colour is blue, green, red, exactly as turbojpeg decodes
// the file with the accurate DCT; sizes off the 8 and 16 pixel grid included.
TEST(JpegRead, GreyAndColourAsTurbojpegDecodesThem) {
    const JpegLayout cases[] = {
        jpeg(13, 7, JpegSource::kGrey),
        jpeg(1, 1, JpegSource::kGrey, JpegSubsampling::k444, true),
        jpeg(13, 7, JpegSource::kColour),
        jpeg(17, 9, JpegSource::kColour, JpegSubsampling::k420),
        jpeg(33, 18, JpegSource::kColour, JpegSubsampling::k422, true),
    };
    for (const JpegLayout& layout : cases) {
        const bool grey = layout.source == JpegSource::kGrey;
        SCOPED_TRACE(std::to_string(layout.width) + "x" + std::to_string(layout.height) + (grey ? " grey" : " colour"));
        const ByteVector file = buildJpeg(layout);
        ASSERT_FALSE(file.empty());
        const Decoded d = decodeJpeg(file);
        ASSERT_TRUE(d.status) << d.status.reason;
        EXPECT_EQ(d.image.width, layout.width);
        EXPECT_EQ(d.image.height, layout.height);
        EXPECT_EQ(d.image.kind, grey ? PixelKind::kGrey8 : PixelKind::kColour);
        const ByteVector expected = turbojpegPixels(file, layout.width, layout.height, grey);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(pixelsOf(d.image), expected);
    }
    // A plain red picture: red is the third byte of each pixel.
    JpegLayout red = jpeg(16, 16, JpegSource::kColour);
    for (std::size_t i = 0; i < red.pixels.size(); ++i) red.pixels[i] = i % 3 == 0 ? 255 : 0;
    const Decoded d = decodeJpeg(buildJpeg(red));
    ASSERT_TRUE(d.status);
    EXPECT_LE(d.image.pixels[0], 8);
    EXPECT_LE(d.image.pixels[1], 8);
    EXPECT_GE(d.image.pixels[2], 247);
}

// A flat picture in an arithmetic-coded file (made with libjpeg): 1024 x 1024
// pixels in 125 bytes, which turbojpeg decodes without a warning. A small
// file need not be a truncated one.
TEST(JpegRead, ArithmeticCodedFlatPictureDecodes) {
    const ByteVector file = {
        0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01,
        0x00, 0x01, 0x00, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x03, 0x02, 0x02, 0x03, 0x02, 0x02, 0x03,
        0x03, 0x03, 0x03, 0x04, 0x03, 0x03, 0x04, 0x05, 0x08, 0x05, 0x05, 0x04, 0x04, 0x05, 0x0A, 0x07,
        0x07, 0x06, 0x08, 0x0C, 0x0A, 0x0C, 0x0C, 0x0B, 0x0A, 0x0B, 0x0B, 0x0D, 0x0E, 0x12, 0x10, 0x0D,
        0x0E, 0x11, 0x0E, 0x0B, 0x0B, 0x10, 0x16, 0x10, 0x11, 0x13, 0x14, 0x15, 0x15, 0x15, 0x0C, 0x0F,
        0x17, 0x18, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xFF, 0xC9, 0x00, 0x0B, 0x08, 0x04, 0x00,
        0x04, 0x00, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xCC, 0x00, 0x06, 0x00, 0x10, 0x10, 0x05, 0xFF, 0xDA,
        0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x1E, 0xB7, 0x80, 0xFF, 0xD9,
    };
    const Decoded d = decodeJpeg(file);
    ASSERT_TRUE(d.status) << d.status.reason;
    EXPECT_EQ(d.image.width, 1024);
    EXPECT_EQ(d.image.height, 1024);
    EXPECT_EQ(d.image.kind, PixelKind::kGrey8);
    const ByteVector expected = turbojpegPixels(file, 1024, 1024, true);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(pixelsOf(d.image) == expected);
}

// Any sampling of the colour components decodes, also those no preset
// names (luma 3 x 1; luma 2 x 2 with the second chroma 2 x 1), exactly as
// turbojpeg decodes the file.
TEST(JpegRead, EverySamplingDecodes) {
    const std::vector<std::pair<int, int>> samplings[] = {
        {{3, 1}, {1, 1}, {1, 1}}, {{2, 2}, {1, 1}, {2, 1}}, {{1, 2}, {1, 1}, {1, 1}}, {{4, 1}, {1, 1}, {1, 1}}};
    for (const auto& sampling : samplings) {
        SCOPED_TRACE(std::to_string(sampling[0].first) + "x" + std::to_string(sampling[0].second) + "," +
                     std::to_string(sampling[2].first) + "x" + std::to_string(sampling[2].second));
        JpegLayout layout = jpeg(37, 21, JpegSource::kColour);
        layout.sampling = sampling;
        const ByteVector file = buildJpeg(layout);
        ASSERT_FALSE(file.empty());
        const Decoded d = decodeJpeg(file);
        ASSERT_TRUE(d.status) << d.status.reason;
        EXPECT_EQ(d.image.kind, PixelKind::kColour);
        const ByteVector expected = turbojpegPixels(file, 37, 21, false);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(pixelsOf(d.image), expected);
    }
}

// A file of many scans is decoded up to 500 scans, and refused beyond them,
// or once its scans together cover the blocks of the image too many times
// (every scan costs time for each block it covers, however little data it
// holds). A progressive file as encoders write it, of the same size, decodes.
TEST(JpegRead, ScansAreBounded) {
    JpegLayout small = jpeg(16, 16, JpegSource::kGrey);
    small.scans = 500;
    ByteVector file = buildJpeg(small);
    ASSERT_FALSE(file.empty());
    Decoded d = decodeJpeg(file);
    ASSERT_TRUE(d.status) << d.status.reason;
    EXPECT_EQ(pixelsOf(d.image), turbojpegPixels(file, 16, 16, true));
    small.scans = 501;
    d = decodeJpeg(buildJpeg(small));
    EXPECT_EQ(d.status.code, StatusCode::kJpegError);
    EXPECT_EQ(d.status.reason, "more than 500 scans");
    EXPECT_EQ(d.image.pixels, nullptr);

    JpegLayout large = jpeg(2048, 2048, JpegSource::kGrey, JpegSubsampling::k444, true);
    file = buildJpeg(large);
    ASSERT_FALSE(file.empty());
    d = decodeJpeg(file);
    ASSERT_TRUE(d.status) << d.status.reason;
    EXPECT_TRUE(pixelsOf(d.image) == turbojpegPixels(file, 2048, 2048, true));
    large.progressive = false;
    large.scans = 300;
    d = decodeJpeg(buildJpeg(large));
    EXPECT_EQ(d.status.code, StatusCode::kJpegError);
    EXPECT_EQ(d.status.reason, "too many scans for its size");
    EXPECT_EQ(d.image.pixels, nullptr);
}

// The library decodes at most 65500 pixels a side: a larger header is
// refused as too large, with that limit, whether or not the pixels are
// asked for.
TEST(JpegRead, SidesOver65500AreTooLarge) {
    const ByteVector good = buildJpeg(jpeg(16, 8, JpegSource::kGrey));
    ASSERT_FALSE(good.empty());
    std::size_t sof = 0;
    while (sof + 1 < good.size() && !(good[sof] == 0xFF && good[sof + 1] == 0xC0)) ++sof;
    ASSERT_LT(sof + 9, good.size());
    const std::pair<unsigned, unsigned> sizes[] = {{65501, 8}, {16, 65535}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        ByteVector file = good;
        file[sof + 5] = static_cast<std::uint8_t>(height >> 8), file[sof + 6] = static_cast<std::uint8_t>(height);
        file[sof + 7] = static_cast<std::uint8_t>(width >> 8), file[sof + 8] = static_cast<std::uint8_t>(width);
        for (bool headerOnly : {false, true}) {
            Image image;
            const Status status = decodeJpeg(file, image, headerOnly);
            EXPECT_EQ(status.code, StatusCode::kImageTooLarge);
            EXPECT_EQ(status.detail[0], width);
            EXPECT_EQ(status.detail[1], height);
            EXPECT_EQ(statusText(status), "Image is too large (" + std::to_string(width) + " x " +
                                              std::to_string(height) + " pixels, at most 65500 x 65500).");
            EXPECT_EQ(image.pixels, nullptr);
        }
    }
}

TEST(JpegRead, CmykAndYcckAreRefused) {
    for (JpegSource source : {JpegSource::kYcck, JpegSource::kCmyk}) {
        const ByteVector file = buildJpeg(jpeg(8, 8, source));
        ASSERT_FALSE(file.empty());
        // The files are what they claim to be.
        tjhandle handle = tjInitDecompress();
        int width = 0, height = 0, subsampling = 0, space = -1;
        EXPECT_EQ(tjDecompressHeader3(handle, file.data(), file.size(), &width, &height, &subsampling, &space), 0);
        tjDestroy(handle);
        EXPECT_EQ(space, source == JpegSource::kYcck ? TJCS_YCCK : TJCS_CMYK);
        const Decoded d = decodeJpeg(file);
        EXPECT_EQ(d.status.code, StatusCode::kJpegError);
        EXPECT_FALSE(d.status.reason.empty());
        EXPECT_EQ(d.image.pixels, nullptr);
    }
}

// The PNG signature picks the PNG reader, FF D8 FF the JPEG reader, anything
// else (a shorter signature included) the TARGA reader.
TEST(ReadImage, FirstBytesChooseTheReader) {
    enum class Reader { kPng, kJpeg, kTga };
    const ByteVector pngFile = buildPng(png(2, 2, kPngGrey, 8, {1, 2, 3, 4}));
    const ByteVector jpegFile = buildJpeg(jpeg(8, 8, JpegSource::kGrey));
    struct Case {
        std::string name;
        ByteVector file;
        Reader reader;
    };
    const Case cases[] = {
        {"png", pngFile, Reader::kPng},
        {"jpeg", jpegFile, Reader::kJpeg},
        {"broken png", ByteVector(pngFile.begin(), pngFile.begin() + 20), Reader::kPng},
        {"broken jpeg", {0xFF, 0xD8, 0xFF, 0x00, 0x00}, Reader::kJpeg},
        {"seven signature bytes", ByteVector(pngFile.begin(), pngFile.begin() + 7), Reader::kTga},
        {"FF D8 FE", {0xFF, 0xD8, 0xFE, 0x00, 0x00}, Reader::kTga},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image viaReadImage, direct;
        const Status status = readImage(c.file, viaReadImage);
        const Status expected = c.reader == Reader::kPng    ? readPng(c.file, direct)
                                : c.reader == Reader::kJpeg ? readJpeg(c.file, direct)
                                                            : readTga(c.file, direct);
        EXPECT_EQ(status.code, expected.code);
        EXPECT_EQ(status.reason, expected.reason);
        EXPECT_EQ(pixelsOf(viaReadImage), pixelsOf(direct));
    }
}

// Broken PNG files: refused with the library's reason, no pixels kept.
TEST(PngRead, BrokenFilesAreRefused) {
    PngLayout good = png(9, 6, kPngRgb, 8, noiseSamples(9 * 6 * 3, 8, 5));
    good.idatPiece = 40;
    const std::size_t size = buildPng(good).size();
    struct Case {
        std::string name;
        PngLayout layout;
    };
    std::vector<Case> cases;
    auto add = [&](std::string name, auto change) {
        PngLayout layout = good;
        change(layout);
        cases.push_back({std::move(name), layout});
    };
    // The last two: the last IDAT's CRC cut short, and no IEND.
    for (std::size_t cut : {std::size_t{0}, std::size_t{7}, std::size_t{8}, std::size_t{20}, std::size_t{33},
                            std::size_t{60}, size / 2, size - 20, size - 13, size - 12}) {
        add("cut to " + std::to_string(cut) + " of " + std::to_string(size), [cut](PngLayout& s) { s.truncateTo = cut; });
    }
    add("IHDR CRC", [](PngLayout& s) { s.badCrcChunk = "IHDR"; });
    add("IDAT CRC", [](PngLayout& s) { s.badCrcChunk = "IDAT"; });
    add("no IDAT", [](PngLayout& s) { s.dropIdat = true; });
    add("zero width", [](PngLayout& s) { s.claimedWidth = 0; });
    add("zero height", [](PngLayout& s) { s.claimedHeight = 0; });
    add("more rows claimed", [](PngLayout& s) { s.claimedHeight = 7; });
    add("RGB of 4 bits", [](PngLayout& s) { s.bitDepth = 4; });
    add("palette without PLTE", [](PngLayout& s) { s.colourType = kPngPalette, s.samples.resize(54); });
    add("65535 x 65535 in 100 bytes", [](PngLayout& s) {
        // The first row of a 1-bit image, padded to 100 bytes by a private chunk.
        s = png(65535, 1, kPngGrey, 1, {});
        s.claimedHeight = 65535;
        s.extraChunks = {{"prVt", {}}};
        s.extraChunks[0].data.resize(100 - buildPng(s).size());
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteVector file = buildPng(c.layout);
        if (c.name.rfind("65535", 0) == 0) {
            ASSERT_EQ(file.size(), 100u);
        }
        const Decoded d = decodePng(file);
        EXPECT_EQ(d.status.code, StatusCode::kPngError);
        EXPECT_FALSE(d.status.reason.empty());
        EXPECT_EQ(d.image.pixels, nullptr);
    }
}

// A side over 65535 is refused from the header, with both sides, whether or
// not the pixels are asked for.
TEST(PngRead, SidesOver65535AreTooLarge) {
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{65536, 1}, {1, 65536}, {70000, 80000}, {0x7FFFFFFF, 3}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        PngLayout layout = png(1, 1, kPngGrey, 8, {5});
        layout.claimedWidth = width;
        layout.claimedHeight = height;
        const ByteVector file = buildPng(layout);
        for (bool headerOnly : {false, true}) {
            Image image;
            const Status status = decodePng(file, image, headerOnly);
            EXPECT_EQ(status.code, StatusCode::kImageTooLarge);
            EXPECT_EQ(status.detail[0], width);
            EXPECT_EQ(status.detail[1], height);
            EXPECT_EQ(image.pixels, nullptr);
        }
    }
}

// Broken JPEG files: refused with the library's reason, no pixels kept.
TEST(JpegRead, BrokenFilesAreRefused) {
    const ByteVector good = buildJpeg(jpeg(40, 24, JpegSource::kColour, JpegSubsampling::k420));
    ASSERT_FALSE(good.empty());
    auto marker = [&](std::uint8_t code) {
        for (std::size_t i = 0; i + 1 < good.size(); ++i) {
            if (good[i] == 0xFF && good[i + 1] == code) return i;
        }
        return good.size();
    };
    const std::size_t sof = marker(0xC0), dht = marker(0xC4), sos = marker(0xDA);
    ASSERT_LT(sos, good.size());
    struct Case {
        std::string name;
        ByteVector file;
    };
    std::vector<Case> cases;
    for (std::size_t cut : {std::size_t{3}, std::size_t{4}, sof + 6, sos, sos + 20, good.size() / 2, good.size() - 2}) {
        cases.push_back({"cut to " + std::to_string(cut), ByteVector(good.begin(), good.begin() + cut)});
    }
    ByteVector file = good;
    file[sof + 7] = file[sof + 8] = 0;  // width 0
    cases.push_back({"zero width", file});
    file = good;
    file[sof + 5] = file[sof + 6] = 0;  // height 0
    cases.push_back({"zero height", file});
    file = good;
    for (std::size_t i = dht + 5; i < dht + 21; ++i) file[i] = 0xFF;  // code counts far over 256
    cases.push_back({"bogus Huffman table", file});
    file = good;
    file[sof + 5] = file[sof + 7] = 0xFF;  // 65500 x 65500 (the largest the library takes) in a small file
    file[sof + 6] = file[sof + 8] = 0xDC;
    cases.push_back({"65500 x 65500", file});
    file = good;
    for (std::size_t i = sos + 20; i < sos + 60; i += 2) file[i] = 0xFF, file[i + 1] = 0xD0 + (i % 7);
    cases.push_back({"restart markers in the scan", file});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = decodeJpeg(c.file);
        EXPECT_EQ(d.status.code, StatusCode::kJpegError);
        EXPECT_FALSE(d.status.reason.empty());
        EXPECT_EQ(d.image.pixels, nullptr);
    }
}

}  // namespace
}  // namespace rdsgen
