// Resampling a height image to another size, exactly.
//
// Each output sample is a weighted sum of input samples with integer
// weights, divided once by the sum of the weights and rounded to the
// nearest (halves up): no intermediate rounding, so a constant image stays
// constant and 16- and 24-bit heights keep their precision. The axes are
// weighted separately: an axis that shrinks averages the areas the output
// pixel covers, one that grows interpolates linearly between the two
// nearest pixel centres (the edge pixels repeated beyond the centres).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "image/image.h"

namespace rdsgen {

namespace {

// The input pixels of one output pixel along an axis and their weights;
// every pixel's weights sum to `total`.
struct AxisTaps {
    std::vector<std::int32_t> first;   // per output pixel: its first input pixel
    std::vector<std::int32_t> offset;  // per output pixel, and one more: into weights
    std::vector<std::uint32_t> weights;
    std::uint64_t total = 1;
};

AxisTaps axisTaps(std::int32_t from, std::int32_t to) {
    AxisTaps taps;
    taps.first.resize(static_cast<std::size_t>(to));
    taps.offset.resize(static_cast<std::size_t>(to) + 1);
    const std::int64_t in = from;
    const std::int64_t out = to;
    if (to < from) {
        // Input pixel i spans [i * out, (i + 1) * out) and output pixel x
        // spans [x * in, (x + 1) * in), in units of 1 / (in * out) of the
        // axis; a weight is the length of their overlap.
        taps.total = static_cast<std::uint64_t>(in);
        for (std::int64_t x = 0; x < out; ++x) {
            const std::int64_t start = x * in;
            const std::int64_t end = start + in;
            taps.first[x] = static_cast<std::int32_t>(start / out);
            taps.offset[x] = static_cast<std::int32_t>(taps.weights.size());
            for (std::int64_t i = start / out; i * out < end; ++i) {
                const std::int64_t low = i * out > start ? i * out : start;
                const std::int64_t high = (i + 1) * out < end ? (i + 1) * out : end;
                taps.weights.push_back(static_cast<std::uint32_t>(high - low));
            }
        }
    } else if (to > from) {
        // The centre of output pixel x lies at input position
        // ((2x + 1) * in - out) / (2 * out); before the first centre the
        // first pixel holds, after the last the last.
        taps.total = static_cast<std::uint64_t>(2 * out);
        for (std::int64_t x = 0; x < out; ++x) {
            std::int64_t position = (2 * x + 1) * in - out;
            if (position < 0) position = 0;
            const std::int64_t i = position / (2 * out);
            const std::int64_t fraction = position % (2 * out);
            taps.first[x] = static_cast<std::int32_t>(i);
            taps.offset[x] = static_cast<std::int32_t>(taps.weights.size());
            taps.weights.push_back(static_cast<std::uint32_t>(2 * out - fraction));
            if (fraction != 0 && i + 1 < in) {
                taps.weights.push_back(static_cast<std::uint32_t>(fraction));
            } else if (fraction != 0) {
                taps.weights.back() = static_cast<std::uint32_t>(2 * out);
            }
        }
    } else {
        for (std::int64_t x = 0; x < out; ++x) {
            taps.first[x] = static_cast<std::int32_t>(x);
            taps.offset[x] = static_cast<std::int32_t>(x);
            taps.weights.push_back(1);
        }
    }
    taps.offset[static_cast<std::size_t>(to)] = static_cast<std::int32_t>(taps.weights.size());
    return taps;
}

}  // namespace

ImageHeader resampledHeader(const ImageHeader& header, std::int32_t width) {
    if (width <= 0 || header.width <= 0 || header.height <= 0) return header;
    // The height that keeps the aspect, rounded (halves up), at least 1.
    const std::int64_t scaled = static_cast<std::int64_t>(header.height) * width;
    std::int64_t height = (2 * scaled + header.width) / (2 * static_cast<std::int64_t>(header.width));
    if (height < 1) height = 1;
    if (height > INT32_MAX) height = INT32_MAX;
    return ImageHeader{width, static_cast<std::int32_t>(height), header.kind};
}

Status resampleImage(const Image& source, const ImageHeader& target, Image& result) {
    result = makeImage(target.width, target.height, source.kind);
    if (!result.pixels) return makeStatus(StatusCode::kNoMemory);
    // Samples per pixel and bytes per sample: colour is three 8-bit
    // channels, grey one sample of its stored size.
    const bool colour = source.kind == PixelKind::kColour;
    const std::int32_t channels = colour ? 3 : 1;
    const std::int32_t sampleBytes = colour ? 1 : pixelBytes(source.kind);
    const AxisTaps across = axisTaps(source.width, result.width);
    const AxisTaps down = axisTaps(source.height, result.height);
    const std::uint64_t total = across.total * down.total;

    // One input row's samples summed over the output row's input rows.
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(source.width) * static_cast<std::size_t>(channels));
    for (std::int32_t y = 0; y < result.height; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        for (std::int32_t tap = down.offset[y]; tap < down.offset[y + 1]; ++tap) {
            const std::uint64_t weight = down.weights[static_cast<std::size_t>(tap)];
            const std::uint8_t* row = imageRow(source, down.first[y] + (tap - down.offset[y]));
            for (std::size_t k = 0; k < sums.size(); ++k) {
                const std::uint8_t* bytes = row + k * static_cast<std::size_t>(sampleBytes);
                std::uint32_t value = bytes[0];
                if (sampleBytes > 1) value |= static_cast<std::uint32_t>(bytes[1]) << 8;
                if (sampleBytes > 2) value |= static_cast<std::uint32_t>(bytes[2]) << 16;
                sums[k] += weight * value;
            }
        }
        std::uint8_t* out = result.pixels.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(result.rowBytes);
        for (std::int32_t x = 0; x < result.width; ++x) {
            for (std::int32_t channel = 0; channel < channels; ++channel) {
                std::uint64_t sum = 0;
                for (std::int32_t tap = across.offset[x]; tap < across.offset[x + 1]; ++tap) {
                    const std::size_t column = static_cast<std::size_t>(across.first[x] + (tap - across.offset[x]));
                    sum += across.weights[static_cast<std::size_t>(tap)] *
                           sums[column * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
                }
                const std::uint64_t value = (sum + total / 2) / total;
                for (std::int32_t b = 0; b < sampleBytes; ++b) *out++ = static_cast<std::uint8_t>(value >> (8 * b));
            }
        }
    }
    return {};
}

}  // namespace rdsgen
