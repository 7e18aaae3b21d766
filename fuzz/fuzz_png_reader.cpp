// The PNG reader on arbitrary bytes held in memory. A refusal keeps no
// pixels and says why; an accepted image has the sizes and kind its header
// alone promised, and is read back whole, as a height image and as a
// pattern image.
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readPng(file, image);
    rdsgen::Image header;
    const rdsgen::Status headerStatus = rdsgen::decodePng(file, header, true);
    fuzz::checkDecoded(status, image, headerStatus, header, rdsgen::StatusCode::kPngError);
    return 0;
}
