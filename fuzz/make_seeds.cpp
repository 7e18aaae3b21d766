// Writes the seed files of the PNG and JPEG reader harnesses into a
// directory: every PNG colour type and bit depth, palettes, transparency,
// interlacing, colour chunks and several IDAT chunks; grey, colour, YCCK and
// CMYK JPEG files, baseline and progressive; and broken files of each.
//
//   fuzz_make_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/image_files.h"

namespace {

std::string directory;
int written = 0;

bool save(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = bytes.empty() ? nullptr : std::fopen((directory + "/" + name).c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "could not make %s\n", name.c_str());
        return false;
    }
    ++written;
    return true;
}

PngLayout pngOf(int colourType, int bitDepth, std::uint32_t width, std::uint32_t height) {
    PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.colourType = colourType;
    layout.bitDepth = bitDepth;
    layout.samples = noiseSamples(std::size_t(width) * height * pngChannels(colourType), bitDepth, width * 7 + height);
    if (colourType == kPngPalette) {
        for (int i = 0; i < 3 << bitDepth; ++i) layout.palette.push_back(static_cast<std::uint8_t>(i * 41 + 7));
    }
    return layout;
}

std::string pngName(const PngLayout& layout, const std::string& extra) {
    return "png-" + std::to_string(layout.colourType) + "-" + std::to_string(layout.bitDepth) + "-" +
           std::to_string(layout.width) + "x" + std::to_string(layout.height) + extra + ".png";
}

bool pngSeeds() {
    struct Kind {
        int colourType, bitDepth;
    };
    const Kind kinds[] = {{kPngGrey, 1},    {kPngGrey, 2},      {kPngGrey, 4},       {kPngGrey, 8},
                          {kPngGrey, 16},   {kPngRgb, 8},       {kPngRgb, 16},       {kPngPalette, 1},
                          {kPngPalette, 2}, {kPngPalette, 4},   {kPngPalette, 8},    {kPngGreyAlpha, 8},
                          {kPngGreyAlpha, 16}, {kPngRgba, 8},   {kPngRgba, 16}};
    bool ok = true;
    for (const Kind& k : kinds) {
        PngLayout layout = pngOf(k.colourType, k.bitDepth, 9, 5);
        ok &= save(pngName(layout, ""), buildPng(layout));
        layout.interlaced = true;
        layout.filter = 5;
        ok &= save(pngName(layout, "-adam7"), buildPng(layout));
        PngLayout one = pngOf(k.colourType, k.bitDepth, 1, 1);
        one.interlaced = true;
        ok &= save(pngName(one, "-adam7"), buildPng(one));
        // Transparency: a colour key, or alpha for part of the palette.
        if (k.colourType == kPngGrey || k.colourType == kPngRgb || k.colourType == kPngPalette) {
            PngLayout clear = pngOf(k.colourType, k.bitDepth, 6, 4);
            if (k.colourType == kPngGrey) clear.trns = pngGreyKey(clear.samples[0]);
            if (k.colourType == kPngRgb) clear.trns = pngRgbKey(clear.samples[0], clear.samples[1], clear.samples[2]);
            if (k.colourType == kPngPalette) clear.trns = {0, 90};
            ok &= save(pngName(clear, "-trns"), buildPng(clear));
        }
    }
    // Colour chunks, several IDAT chunks and every filter on a larger image.
    PngLayout chunks = pngOf(kPngRgb, 8, 33, 17);
    std::vector<std::uint8_t> iccp = {'i', 'c', 'c', 0, 0};
    const std::vector<std::uint8_t> profile = zlibCompress(std::vector<std::uint8_t>(64, 3));
    iccp.insert(iccp.end(), profile.begin(), profile.end());
    chunks.extraChunks = {{"gAMA", {0, 0, 0xB1, 0x8F}}, {"iCCP", iccp}, {"cHRM", std::vector<std::uint8_t>(32, 1)}};
    chunks.idatPiece = 100;
    chunks.filter = 5;
    ok &= save(pngName(chunks, "-chunks"), buildPng(chunks));
    PngLayout srgb = pngOf(kPngGrey, 8, 20, 3);
    srgb.extraChunks = {{"sRGB", {0}}, {"tEXt", {'k', 0, 'v'}}};
    ok &= save(pngName(srgb, "-srgb"), buildPng(srgb));

    // Broken files.
    const PngLayout base = pngOf(kPngRgb, 8, 9, 6);
    const std::size_t size = buildPng(base).size();
    auto broken = [&](const std::string& name, auto change) {
        PngLayout layout = base;
        change(layout);
        return save("png-broken-" + name + ".png", buildPng(layout));
    };
    ok &= broken("cut-half", [&](PngLayout& s) { s.truncateTo = size / 2; });
    ok &= broken("cut-iend", [&](PngLayout& s) { s.truncateTo = size - 12; });
    ok &= broken("crc-ihdr", [](PngLayout& s) { s.badCrcChunk = "IHDR"; });
    ok &= broken("crc-idat", [](PngLayout& s) { s.badCrcChunk = "IDAT"; });
    ok &= broken("no-idat", [](PngLayout& s) { s.dropIdat = true; });
    ok &= broken("zero-width", [](PngLayout& s) { s.claimedWidth = 0; });
    ok &= broken("wide", [](PngLayout& s) { s.claimedWidth = 70000; });
    ok &= broken("huge-claim", [](PngLayout& s) { s.claimedWidth = s.claimedHeight = 65535; });
    ok &= broken("huge-claim-adam7", [](PngLayout& s) {
        s.claimedWidth = s.claimedHeight = 65535;
        s.interlaced = true;
    });
    return ok;
}

