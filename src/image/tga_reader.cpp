// Reading uncompressed TARGA files (types 1, 2 and 3) into memory.
#include <cstring>

#include "image/image.h"

namespace {

constexpr const char* kEndOfFile = "Unexpected end of file in TARGA image.";
constexpr int kMaxMapEntries = 256;

struct TgaHeader {
    int idLength = 0;
    int colourMapType = 0;
    int imageType = -1;
    int mapFirst = 0;
    int mapLength = 0;
    int mapEntryBits = 0;
    int width = 0;
    int height = 0;
    int pixelDepth = 0;
    int descriptor = 0;
};

// One header byte; false when the file has ended.
bool readByte(std::FILE* stream, int& value) {
    int c = std::fgetc(stream);
    if (c == EOF) return false;
    value = c;
    return true;
}

// One little-endian 16-bit header field; false when the file has ended.
bool readWord(std::FILE* stream, int& value) {
    int low = 0;
    int high = 0;
    if (!readByte(stream, low) || !readByte(stream, high)) return false;
    value = low + 256 * high;
    return true;
}

// The colour-map fields (offsets 3 to 7) and their tests.
int readColourMapFields(std::FILE* stream, TgaHeader& header, int& errors) {
    if (!readWord(stream, header.mapFirst) || !readWord(stream, header.mapLength) ||
        !readByte(stream, header.mapEntryBits)) {
        reportReadError(kEndOfFile, errors);
        return 1;
    }
    if (header.mapLength > kMaxMapEntries) {
        reportReadError("Can't read paletted images with more than 256 colors.", errors);
        return 1;
    }
    if (header.colourMapType != 0 && header.mapEntryBits / 8 != 3) {
        reportReadError("Can't read non-24bit-palettes.", errors);
        return 1;
    }
    return 0;
}

// Origin, size, pixel depth and descriptor (offsets 8 to 17).
int readImageFields(std::FILE* stream, TgaHeader& header, int& errors) {
    int ignored = 0;
    if (!readWord(stream, ignored) || !readWord(stream, ignored) ||
        !readWord(stream, header.width) || !readWord(stream, header.height) ||
        !readByte(stream, header.pixelDepth) || !readByte(stream, header.descriptor)) {
        reportReadError(kEndOfFile, errors);
        return 1;
    }
    return 0;
}

// Refuses pixel layouts the reader cannot hold.
int checkPixelLayout(const TgaHeader& header, int& errors) {
    const int type = header.imageType;
    const int bytesPerPixel = header.pixelDepth / 8;
    const char* message = nullptr;
    if (type == 3 && bytesPerPixel > 3) {
        message = "Can't read >24bit grayscale targas.";
    } else if (type == 2 && bytesPerPixel != 3) {
        message = "Can only read 24bit truecolor targas.";
    } else if (type != 1 && type != 2 && type != 3) {
        message = "Unknown targa type.";
    } else if (bytesPerPixel == 0) {
        // Types 1 and 3 below 8 bits: no whole byte per pixel to convert.
        message = "Can't read targas with less than 8 bits per pixel.";
    } else if (type == 1 && bytesPerPixel > 3) {
        message = "Can't read >24bit paletted targas.";
    }
    if (message == nullptr) return 0;
    reportReadError(message, errors);
    return 1;
}

// Reads the 18-byte header and makes every header test, in file order.
int readHeader(TgaImage& image, TgaHeader& header, int& errors) {
    std::FILE* stream = image.stream;
    header.idLength = std::fgetc(stream);
    header.colourMapType = std::fgetc(stream);
    header.imageType = std::fgetc(stream);  // -1 when the file has already ended
    image.imageType = static_cast<std::int16_t>(header.imageType);
    if (header.imageType < 0 || header.imageType > 8) {
        char message[64];
        std::snprintf(message, sizeof message, "Can't read TARGA image type %d (compressed image)",
                      header.imageType);
        reportReadError(message, errors);
        return 1;
    }
    if (readColourMapFields(stream, header, errors) != 0) return 1;
    if (readImageFields(stream, header, errors) != 0) return 1;
    image.width = header.width;
    image.height = header.height;
    return checkPixelLayout(header, errors);
}

// False when the file is known to be shorter than `required` bytes. A stream
// that cannot be measured (a pipe) passes; its short reads are caught later.
bool fileHolds(std::FILE* stream, std::size_t required) {
    long here = std::ftell(stream);
    if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) {
        std::clearerr(stream);
        return true;
    }
    long size = std::ftell(stream);
    bool holds = size < 0 || static_cast<std::size_t>(size) >= required;
    if (std::fseek(stream, here, SEEK_SET) != 0) return false;
    return holds;
}

// Reads exactly count bytes; skips them when destination is null.
bool readBlock(std::FILE* stream, std::uint8_t* destination, std::size_t count) {
    if (destination != nullptr) return std::fread(destination, 1, count, stream) == count;
    std::uint8_t discard[256];
    while (count > 0) {
        std::size_t part = count < sizeof discard ? count : sizeof discard;
        if (std::fread(discard, 1, part, stream) != part) return false;
        count -= part;
    }
    return true;
}

