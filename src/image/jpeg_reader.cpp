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
#include <cstdint>

#include "image/image.h"

namespace rdsgen {

namespace {

// libjpeg's own limit on a side.
constexpr std::int64_t kMaxSide = JPEG_MAX_DIMENSION;

// Every scan of a file of several scans is a pass over all the blocks of the
// components it holds, however little data it has: a small file of many
// tiny scans would take seconds. So a file may have at most kMaxScans scans,
// and its scans together may cover at most kScanPasses times the blocks of
// the whole image, or kScanBlocks blocks (about 0.2 s of work here) when
// that is more. Progressive files as encoders write them have up to a dozen
// scans, which cover the image's blocks about 6 times.
constexpr int kMaxScans = 500;
constexpr std::uint64_t kScanPasses = 16;
constexpr std::uint64_t kScanBlocks = std::uint64_t{16} << 20;

// libjpeg's error manager, with where to jump on a failure and its text.
struct Errors {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

// Counts the scans of the file and the blocks they cover as libjpeg starts each.
struct ScanWatch {
    jpeg_progress_mgr manager;  // first, as above
    int scan = 0;
    std::uint64_t blocks = 0;
    std::uint64_t budget = 0;
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

[[noreturn]] void refuse(j_common_ptr info, const char* reason) {
    Errors& errors = *reinterpret_cast<Errors*>(info->err);
    std::snprintf(errors.text, sizeof errors.text, "%s", reason);
    std::longjmp(errors.jump, 1);
}

void watchScans(j_common_ptr common) {
    const j_decompress_ptr info = reinterpret_cast<j_decompress_ptr>(common);
    ScanWatch& watch = *reinterpret_cast<ScanWatch*>(common->progress);
    if (info->input_scan_number == watch.scan) return;
    watch.scan = info->input_scan_number;
    if (watch.scan > kMaxScans) refuse(common, "more than 500 scans");
    for (int c = 0; c < info->comps_in_scan; ++c) {
        const jpeg_component_info* component = info->cur_comp_info[c];
        watch.blocks += std::uint64_t{component->width_in_blocks} * component->height_in_blocks;
    }
    if (watch.blocks > watch.budget) refuse(common, "too many scans for its size");
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
    ScanWatch watch{};
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
    return decodeJpeg(file, image, false);
}

Status decodeJpeg(std::span<const std::uint8_t> file, Image& image, bool headerOnly) {
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
    const std::int32_t orientation = fileOrientation(file);
    if (headerOnly) {
        orientImage(image, orientation);
        return {};
    }

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
    std::uint64_t blocks = 0;
    for (int c = 0; c < info.num_components; ++c) {
        blocks += std::uint64_t{info.comp_info[c].width_in_blocks} * info.comp_info[c].height_in_blocks;
    }
    ScanWatch& watch = decoder.watch;
    watch.manager.progress_monitor = watchScans;
    watch.budget = std::max(kScanPasses * blocks, kScanBlocks);
    info.progress = &watch.manager;
    if (!readPixels(info, decoder.errors, image.pixels.get(), static_cast<std::size_t>(image.rowBytes))) {
        image = Image{};
        return jpegError(decoder.errors.text);
    }
    if (!orientImage(image, orientation)) {
        image = Image{};
        return makeStatus(StatusCode::kImageNoMemory);
    }
    return {};
}

}  // namespace rdsgen
