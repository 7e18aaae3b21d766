// Loading the input images and reading their rows back out.
#include <cstring>

#include "image/image.h"

void blankProgressText() {
    std::fputs("\r                                                                   \r", stdout);
}

int loadImage(TgaImage& image, const char* fileName, bool heightImage) {
    image.stream = std::fopen(fileName, "rb");
    if (image.stream == nullptr) {
        std::fprintf(stderr, "ERROR: Can't open input file '%s'.\n", fileName);
        return 1;
    }
    std::fputs(heightImage ? "Reading height (elevation) image..." : "Reading pattern image...",
               stdout);
    int result = readTga(image, heightImage);
    std::fclose(image.stream);
    image.stream = nullptr;
    blankProgressText();
    return result;
}

void copyImageRow(const TgaImage& image, std::uint8_t* destination, std::int32_t row) {
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    std::memcpy(destination, image.pixels.get() + static_cast<std::size_t>(row) * rowBytes, rowBytes);
}
