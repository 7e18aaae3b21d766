// Decoded PNG samples into the engine's pixel kinds: the rules every PNG
// reader of the project shares (the command line's, over libspng, and the
// page's, over a decoder of its own), so that both give the same image.
#include <cstring>

#include "image/image.h"

namespace rdsgen {

namespace {

// v * a / max, rounded to nearest.
inline std::uint32_t composite(std::uint32_t v, std::uint32_t a, std::uint32_t max) {
    return (v * a + max / 2) / max;
}

inline std::uint16_t loadHost16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void storeGrey16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void storeColour(std::uint8_t* p, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    p[0] = static_cast<std::uint8_t>(blue);
    p[1] = static_cast<std::uint8_t>(green);
    p[2] = static_cast<std::uint8_t>(red);
}

}  // namespace

PngRowForm pngRowForm(std::uint8_t colourType, std::uint8_t bitDepth) {
    PngRowForm form;
    form.colourType = colourType;
    form.bitDepth = bitDepth;
    form.sixteen = bitDepth == 16;
    const std::size_t bytes = form.sixteen ? 2 : 1;
    switch (colourType) {
        case png::kGrey:
            form.pixelBytes = bytes;
            form.kind = form.sixteen ? PixelKind::kGrey16 : PixelKind::kGrey8;
            break;
        case png::kGreyAlpha:
            form.pixelBytes = 2 * bytes;
            form.kind = form.sixteen ? PixelKind::kGrey16 : PixelKind::kGrey8;
            break;
        case png::kRgb:
            form.pixelBytes = 3 * bytes;
            form.kind = PixelKind::kColour;
            break;
        default:  // RGBA; a palette's entries arrive as RGBA, 8 bits
            form.pixelBytes = 4 * bytes;
            form.kind = PixelKind::kColour;
            break;
    }
    return form;
}

void setPngKey(PngRowForm& form, std::uint16_t grey, std::uint16_t red, std::uint16_t green, std::uint16_t blue) {
    // A key counts by as many low bits as a sample has; grey below 8 bits
    // arrives scaled, and so is its key.
    const unsigned max = (1u << form.bitDepth) - 1;
    form.key = true;
    form.keyGrey = static_cast<std::uint16_t>(grey & max);
    if (form.colourType == png::kGrey && form.bitDepth < 8) {
        form.keyGrey = static_cast<std::uint16_t>(form.keyGrey * 255 / max);
    }
    form.keyRed = static_cast<std::uint16_t>(red & max);
    form.keyGreen = static_cast<std::uint16_t>(green & max);
    form.keyBlue = static_cast<std::uint16_t>(blue & max);
}

void unpackPngRow(const PngRowForm& form, const std::uint8_t* in, std::uint8_t* out, std::size_t width,
                  const std::uint8_t* palette, std::size_t paletteSize) {
    const unsigned depth = form.bitDepth;
    const unsigned max = (1u << depth) - 1;
    for (std::size_t x = 0; x < width; ++x) {
        const std::size_t bit = x * depth;
        const unsigned v = depth == 8 ? in[x] : (in[bit / 8] >> (8 - depth - bit % 8)) & max;
        if (form.colourType != png::kPalette) {
            // Bit replication: exactly v * 255 / (2^n - 1).
            out[x] = static_cast<std::uint8_t>(v * 255 / max);
        } else if (v < paletteSize) {
            std::memcpy(out + 4 * x, palette + 4 * v, 4);
        } else {
            // An index past the palette's end is black, as a missing entry.
            std::memset(out + 4 * x, 0, 3);
            out[4 * x + 3] = 255;
        }
    }
}

void convertPngRow(const PngRowForm& form, const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    switch (form.colourType) {
        case png::kGrey:
            if (form.sixteen) {
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint16_t v = loadHost16(in + 2 * x);
                    storeGrey16(out + 2 * x, form.key && v == form.keyGrey ? 0 : v);
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = form.key && in[x] == form.keyGrey ? 0 : in[x];
                }
            }
            break;
        case png::kGreyAlpha:
            if (form.sixteen) {
                for (std::size_t x = 0; x < width; ++x) {
                    storeGrey16(out + 2 * x, composite(loadHost16(in + 4 * x), loadHost16(in + 4 * x + 2), 65535));
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = static_cast<std::uint8_t>(composite(in[2 * x], in[2 * x + 1], 255));
                }
            }
            break;
        case png::kRgb:
            for (std::size_t x = 0; x < width; ++x) {
                if (form.sixteen) {
                    const std::uint16_t r = loadHost16(in + 6 * x), g = loadHost16(in + 6 * x + 2),
                                        b = loadHost16(in + 6 * x + 4);
                    const bool clear = form.key && r == form.keyRed && g == form.keyGreen && b == form.keyBlue;
                    storeColour(out + 3 * x, clear ? 0 : r >> 8, clear ? 0 : g >> 8, clear ? 0 : b >> 8);
                } else {
                    const std::uint8_t* p = in + 3 * x;
                    const bool clear = form.key && p[0] == form.keyRed && p[1] == form.keyGreen &&
                                       p[2] == form.keyBlue;
                    storeColour(out + 3 * x, clear ? 0 : p[0], clear ? 0 : p[1], clear ? 0 : p[2]);
                }
            }
            break;
        default:  // RGBA, 8 or 16 bits (palettes arrive as RGBA8)
            for (std::size_t x = 0; x < width; ++x) {
                if (form.sixteen) {
                    const std::uint8_t* p = in + 8 * x;
                    const std::uint32_t a = loadHost16(p + 6);
                    storeColour(out + 3 * x, composite(loadHost16(p), a, 65535) >> 8,
                                composite(loadHost16(p + 2), a, 65535) >> 8, composite(loadHost16(p + 4), a, 65535) >> 8);
                } else {
                    const std::uint8_t* p = in + 4 * x;
                    storeColour(out + 3 * x, composite(p[0], p[3], 255), composite(p[1], p[3], 255),
                                composite(p[2], p[3], 255));
                }
            }
            break;
    }
}

}  // namespace rdsgen
