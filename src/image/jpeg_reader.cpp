// Decoding JPEG files held in memory, with libjpeg-turbo's libjpeg API:
// grey stays 8-bit grey, colour becomes blue, green, red (any sampling of
// the components, accurate integer DCT, smooth upsampling); CMYK and YCCK
// are refused.
//
// libjpeg reports a failure by calling back, and leaves the decoding by
// longjmp: the functions that call into it hold nothing with a destructor,
// and the caller owns the decoder's record and the pixels.
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>

#include "image/image.h"

namespace rdsgen {

namespace {

// libjpeg's own limit on a side.
constexpr std::int64_t kMaxSide = JPEG_MAX_DIMENSION;

// libjpeg's error manager, with where to jump on a failure and its text.
struct Errors {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

[[noreturn]] void fail(j_common_ptr info) {
    Errors& errors = *reinterpret_cast<Errors*>(info->err);
    info->err->format_message(info, errors.text);
    std::longjmp(errors.jump, 1);
}

// Warnings (a truncated or corrupt stream) are failures too: the image would
// be partly invented. Trace messages are dropped: nothing here prints.
void message(j_common_ptr info, int level) {
    if (level < 0) fail(info);
}

// Starts the decoder on the file and reads its header. False when libjpeg
// refuses it, its text in errors.
bool readHeader(std::span<const std::uint8_t> file, jpeg_decompress_struct& info, Errors& errors) {
    if (setjmp(errors.jump)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    return true;
}

// Decodes every row into pixels (rowBytes apart) and reads the file to its
// end. False when libjpeg refuses it, its text in errors.
bool readPixels(jpeg_decompress_struct& info, Errors& errors, std::uint8_t* pixels, std::size_t rowBytes) {
    if (setjmp(errors.jump)) return false;
    jpeg_start_decompress(&info);
    JSAMPROW rows[16];
    while (info.output_scanline < info.output_height) {
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, info.output_height - first);
        for (JDIMENSION r = 0; r < count; ++r) rows[r] = pixels + (first + r) * rowBytes;
        jpeg_read_scanlines(&info, rows, count);
    }
    jpeg_finish_decompress(&info);
    return true;
}

Status jpegError(const std::string& reason) { return makeStatus(StatusCode::kJpegError, 0, 0, reason); }

// The decoder's record, released however the decoding ends.
struct Decoder {
    jpeg_decompress_struct info{};
    Errors errors{};
    Decoder() {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = fail;
        errors.manager.emit_message = message;
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() { jpeg_destroy_decompress(&info); }
};

}  // namespace

Status readJpeg(std::span<const std::uint8_t> file, Image& image) {
    return readJpegHeader(file, image, false);
}

Status readJpegHeader(std::span<const std::uint8_t> file, Image& image, bool headerOnly) {
    image = Image{};
    Decoder decoder;
    jpeg_decompress_struct& info = decoder.info;
    if (!readHeader(file, info, decoder.errors)) {
        // The sides are read before libjpeg checks them against its limit.
        if (decoder.errors.manager.msg_code == JERR_IMAGE_TOO_BIG) {
            Status status = makeStatus(StatusCode::kImageTooLarge, info.image_width, info.image_height);
            status.detail[2] = kMaxSide;
            return status;
        }
        return jpegError(decoder.errors.text);
    }
    bool grey = false;
    switch (info.jpeg_color_space) {
        case JCS_GRAYSCALE: grey = true; break;
        case JCS_YCbCr:
        case JCS_RGB: break;
        case JCS_CMYK:
        case JCS_YCCK: return jpegError("CMYK and YCCK images are not supported");
        default: return jpegError("the colour space is not known");
    }
    const std::int32_t width = static_cast<std::int32_t>(info.image_width);
    const std::int32_t height = static_cast<std::int32_t>(info.image_height);
    image.width = width;
    image.height = height;
    image.kind = grey ? PixelKind::kGrey8 : PixelKind::kColour;
    image.rowBytes = width * pixelBytes(image.kind);
    if (headerOnly) return {};

    // The pixels' pages become resident only as rows are decoded (a large
    // block is mapped, not populated), so a small file that claims a huge
    // image costs memory only for the rows it holds.
    // A file of several scans (progressive ones) is the exception: its
    // decoder clears a coefficient buffer for the whole image first, so one
    // whose sizes are far beyond what its data can describe is refused.
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (jpeg_has_multiple_scans(&info) && pixels > 4096 * file.size() + (std::size_t{16} << 20)) {
        image = Image{};
        return jpegError("progressive image far larger than its data");
    }
    image.pixels = allocateZeroed(pixels * static_cast<std::size_t>(pixelBytes(image.kind)), false);
    if (!image.pixels) {
        image = Image{};
        return makeStatus(StatusCode::kImageNoMemory);
    }
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = TRUE;
    if (!readPixels(info, decoder.errors, image.pixels.get(), static_cast<std::size_t>(image.rowBytes))) {
        image = Image{};
        return jpegError(decoder.errors.text);
    }
    return {};
}

}  // namespace rdsgen
