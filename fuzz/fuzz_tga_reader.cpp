// The TARGA reader on arbitrary bytes, as a height image (grey kept at its
// stored size) and as a pattern image (every pixel widened to three bytes).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_support.h"
#include "image/image.h"

namespace {

// An accepted image holds exactly height rows of rowBytes bytes; every byte
// is read back through copyImageRow so that the sanitizers see any overrun.
void checkAcceptedImage(const TgaImage& image, bool keepGrey) {
    fuzz::require(image.format == 1, "format tag");
    fuzz::require(image.imageType >= 1 && image.imageType <= 3, "accepted image type");
    fuzz::require(image.width >= 0 && image.height >= 0, "size");
    int bytesPerPixel = image.greyBytes != 0 ? image.greyBytes : 3;
    fuzz::require(image.greyBytes == 0 || (keepGrey && image.imageType == 3), "grey kept only when asked");
    fuzz::require(image.rowBytes == image.width * bytesPerPixel, "row size");
    fuzz::require(image.pixels != nullptr, "pixel block");
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.rowBytes) + 1);
    unsigned sum = 0;
    for (std::int32_t r = 0; r < image.height; ++r) {
        copyImageRow(image, row.data(), r);
        for (std::int32_t i = 0; i < image.rowBytes; ++i) sum += row[static_cast<std::size_t>(i)];
    }
    // Keeps the reads from being optimised away.
    if (sum == 0xFFFFFFFFu) std::fputc('.', stdout);
}

void readAs(const std::uint8_t* data, std::size_t size, bool keepGrey) {
    TgaImage image;
    // fmemopen refuses an empty buffer; an empty file is /dev/null.
    image.stream = size == 0 ? std::fopen("/dev/null", "rb")
                             : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    fuzz::require(image.stream != nullptr, "open the bytes as a stream");
    int result = readTga(image, keepGrey);
    std::fclose(image.stream);
    image.stream = nullptr;
    fuzz::require(result == 0 || result == 1, "reader status");
    if (result == 0) {
        checkAcceptedImage(image, keepGrey);
    } else {
        fuzz::require(image.pixels == nullptr, "no pixel block after a refusal");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    readAs(data, size, true);
    readAs(data, size, false);
    return 0;
}
