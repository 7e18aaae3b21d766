// The WebAssembly build has no PNG, JPEG or zlib library: the browser
// decodes those images itself and encodes the PNG download. These stand in
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

Status readPngHeader(std::span<const std::uint8_t> file, Image& image, bool) { return readPng(file, image); }

Status readJpeg(std::span<const std::uint8_t>, Image& image) {
    image = Image{};
    return notBuilt(StatusCode::kJpegError, "JPEG");
}

Status readJpegHeader(std::span<const std::uint8_t> file, Image& image, bool) { return readJpeg(file, image); }

// No PNG output: a compressor that cannot start, so a PNG render stops with
// kWriteFailed before any row.
struct PngCompressor::Stream {};
PngCompressor::PngCompressor(std::int32_t) {}
PngCompressor::~PngCompressor() = default;
bool PngCompressor::begin(PngBlock&) { return false; }
bool PngCompressor::addRow(PngBlock&, const std::uint8_t*, std::size_t, bool) { return false; }
bool PngCompressor::finish(PngBlock&) { return false; }
bool PngCompressor::deflateInto(PngBlock&, const std::uint8_t*, std::size_t, int) { return false; }
void PngChecksum::add(const PngBlock&) {}
std::vector<std::uint8_t> pngHead(const RowGeometry&, std::int32_t) { return {}; }
std::vector<std::uint8_t> pngBlockChunk(const PngBlock&) { return {}; }
std::vector<std::uint8_t> pngTail(const PngChecksum&) { return {}; }

}  // namespace rdsgen
