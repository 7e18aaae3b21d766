// Decoding PNG files held in memory, with libspng, into the engine's pixel
// kinds. Every conversion is done here, exactly: libspng is asked only for
// formats it gives without arithmetic of its own (or with exact bit
// replication for grey below 8 bits, and palette look-ups).
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "image/image.h"

namespace rdsgen {

namespace {

constexpr std::uint32_t kMaxSide = 65535;
// Largest chunk and ancillary-chunk cache libspng may allocate for.
constexpr std::size_t kChunkLimit = std::size_t{64} << 20;

Status pngError(int code) {
    Status status;
    status.code = StatusCode::kPngError;
    status.reason = spng_strerror(code);
    return status;
}

struct FreeContext {
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};

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

// How a PNG's rows are asked for and turned into image rows.
struct Layout {
    int format = SPNG_FMT_PNG;
    int flags = 0;
    std::size_t decodedPixelBytes = 0;
    PixelKind kind = PixelKind::kGrey8;
    std::uint8_t colourType = 0;
    bool sixteen = false;
    bool key = false;  // a tRNS colour key for grey or RGB
    std::uint16_t keyGrey = 0, keyRed = 0, keyGreen = 0, keyBlue = 0;
};

Layout layoutFor(spng_ctx* context, const spng_ihdr& header) {
    Layout layout;
    layout.colourType = header.color_type;
    layout.sixteen = header.bit_depth == 16;
    const int bytes = layout.sixteen ? 2 : 1;
    switch (header.color_type) {
        case SPNG_COLOR_TYPE_GRAYSCALE:
            // Below 8 bits, G8 scales by bit replication: exactly v * 255 / (2^n - 1).
            layout.format = layout.sixteen ? SPNG_FMT_PNG : SPNG_FMT_G8;
            layout.decodedPixelBytes = static_cast<std::size_t>(bytes);
            layout.kind = layout.sixteen ? PixelKind::kGrey16 : PixelKind::kGrey8;
            break;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
            layout.format = layout.sixteen ? SPNG_FMT_GA16 : SPNG_FMT_GA8;
            layout.decodedPixelBytes = static_cast<std::size_t>(2 * bytes);
            layout.kind = layout.sixteen ? PixelKind::kGrey16 : PixelKind::kGrey8;
            break;
        case SPNG_COLOR_TYPE_TRUECOLOR:
            layout.format = layout.sixteen ? SPNG_FMT_PNG : SPNG_FMT_RGB8;
            layout.decodedPixelBytes = static_cast<std::size_t>(3 * bytes);
            layout.kind = PixelKind::kColour;
            break;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
            layout.format = layout.sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
            layout.decodedPixelBytes = static_cast<std::size_t>(4 * bytes);
            layout.kind = PixelKind::kColour;
            break;
        default:  // palette: entries and their alpha looked up by libspng
            layout.format = SPNG_FMT_RGBA8;
            layout.flags = SPNG_DECODE_TRNS;
            layout.decodedPixelBytes = 4;
            layout.kind = PixelKind::kColour;
            break;
    }
    spng_trns trns{};
    if ((header.color_type == SPNG_COLOR_TYPE_GRAYSCALE || header.color_type == SPNG_COLOR_TYPE_TRUECOLOR) &&
        spng_get_trns(context, &trns) == 0) {
        layout.key = true;
        layout.keyGrey = trns.gray;
        // Grey below 8 bits arrives scaled; so is its key.
        if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE && header.bit_depth < 8) {
            const unsigned max = (1u << header.bit_depth) - 1;
            layout.keyGrey = static_cast<std::uint16_t>(std::min<unsigned>(trns.gray, max) * 255 / max);
        }
        layout.keyRed = trns.red;
        layout.keyGreen = trns.green;
        layout.keyBlue = trns.blue;
    }
    return layout;
}

// One decoded row into one image row.
void convertRow(const Layout& layout, const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    switch (layout.colourType) {
        case SPNG_COLOR_TYPE_GRAYSCALE:
            if (layout.sixteen) {
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint16_t v = loadHost16(in + 2 * x);
                    storeGrey16(out + 2 * x, layout.key && v == layout.keyGrey ? 0 : v);
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = layout.key && in[x] == layout.keyGrey ? 0 : in[x];
                }
            }
            break;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
            if (layout.sixteen) {
                for (std::size_t x = 0; x < width; ++x) {
                    storeGrey16(out + 2 * x, composite(loadHost16(in + 4 * x), loadHost16(in + 4 * x + 2), 65535));
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = static_cast<std::uint8_t>(composite(in[2 * x], in[2 * x + 1], 255));
                }
            }
            break;
        case SPNG_COLOR_TYPE_TRUECOLOR:
            for (std::size_t x = 0; x < width; ++x) {
                if (layout.sixteen) {
                    const std::uint16_t r = loadHost16(in + 6 * x), g = loadHost16(in + 6 * x + 2),
                                        b = loadHost16(in + 6 * x + 4);
                    const bool clear = layout.key && r == layout.keyRed && g == layout.keyGreen && b == layout.keyBlue;
                    storeColour(out + 3 * x, clear ? 0 : r >> 8, clear ? 0 : g >> 8, clear ? 0 : b >> 8);
                } else {
                    const std::uint8_t* p = in + 3 * x;
                    const bool clear = layout.key && p[0] == layout.keyRed && p[1] == layout.keyGreen &&
                                       p[2] == layout.keyBlue;
                    storeColour(out + 3 * x, clear ? 0 : p[0], clear ? 0 : p[1], clear ? 0 : p[2]);
                }
            }
            break;
        default:  // RGBA, 8 or 16 bits (palettes arrive as RGBA8)
            for (std::size_t x = 0; x < width; ++x) {
                if (layout.sixteen) {
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

// A block of bytes that grows as decoded rows arrive, up to `full` bytes, so
// that a small file claiming a huge image costs memory only for the data it
// really holds.
struct GrowingBlock {
    Bytes bytes;
    std::size_t capacity = 0;
    std::size_t full = 0;

    bool reserve(std::size_t needed) {
        if (needed <= capacity) return true;
        std::size_t next = std::max(needed, std::min(full, 2 * capacity));
        Bytes larger = allocateBytes(next);
        if (!larger) return false;
        if (capacity > 0) std::memcpy(larger.get(), bytes.get(), capacity);
        bytes = std::move(larger);
        capacity = next;
        return true;
    }
};

Status noMemory() {
    Status status;
    status.code = StatusCode::kImageNoMemory;
    return status;
}

}  // namespace

Status readPng(std::span<const std::uint8_t> file, Image& image) {
    return readPngHeader(file, image, false);
}

Status readPngHeader(std::span<const std::uint8_t> file, Image& image, bool headerOnly) {
    image = Image{};
    std::unique_ptr<spng_ctx, FreeContext> context(spng_ctx_new(0));
    if (!context) return noMemory();
    spng_ctx* ctx = context.get();
    spng_set_image_limits(ctx, 0x7FFFFFFF, 0x7FFFFFFF);
    spng_set_chunk_limits(ctx, kChunkLimit, kChunkLimit);
    // Corrupt data is refused, never guessed at.
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (int error = spng_set_png_buffer(ctx, file.data(), file.size()); error != 0) return pngError(error);
    spng_ihdr header{};
    if (int error = spng_get_ihdr(ctx, &header); error != 0) return pngError(error);
    if (header.width > kMaxSide || header.height > kMaxSide) {
        Status status;
        status.code = StatusCode::kImageTooLarge;
        status.detail[0] = header.width;
        status.detail[1] = header.height;
        return status;
    }

    const Layout layout = layoutFor(ctx, header);
    const std::size_t width = header.width;
    const std::size_t height = header.height;
    const std::size_t rowBytes = width * static_cast<std::size_t>(pixelBytes(layout.kind));
    if (headerOnly) {
        image.width = static_cast<std::int32_t>(width);
        image.height = static_cast<std::int32_t>(height);
        image.kind = layout.kind;
        image.rowBytes = static_cast<std::int32_t>(rowBytes);
        return {};
    }
    if (int error = spng_decode_image(ctx, nullptr, 0, layout.format, layout.flags | SPNG_DECODE_PROGRESSIVE);
        error != 0) {
        return pngError(error);
    }

    const std::size_t decodedRow = width * layout.decodedPixelBytes;
    // Deflate expands at most about 1032 times; an interlaced image's first
    // passes spread over all of its rows, 64 times as many as their pixels.
    const std::size_t plausible = 70000 * file.size() + (std::size_t{1} << 20);
    GrowingBlock pixels;
    pixels.full = rowBytes * height;
    std::vector<std::uint8_t> decoded;
    GrowingBlock interlaced;  // the decoded rows of an interlaced image, whole
    const bool passes = header.interlace_method != 0;
    if (passes) {
        interlaced.full = decodedRow * height;
    } else {
        decoded.resize(decodedRow + 1);
    }
    if (!pixels.reserve(std::min(pixels.full, plausible))) return noMemory();

    for (;;) {
        spng_row_info row{};
        int error = spng_get_row_info(ctx, &row);
        if (error == SPNG_EOI) break;
        if (error != 0) return pngError(error);
        std::uint8_t* target = decoded.data();
        if (passes) {
            if (!interlaced.reserve(decodedRow * (row.row_num + 1))) return noMemory();
            target = interlaced.bytes.get() + decodedRow * row.row_num;
        }
        error = spng_decode_row(ctx, target, decodedRow);
        if (error != 0 && error != SPNG_EOI) return pngError(error);
        if (!passes) {
            if (!pixels.reserve(rowBytes * (row.row_num + 1))) return noMemory();
            convertRow(layout, target, pixels.bytes.get() + rowBytes * row.row_num, width);
        }
        if (error == SPNG_EOI) break;
    }
    if (passes) {
        if (!pixels.reserve(pixels.full)) return noMemory();
        for (std::size_t y = 0; y < height; ++y) {
            convertRow(layout, interlaced.bytes.get() + decodedRow * y, pixels.bytes.get() + rowBytes * y, width);
        }
    }
    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    image.kind = layout.kind;
    image.rowBytes = static_cast<std::int32_t>(rowBytes);
    image.pixels = std::move(pixels.bytes);
    return {};
}

}  // namespace rdsgen
