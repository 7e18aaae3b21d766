#include "sequence/apng_reader.h"

#include <zlib.h>

#include <cstring>

namespace {

std::uint32_t big32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint16_t big16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Inflates a zlib stream into exactly rows * (rowBytes + 1) bytes and
// undoes the filters; an error text, or empty.
std::string decodeFrame(const std::vector<std::uint8_t>& compressed, std::uint32_t width, std::uint32_t height,
                        int channels, std::vector<std::uint8_t>& pixels) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    std::vector<std::uint8_t> raw(height * (rowBytes + 1));
    uLongf size = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &size, compressed.data(), static_cast<uLong>(compressed.size())) != Z_OK) {
        return "inflate failed";
    }
    if (size != raw.size()) return "wrong amount of image data";
    pixels.assign(height * rowBytes, 0);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t filter = raw[y * (rowBytes + 1)];
        const std::uint8_t* in = &raw[y * (rowBytes + 1) + 1];
        std::uint8_t* out = &pixels[y * rowBytes];
        const std::uint8_t* up = y > 0 ? out - rowBytes : nullptr;
        for (std::size_t x = 0; x < rowBytes; ++x) {
            const int a = x >= static_cast<std::size_t>(channels) ? out[x - channels] : 0;
            const int b = up ? up[x] : 0;
            const int c = up && x >= static_cast<std::size_t>(channels) ? up[x - channels] : 0;
            int predictor = 0;
            switch (filter) {
                case 0: break;
                case 1: predictor = a; break;
                case 2: predictor = b; break;
                case 3: predictor = (a + b) / 2; break;
                case 4: predictor = paeth(a, b, c); break;
                default: return "unknown filter";
            }
            out[x] = static_cast<std::uint8_t>(in[x] + predictor);
        }
    }
    return {};
}

}  // namespace

ApngFile readApng(std::span<const std::uint8_t> file) {
    ApngFile result;
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return result.error = "no signature", result;
    std::size_t at = 8;
    std::uint32_t nextSequence = 0;
    bool seenIhdr = false, seenActl = false, seenIend = false, seenIdat = false;
    std::vector<std::vector<std::uint8_t>> data;  // each frame's compressed bytes
    while (at < file.size()) {
        if (file.size() - at < 12) return result.error = "truncated chunk", result;
        const std::uint32_t length = big32(&file[at]);
        if (length > file.size() - at - 12) return result.error = "chunk runs past the end", result;
        const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
        const std::uint8_t* body = &file[at + 8];
        const std::uint32_t crc = big32(body + length);
        if (crc32(0, &file[at + 4], length + 4) != crc) return result.error = "bad CRC in " + type, result;
        at += 12 + length;
        if (seenIend) return result.error = "chunk after IEND", result;
        if (type == "IHDR") {
            if (length != 13 || seenIhdr) return result.error = "bad IHDR", result;
            seenIhdr = true;
            result.width = big32(body);
            result.height = big32(body + 4);
            if (body[8] != 8 || (body[9] != 0 && body[9] != 2) || body[12] != 0) {
                return result.error = "unsupported IHDR", result;
            }
            result.channels = body[9] == 0 ? 1 : 3;
        } else if (type == "acTL") {
            if (length != 8 || seenActl || !result.frames.empty() || seenIdat) return result.error = "bad acTL", result;
            seenActl = true;
            result.frameCount = big32(body);
            result.plays = big32(body + 4);
        } else if (type == "fcTL") {
            if (length != 26 || big32(body) != nextSequence++) return result.error = "bad fcTL sequence", result;
            if (big32(body + 4) != result.width || big32(body + 8) != result.height || big32(body + 12) != 0 ||
                big32(body + 16) != 0) {
                return result.error = "fcTL not a full frame", result;
            }
            ApngFrame frame;
            frame.delayNumerator = big16(body + 20);
            frame.delayDenominator = big16(body + 22);
            frame.dispose = body[24];
            frame.blend = body[25];
            result.frames.push_back(frame);
            data.emplace_back();
        } else if (type == "IDAT") {
            // Only the default image's data; it is frame 0 when an fcTL came first.
            if (!seenActl || result.frames.size() > 1) return result.error = "misplaced IDAT", result;
            if (result.frames.empty()) return result.error = "default image outside the animation", result;
            seenIdat = true;
            result.frames[0].fromIdat = true;
            data[0].insert(data[0].end(), body, body + length);
        } else if (type == "fdAT") {
            if (length < 4 || big32(body) != nextSequence++) return result.error = "bad fdAT sequence", result;
            if (result.frames.empty() || result.frames.back().fromIdat) return result.error = "misplaced fdAT", result;
            data.back().insert(data.back().end(), body + 4, body + length);
        } else if (type == "IEND") {
            seenIend = true;
        } else if (!(type[0] & 0x20)) {
            return result.error = "unknown critical chunk " + type, result;
        }
    }
    if (!seenIend) return result.error = "no IEND", result;
    if (!seenIhdr || !seenActl || !seenIdat) return result.error = "missing IHDR, acTL or IDAT", result;
    if (result.frameCount != result.frames.size()) return result.error = "acTL count differs from the frames", result;
    for (std::size_t i = 0; i < result.frames.size(); ++i) {
        const std::string error = decodeFrame(data[i], result.width, result.height, result.channels,
                                              result.frames[i].pixels);
        if (!error.empty()) return result.error = "frame " + std::to_string(i) + ": " + error, result;
    }
    return result;
}
