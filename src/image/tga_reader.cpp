// Decoding uncompressed TARGA files (types 1, 2 and 3) held in memory.
#include <cstring>
#include <utility>

#include "image/image.h"

namespace rdsgen {

namespace {

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

// Reads the file front to back; a read past its end gives -1.
struct Cursor {
    std::span<const std::uint8_t> file;
    std::size_t at = 0;

    int byte() { return at < file.size() ? file[at++] : (at++, -1); }
    bool byte(int& value) {
        value = byte();
        return value >= 0;
    }
    // One little-endian 16-bit field.
    bool word(int& value) {
        int low = 0;
        int high = 0;
        if (!byte(low) || !byte(high)) return false;
        value = low + 256 * high;
        return true;
    }
};

// The colour-map fields (offsets 3 to 7) and their tests.
Status readColourMapFields(Cursor& in, TgaHeader& header) {
    if (!in.word(header.mapFirst) || !in.word(header.mapLength) || !in.byte(header.mapEntryBits)) {
        return makeStatus(StatusCode::kTgaEndOfFile);
    }
    if (header.mapLength > kMaxMapEntries) return makeStatus(StatusCode::kTgaPaletteTooLong);
    if (header.colourMapType != 0 && header.mapEntryBits / 8 != 3) {
        return makeStatus(StatusCode::kTgaPaletteNot24Bit);
    }
    return {};
}

// Refuses pixel layouts the reader cannot hold.
Status checkPixelLayout(const TgaHeader& header) {
    const int type = header.imageType;
    const int bytesPerPixel = header.pixelDepth / 8;
    if (type == 3 && bytesPerPixel > 3) return makeStatus(StatusCode::kTgaGreyOver24Bit);
    if (type == 2 && bytesPerPixel != 3) return makeStatus(StatusCode::kTgaTrueColourNot24Bit);
    if (type != 1 && type != 2 && type != 3) return makeStatus(StatusCode::kTgaUnknownType);
    // Types 1 and 3 below 8 bits: no whole byte per pixel to convert.
    if (bytesPerPixel == 0) return makeStatus(StatusCode::kTgaUnder8Bit);
    if (type == 1 && bytesPerPixel > 3) return makeStatus(StatusCode::kTgaPaletteOver24Bit);
    return {};
}

// Reads the 18-byte header and makes every header test, in file order.
Status readHeader(Cursor& in, TgaHeader& header) {
    header.idLength = in.byte();
    header.colourMapType = in.byte();
    header.imageType = in.byte();  // -1 when the file has already ended
    if (header.imageType < 0 || header.imageType > 8) {
        return makeStatus(StatusCode::kTgaCompressed, header.imageType);
    }
    if (Status status = readColourMapFields(in, header); !status) return status;
    int ignored = 0;
    if (!in.word(ignored) || !in.word(ignored) || !in.word(header.width) || !in.word(header.height) ||
        !in.byte(header.pixelDepth) || !in.byte(header.descriptor)) {
        return makeStatus(StatusCode::kTgaEndOfFile);
    }
    return checkPixelLayout(header);
}

// The bytes of a file with this header up to its last pixel: header, ID,
// colour map and pixels.
std::size_t storedBytes(const TgaHeader& header) {
    const std::size_t mapBytes = header.colourMapType != 0 ? 3 * static_cast<std::size_t>(header.mapLength) : 0;
    const std::size_t fileRow = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.pixelDepth / 8);
    const std::size_t pixels = fileRow * static_cast<std::size_t>(header.height);
    return 18 + static_cast<std::size_t>(header.idLength) + mapBytes + pixels;
}

// Replaces stored indices by their colour-map entries. An index outside the
// map (or no map at all) gives black.
void mapColourRow(std::uint8_t* row, const std::uint8_t* stored, std::size_t width,
                  std::size_t bytesPerPixel, const std::uint8_t* map, int mapLength, int mapFirst) {
    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    for (std::size_t k = 0; k < width; ++k) {
        const int entry = static_cast<int>(stored[k * bytesPerPixel]) - mapFirst;
        const std::uint8_t* colour =
            (map != nullptr && entry >= 0 && entry < mapLength) ? map + 3 * entry : kBlack;
        std::memcpy(row + 3 * k, colour, 3);
    }
}

// Swaps rows i and rows - 1 - i of a block in place.
void flipRows(std::uint8_t* pixels, std::size_t rowBytes, std::size_t rows) {
    for (std::size_t i = 0; i < rows / 2; ++i) {
        std::swap_ranges(pixels + i * rowBytes, pixels + (i + 1) * rowBytes,
                         pixels + (rows - 1 - i) * rowBytes);
    }
}

// Decodes file; with owner (the block holding file), pixels held as stored
// take over the block instead of a copy. With wholeSize, `file` holds only
// the start of a file of that size: only the header is read and checked, and
// the image gets its sizes but no pixels.
Status decode(std::span<const std::uint8_t> file, Bytes* owner, Image& image,
              const std::size_t* wholeSize = nullptr) {
    image = Image{};
    Cursor in{file};
    TgaHeader header;
    if (Status status = readHeader(in, header); !status) return status;
    const bool headerOnly = wholeSize != nullptr;
    const std::size_t fileSize = headerOnly ? *wholeSize : file.size();

    const std::size_t bytesPerPixel = static_cast<std::size_t>(header.pixelDepth / 8);
    const bool colourMapped = header.imageType == 1;
    const std::size_t width = static_cast<std::size_t>(header.width);
    const std::size_t height = static_cast<std::size_t>(header.height);
    const std::size_t fileRow = width * bytesPerPixel;
    const std::size_t mapBytes =
        header.colourMapType != 0 ? 3 * static_cast<std::size_t>(header.mapLength) : 0;
    const std::size_t mapAt = 18 + static_cast<std::size_t>(header.idLength);
    const std::size_t pixelsAt = mapAt + mapBytes;
    // Refuse a file too short for what its header claims before allocating.
    if (fileSize < storedBytes(header)) return makeStatus(StatusCode::kTgaEndOfFile);

    image.width = header.width;
    image.height = header.height;
    image.kind = header.imageType == 3 ? static_cast<PixelKind>(bytesPerPixel) : PixelKind::kColour;
    image.rowBytes = static_cast<std::int32_t>(colourMapped ? 3 * width : fileRow);
    if (headerOnly) return {};
    const std::uint8_t* map = header.colourMapType != 0 ? file.data() + mapAt : nullptr;
    const std::uint8_t* stored = file.data() + pixelsAt;
    const std::size_t memoryRow = static_cast<std::size_t>(image.rowBytes);
    const bool bottomFirst = (header.descriptor & 0x20) == 0;

    if (!colourMapped && owner != nullptr) {
        // Held as stored: the file's block becomes the pixels.
        std::uint8_t* block = owner->release();
        image.pixels = Bytes(block + pixelsAt, BytesBlock::owner(BytesBlock::mappedSize(owner->get_deleter()),
                                                                 BytesBlock::offset(owner->get_deleter()) + pixelsAt));
        if (bottomFirst) flipRows(image.pixels.get(), memoryRow, height);
        return {};
    }
    image.pixels = allocateBytes(memoryRow * height);
    if (!image.pixels) {
        image = Image{};
        return makeStatus(StatusCode::kImageNoMemory);
    }
    for (std::size_t i = 0; i < height; ++i) {
        std::uint8_t* row = image.pixels.get() + (bottomFirst ? height - 1 - i : i) * memoryRow;
        const std::uint8_t* from = stored + i * fileRow;
        if (colourMapped) {
            mapColourRow(row, from, width, bytesPerPixel, map, header.mapLength, header.mapFirst);
        } else {
            std::memcpy(row, from, fileRow);
        }
    }
    return {};
}

}  // namespace

