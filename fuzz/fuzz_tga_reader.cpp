// The TARGA reader on arbitrary bytes held in memory; an accepted image is
// read back whole, as a height image and as a pattern image.
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readTga(std::span<const std::uint8_t>(data, size), image);
    if (!status) {
        fuzz::require(!image.pixels, "no pixel block after a refusal");
        return 0;
    }
    fuzz::readBack(image);
    return 0;
}
