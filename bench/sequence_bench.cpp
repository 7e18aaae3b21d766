// Frame sequences in process: 1920x1080 16-bit height frames of a dome
// moving over a ramp, through SequenceWriter into a sink that only counts
// (as /dev/null would). RDSGEN_BENCH_FRAMES sets the number of frames
// (default 10; 300 for the full clip). Reported:
//   BM_SequenceApng, BM_SequencePngStream
//     fps         frames written per second (wall clock; making each height
//                 frame is not timed)
//     floor_fps   the floor: the same output frames deflated alone (each
//                 frame's rows with their filter bytes, zlib at the same
//                 level, one frame per core at a time)
//     x_floor     the writer's time divided by the floor's
//   BM_DecodeFloor16
//     fps         the input frames as 16-bit PNG files, decoded by libspng
//                 (one frame per core at a time): the other half of a
//                 file-to-file pipeline's floor
//   BM_ChangedPixels
//     same_near, same_far, new_near, new_far
//                 the share of output pixels that change from one frame to
//                 the next with Dots Same (one seed) and Dots New (seed + i),
//                 near (at most one pattern width from a height that
//                 changed) and far from the moving dome; near_share is the
//                 share of pixels that are near. Measured with CutOff and no
//                 focus marks, so that output and height pixels line up.
#include <benchmark/benchmark.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "rdsgen/rdsgen.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::int32_t kLevel = 6;

int frameCount() {
    const char* text = std::getenv("RDSGEN_BENCH_FRAMES");
    const int count = text != nullptr ? std::atoi(text) : 10;
    return std::clamp(count, 2, 100000);
}

int cores() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

// Frame i: a dome of radius 220 moving 8 pixels a frame to the right over a
// ramp, 16-bit grey.
void makeFrame(int i, rdsgen::Image& image) {
    if (!image.pixels) image = rdsgen::makeImage(kWidth, kHeight, rdsgen::PixelKind::kGrey16);
    const double cx = 300 + 8 * (i % 160), cy = kHeight / 2.0, radius = 220;
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = image.pixels.get() + static_cast<std::size_t>(y) * image.rowBytes;
        for (int x = 0; x < kWidth; ++x) {
            const double dx = (x - cx) / radius, dy = (y - cy) / radius;
            const double dome = 1 - dx * dx - dy * dy;
            const double ramp = 12000.0 * x / kWidth;
            const auto value = static_cast<std::uint16_t>(dome > 0 ? ramp + (65535 - ramp) * std::sqrt(dome) : ramp);
            row[2 * x] = static_cast<std::uint8_t>(value);
            row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
}

struct Counting {
    std::uint64_t bytes = 0;
    static bool write(void* context, const std::uint8_t*, std::size_t count) {
        static_cast<Counting*>(context)->bytes += count;
        return true;
    }
};

struct Collect {
    std::vector<std::uint8_t> bytes;
    static bool write(void* context, const std::uint8_t* data, std::size_t count) {
        auto& out = static_cast<Collect*>(context)->bytes;
        out.insert(out.end(), data, data + count);
        return true;
    }
};

rdsgen::Plan framePlan(const rdsgen::Settings& settings = {}) {
    return rdsgen::plan(settings, rdsgen::ImageHeader{kWidth, kHeight, rdsgen::PixelKind::kGrey16});
}

// render()'s rows of frame i.
std::vector<std::uint8_t> renderRows(const rdsgen::Plan& planned, const rdsgen::Image& heights, std::uint32_t seed) {
    rdsgen::RenderOptions options;
    options.seed = seed;
    options.format = rdsgen::OutputFormat::kRows;
    Collect rows;
    rdsgen::render(planned, heights, nullptr, options, rdsgen::RowSink{Collect::write, &rows});
    return rows.bytes;
}

// Runs work(k) for k in [0, count) on every core; the seconds taken.
template <typename Work>
double onAllCores(int count, Work work) {
    std::atomic<int> next{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < std::min(cores(), count); ++t) {
        threads.emplace_back([&] {
            for (int k = next++; k < count; k = next++) work(k);
        });
    }
    for (std::thread& thread : threads) thread.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds to deflate every output frame alone, frames rendered (untimed) a
// batch of one per core at a time.
double deflateFloorSeconds() {
    static double seconds = -1;
    if (seconds >= 0) return seconds;
    const rdsgen::Plan planned = framePlan();
    const int frames = frameCount();
    const std::size_t rowBytes = static_cast<std::size_t>(planned.outputRowBytes);
    std::vector<std::vector<std::uint8_t>> batch(static_cast<std::size_t>(cores()));
    rdsgen::Image heights;
    seconds = 0;
    for (int first = 0; first < frames; first += cores()) {
        const int count = std::min(cores(), frames - first);
        for (int k = 0; k < count; ++k) {
            makeFrame(first + k, heights);
            const std::vector<std::uint8_t> rows = renderRows(planned, heights, 1);
            std::vector<std::uint8_t>& raw = batch[static_cast<std::size_t>(k)];
            raw.clear();
            for (std::size_t at = 0; at < rows.size(); at += rowBytes) {
                raw.push_back(0);
                raw.insert(raw.end(), rows.begin() + static_cast<std::ptrdiff_t>(at),
                           rows.begin() + static_cast<std::ptrdiff_t>(at + rowBytes));
            }
        }
        seconds += onAllCores(count, [&](int k) {
            const std::vector<std::uint8_t>& raw = batch[static_cast<std::size_t>(k)];
            uLongf size = compressBound(static_cast<uLong>(raw.size()));
            std::vector<std::uint8_t> out(size);
            compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), kLevel);
            benchmark::DoNotOptimize(size);
        });
    }
    return seconds;
}

