// Owned blocks of bytes and images.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "image/image.h"

#if defined(__SANITIZE_ADDRESS__)
#define RDSGEN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RDSGEN_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef RDSGEN_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace rdsgen {

namespace {

// Blocks from this size on are mapped with their pages populated at once,
// which costs far less than faulting them in one by one while the block is
// filled (an input image is written whole straight after allocation).
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

// A block filled by reading a file is laid out on 2 MiB boundaries and its
// whole 2 MiB pages are asked to be huge: one fault then makes 512 small
// pages' worth resident, where the read would otherwise fault each one.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

constexpr std::int32_t kMaxImageSide = 65535;

}  // namespace

void FreeBytes::operator()(std::uint8_t* block) const noexcept {
    if (mappedSize_ != 0) {
        munmap(block - offset_, mappedSize_);
    } else {
        std::free(block - offset_);
    }
}

Bytes allocateBytes(std::size_t count) { return allocateZeroed(count, true); }

#ifdef RDSGEN_ADDRESS_SANITIZER
std::size_t guardBytes() { return 64; }
void poisonBytes(const std::uint8_t* start, std::size_t count) { ASAN_POISON_MEMORY_REGION(start, count); }
#else
std::size_t guardBytes() { return 0; }
void poisonBytes(const std::uint8_t*, std::size_t) {}
#endif

Bytes allocateZeroed(std::size_t count, bool populate) {
    if (count >= kMappedFrom && !populate) {
        const std::size_t size = count + kHugePage;
        void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED) return Bytes(nullptr);
        const auto start = reinterpret_cast<std::uintptr_t>(mapping);
        const std::size_t offset = (kHugePage - start % kHugePage) % kHugePage;
        auto* block = static_cast<std::uint8_t*>(mapping) + offset;
#ifdef MADV_HUGEPAGE
        if (count >= kHugePage) madvise(block, count / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
        return Bytes(block, BytesBlock::owner(size, offset));
    }
    if (count >= kMappedFrom) {
        const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0);
        void* block = mmap(nullptr, count, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (block == MAP_FAILED) return Bytes(nullptr);
        return Bytes(static_cast<std::uint8_t*>(block), BytesBlock::owner(count, 0));
    }
    // calloc gives zeroed memory, so no uninitialised byte reaches the output.
    return Bytes(static_cast<std::uint8_t*>(std::calloc(count == 0 ? 1 : count, 1)));
}

bool growBytes(Bytes& block, std::size_t keep, std::size_t count) {
#if defined(__linux__) && defined(MREMAP_MAYMOVE)
    const std::size_t mapped = BytesBlock::mappedSize(block.get_deleter());
    const std::size_t offset = BytesBlock::offset(block.get_deleter());
    if (mapped != 0) {
        void* moved = mremap(block.get() - offset, mapped, offset + count, MREMAP_MAYMOVE);
        if (moved == MAP_FAILED) return false;
        block.release();
        block = Bytes(static_cast<std::uint8_t*>(moved) + offset, BytesBlock::owner(offset + count, offset));
        return true;
    }
#endif
    Bytes larger = allocateZeroed(count, false);
    if (!larger) return false;
    std::memcpy(larger.get(), block.get(), keep);
    block = std::move(larger);
    return true;
}

Image makeImage(std::int32_t width, std::int32_t height, PixelKind kind) {
    Image image;
    if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide) return image;
    image.width = width;
    image.height = height;
    image.kind = kind;
    image.rowBytes = width * pixelBytes(kind);
    image.pixels = allocateBytes(static_cast<std::size_t>(image.rowBytes) * static_cast<std::size_t>(height));
    return image;
}

}  // namespace rdsgen