// Reads the stored rows into their memory rows, top row first in memory.
bool readRows(std::FILE* stream, TgaImage& image, std::size_t fileRow, bool bottomFirst) {
    const std::size_t memoryRow = static_cast<std::size_t>(image.rowBytes);
    const std::size_t rows = static_cast<std::size_t>(image.height);
    if (!bottomFirst && fileRow == memoryRow) {
        return readBlock(stream, image.pixels.get(), fileRow * rows);
    }
    for (std::size_t i = 0; i < rows; ++i) {
        std::size_t target = bottomFirst ? rows - 1 - i : i;
        if (!readBlock(stream, image.pixels.get() + target * memoryRow, fileRow)) return false;
    }
    return true;
}

// Widens stored grey pixels to three equal bytes, in place from the row's end.
void widenGreyRow(std::uint8_t* row, std::size_t width, std::size_t bytesPerPixel) {
    for (std::size_t k = width; k-- > 0;) {
        std::uint8_t grey = row[k * bytesPerPixel];
        row[3 * k] = grey;
        row[3 * k + 1] = grey;
        row[3 * k + 2] = grey;
    }
}

// Replaces stored indices by their colour-map entries, in place from the
// row's end. An index outside the map (or no map at all) gives black.
void mapColourRow(std::uint8_t* row, std::size_t width, std::size_t bytesPerPixel,
                  const std::uint8_t* map, int mapLength, int mapFirst) {
    for (std::size_t k = width; k-- > 0;) {
        int entry = static_cast<int>(row[k * bytesPerPixel]) - mapFirst;
        const std::uint8_t black[3] = {0, 0, 0};
        const std::uint8_t* colour =
            (map != nullptr && entry >= 0 && entry < mapLength) ? map + 3 * entry : black;
        std::memcpy(row + 3 * k, colour, 3);
    }
}

void convertRows(TgaImage& image, const TgaHeader& header, const std::uint8_t* map) {
    if (image.greyBytes != 0 || header.imageType == 2) return;
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t bytesPerPixel = static_cast<std::size_t>(header.pixelDepth / 8);
    for (std::int32_t r = 0; r < image.height; ++r) {
        std::uint8_t* row = image.pixels.get() + static_cast<std::size_t>(r) * image.rowBytes;
        if (header.imageType == 3) {
            widenGreyRow(row, width, bytesPerPixel);
        } else {
            mapColourRow(row, width, bytesPerPixel, map, header.mapLength, header.mapFirst);
        }
    }
}

}  // namespace

void reportReadError(const char* message, int& errorCount) {
    if (errorCount == 0) std::fputs("\n", stdout);
    ++errorCount;
    std::fprintf(stderr, "ERROR: %s\n", message);
}

int readTga(TgaImage& image, bool keepGrey) {
    int errors = 0;
    image.format = 1;
    image.pixels.reset();
    TgaHeader header;
    if (readHeader(image, header, errors) != 0) return 1;

    const std::size_t bytesPerPixel = static_cast<std::size_t>(header.pixelDepth / 8);
    const bool keptGrey = keepGrey && header.imageType == 3;
    const std::size_t fileRow = static_cast<std::size_t>(header.width) * bytesPerPixel;
    const std::size_t memoryRow = keptGrey ? fileRow : static_cast<std::size_t>(header.width) * 3;
    const std::size_t height = static_cast<std::size_t>(header.height);
    const std::size_t mapBytes =
        header.colourMapType != 0 ? 3 * static_cast<std::size_t>(header.mapLength) : 0;

    // Refuse a file too short for what its header claims before allocating.
    std::FILE* stream = image.stream;
    if (!fileHolds(stream, 18 + header.idLength + mapBytes + fileRow * height) ||
        !readBlock(stream, nullptr, static_cast<std::size_t>(header.idLength))) {
        reportReadError(kEndOfFile, errors);
        return 1;
    }
    std::uint8_t map[3 * kMaxMapEntries] = {};
    if (!readBlock(stream, map, mapBytes)) {
        reportReadError(kEndOfFile, errors);
        return 1;
    }

    // Pixels held exactly as stored (top row first, no conversion) are mapped
    // read-only from the file instead of being read into a new block; nothing
    // writes to an input image once it is read.
    const bool bottomFirst = (header.descriptor & 0x20) == 0;
    const bool asStored = !bottomFirst && (keptGrey || header.imageType == 2);
    if (asStored) {
        image.pixels = mapFileBytes(stream, 18 + header.idLength + mapBytes, fileRow * height);
    }
    const bool mapped = image.pixels != nullptr;
    if (!mapped) image.pixels = allocateBytes(memoryRow * height);
    if (!image.pixels) {
        std::fputs("ERROR: not enough memory to read image.\n", stdout);
        return 1;
    }
    image.greyBytes = static_cast<std::int16_t>(keptGrey ? bytesPerPixel : 0);
    image.rowBytes = static_cast<std::int32_t>(memoryRow);

    if (!mapped && !readRows(stream, image, fileRow, bottomFirst)) {
        image.pixels.reset();
        reportReadError(kEndOfFile, errors);
        return 1;
    }
    convertRows(image, header, header.colourMapType != 0 ? map : nullptr);
    return 0;
}
