#include <sys/mman.h>

#include "image/image.h"

namespace {

// Blocks from this size on are mapped with their pages populated at once,
// which costs far less than faulting them in one by one while the image is
// read (an input image is written whole straight after allocation).
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

}  // namespace

void FreeBytes::operator()(std::uint8_t* block) const noexcept {
    if (mappedSize != 0) {
        munmap(block, mappedSize);
    } else {
        std::free(block);
    }
}

Bytes allocateBytes(std::size_t count) {
    if (count >= kMappedFrom) {
        void* block = mmap(nullptr, count, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (block == MAP_FAILED) return Bytes(nullptr);
        return Bytes(static_cast<std::uint8_t*>(block), FreeBytes{count});
    }
    // calloc gives zeroed memory, so no uninitialised byte reaches the output.
    return Bytes(static_cast<std::uint8_t*>(std::calloc(count == 0 ? 1 : count, 1)));
}