void runSequence(benchmark::State& state, rdsgen::SequenceFormat format) {
    const rdsgen::Plan planned = framePlan();
    const int frames = frameCount();
    rdsgen::Image heights;
    double seconds = 0;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        rdsgen::SequenceOptions options;
        options.format = format;
        options.frames = static_cast<std::uint32_t>(frames);
        options.render.pngLevel = kLevel;
        Counting sink;
        rdsgen::SequenceWriter writer;
        const auto start = std::chrono::steady_clock::now();
        if (!writer.begin(planned, options, rdsgen::RowSink{Counting::write, &sink})) state.SkipWithError("begin");
        for (int i = 0; i < frames; ++i) {
            state.PauseTiming();
            const auto paused = std::chrono::steady_clock::now();
            makeFrame(i, heights);
            const auto resumed = std::chrono::steady_clock::now();
            state.ResumeTiming();
            seconds -= std::chrono::duration<double>(resumed - paused).count();
            if (!writer.addFrame(heights, nullptr)) state.SkipWithError("addFrame");
        }
        if (!writer.finish()) state.SkipWithError("finish");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bytes = sink.bytes;
    }
    const double perRun = seconds / static_cast<double>(state.iterations());
    const double floor = deflateFloorSeconds();
    state.counters["fps"] = frames / perRun;
    state.counters["floor_fps"] = frames / floor;
    state.counters["x_floor"] = perRun / floor;
    state.counters["MiB"] = static_cast<double>(bytes) / (1 << 20);
}

void BM_SequenceApng(benchmark::State& state) { runSequence(state, rdsgen::SequenceFormat::kApng); }
void BM_SequencePngStream(benchmark::State& state) { runSequence(state, rdsgen::SequenceFormat::kPngStream); }

void BM_DecodeFloor16(benchmark::State& state) {
    const int frames = frameCount();
    std::vector<std::vector<std::uint8_t>> files(static_cast<std::size_t>(frames));
    rdsgen::Image heights;
    std::vector<std::uint8_t> big(static_cast<std::size_t>(kWidth) * kHeight * 2);
    for (int i = 0; i < frames; ++i) {
        makeFrame(i, heights);
        for (std::size_t k = 0; k < big.size(); k += 2) {
            big[k] = heights.pixels[k + 1];
            big[k + 1] = heights.pixels[k];
        }
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_ihdr ihdr{};
        ihdr.width = kWidth;
        ihdr.height = kHeight;
        ihdr.bit_depth = 16;
        ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
        spng_set_ihdr(ctx, &ihdr);
        spng_encode_image(ctx, big.data(), big.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
        std::size_t size = 0;
        int error = 0;
        auto* png = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &size, &error));
        if (png == nullptr) {
            state.SkipWithError("encode");
            spng_ctx_free(ctx);
            return;
        }
        files[static_cast<std::size_t>(i)].assign(png, png + size);
        std::free(png);
        spng_ctx_free(ctx);
    }
    double seconds = 0;
    for (auto _ : state) {
        seconds += onAllCores(frames, [&](int i) {
            const std::vector<std::uint8_t>& file = files[static_cast<std::size_t>(i)];
            spng_ctx* ctx = spng_ctx_new(0);
            spng_set_png_buffer(ctx, file.data(), file.size());
            std::size_t size = 0;
            spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size);
            std::vector<std::uint8_t> out(size);
            spng_decode_image(ctx, out.data(), size, SPNG_FMT_PNG, 0);
            benchmark::DoNotOptimize(out.data());
            spng_ctx_free(ctx);
        });
    }
    state.counters["fps"] = frames / (seconds / static_cast<double>(state.iterations()));
}

