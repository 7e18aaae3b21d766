// The JPEG reader on arbitrary bytes held in memory. A refusal keeps no
// pixels and says why; an accepted image has the sizes and kind its header
// alone promised, and is read back whole, as a height image and as a
// pattern image.
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "image/image.h"

// Headers claiming more pixels than this are only read as headers: a tiny
// arithmetic-coded file can describe a huge flat picture, whose decoding
// would be real work and real memory, not a fault.
constexpr std::int64_t kMaxDecodedPixels = std::int64_t{1} << 24;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    rdsgen::Image header;
    const rdsgen::Status headerStatus = rdsgen::decodeJpeg(file, header, true);
    if (headerStatus && std::int64_t{header.width} * header.height > kMaxDecodedPixels) return 0;
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readJpeg(file, image);
    fuzz::checkDecoded(status, image, headerStatus, header, rdsgen::StatusCode::kJpegError);
    return 0;
}
