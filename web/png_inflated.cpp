// PNG files for the WebAssembly build, whose zlib stream the browser has
// inflated: the chunks are checked and read here, the rows unfiltered and
// de-interlaced, and the samples converted by the rules the command line's
// reader uses (png_samples.cpp), then turned upright by the EXIF
// orientation. Also the sizes of PNG and JPEG files from their headers, so
// that a size the options refuse is refused before anything is decoded.
#include "png_inflated.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rdsgen {

namespace {

constexpr std::uint32_t kMaxSide = 65535;
constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> made{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            made[n] = c;
        }
        return made;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

Status pngError(const char* reason) { return makeStatus(StatusCode::kPngError, 0, 0, reason); }

// The command line's refusal of a side over max (JPEG's library allows 65500).
Status tooLarge(std::uint32_t width, std::uint32_t height, std::uint32_t max = kMaxSide) {
    Status status = makeStatus(StatusCode::kImageTooLarge, width, height);
    status.detail[2] = max;
    return status;
}

struct PngFile {
    std::uint32_t width = 0, height = 0;
    std::uint8_t bitDepth = 0, colourType = 0;
    bool interlaced = false;
    std::vector<std::uint8_t> palette;  // RGBA entries
    bool key = false;
    std::uint16_t keyGrey = 0, keyRed = 0, keyGreen = 0, keyBlue = 0;
};

bool validDepth(std::uint8_t colourType, std::uint8_t depth) {
    switch (colourType) {
        case png::kGrey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case png::kPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case png::kRgb:
        case png::kGreyAlpha:
        case png::kRgba: return depth == 8 || depth == 16;
        default: return false;
    }
}

Status readHeader(std::span<const std::uint8_t> file, PngFile& png) {
    if (file.size() < 33 || std::memcmp(file.data(), kSignature, 8) != 0) return pngError("not a PNG file");
    const std::uint8_t* ihdr = file.data() + 8;
    if (readBig32(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0) return pngError("the first chunk is not IHDR");
    const std::uint8_t* body = ihdr + 8;
    png.width = readBig32(body);
    png.height = readBig32(body + 4);
    png.bitDepth = body[8];
    png.colourType = body[9];
    png.interlaced = body[12] == 1;
    if (png.width == 0 || png.height == 0 || png.width > 0x7FFFFFFF || png.height > 0x7FFFFFFF) {
        return pngError("invalid image size");
    }
    if (!validDepth(png.colourType, png.bitDepth)) return pngError("invalid colour type or bit depth");
    if (body[10] != 0 || body[11] != 0 || body[12] > 1) return pngError("invalid compression, filter or interlace method");
    if (png.width > kMaxSide || png.height > kMaxSide) return tooLarge(png.width, png.height);
    return {};
}

// Reads every chunk: checks the CRCs and the order of what the image
// needs, takes the palette and transparency.
Status readChunks(std::span<const std::uint8_t> file, PngFile& png) {
    std::size_t at = 8;
    bool ended = false, sawData = false;
    std::size_t paletteEntries = 0;
    while (!ended) {
        if (file.size() - at < 12) return pngError("the file ends before its IEND chunk");
        const std::size_t length = readBig32(file.data() + at);
        if (length > 0x7FFFFFFF || length > file.size() - at - 12) return pngError("the file ends inside a chunk");
        const std::uint8_t* type = file.data() + at + 4;
        const std::uint8_t* data = type + 4;
        if (crc32(type, length + 4) != readBig32(data + length)) return pngError("a chunk's CRC is wrong");
        const bool critical = (type[0] & 0x20) == 0;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            sawData = true;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            ended = true;
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            if (length % 3 != 0 || length == 0 || length > 768 || sawData) return pngError("invalid palette");
            paletteEntries = length / 3;
            png.palette.assign(4 * paletteEntries, 255);
            for (std::size_t k = 0; k < paletteEntries; ++k) std::memcpy(&png.palette[4 * k], data + 3 * k, 3);
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            if (png.colourType == png::kPalette) {
                if (length > paletteEntries) return pngError("invalid transparency");
                for (std::size_t k = 0; k < length; ++k) png.palette[4 * k + 3] = data[k];
            } else if (png.colourType == png::kGrey && length == 2) {
                png.key = true;
                png.keyGrey = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
            } else if (png.colourType == png::kRgb && length == 6) {
                png.key = true;
                png.keyRed = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
                png.keyGreen = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
                png.keyBlue = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
            } else {
                return pngError("invalid transparency");
            }
        } else if (critical && std::memcmp(type, "IHDR", 4) != 0) {
            return pngError("unknown critical chunk");
        }
        at += 12 + length;
    }
    if (!sawData) return pngError("no image data");
    if (png.colourType == png::kPalette && paletteEntries == 0) return pngError("no palette");
    return {};
}

std::uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes a row's filter in place; previous is the row above (zeros first).
bool unfilter(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* previous, std::size_t bytes,
              std::size_t step) {
    for (std::size_t i = 0; i < bytes; ++i) {
        const int a = i >= step ? row[i - step] : 0;
        const int b = previous[i];
        const int c = i >= step ? previous[i - step] : 0;
        int predicted = 0;
        switch (filter) {
            case 0: return true;
            case 1: predicted = a; break;
            case 2: predicted = b; break;
            case 3: predicted = (a + b) / 2; break;
            case 4: predicted = paeth(a, b, c); break;
            default: return false;
        }
        row[i] = static_cast<std::uint8_t>(row[i] + predicted);
    }
    return true;
}

}  // namespace

