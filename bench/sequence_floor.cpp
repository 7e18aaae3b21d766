// The floor of a frame-sequence run: decoding every input PNG and deflating
// every output frame's rows at the program's level, alone, with the frames
// shared among all cores. Prints the seconds of each and the frames per
// second of the two together, and the share of pixels that change from one
// output frame to the next, near moving heights and away from them.
//
//   sequence_floor PATTERN_WIDTH INPUT_PNG... -- OUTPUT_PNG...
//
// The output PNGs (the numbered frames of a run) give the rows to deflate;
// "near" is within PATTERN_WIDTH columns of a height that changed.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "rdsgen/rdsgen.h"

namespace {

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs work(k) for k in [0, count) on every core; the seconds it took.
template <typename Work>
double onAllCores(std::size_t count, Work work) {
    const auto start = std::chrono::steady_clock::now();
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned t = 0; t < cores; ++t) {
        threads.emplace_back([&] {
            for (std::size_t k = next++; k < count; k = next++) work(k);
        });
    }
    for (std::thread& thread : threads) thread.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

rdsgen::Image decode(const std::string& path) {
    rdsgen::Image image;
    const std::vector<std::uint8_t> file = readFile(path);
    if (!rdsgen::readPng(file, image)) {
        std::fprintf(stderr, "sequence_floor: can't read %s\n", path.c_str());
        std::exit(1);
    }
    return image;
}

// Deflates the rows as the PNG writer holds them: a filter byte, the row.
std::size_t deflateRows(const rdsgen::Image& image) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.rowBytes) + 1, 0);
    std::vector<std::uint8_t> out(1 << 16);
    std::size_t total = 0;
    for (std::int32_t y = 0; y < image.height; ++y) {
        std::copy_n(image.pixels.get() + static_cast<std::size_t>(y) * image.rowBytes, image.rowBytes, row.begin() + 1);
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == image.height ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            total += out.size() - z.avail_out;
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: sequence_floor PATTERN_WIDTH INPUT_PNG... -- OUTPUT_PNG...\n");
        return 2;
    }
    const std::int32_t patternWidth = std::atoi(argv[1]);
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    bool afterDashes = false;
    for (int a = 2; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--") {
            afterDashes = true;
        } else {
            (afterDashes ? outputs : inputs).push_back(arg);
        }
    }
    const double decodeSeconds = onAllCores(inputs.size(), [&](std::size_t k) { decode(inputs[k]); });
    // The output frames are decoded before the clock runs: only deflating counts.
    std::vector<rdsgen::Image> frames(outputs.size());
    onAllCores(outputs.size(), [&](std::size_t k) { frames[k] = decode(outputs[k]); });
    const double deflateSeconds = onAllCores(frames.size(), [&](std::size_t k) { deflateRows(frames[k]); });
    std::printf("floor: decode %.2f s + deflate %.2f s for %zu frames = %.1f frames/s\n", decodeSeconds,
                deflateSeconds, inputs.size(), static_cast<double>(inputs.size()) / (decodeSeconds + deflateSeconds));

    // Changed pixels between output frames: near (within a pattern width,
    // on the same row, of an input height that changed) and far.
    std::uint64_t nearChanged = 0, nearAll = 0, farChanged = 0, farAll = 0;
    for (std::size_t k = 1; k < frames.size() && k < inputs.size(); ++k) {
        const rdsgen::Image before = decode(inputs[k - 1]);
        const rdsgen::Image after = decode(inputs[k]);
        const rdsgen::Image& a = frames[k - 1];
        const rdsgen::Image& b = frames[k];
        const std::int32_t band = a.height - before.height;  // focus-mark rows above the image
        const std::int32_t bytes = rdsgen::pixelBytes(before.kind);
        const std::int32_t pixel = rdsgen::pixelBytes(a.kind);
        for (std::int32_t y = 0; y < before.height; ++y) {
            const std::uint8_t* hb = before.pixels.get() + static_cast<std::size_t>(y) * before.rowBytes;
            const std::uint8_t* ha = after.pixels.get() + static_cast<std::size_t>(y) * after.rowBytes;
            std::vector<std::int32_t> changedAt;
            for (std::int32_t x = 0; x < before.width; ++x) {
                if (!std::equal(hb + x * bytes, hb + (x + 1) * bytes, ha + x * bytes)) changedAt.push_back(x);
            }
            const std::uint8_t* ra = a.pixels.get() + static_cast<std::size_t>(y + band) * a.rowBytes;
            const std::uint8_t* rb = b.pixels.get() + static_cast<std::size_t>(y + band) * b.rowBytes;
            std::size_t nearest = 0;
            for (std::int32_t x = 0; x < a.width; ++x) {
                // Output column x lies over input column x - patternWidth / 2 or so; a pattern width either side.
                while (nearest < changedAt.size() && changedAt[nearest] < x - 2 * patternWidth) ++nearest;
                const bool near = nearest < changedAt.size() && changedAt[nearest] <= x + patternWidth;
                const bool changed = !std::equal(ra + x * pixel, ra + (x + 1) * pixel, rb + x * pixel);
                (near ? nearAll : farAll) += 1;
                (near ? nearChanged : farChanged) += changed ? 1 : 0;
            }
        }
    }
    if (nearAll + farAll > 0) {
        std::printf("changed pixels per frame: %.1f %% near moved heights, %.2f %% elsewhere (%.1f %% of pixels are near)\n",
                    nearAll ? 100.0 * nearChanged / nearAll : 0.0, farAll ? 100.0 * farChanged / farAll : 0.0,
                    100.0 * nearAll / (nearAll + farAll));
    }
    return 0;
}