// Marks the pixels within `reach` (Chebyshev distance) of a marked one.
std::vector<std::uint8_t> widen(const std::vector<std::uint8_t>& marks, int reach) {
    std::vector<std::uint8_t> across(marks.size()), out(marks.size());
    std::vector<int> sums(static_cast<std::size_t>(std::max(kWidth, kHeight)) + 1);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) sums[x + 1] = sums[x] + marks[static_cast<std::size_t>(y) * kWidth + x];
        for (int x = 0; x < kWidth; ++x) {
            across[static_cast<std::size_t>(y) * kWidth + x] =
                sums[std::min(kWidth, x + reach + 1)] - sums[std::max(0, x - reach)] > 0;
        }
    }
    for (int x = 0; x < kWidth; ++x) {
        for (int y = 0; y < kHeight; ++y) sums[y + 1] = sums[y] + across[static_cast<std::size_t>(y) * kWidth + x];
        for (int y = 0; y < kHeight; ++y) {
            out[static_cast<std::size_t>(y) * kWidth + x] =
                sums[std::min(kHeight, y + reach + 1)] - sums[std::max(0, y - reach)] > 0;
        }
    }
    return out;
}

void BM_ChangedPixels(benchmark::State& state) {
    rdsgen::Settings settings;
    settings.CutOff = 1;
    settings.FocP = 0;
    const rdsgen::Plan planned = framePlan(settings);
    if (!planned || planned.outputWidth != kWidth || planned.outputHeight != kHeight) {
        state.SkipWithError("the output does not line up with the heights");
        return;
    }
    const int pairs = std::min(frameCount(), 30) - 1;
    double changed[2][2] = {};  // [new dots][far]
    double near = 0, far = 0;
    for (auto _ : state) {
        rdsgen::Image before, after;
        makeFrame(0, before);
        std::vector<std::uint8_t> rows[2] = {renderRows(planned, before, 1), renderRows(planned, before, 1)};
        for (int i = 1; i <= pairs; ++i) {
            makeFrame(i, after);
            std::vector<std::uint8_t> heightChanged(static_cast<std::size_t>(kWidth) * kHeight);
            for (std::size_t p = 0; p < heightChanged.size(); ++p) {
                heightChanged[p] = std::memcmp(&before.pixels[2 * p], &after.pixels[2 * p], 2) != 0;
            }
            const std::vector<std::uint8_t> isNear = widen(heightChanged, settings.PSiz);
            for (int fresh = 0; fresh < 2; ++fresh) {
                std::vector<std::uint8_t> next = renderRows(planned, after, 1 + (fresh ? i : 0));
                for (std::size_t p = 0; p < next.size(); ++p) {
                    changed[fresh][isNear[p] ? 0 : 1] += next[p] != rows[fresh][p];
                }
                rows[fresh] = std::move(next);
            }
            for (const std::uint8_t n : isNear) (n ? near : far) += 1;
            std::swap(before, after);
        }
    }
    state.counters["same_near"] = changed[0][0] / std::max(near, 1.0);
    state.counters["same_far"] = changed[0][1] / std::max(far, 1.0);
    state.counters["new_near"] = changed[1][0] / std::max(near, 1.0);
    state.counters["new_far"] = changed[1][1] / std::max(far, 1.0);
    state.counters["near_share"] = near / (near + far);
}

}  // namespace

BENCHMARK(BM_SequenceApng)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SequencePngStream)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeFloor16)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChangedPixels)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