bool jpegSeeds() {
    struct Case {
        std::string name;
        JpegSource source;
        int width, height;
        JpegSubsampling subsampling;
        bool progressive;
        std::vector<std::pair<int, int>> sampling = {};
        int scans = 0;
    };
    const Case cases[] = {
        {"grey", JpegSource::kGrey, 13, 7, JpegSubsampling::k444, false},
        {"grey-progressive", JpegSource::kGrey, 20, 9, JpegSubsampling::k444, true},
        {"grey-1x1", JpegSource::kGrey, 1, 1, JpegSubsampling::k444, false},
        {"colour-444", JpegSource::kColour, 13, 7, JpegSubsampling::k444, false},
        {"colour-422", JpegSource::kColour, 17, 9, JpegSubsampling::k422, false},
        {"colour-420", JpegSource::kColour, 17, 9, JpegSubsampling::k420, false},
        {"colour-420-progressive", JpegSource::kColour, 33, 18, JpegSubsampling::k420, true},
        {"ycck", JpegSource::kYcck, 8, 8, JpegSubsampling::k444, false},
        {"cmyk", JpegSource::kCmyk, 8, 8, JpegSubsampling::k444, false},
        {"colour-3x1", JpegSource::kColour, 37, 21, JpegSubsampling::k444, false, {{3, 1}, {1, 1}, {1, 1}}},
        {"grey-40-scans", JpegSource::kGrey, 16, 16, JpegSubsampling::k444, false, {}, 40},
    };
    bool ok = true;
    for (const Case& c : cases) {
        JpegLayout layout;
        layout.width = c.width;
        layout.height = c.height;
        layout.source = c.source;
        layout.subsampling = c.subsampling;
        layout.progressive = c.progressive;
        layout.sampling = c.sampling;
        layout.scans = c.scans;
        const std::size_t channels = c.source == JpegSource::kGrey ? 1 : c.source == JpegSource::kColour ? 3 : 4;
        for (std::uint16_t v : noiseSamples(std::size_t(c.width) * c.height * channels, 8, 3)) {
            layout.pixels.push_back(static_cast<std::uint8_t>(v));
        }
        layout.quality = 75;
        const std::vector<std::uint8_t> file = buildJpeg(layout);
        ok &= save("jpeg-" + c.name + ".jpg", file);
        if (c.name == "colour-420") {
            ok &= save("jpeg-broken-cut-half.jpg", std::vector<std::uint8_t>(file.begin(), file.begin() + file.size() / 2));
            ok &= save("jpeg-broken-no-eoi.jpg", std::vector<std::uint8_t>(file.begin(), file.end() - 2));
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    directory = argv[1];
    const bool pngOk = pngSeeds();
    const bool ok = jpegSeeds() && pngOk;
    std::printf("%d seed files written to %s\n", written, directory.c_str());
    return ok ? 0 : 1;
}
