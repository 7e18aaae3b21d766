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

Status jpegError(const std::string& reason) {
    Status status;
    status.code = StatusCode::kJpegError;
    status.reason = reason;
    return status;
}

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

    // A JPEG holds at least a few bits for every 8 x 8 block of every
    // component: a file far too small for its sizes cannot hold its image,
    // and no memory is spent on it.
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels > 512 * file.size() + (std::size_t{1} << 16)) {
        image = Image{};
        return jpegError("Premature end of JPEG file");
    }
    image.pixels = allocateBytes(static_cast<std::size_t>(image.rowBytes) * static_cast<std::size_t>(height));
    if (!image.pixels) {
        image = Image{};
        Status status;
        status.code = StatusCode::kImageNoMemory;
        return status;
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
