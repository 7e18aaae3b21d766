// Decoding PNG files held in memory, with libspng, into the engine's pixel
// kinds. libspng is asked only for formats it gives without arithmetic of
// its own (or with exact bit replication for grey below 8 bits, and palette
// look-ups); the conversion itself is png_samples.cpp's, exactly, and the
// image is turned upright by its EXIF orientation.
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "image/image.h"

namespace rdsgen {

namespace {

constexpr std::uint32_t kMaxSide = 65535;
// Largest chunk and ancillary-chunk cache libspng may allocate for.
constexpr std::size_t kChunkLimit = std::size_t{64} << 20;

Status pngError(int code) { return makeStatus(StatusCode::kPngError, 0, 0, spng_strerror(code)); }

struct FreeContext {
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};

// How a PNG's rows are asked of libspng, and what they hold then.
struct Layout {
    int format = SPNG_FMT_PNG;
    int flags = 0;
    PngRowForm form;
};

Status layoutFor(spng_ctx* context, const spng_ihdr& header, Layout& layout) {
    layout = Layout{};
    layout.form = pngRowForm(header.color_type, header.bit_depth);
    const bool sixteen = layout.form.sixteen;
    switch (header.color_type) {
        case SPNG_COLOR_TYPE_GRAYSCALE:
            // Below 8 bits, G8 scales by bit replication: exactly v * 255 / (2^n - 1).
            layout.format = sixteen ? SPNG_FMT_PNG : SPNG_FMT_G8;
            break;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
            layout.format = SPNG_FMT_PNG;  // grey, alpha; 16-bit samples host-endian
            break;
        case SPNG_COLOR_TYPE_TRUECOLOR:
            layout.format = sixteen ? SPNG_FMT_PNG : SPNG_FMT_RGB8;
            break;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
            layout.format = sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
            break;
        default:  // palette: entries and their alpha looked up by libspng
            layout.format = SPNG_FMT_RGBA8;
            layout.flags = SPNG_DECODE_TRNS;
            break;
    }
    spng_trns trns{};
    const bool keyed = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE || header.color_type == SPNG_COLOR_TYPE_TRUECOLOR;
    const int found = keyed ? spng_get_trns(context, &trns) : SPNG_ECHUNKAVAIL;
    // Reading the chunks before the image data can fail on a broken file.
    if (found != 0 && found != SPNG_ECHUNKAVAIL) return pngError(found);
    if (found == 0) setPngKey(layout.form, trns.gray, trns.red, trns.green, trns.blue);
    return {};
}

// A block of bytes that grows as decoded data arrives, up to `full` bytes.
// Its pages become resident only as they are written, so a small file that
// claims a huge image costs memory only for the data it really holds.
struct GrowingBlock {
    std::uint8_t* bytes = nullptr;
    std::size_t capacity = 0;
    std::size_t full = 0;

    GrowingBlock() = default;
    GrowingBlock(const GrowingBlock&) = delete;
    GrowingBlock& operator=(const GrowingBlock&) = delete;
    ~GrowingBlock() { std::free(bytes); }

