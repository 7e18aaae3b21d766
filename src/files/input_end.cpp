// Where a PNG or JPEG input ends, found from its bytes as they arrive, so
// that a pipe or a device is read no further than its image (see image.h).
#include <algorithm>
#include <cstring>
#include <string>

#include "files/files.h"

namespace rdsgen {

namespace {

// What is read of a stream before its image's size is known, and besides
// its samples: room for the metadata a decoder may hold.
constexpr std::size_t kMetadataBytes = std::size_t{64} << 20;
constexpr std::size_t kSampleShare = 4;
// Larger sides are refused by the decoders: they need no more bytes.
constexpr std::size_t kMaxSide = 65535;

std::size_t bigEndian(const std::uint8_t* bytes, int count) {
    std::size_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

void sizeLimit(InputEnd& input, std::size_t width, std::size_t height, std::size_t sampleBytes) {
    input.limit = kMetadataBytes + kSampleShare * std::min(width, kMaxSide) * std::min(height, kMaxSide) * sampleBytes;
    input.sized = true;
}

// PNG: the signature, then chunks of a 4-byte length, a 4-byte type, the
// data and a 4-byte CRC; IHDR first, IEND last.
void findPngEnd(InputEnd& input, std::span<const std::uint8_t> bytes) {
    if (input.next == 0) input.next = 8;
    while (input.end == SIZE_MAX && input.next + 8 <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + input.next;
        const std::size_t length = bigEndian(chunk, 4);
        if (length > 0x7FFFFFFF) {
            input.end = input.next + 8;  // the decoder refuses this chunk's length
            return;
        }
        if (input.next == 8 && std::memcmp(chunk + 4, "IHDR", 4) == 0) {
            if (input.next + 18 > bytes.size()) return;  // width, height, bit depth, colour type
            static constexpr std::size_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
            const std::size_t colourType = chunk[17] < 7 ? chunk[17] : 6;
            const std::size_t channels = std::max<std::size_t>(kChannels[colourType], 1);
            sizeLimit(input, bigEndian(chunk + 8, 4), bigEndian(chunk + 12, 4), channels * (chunk[16] > 8 ? 2 : 1));
        }
        input.next += 12 + length;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) input.end = input.next;
    }
}

// A JPEG start-of-frame marker: C0 to CF but for C4 (Huffman tables), C8
// and CC (arithmetic coding).
bool isFrameMarker(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// JPEG: markers FF xx; segments with a 2-byte length after the marker, the
// coded data after a scan header up to the next marker (FF 00 is a coded
// FF, FF D0 to D7 restart markers), FF fill bytes anywhere, and bytes that
// are no marker skipped as the decoder skips them.
void findJpegEnd(InputEnd& input, std::span<const std::uint8_t> bytes) {
    if (input.next == 0) input.next = 2;  // after SOI
    std::size_t at = input.next;
    const std::size_t size = bytes.size();
    while (at < size) {
        if (bytes[at] != 0xFF) {
            const void* mark = std::memchr(bytes.data() + at, 0xFF, size - at);
            if (mark == nullptr) {
                at = size;
                break;
            }
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(mark) - bytes.data());
        }
        if (at + 1 >= size) break;
        const std::uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) {
            ++at;
        } else if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
        } else if (marker == 0xD9) {
            input.end = at + 2;
            return;
        } else {
            if (at + 4 > size) break;
            if (isFrameMarker(marker) && !input.sized) {
                if (at + 10 > size) break;  // precision, height, width, components
                sizeLimit(input, bigEndian(bytes.data() + at + 7, 2), bigEndian(bytes.data() + at + 5, 2),
                          bytes[at + 9] * std::size_t{bytes[at + 4] > 8 ? 2u : 1u});
            }
            at += 2 + bigEndian(bytes.data() + at + 2, 2);
        }
    }
    input.next = at;
}

}  // namespace

void findInputEnd(InputEnd& input, std::span<const std::uint8_t> bytes) {
    if (input.format == FileFormat::kTga || input.end != SIZE_MAX) return;
    if (!input.sized && input.limit == SIZE_MAX) input.limit = kMetadataBytes;
    if (input.format == FileFormat::kPng) {
        findPngEnd(input, bytes);
    } else {
        findJpegEnd(input, bytes);
    }
}

Status missingInputEnd(const InputEnd& input) {
    const bool png = input.format == FileFormat::kPng;
    return makeStatus(png ? StatusCode::kPngError : StatusCode::kJpegError, 0, 0,
                      std::string(png ? "no IEND chunk" : "no EOI marker") + " in the first " +
                          std::to_string(input.limit) + " bytes, more than its image can need");
}

}  // namespace rdsgen
