// The EXIF Orientation tag of JPEG and PNG files, and turning an image
// upright by it, as browsers and image viewers show such files.
#include <cstring>

#include "image/image.h"

namespace rdsgen {

namespace {

std::uint32_t read16(const std::uint8_t* p, bool little) {
    return little ? p[0] | std::uint32_t{p[1]} << 8 : std::uint32_t{p[0]} << 8 | p[1];
}

std::uint32_t read32(const std::uint8_t* p, bool little) {
    return little ? read16(p, true) | read16(p + 2, true) << 16 : read16(p, false) << 16 | read16(p + 2, false);
}

bool startsWith(std::span<const std::uint8_t> bytes, const char* text, std::size_t count) {
    return bytes.size() >= count && std::memcmp(bytes.data(), text, count) == 0;
}

// The EXIF block of a JPEG file: the first APP1 segment that holds one,
// before the first scan.
std::span<const std::uint8_t> jpegExif(std::span<const std::uint8_t> file) {
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;  // start of scan, end of image
        const std::size_t length = read16(file.data() + at + 2, false);
        if (length < 2 || at + 2 + length > file.size()) break;
        const std::span<const std::uint8_t> segment = file.subspan(at + 4, length - 2);
        if (marker == 0xE1 && startsWith(segment, "Exif\0\0", 6)) return segment.subspan(6);
        at += 2 + length;
    }
    return {};
}

// The EXIF block of a PNG file: its first eXIf chunk.
std::span<const std::uint8_t> pngExif(std::span<const std::uint8_t> file) {
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::size_t length = read32(file.data() + at, false);
        if (length > file.size() - at - 12) break;
        const std::uint8_t* type = file.data() + at + 4;
        if (std::memcmp(type, "IEND", 4) == 0) break;
        if (std::memcmp(type, "eXIf", 4) == 0) {
            std::span<const std::uint8_t> exif = file.subspan(at + 8, length);
            // Some writers keep the JPEG segment's prefix.
            return startsWith(exif, "Exif\0\0", 6) ? exif.subspan(6) : exif;
        }
        at += 12 + length;
    }
    return {};
}

}  // namespace

std::int32_t exifOrientation(std::span<const std::uint8_t> exif) {
    if (exif.size() < 8) return 1;
    const bool little = startsWith(exif, "II", 2);
    if (!little && !startsWith(exif, "MM", 2)) return 1;
    if (read16(exif.data() + 2, little) != 42) return 1;
    const std::size_t ifd = read32(exif.data() + 4, little);
    if (ifd > exif.size() - 2) return 1;
    const std::size_t entries = read16(exif.data() + ifd, little);
    for (std::size_t k = 0; k < entries; ++k) {
        const std::size_t at = ifd + 2 + 12 * k;
        if (at + 12 > exif.size()) break;
        const std::uint8_t* entry = exif.data() + at;
        if (read16(entry, little) != 0x0112) continue;
        // One SHORT, held in the entry itself.
        if (read16(entry + 2, little) != 3 || read32(entry + 4, little) != 1) return 1;
        const std::uint32_t value = read16(entry + 8, little);
        return value >= 1 && value <= 8 ? static_cast<std::int32_t>(value) : 1;
    }
    return 1;
}

std::int32_t fileOrientation(std::span<const std::uint8_t> file) {
    if (startsWith(file, "\xFF\xD8\xFF", 3)) return exifOrientation(jpegExif(file));
    if (startsWith(file, "\x89PNG\r\n\x1A\n", 8)) return exifOrientation(pngExif(file));
    return 1;
}

bool orientImage(Image& image, std::int32_t orientation) {
    if (orientation < 2 || orientation > 8) return true;
    const bool swap = orientation >= 5;
    const std::int32_t width = swap ? image.height : image.width;
    const std::int32_t height = swap ? image.width : image.height;
    const std::size_t pixel = static_cast<std::size_t>(pixelBytes(image.kind));
    const std::int32_t rowBytes = width * static_cast<std::int32_t>(pixel);
    if (image.pixels) {
        Bytes turned = allocateZeroed(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height), true);
        if (!turned) return false;
        const std::int32_t lastX = image.width - 1;
        const std::int32_t lastY = image.height - 1;
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* out = turned.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowBytes);
            for (std::int32_t x = 0; x < width; ++x, out += pixel) {
                // The stored pixel shown at (x, y).
                std::int32_t sx = x, sy = y;
                switch (orientation) {
                    case 2: sx = lastX - x; break;
                    case 3: sx = lastX - x; sy = lastY - y; break;
                    case 4: sy = lastY - y; break;
                    case 5: sx = y; sy = x; break;
                    case 6: sx = y; sy = lastY - x; break;
                    case 7: sx = lastX - y; sy = lastY - x; break;
                    default: sx = lastX - y; sy = x; break;  // 8
                }
                std::memcpy(out, imageRow(image, sy) + pixel * static_cast<std::size_t>(sx), pixel);
            }
        }
        image.pixels = std::move(turned);
    }
    image.width = width;
    image.height = height;
    image.rowBytes = rowBytes;
    return true;
}

}  // namespace rdsgen
