// PNG and JPEG files built in memory from samples the caller knows, for the
// tests and the fuzz seeds: every PNG colour type and bit depth, palettes,
// transparency, interlacing, extra chunks, and files broken on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// PNG colour types.
enum PngColourType : int { kPngGrey = 0, kPngRgb = 2, kPngPalette = 3, kPngGreyAlpha = 4, kPngRgba = 6 };

struct PngChunk {
    std::string type;  // four letters
    std::vector<std::uint8_t> data;
};

struct PngLayout {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int colourType = kPngGrey;
    int bitDepth = 8;
    // Row by row, top row first, the channels of each pixel in PNG order
    // (grey; grey, alpha; red, green, blue; red, green, blue, alpha; or the
    // palette index), each at most 2^bitDepth - 1; missing ones are 0.
    std::vector<std::uint16_t> samples;
    std::vector<std::uint8_t> palette;  // PLTE: red, green, blue per entry; none when empty
    std::vector<std::uint8_t> trns;     // tRNS data as stored; none when empty
    bool interlaced = false;            // Adam7
    int filter = 0;                     // row filter 0 to 4; 5 cycles through them row by row
    std::vector<PngChunk> extraChunks;  // after IHDR, before PLTE
    std::size_t idatPiece = 0;          // the zlib stream in IDAT chunks of this many bytes (0: one)

    // Faults, for refusal tests.
    std::optional<std::uint32_t> claimedWidth;   // IHDR width instead of width (the rows still follow width)
    std::optional<std::uint32_t> claimedHeight;  // IHDR height instead of height
    bool dropIdat = false;                       // no IDAT chunk at all
    std::string badCrcChunk;                     // the first chunk of this type gets a wrong CRC
    std::optional<std::size_t> truncateTo;       // the file cut to this many bytes
};

// The channels of a pixel of a PNG colour type.
int pngChannels(int colourType);

// count samples of bitDepth bits that differ from one to the next, the same
// for the same seed.
std::vector<std::uint16_t> noiseSamples(std::size_t count, int bitDepth, std::uint32_t seed);

std::vector<std::uint8_t> buildPng(const PngLayout& layout);

// tRNS data of a colour key, for grey and for RGB images.
std::vector<std::uint8_t> pngGreyKey(std::uint16_t grey);
std::vector<std::uint8_t> pngRgbKey(std::uint16_t red, std::uint16_t green, std::uint16_t blue);

// The zlib stream of bytes (for iCCP and such).
std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t>& bytes);

enum class JpegSource {
    kGrey,    // one byte per pixel
    kColour,  // red, green, blue per pixel
    kYcck,    // cyan, magenta, yellow, black per pixel, stored as YCCK
    kCmyk,    // the same, with the Adobe marker saying plain CMYK
};

enum class JpegSubsampling { k444, k422, k420 };

struct JpegLayout {
    int width = 1;
    int height = 1;
    JpegSource source = JpegSource::kGrey;
    std::vector<std::uint8_t> pixels;  // row by row, top row first
    int quality = 90;
    JpegSubsampling subsampling = JpegSubsampling::k444;  // colour only
    bool progressive = false;
    // Either of these makes the file with the libjpeg API instead: colour
    // components sampled by these factors (horizontal, vertical; luma
    // first), and a progressive script of this many scans (the DC
    // coefficients, then single AC coefficients of the first component
    // refined bit by bit: many scans with almost no data).
    std::vector<std::pair<int, int>> sampling;
    int scans = 0;
};

// Compressed with libturbojpeg, or the libjpeg API (accurate DCT); empty
// when compression fails.
std::vector<std::uint8_t> buildJpeg(const JpegLayout& layout);
