// Shared set-up of the libFuzzer harnesses: the check that turns a broken
// promise into a crash the fuzzer reports, and a sink that counts bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <vector>

#include "image/image.h"
#include "rdsgen/rdsgen.h"

namespace fuzz {

// Stops the fuzzer with a report when a promise of the program is broken.
inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Counts the bytes written and folds them into a sum, so that the
// sanitizers see every byte read and nothing is optimised away.
struct CountingSink {
    std::size_t bytes = 0;
    unsigned sum = 0;

    static bool write(void* context, const std::uint8_t* data, std::size_t count) {
        CountingSink& sink = *static_cast<CountingSink*>(context);
        for (std::size_t i = 0; i < count; ++i) sink.sum += data[i];
        sink.bytes += count;
        return true;
    }
    rdsgen::RowSink rowSink() { return rdsgen::RowSink{write, this}; }
};

// Reads every stored byte of an accepted image back, and every row widened
// as a pattern image would be, so that the sanitizers see any overrun.
inline void readBack(const rdsgen::Image& image) {
    require(image.width >= 0 && image.height >= 0, "size");
    require(image.rowBytes == image.width * rdsgen::pixelBytes(image.kind), "row size");
    require(image.pixels != nullptr, "pixel block");
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(image.width) + 1);
    unsigned sum = 0;
    for (std::int32_t r = 0; r < image.height; ++r) {
        const std::uint8_t* stored = rdsgen::imageRow(image, r);
        for (std::int32_t i = 0; i < image.rowBytes; ++i) sum += stored[i];
        rdsgen::copyPatternRow(image, r, row.data());
        for (std::size_t i = 0; i + 1 < row.size(); ++i) sum += row[i];
    }
    if (sum == 0xFFFFFFFFu) std::fputc('.', stdout);
}

// The promises of the PNG and JPEG readers: a refusal keeps no pixels and
// says why (libraryError with a reason, a too-large image only over the
// largest side its format allows, or no memory); an accepted file has an accepted header that promised its
// sizes and kind, and is read back whole.
inline void checkDecoded(const rdsgen::Status& status, const rdsgen::Image& image,
                         const rdsgen::Status& headerStatus, const rdsgen::Image& header,
                         rdsgen::StatusCode libraryError) {
    require(!header.pixels, "no pixel block from the header alone");
    if (!status) {
        require(!image.pixels, "no pixel block after a refusal");
        require(status.code == libraryError || status.code == rdsgen::StatusCode::kImageTooLarge ||
                    status.code == rdsgen::StatusCode::kImageNoMemory,
                "a reader's refusal");
        require(status.code != libraryError || !status.reason.empty(), "a reason");
        if (status.code == rdsgen::StatusCode::kImageTooLarge) {
            require(status.detail[2] > 0 && status.detail[2] <= 65535, "the format's largest side");
            require(status.detail[0] > status.detail[2] || status.detail[1] > status.detail[2],
                    "too large only over the largest side");
        }
        return;
    }
    require(static_cast<bool>(headerStatus), "an accepted file has an accepted header");
    require(header.width == image.width && header.height == image.height && header.kind == image.kind,
            "the header promises the image");
    require(image.width > 0 && image.height > 0 && image.width <= 65535 && image.height <= 65535, "size");
    require(image.kind != rdsgen::PixelKind::kGrey24, "kind");
    readBack(image);
}

}  // namespace fuzz
