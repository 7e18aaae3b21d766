#include <sys/mman.h>

#include <cstdio>

#include "image/image.h"

namespace {

// Blocks from this size on are mapped with their pages populated at once,
// which costs far less than faulting them in one by one while the image is
// read (an input image is written whole straight after allocation).
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

}  // namespace

void FreeBytes::operator()(std::uint8_t* block) const noexcept {
    if (mappedSize != 0) {
        munmap(block - mappedOffset, mappedSize);
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

Bytes mapFileBytes(std::FILE* stream, std::size_t offset, std::size_t count) {
    if (count < kMappedFrom) return Bytes(nullptr);
    const int descriptor = fileno(stream);
    if (descriptor < 0) return Bytes(nullptr);
    const std::size_t size = offset + count;
    void* mapping = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (mapping == MAP_FAILED) return Bytes(nullptr);
    return Bytes(static_cast<std::uint8_t*>(mapping) + offset, FreeBytes{size, offset});
}
