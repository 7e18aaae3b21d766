// Decoding JPEG files held in memory, with libjpeg-turbo: grey stays 8-bit
// grey, colour becomes blue, green, red; CMYK and YCCK are refused.
#include <turbojpeg.h>

#include <memory>

#include "image/image.h"

namespace rdsgen {

namespace {

struct FreeHandle {
    void operator()(void* handle) const noexcept { tjDestroy(handle); }
};

// Whether the frame is progressive (SOF2, SOF6, SOF10 or SOF14): such a
// JPEG is decoded through a coefficient buffer for the whole image.
bool progressive(std::span<const std::uint8_t> file) {
    std::size_t at = 2;
    while (at + 4 <= file.size()) {
        if (file[at] != 0xFF) return false;
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE) return true;
        if (marker == 0xDA || marker == 0xD9) return false;  // the first scan, or the end
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        at += 2 + (std::size_t{file[at + 2]} << 8 | file[at + 3]);
    }
    return false;
}

Status jpegError(const std::string& reason) { return makeStatus(StatusCode::kJpegError, 0, 0, reason); }

}  // namespace

Status readJpeg(std::span<const std::uint8_t> file, Image& image) {
    return readJpegHeader(file, image, false);
}

Status readJpegHeader(std::span<const std::uint8_t> file, Image& image, bool headerOnly) {
    image = Image{};
    std::unique_ptr<void, FreeHandle> handle(tjInitDecompress());
    if (!handle) return jpegError("the decoder could not be started");
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle.get(), file.data(), static_cast<unsigned long>(file.size()), &width, &height,
                            &subsampling, &colourspace) != 0) {
        return jpegError(tjGetErrorStr2(handle.get()));
    }
    if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) {
        return jpegError("CMYK and YCCK images are not supported");
    }
    if (width <= 0 || height <= 0) return jpegError("the image has no pixels");
    const bool grey = colourspace == TJCS_GRAY;
    image.width = width;
    image.height = height;
    image.kind = grey ? PixelKind::kGrey8 : PixelKind::kColour;
    image.rowBytes = width * pixelBytes(image.kind);
    if (headerOnly) return {};

    // The pixels' pages become resident only as rows are decoded (a large
    // block is mapped, not populated), so a small file that claims a huge
    // image costs memory only for the rows it holds.
    // A progressive JPEG is the exception: its decoder clears a coefficient
    // buffer for the whole image first, so one whose sizes are far beyond
    // what its data can describe is refused.
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (progressive(file) && pixels > 4096 * file.size() + (std::size_t{16} << 20)) {
        image = Image{};
        return jpegError("progressive image far larger than its data");
    }
    image.pixels = allocateZeroed(pixels * static_cast<std::size_t>(pixelBytes(image.kind)), false);
    if (!image.pixels) {
        image = Image{};
        return makeStatus(StatusCode::kImageNoMemory);
    }
    // Warnings (a truncated or corrupt stream) are failures: the image would
    // be partly invented.
    if (tjDecompress2(handle.get(), file.data(), static_cast<unsigned long>(file.size()), image.pixels.get(), width,
                      image.rowBytes, height, grey ? TJPF_GRAY : TJPF_BGR,
                      TJFLAG_ACCURATEDCT | TJFLAG_STOPONWARNING) != 0) {
        const std::string reason = tjGetErrorStr2(handle.get());
        image = Image{};
        return jpegError(reason);
    }
    return {};
}

}  // namespace rdsgen