Status readTga(std::span<const std::uint8_t> file, Image& image) {
    return decode(file, nullptr, image);
}

Status readTgaHeader(std::span<const std::uint8_t> start, std::size_t fileSize, Image& image) {
    return decode(start, nullptr, image, &fileSize);
}

Status tgaStoredBytes(std::span<const std::uint8_t> start, std::size_t& bytes) {
    Cursor in{start};
    TgaHeader header;
    if (Status status = readHeader(in, header); !status) return status;
    bytes = storedBytes(header);
    return {};
}

Status readTgaOwned(Bytes file, std::size_t size, Image& image) {
    const std::span<const std::uint8_t> bytes(file.get(), size);
    return decode(bytes, &file, image);
}

void copyPatternRow(const Image& image, std::int32_t row, std::uint8_t* destination) {
    const std::uint8_t* stored = imageRow(image, row);
    const std::size_t width = static_cast<std::size_t>(image.width);
    if (image.kind == PixelKind::kColour) {
        std::memcpy(destination, stored, 3 * width);
        return;
    }
    // Grey of 16 or 24 bits is stored least significant byte first: the last
    // byte is the one that keeps the picture.
    const std::size_t bytesPerPixel = static_cast<std::size_t>(pixelBytes(image.kind));
    for (std::size_t k = 0; k < width; ++k) {
        const std::uint8_t grey = stored[k * bytesPerPixel + bytesPerPixel - 1];
        destination[3 * k] = grey;
        destination[3 * k + 1] = grey;
        destination[3 * k + 2] = grey;
    }
}

}  // namespace rdsgen
