// TARGA output: the header, finished rows, and the writer of both.
#include <algorithm>

#include "image/image.h"

namespace rdsgen {

std::array<std::uint8_t, 18> tgaHeader(const RowGeometry& geometry) {
    const std::int32_t width = geometry.outputWidth;
    const std::int32_t height = geometry.outputHeight;
    return {0, 0, static_cast<std::uint8_t>(geometry.outputGrey ? 3 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0,
            static_cast<std::uint8_t>(width % 256), static_cast<std::uint8_t>(width / 256),
            static_cast<std::uint8_t>(height % 256), static_cast<std::uint8_t>(height / 256),
            static_cast<std::uint8_t>(geometry.outputGrey ? 8 : 24), 0x20};
}

std::uint64_t tgaFileBytes(const RowGeometry& geometry) {
    const auto rowBytes = static_cast<std::uint64_t>(std::max(geometry.outputRowBytes, 0));
    return tgaHeader(geometry).size() + rowBytes * static_cast<std::uint64_t>(std::max(geometry.outputHeight, 0));
}

const std::uint8_t* finishRow(const RowGeometry& geometry, std::uint8_t* rowBuffer) {
    std::uint8_t* row = rowBuffer + static_cast<std::ptrdiff_t>(geometry.cutOffPixels) * geometry.pixelBytes;
    if (!geometry.outputGrey || geometry.pixelBytes == 1) return row;
    // Grey output keeps the first (blue) byte of each pixel. Byte k is
    // written only after bytes 3k and beyond were read, so four pixels at a
    // time are safe in place.
    const std::size_t rowBytes = static_cast<std::size_t>(geometry.outputRowBytes);
    std::size_t k = 0;
    for (; k + 4 <= rowBytes; k += 4) {
        const std::uint8_t b0 = row[3 * k], b1 = row[3 * k + 3], b2 = row[3 * k + 6], b3 = row[3 * k + 9];
        row[k] = b0;
        row[k + 1] = b1;
        row[k + 2] = b2;
        row[k + 3] = b3;
    }
    for (; k < rowBytes; ++k) row[k] = row[3 * k];
    return row;
}

namespace {

// The TARGA header (or none), then each row as it is.
class TgaWriter final : public ImageWriter {
public:
    TgaWriter(const RowGeometry& geometry, bool withHeader)
        : header_(tgaHeader(geometry)), rowBytes_(static_cast<std::size_t>(geometry.outputRowBytes)),
          withHeader_(withHeader) {}
    Status begin(const ByteOutput& out) override {
        return written(!withHeader_ || out.write(header_.data(), header_.size()));
    }
    Status addRow(const ByteOutput& out, const std::uint8_t* row) override { return written(out.write(row, rowBytes_)); }
    Status addBlock(const ByteOutput&, const EncodedRows&) override { return written(false); }  // rows come one by one
    Status finish(const ByteOutput&) override { return {}; }

private:
    const std::array<std::uint8_t, 18> header_;
    const std::size_t rowBytes_;
    const bool withHeader_;
};

}  // namespace

std::unique_ptr<ImageWriter> makeTgaWriter(const RowGeometry& geometry, bool withHeader) {
    return std::make_unique<TgaWriter>(geometry, withHeader);
}

}  // namespace rdsgen
