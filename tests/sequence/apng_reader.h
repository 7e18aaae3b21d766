// A small animated PNG reader for the tests, written apart from the writer:
// it walks the chunks, checks every CRC and the sequence numbers, inflates
// each frame's IDAT or fdAT data with zlib and undoes the row filters.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ApngFrame {
    std::uint16_t delayNumerator = 0;
    std::uint16_t delayDenominator = 0;
    std::uint8_t dispose = 0;
    std::uint8_t blend = 0;
    bool fromIdat = false;             // the frame is the default image
    std::vector<std::uint8_t> pixels;  // rows top first, grey or red-green-blue
};

struct ApngFile {
    std::string error;                 // empty when the file was read
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int channels = 0;                  // 1 grey, 3 RGB
    std::uint32_t frameCount = 0;      // from acTL
    std::uint32_t plays = 0;
    std::vector<ApngFrame> frames;
};

ApngFile readApng(std::span<const std::uint8_t> file);