    bool reserve(std::size_t needed) {
        if (needed <= capacity) return true;
        const std::size_t next = std::max(needed, std::min(full, std::max<std::size_t>(2 * capacity, 1 << 16)));
        void* larger = std::realloc(bytes, next);
        if (larger == nullptr) return false;
        bytes = static_cast<std::uint8_t*>(larger);
        capacity = next;
        return true;
    }
    Bytes release() {
        Bytes block(bytes);
        bytes = nullptr;
        capacity = 0;
        return block;
    }
};

Status noMemory() { return makeStatus(StatusCode::kImageNoMemory); }

// The file as libspng is given it: the signature and the chunks the image
// needs (the critical ones and tRNS). Every other chunk is passed over
// unread, so that text, time, EXIF, colour and private chunks never refuse
// a file, whatever their number, size or contents. A chunk whose length is
// not a valid one, or that the file cuts short, still reaches libspng.
struct ChunkFilter {
    std::span<const std::uint8_t> file;
    std::size_t at = 0;       // the next byte of the file
    std::size_t passing = 8;  // bytes to hand on before the next chunk starts
};

bool chunkNeeded(const std::uint8_t* type) {
    const bool critical = (type[0] & 0x20) == 0;
    return critical || std::memcmp(type, "tRNS", 4) == 0;
}

int readNeededChunks(spng_ctx*, void* user, void* destination, std::size_t length) {
    ChunkFilter& filter = *static_cast<ChunkFilter*>(user);
    std::uint8_t* out = static_cast<std::uint8_t*>(destination);
    while (length > 0) {
        const std::size_t left = filter.file.size() - filter.at;
        if (filter.passing == 0) {
            if (left < 8) {
                filter.passing = left;
            } else {
                const std::uint8_t* header = filter.file.data() + filter.at;
                const std::uint32_t size = readBig32(header);
                const bool valid = size <= 0x7FFFFFFF;
                if (valid && !chunkNeeded(header + 4) && left >= std::size_t{12} + size) {
                    filter.at += std::size_t{12} + size;
                    continue;
                }
                filter.passing = valid ? std::size_t{12} + size : left;
            }
        }
        const std::size_t count = std::min({length, filter.passing, left});
        if (count == 0) return SPNG_IO_EOF;
        std::memcpy(out, filter.file.data() + filter.at, count);
        out += count;
        length -= count;
        filter.at += count;
        filter.passing -= count;
    }
    return 0;
}

}  // namespace

Status readPng(std::span<const std::uint8_t> file, Image& image) {
    return decodePng(file, image, false);
}

Status decodePng(std::span<const std::uint8_t> file, Image& image, bool headerOnly) {
    image = Image{};
    std::unique_ptr<spng_ctx, FreeContext> context(spng_ctx_new(0));
    if (!context) return noMemory();
    spng_ctx* ctx = context.get();
    spng_set_image_limits(ctx, 0x7FFFFFFF, 0x7FFFFFFF);
    spng_set_chunk_limits(ctx, kChunkLimit, kChunkLimit);
    // Corrupt data is refused, never guessed at.
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    ChunkFilter filter{file};
    if (int error = spng_set_png_stream(ctx, readNeededChunks, &filter); error != 0) return pngError(error);
    spng_ihdr header{};
    if (int error = spng_get_ihdr(ctx, &header); error != 0) return pngError(error);
    if (header.width > kMaxSide || header.height > kMaxSide) {
        Status status = makeStatus(StatusCode::kImageTooLarge, header.width, header.height);
        status.detail[2] = kMaxSide;
        return status;
    }

    Layout layout;
    if (Status status = layoutFor(ctx, header, layout); !status) return status;
    const std::size_t width = header.width;
    const std::size_t height = header.height;
    const std::size_t rowBytes = width * static_cast<std::size_t>(pixelBytes(layout.form.kind));
    if (headerOnly) {
        image.width = static_cast<std::int32_t>(width);
        image.height = static_cast<std::int32_t>(height);
        image.kind = layout.form.kind;
        image.rowBytes = static_cast<std::int32_t>(rowBytes);
        orientImage(image, fileOrientation(file));
        return {};
    }
    if (int error = spng_decode_image(ctx, nullptr, 0, layout.format, layout.flags | SPNG_DECODE_PROGRESSIVE);
        error != 0) {
        return pngError(error);
    }

    // Scanlines are decoded one by one: for a plain image each becomes its
    // image row at once; an interlaced image's passes are kept as they come
    // and laid out when the last one is there.
    const std::size_t pixelSize = layout.form.pixelBytes;
    const std::size_t outputPixel = static_cast<std::size_t>(pixelBytes(layout.form.kind));
    const bool interlaced = header.interlace_method != 0;
    std::vector<std::uint8_t> scanline(width * pixelSize + 1);
    GrowingBlock pixels;
    pixels.full = rowBytes * height;
    GrowingBlock passes;
    passes.full = width * height * pixelSize;
    std::size_t passBytes = 0;
    for (;;) {
        spng_row_info row{};
        int error = spng_get_row_info(ctx, &row);
        if (error == SPNG_EOI) break;
        if (error != 0) return pngError(error);
        error = spng_decode_scanline(ctx, scanline.data(), scanline.size() - 1);
        if (error != 0 && error != SPNG_EOI) return pngError(error);
        if (interlaced) {
            const int pass = std::clamp(row.pass, 0, 6);
            const std::size_t bytes = pngPassExtent(width, kPngPassColumn[pass], kPngPassColumnStep[pass]) * pixelSize;
            if (!passes.reserve(passBytes + bytes)) return noMemory();
            std::memcpy(passes.bytes + passBytes, scanline.data(), bytes);
            passBytes += bytes;
        } else {
            if (!pixels.reserve(rowBytes * (row.row_num + std::size_t{1}))) return noMemory();
            convertPngRow(layout.form, scanline.data(), pixels.bytes + rowBytes * row.row_num, width);
        }
        if (error == SPNG_EOI) break;
    }
    // The rest of the file, to its end chunk: a file cut short is refused.
    if (int error = spng_decode_chunks(ctx); error != 0) return pngError(error);

    if (interlaced) {
        if (!pixels.reserve(pixels.full)) return noMemory();
        std::vector<std::uint8_t> converted(rowBytes + 1);
        const std::uint8_t* next = passes.bytes;
        for (int pass = 0; pass < 7; ++pass) {
            const std::size_t columns = pngPassExtent(width, kPngPassColumn[pass], kPngPassColumnStep[pass]);
            const std::size_t rows = pngPassExtent(height, kPngPassRow[pass], kPngPassRowStep[pass]);
            if (columns == 0) continue;
            for (std::size_t r = 0; r < rows; ++r, next += columns * pixelSize) {
                convertPngRow(layout.form, next, converted.data(), columns);
                std::uint8_t* target = pixels.bytes + rowBytes * (kPngPassRow[pass] + r * kPngPassRowStep[pass]);
                for (std::size_t k = 0; k < columns; ++k) {
                    std::memcpy(target + outputPixel * (kPngPassColumn[pass] + k * kPngPassColumnStep[pass]),
                                converted.data() + outputPixel * k, outputPixel);
                }
            }
        }
    }
    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    image.kind = layout.form.kind;
    image.rowBytes = static_cast<std::int32_t>(rowBytes);
    image.pixels = pixels.release();
    if (!orientImage(image, fileOrientation(file))) {
        image = Image{};
        return noMemory();
    }
    return {};
}

}  // namespace rdsgen