Status readImageHeader(std::span<const std::uint8_t> file, FileHeader& header) {
    header = FileHeader{};
    header.orientation = fileOrientation(file);
    const bool png = file.size() >= 8 && std::memcmp(file.data(), kSignature, 8) == 0;
    if (png) {
        PngFile parsed;
        if (Status status = readHeader(file, parsed); !status) return status;
        header.width = parsed.width;
        header.height = parsed.height;
        const bool grey = parsed.colourType == png::kGrey || parsed.colourType == png::kGreyAlpha;
        header.components = grey ? 1 : 3;
    } else {
        // JPEG: the first start-of-frame marker (any but DHT, JPG and DAC).
        std::size_t at = 2;
        while (at + 4 <= file.size() && file[at] == 0xFF) {
            const std::uint8_t marker = file[at + 1];
            if (marker == 0xFF) {
                ++at;
                continue;
            }
            const std::size_t length = std::size_t{file[at + 2]} << 8 | file[at + 3];
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                if (length < 8 || at + 2 + length > file.size()) break;
                const std::uint8_t* frame = file.data() + at + 4;
                header.height = std::uint32_t{frame[1]} << 8 | frame[2];
                header.width = std::uint32_t{frame[3]} << 8 | frame[4];
                header.components = frame[5];
                break;
            }
            if (marker == 0xDA || marker == 0xD9 || length < 2) break;
            at += 2 + length;
        }
        if (header.components == 0) return makeStatus(StatusCode::kJpegError, 0, 0, "no image frame found");
        // The command line's library refuses these by its colour space.
        if (header.components == 4) {
            return makeStatus(StatusCode::kJpegError, 0, 0, "CMYK and YCCK images are not supported");
        }
        if (header.components != 1 && header.components != 3) {
            return makeStatus(StatusCode::kJpegError, 0, 0, "the colour space is not known");
        }
        if (header.width > 65500 || header.height > 65500) return tooLarge(header.width, header.height, 65500);
    }
    if (header.orientation >= 5) std::swap(header.width, header.height);
    return {};
}

