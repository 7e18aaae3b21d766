// The TARGA reader on arbitrary bytes held in memory; an accepted image is
// read back whole, as a height image and as a pattern image.
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readTga(std::span<const std::uint8_t>(data, size), image);
    if (!status) {
        fuzz::require(!image.pixels, "no pixel block after a refusal");
        return 0;
    }
    fuzz::require(image.width >= 0 && image.height >= 0, "size");
    fuzz::require(image.rowBytes == image.width * rdsgen::pixelBytes(image.kind), "row size");
    fuzz::require(image.pixels != nullptr, "pixel block");
    // Every stored byte, and every row widened as a pattern image would be.
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(image.width) + 1);
    unsigned sum = 0;
    for (std::int32_t r = 0; r < image.height; ++r) {
        const std::uint8_t* stored = rdsgen::imageRow(image, r);
        for (std::int32_t i = 0; i < image.rowBytes; ++i) sum += stored[i];
        rdsgen::copyPatternRow(image, r, row.data());
        for (std::size_t i = 0; i + 1 < row.size(); ++i) sum += row[i];
    }
    if (sum == 0xFFFFFFFFu) std::fputc('.', stdout);
    return 0;
}
