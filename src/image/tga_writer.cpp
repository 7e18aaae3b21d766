// Writing the output TARGA file: the header, then one row at a time.
#include <sys/stat.h>

#include <cstdio>

#include "cli/cli.h"
#include "image/image.h"

namespace {

// The output stream's buffer. Only one output file is open at a time; the
// block is static because the stream is closed by the run driver.
constexpr std::size_t kOutputBufferSize = 1 << 18;
char outputBuffer[kOutputBufferSize];

// Closes a file whose header could not be written and removes it, unless it
// is not a regular file (a device such as /dev/full stays).
void abandonOutput(TgaImage& image, const char* fileName) {
    std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", fileName);
    std::fclose(image.stream);
    image.stream = nullptr;
    removePartialOutput(fileName);
}

bool writeBytes(std::FILE* stream, const std::uint8_t* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, stream) == count;
}

}  // namespace

void removePartialOutput(const char* fileName) {
    struct stat status {};
    if (stat(fileName, &status) == 0 && S_ISREG(status.st_mode)) std::remove(fileName);
}

int openOutputTga(TgaImage& image, const char* fileName) {
    image.stream = std::fopen(fileName, "wb");
    if (image.stream == nullptr) {
        std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", fileName);
        return 1;
    }
    std::setvbuf(image.stream, outputBuffer, _IOFBF, kOutputBufferSize);

    const bool trueColour = image.imageType == 2;
    const std::uint8_t pixelDepth = trueColour ? 24 : 8;
    const std::uint8_t header[18] = {
        0, 0, static_cast<std::uint8_t>(trueColour ? 2 : 3), 0, 0, 0, 0, 0, 0, 0, 0, 0,
        static_cast<std::uint8_t>(image.width % 256), static_cast<std::uint8_t>(image.width / 256),
        static_cast<std::uint8_t>(image.height % 256), static_cast<std::uint8_t>(image.height / 256),
        pixelDepth, 0x20};
    // Flushing at once reports a full disk or a size limit here, not at close.
    if (!writeBytes(image.stream, header, sizeof header) || std::fflush(image.stream) != 0) {
        abandonOutput(image, fileName);
        return 1;
    }
    image.rowBytes = image.width * (pixelDepth / 8);
    return 0;
}

void writeOutputRow(TgaImage& image, std::uint8_t* rowBuffer) {
    std::size_t start = 0;
    if (settings.CutOff != 0) {
        std::int64_t half = ((settings.Double + 1) * std::int64_t{settings.PSiz} + 1) / 2;
        start = 3 * static_cast<std::size_t>(half);
    }
    if (image.format != 1) return;

    std::uint8_t* row = rowBuffer + start;
    const std::size_t rowBytes = static_cast<std::size_t>(image.rowBytes);
    if (image.imageType == 3) {
        // Grey output keeps the first (blue) byte of each pixel. Byte k is
        // written only after bytes 3k and beyond were read, so four pixels
        // at a time are safe in place.
        std::size_t k = 0;
        for (; k + 4 <= rowBytes; k += 4) {
            const std::uint8_t b0 = row[3 * k], b1 = row[3 * k + 3], b2 = row[3 * k + 6], b3 = row[3 * k + 9];
            row[k] = b0;
            row[k + 1] = b1;
            row[k + 2] = b2;
            row[k + 3] = b3;
        }
        for (; k < rowBytes; ++k) row[k] = row[3 * k];
    }
    bool written = writeBytes(image.stream, row, rowBytes);
    if (written && settings.Double != 0) written = writeBytes(image.stream, row, rowBytes);
    if (!written) image.format = 0;
}
