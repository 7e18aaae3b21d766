// The JPEG reader on arbitrary bytes held in memory. A refusal keeps no
// pixels and says why; an accepted image has the sizes and kind its header
// alone promised, and is read back whole, as a height image and as a
// pattern image.
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "image/image.h"

// Headers claiming more pixels than this are only read as headers: a tiny
// arithmetic-coded file can describe a huge flat picture, whose decoding
// would be real work and real memory, not a fault.
constexpr std::int64_t kMaxDecodedPixels = std::int64_t{1} << 24;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    rdsgen::Image header;
    const rdsgen::Status headerStatus = rdsgen::readJpegHeader(file, header, true);
    fuzz::require(!header.pixels, "no pixel block from the header alone");
    if (headerStatus && std::int64_t{header.width} * header.height > kMaxDecodedPixels) return 0;
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readJpeg(file, image);
    if (!status) {
        fuzz::require(!image.pixels, "no pixel block after a refusal");
        fuzz::require(status.code == rdsgen::StatusCode::kJpegError || status.code == rdsgen::StatusCode::kImageTooLarge ||
                          status.code == rdsgen::StatusCode::kImageNoMemory,
                      "a reader's refusal");
        fuzz::require(status.code != rdsgen::StatusCode::kJpegError || !status.reason.empty(), "a reason");
        if (status.code == rdsgen::StatusCode::kImageTooLarge) {
            fuzz::require(status.detail[0] > 65535 || status.detail[1] > 65535, "too large only over 65535");
        }
        return 0;
    }
    fuzz::require(static_cast<bool>(headerStatus), "an accepted file has an accepted header");
    fuzz::require(header.width == image.width && header.height == image.height && header.kind == image.kind,
                  "the header promises the image");
    fuzz::require(image.width > 0 && image.height > 0 && image.width <= 65535 && image.height <= 65535, "size");
    fuzz::require(image.kind != rdsgen::PixelKind::kGrey24, "kind");
    fuzz::require(image.rowBytes == image.width * rdsgen::pixelBytes(image.kind), "row size");
    fuzz::require(image.pixels != nullptr, "pixel block");
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
