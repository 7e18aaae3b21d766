// Animated PNG: the file's own chunks, and each frame's PNG file rewritten
// into the frame's chunks as it is written.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "image/image.h"
#include "sequence/sequence.h"

namespace rdsgen {

namespace {

void putBig16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    appendPngChunk(out, type, data.data(), data.size());
}

}  // namespace

bool SequenceOutput::write(const std::uint8_t* bytes, std::size_t count) {
    if (failed) return false;
    bool ok = false;
    try {
        ok = sink.write(sink.context, bytes, count);
    } catch (...) {
        threw = true;
    }
    if (!ok) {
        failed = true;
        return false;
    }
    written += count;
    return true;
}

bool SequenceOutput::rewrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
    if (failed || sink.rewrite == nullptr) return false;
    bool ok = false;
    try {
        ok = sink.rewrite(sink.context, offset, bytes, count);
    } catch (...) {
        threw = true;
    }
    if (!ok) failed = true;
    return ok;
}

std::vector<std::uint8_t> apngActl(std::uint32_t frames) {
    std::vector<std::uint8_t> data;
    putBig32(data, frames);
    putBig32(data, 0);  // plays: forever
    std::vector<std::uint8_t> out;
    appendChunk(out, "acTL", data);
    return out;
}

std::vector<std::uint8_t> apngHead(std::int32_t width, std::int32_t height, bool grey, std::uint32_t frames) {
    // The header render() writes for the same plan.
    std::vector<std::uint8_t> out = pngFileStart(width, height, grey);
    const std::vector<std::uint8_t> actl = apngActl(frames);
    out.insert(out.end(), actl.begin(), actl.end());
    return out;
}

std::vector<std::uint8_t> apngFctl(std::uint32_t sequence, std::int32_t width, std::int32_t height,
                                   std::int32_t rate) {
    std::vector<std::uint8_t> data;
    putBig32(data, sequence);
    putBig32(data, static_cast<std::uint32_t>(width));
    putBig32(data, static_cast<std::uint32_t>(height));
    putBig32(data, 0);  // x offset
    putBig32(data, 0);  // y offset
    putBig16(data, 1);  // delay: 1 / rate seconds
    putBig16(data, static_cast<std::uint32_t>(rate));
    data.push_back(0);  // dispose: none
    data.push_back(0);  // blend: source
    std::vector<std::uint8_t> out;
    appendChunk(out, "fcTL", data);
    return out;
}

std::vector<std::uint8_t> apngEnd() {
    std::vector<std::uint8_t> out;
    appendChunk(out, "IEND", {});
    return out;
}

// Called when a chunk's length and type are in header_: starts passing on
// an IDAT chunk (as it is, or as an fdAT chunk), or skipping another.
bool ApngFrameFilter::startChunk() {
    dataLeft_ = readBig32(header_);
    keep_ = std::memcmp(header_ + 4, "IDAT", 4) == 0;
    if (!keep_) return true;
    if (firstFrame_) return out_.write(header_, 8);
    if (dataLeft_ > 0x7FFFFFFBu) return false;  // no room for the sequence number
    std::vector<std::uint8_t> head;
    putBig32(head, dataLeft_ + 4);
    head.insert(head.end(), {'f', 'd', 'A', 'T'});
    putBig32(head, sequence_++);
    crc_ = static_cast<std::uint32_t>(crc32(0, head.data() + 4, 8));
    return out_.write(head.data(), head.size());
}

bool ApngFrameFilter::write(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        if (signatureLeft_ > 0) {
            const std::size_t skip = std::min(count, signatureLeft_);
            signatureLeft_ -= skip;
            bytes += skip;
            count -= skip;
            continue;
        }
        switch (part_) {
            case Part::kHeader: {
                const std::size_t take = std::min(count, sizeof header_ - filled_);
                std::memcpy(header_ + filled_, bytes, take);
                filled_ += take;
                bytes += take;
                count -= take;
                if (filled_ < sizeof header_) break;
                filled_ = 0;
                if (!startChunk()) return false;
                part_ = dataLeft_ > 0 ? Part::kData : Part::kCrc;
                break;
            }
            case Part::kData: {
                const std::size_t take = std::min<std::size_t>(count, dataLeft_);
                if (keep_) {
                    if (!firstFrame_) crc_ = static_cast<std::uint32_t>(crc32(crc_, bytes, static_cast<uInt>(take)));
                    if (!out_.write(bytes, take)) return false;
                }
                dataLeft_ -= static_cast<std::uint32_t>(take);
                bytes += take;
                count -= take;
                if (dataLeft_ == 0) part_ = Part::kCrc;
                break;
            }
            case Part::kCrc: {
                // The first frame's IDAT keeps its own CRC; an fdAT gets its own.
                const std::size_t take = std::min<std::size_t>(count, 4 - filled_);
                if (keep_ && firstFrame_ && !out_.write(bytes, take)) return false;
                filled_ += take;
                bytes += take;
                count -= take;
                if (filled_ < 4) break;
                filled_ = 0;
                part_ = Part::kHeader;
                if (keep_ && !firstFrame_) {
                    const std::uint8_t crc[4] = {static_cast<std::uint8_t>(crc_ >> 24),
                                                 static_cast<std::uint8_t>(crc_ >> 16),
                                                 static_cast<std::uint8_t>(crc_ >> 8), static_cast<std::uint8_t>(crc_)};
                    if (!out_.write(crc, 4)) return false;
                }
                break;
            }
        }
    }
    return true;
}

}  // namespace rdsgen
