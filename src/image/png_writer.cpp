// PNG output: the file's head and tail, and blocks of rows compressed
// independently (each a run of deflate blocks ending byte-aligned, as a sync
// flush leaves them), so that blocks can be compressed on several threads
// and joined, in order, into one zlib stream.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "image/image.h"

namespace rdsgen {

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendPngChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size) {
    putBig32(out, static_cast<std::uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0) out.insert(out.end(), data, data + size);
    putBig32(out, static_cast<std::uint32_t>(crc32(0, out.data() + typeAt, static_cast<uInt>(4 + size))));
}

struct PngCompressor::Stream {
    z_stream z{};
    bool ready = false;
};

PngCompressor::PngCompressor(std::int32_t level) : stream_(std::make_unique<Stream>()) {
    // Raw deflate (no zlib header of its own): the file has one header.
    stream_->ready = deflateInit2(&stream_->z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

PngCompressor::~PngCompressor() {
    if (stream_->ready) deflateEnd(&stream_->z);
}

bool PngCompressor::deflateInto(PngBlock& block, const std::uint8_t* bytes, std::size_t count, int flush) {
    z_stream& z = stream_->z;
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = static_cast<uInt>(count);
    do {
        if (block.compressed.size() - block.used < 4096) block.compressed.resize(block.used + 65536 + count / 2);
        z.next_out = block.compressed.data() + block.used;
        z.avail_out = static_cast<uInt>(block.compressed.size() - block.used);
        const int result = deflate(&z, flush);
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        block.used = block.compressed.size() - z.avail_out;
    } while (z.avail_in > 0 || z.avail_out == 0);
    return true;
}

bool PngCompressor::begin(PngBlock& block) {
    block.used = 0;
    block.adler = adler32(0, nullptr, 0);
    block.rawBytes = 0;
    return stream_->ready && deflateReset(&stream_->z) == Z_OK;
}

bool PngCompressor::addRow(PngBlock& block, const std::uint8_t* row, std::size_t bytes, bool colour) {
    // Filter type 0 (none), then the row; colour rows become red, green, blue.
    scratch_.resize(bytes + 1);
    scratch_[0] = 0;
    if (colour) {
        for (std::size_t k = 0; k + 2 < bytes; k += 3) {
            scratch_[k + 1] = row[k + 2];
            scratch_[k + 2] = row[k + 1];
            scratch_[k + 3] = row[k];
        }
    } else {
        std::memcpy(scratch_.data() + 1, row, bytes);
    }
    block.adler = adler32(block.adler, scratch_.data(), static_cast<uInt>(bytes + 1));
    block.rawBytes += bytes + 1;
    return deflateInto(block, scratch_.data(), bytes + 1, Z_NO_FLUSH);
}

bool PngCompressor::finish(PngBlock& block) { return deflateInto(block, nullptr, 0, Z_SYNC_FLUSH); }

std::vector<std::uint8_t> pngFileStart(std::int32_t width, std::int32_t height, bool grey) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<std::uint8_t> header;
    putBig32(header, static_cast<std::uint32_t>(width));
    putBig32(header, static_cast<std::uint32_t>(height));
    // 8 bits, grey (0) or RGB (2), deflate, adaptive filtering method, no interlace.
    header.insert(header.end(), {8, static_cast<std::uint8_t>(grey ? 0 : 2), 0, 0, 0});
    appendPngChunk(out, "IHDR", header.data(), header.size());
    return out;
}

std::vector<std::uint8_t> pngHead(const RowGeometry& geometry, std::int32_t level) {
    std::vector<std::uint8_t> out = pngFileStart(geometry.outputWidth, geometry.outputHeight, geometry.outputGrey);
    // The zlib stream's header, with the compression level's hint.
    const std::uint8_t levelBits = level <= 1 ? 0 : level <= 5 ? 1 : level == 6 ? 2 : 3;
    std::uint8_t zlibHeader[2] = {0x78, static_cast<std::uint8_t>(levelBits << 6)};
    zlibHeader[1] = static_cast<std::uint8_t>(zlibHeader[1] + 31 - (0x78 * 256 + zlibHeader[1]) % 31);
    appendPngChunk(out, "IDAT", zlibHeader, 2);
    return out;
}

std::vector<std::uint8_t> pngBlockChunk(const PngBlock& block) {
    std::vector<std::uint8_t> out;
    out.reserve(block.used + 12);
    appendPngChunk(out, "IDAT", block.compressed.data(), block.used);
    return out;
}

void PngChecksum::add(const PngBlock& block) {
    adler = static_cast<std::uint32_t>(adler32_combine(adler, block.adler, static_cast<z_off_t>(block.rawBytes)));
}

std::vector<std::uint8_t> pngTail(const PngChecksum& checksum) {
    // A last, empty fixed-Huffman block ends the deflate data; then the
    // checksum of everything compressed, and the end chunk.
    std::vector<std::uint8_t> data = {0x03, 0x00};
    putBig32(data, checksum.adler);
    std::vector<std::uint8_t> out;
    appendPngChunk(out, "IDAT", data.data(), data.size());
    appendPngChunk(out, "IEND", nullptr, 0);
    return out;
}

namespace {

// Raw bytes of output rows compressed as one independent block.
constexpr std::int64_t kPngBlockBytes = std::int64_t{128} << 10;

struct PngRows final : EncodedRows {
    PngBlock block;
};

PngBlock& pngBlock(EncodedRows& rows) { return static_cast<PngRows&>(rows).block; }

class PngEncoder final : public RowEncoder {
public:
    PngEncoder(std::int32_t level, std::size_t rowBytes, bool colour)
        : compressor_(level), rowBytes_(rowBytes), colour_(colour) {}
    bool begin(EncodedRows& block) override { return compressor_.begin(pngBlock(block)); }
    bool addRow(EncodedRows& block, const std::uint8_t* row) override {
        return compressor_.addRow(pngBlock(block), row, rowBytes_, colour_);
    }
    bool finish(EncodedRows& block) override { return compressor_.finish(pngBlock(block)); }

private:
    PngCompressor compressor_;
    std::size_t rowBytes_;
    bool colour_;
};

class PngWriter final : public ImageWriter {
public:
    PngWriter(const RowGeometry& geometry, std::int32_t level, std::int32_t copies)
        : geometry_(geometry), level_(level) {
        // A block holds about kPngBlockBytes of raw output whatever the
        // number of threads, so the compressed bytes are always the same.
        const std::int64_t rawRow = (std::int64_t{geometry.outputRowBytes} + 1) * copies;
        blockRows_ = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(kPngBlockBytes / std::max<std::int64_t>(rawRow, 1), 1, 1024));
    }
    Status begin(const ByteOutput& out) override { return put(out, pngHead(geometry_, level_)); }
    std::int32_t blockRows() const override { return blockRows_; }
    Status addRow(const ByteOutput&, const std::uint8_t*) override { return written(false); }  // rows come in blocks
    std::unique_ptr<EncodedRows> newBlock() const override { return std::make_unique<PngRows>(); }
    std::unique_ptr<RowEncoder> newEncoder() const override {
        return std::make_unique<PngEncoder>(level_, static_cast<std::size_t>(geometry_.outputRowBytes),
                                            !geometry_.outputGrey);
    }
    Status addBlock(const ByteOutput& out, const EncodedRows& rows) override {
        const PngBlock& block = static_cast<const PngRows&>(rows).block;
        checksum_.add(block);
        return put(out, pngBlockChunk(block));
    }
    Status finish(const ByteOutput& out) override { return put(out, pngTail(checksum_)); }

private:
    static Status put(const ByteOutput& out, const std::vector<std::uint8_t>& bytes) {
        return written(out.write(bytes.data(), bytes.size()));
    }
    const RowGeometry geometry_;
    const std::int32_t level_;
    std::int32_t blockRows_ = 1;
    PngChecksum checksum_;
};

}  // namespace

std::unique_ptr<ImageWriter> makePngWriter(const RowGeometry& geometry, std::int32_t level, std::int32_t copies) {
    return std::make_unique<PngWriter>(geometry, level, copies);
}

}  // namespace rdsgen