Status readInflatedPng(std::span<const std::uint8_t> file, std::span<const std::uint8_t> raw, Image& image) {
    image = Image{};
    PngFile png;
    if (Status status = readHeader(file, png); !status) return status;
    if (Status status = readChunks(file, png); !status) return status;

    PngRowForm form = pngRowForm(png.colourType, png.bitDepth);
    if (png.key) setPngKey(form, png.keyGrey, png.keyRed, png.keyGreen, png.keyBlue);
    const std::size_t channels = png.colourType == png::kRgb ? 3 : png.colourType == png::kGreyAlpha ? 2
                                 : png.colourType == png::kRgba ? 4 : 1;
    const std::size_t bits = channels * png.bitDepth;
    const std::size_t step = std::max<std::size_t>(1, bits / 8);
    const bool packed = png.bitDepth < 8 || png.colourType == png::kPalette;
    const std::size_t width = png.width, height = png.height;

    // The bytes the rows take, every pass's; more or fewer are a broken file.
    std::size_t expected = 0;
    for (int pass = png.interlaced ? 0 : 6; pass < 7; ++pass) {
        const std::size_t columns =
            png.interlaced ? pngPassExtent(width, kPngPassColumn[pass], kPngPassColumnStep[pass]) : width;
        const std::size_t rows =
            png.interlaced ? pngPassExtent(height, kPngPassRow[pass], kPngPassRowStep[pass]) : height;
        if (columns > 0) expected += rows * (1 + (columns * bits + 7) / 8);
    }
    if (raw.size() < expected) return pngError("the image data ends too soon");
    if (raw.size() > expected) return pngError("the image data is longer than the image");

    image = makeImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), form.kind);
    if (!image.pixels) {
        image = Image{};
        return makeStatus(StatusCode::kImageNoMemory);
    }
    const std::size_t outputPixel = static_cast<std::size_t>(pixelBytes(form.kind));
    std::vector<std::uint8_t> line((width * bits + 7) / 8), previous(line.size());
    std::vector<std::uint8_t> decoded(width * form.pixelBytes), converted(width * outputPixel);
    const std::uint8_t* next = raw.data();
    for (int pass = png.interlaced ? 0 : 6; pass < 7; ++pass) {
        const std::size_t firstColumn = png.interlaced ? kPngPassColumn[pass] : 0;
        const std::size_t columnStep = png.interlaced ? kPngPassColumnStep[pass] : 1;
        const std::size_t firstRow = png.interlaced ? kPngPassRow[pass] : 0;
        const std::size_t rowStep = png.interlaced ? kPngPassRowStep[pass] : 1;
        const std::size_t columns = pngPassExtent(width, firstColumn, columnStep);
        const std::size_t rows = pngPassExtent(height, firstRow, rowStep);
        if (columns == 0) continue;
        const std::size_t bytes = (columns * bits + 7) / 8;
        std::fill(previous.begin(), previous.end(), 0);
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint8_t filter = *next++;
            std::memcpy(line.data(), next, bytes);
            next += bytes;
            if (!unfilter(filter, line.data(), previous.data(), bytes, step)) {
                image = Image{};
                return pngError("invalid row filter");
            }
            std::memcpy(previous.data(), line.data(), bytes);
            const std::uint8_t* samples = line.data();
            if (packed) {
                unpackPngRow(form, line.data(), decoded.data(), columns, png.palette.data(), png.palette.size() / 4);
                samples = decoded.data();
            } else if (form.sixteen) {
                for (std::size_t i = 0; i + 1 < bytes; i += 2) {
                    const std::uint16_t v = static_cast<std::uint16_t>(line[i] << 8 | line[i + 1]);
                    std::memcpy(decoded.data() + i, &v, 2);
                }
                samples = decoded.data();
            }
            std::uint8_t* target = image.pixels.get() + static_cast<std::size_t>(image.rowBytes) * (firstRow + r * rowStep);
            if (!png.interlaced) {
                convertPngRow(form, samples, target, columns);
                continue;
            }
            convertPngRow(form, samples, converted.data(), columns);
            for (std::size_t k = 0; k < columns; ++k) {
                std::memcpy(target + outputPixel * (firstColumn + k * columnStep), converted.data() + outputPixel * k,
                            outputPixel);
            }
        }
    }
    if (!orientImage(image, fileOrientation(file))) {
        image = Image{};
        return makeStatus(StatusCode::kImageNoMemory);
    }
    return {};
}

}  // namespace rdsgen
