// The WebAssembly build has no PNG, JPEG or zlib library: the page reads
// PNG and JPEG files through png_inflated.cpp and api.cpp, with the
// browser's inflate and a JPEG decoder of its own, and writes the PNG
// download itself. These stand in
// for the engine's codecs there, refusing every file and every PNG output
// with a status that says why.
#include "image/image.h"

namespace rdsgen {

namespace {

Status notBuilt(StatusCode code, const char* format) {
    return makeStatus(code, 0, 0, std::string(format) + " support is not part of this build");
}

}  // namespace

Status readPng(std::span<const std::uint8_t>, Image& image) {
    image = Image{};
    return notBuilt(StatusCode::kPngError, "PNG");
}

Status decodePng(std::span<const std::uint8_t> file, Image& image, bool) { return readPng(file, image); }

Status readJpeg(std::span<const std::uint8_t>, Image& image) {
    image = Image{};
    return notBuilt(StatusCode::kJpegError, "JPEG");
}

Status decodeJpeg(std::span<const std::uint8_t> file, Image& image, bool) { return readJpeg(file, image); }

// No PNG output: a PNG render stops with kWriteFailed before any byte.
std::unique_ptr<ImageWriter> makePngWriter(const RowGeometry&, std::int32_t, std::int32_t) { return nullptr; }

}  // namespace rdsgen
