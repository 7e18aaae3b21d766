// The per-row work of the calculation loop, in process: the pattern strip,
// the row's separations and the linking, for rows 1024 and 4096 pixels wide
// and every pattern type (0 is a pattern image); and the whole render into a
// sink that discards the bytes, by number of threads. Nothing is written to disk.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "depth/depth.h"
#include "engine/engine.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"

namespace {

using namespace rdsgen;

constexpr std::int32_t kRows = 256;

// A dome over the whole image, 8-bit grey.
Image domeImage(std::int32_t width, std::int32_t height) {
    Image image = makeImage(width, height, PixelKind::kGrey8);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double radius = 0.45 * width;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            double r = std::hypot(x - cx, (y - cy) * width / height) / radius;
            double h = r < 1.0 ? 255.0 * std::sqrt(1.0 - r * r) : 0.0;
            image.pixels[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(h);
        }
    }
    return image;
}

// A colour pattern image of exactly one pattern period, so no stretching applies.
Image patternImage(std::int32_t width) {
    Image image = makeImage(width, width, PixelKind::kColour);
    for (std::int32_t i = 0; i < image.rowBytes * image.height; ++i) {
        image.pixels[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37 % 251);
    }
    return image;
}

// One run as the command line would prepare it for an 8-bit height image of
// the given width (kRows rows) with the default options, a pattern type and NoRD.
struct Bench {
    RunSettings settings;
    Image heights;
    Image pattern;
    RowGeometry geometry;
    DepthTable depths;
    Random random{1};
    std::unique_ptr<PatternContext> context;
    PatternState stripState{};
    PatternState sourceState{};
    RowWork work;
    Bytes workMemory;

    Bench(std::int32_t width, std::int32_t patternType, bool noRD) {
        Settings request;
        request.PatT = patternType;
        request.NoRD = noRD ? 1 : 0;
        request.StretA = 0;
        heights = domeImage(width, kRows);
        if (patternType == 0) pattern = patternImage(request.PSiz);
        const ImageHeader patternHeader = headerOf(pattern);
        const Plan planned = plan(request, headerOf(heights), &patternHeader);
        settings = planned.detail->settings;
        geometry = planned.detail->geometry;
        geometry.pixelBytes = 3;  // the strips are drawn at three bytes per pixel
        depths = makeDepthTable(settings, geometry.patternWidth, heights,
                                scaleHeights(settings, geometry.scale, heights));
        context = std::make_unique<PatternContext>(PatternContext{settings, random});
        workMemory = allocateRowWork(geometry, work);
    }

    void makeStrip(std::int32_t y) {
        makePatternRow(*context, geometry, &pattern, work.row + 3 * geometry.stripStart,
                       work.sourceRow, stripState, sourceState, y);
    }
};

// Pattern strip alone (with NoRD also the pattern source row).
void BM_PatternStrip(benchmark::State& state) {
    Bench bench(1024, static_cast<std::int32_t>(state.range(0)), state.range(1) != 0);
    std::int32_t y = 0;
    for (auto _ : state) {
        bench.makeStrip(y);
        benchmark::ClobberMemory();
        y = (y + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations() * bench.settings.PSiz);
}

// Separations of one row from the stored heights.
void BM_Separations(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    Bench bench(width, 1, false);
    std::int32_t y = 0;
    for (auto _ : state) {
        makeSeparationRow(bench.heights, bench.depths, y, separationRow(bench.work));
        benchmark::ClobberMemory();
        y = (y + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations() * width);
}

// Linking of one row whose strip and separations are ready.
void BM_Linking(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    Bench bench(width, 1, state.range(1) != 0);
    bench.makeStrip(kRows / 2);
    makeSeparationRow(bench.heights, bench.depths, kRows / 2, separationRow(bench.work));
    bench.work.seeds[0] = 12345;
    bench.work.seeds[1] = 67890;
    for (auto _ : state) {
        linkRow(bench.settings, bench.geometry, bench.work);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (width + bench.settings.PSiz));
}

// The whole per-row work of the calculation loop except writing the row.
void BM_Row(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    Bench bench(width, static_cast<std::int32_t>(state.range(1)), state.range(2) != 0);
    std::int32_t y = 0;
    for (auto _ : state) {
        bench.makeStrip(y);
        bench.work.y = y;
        bench.work.seeds[0] = static_cast<std::uint32_t>(bench.random.next());
        bench.work.seeds[1] = static_cast<std::uint32_t>(bench.random.next());
        computeRow(bench.settings, bench.geometry, bench.heights, bench.depths, bench.work);
        benchmark::ClobberMemory();
        y = (y + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations() * (width + bench.settings.PSiz));
}

bool discard(void*, const std::uint8_t* bytes, std::size_t) {
    benchmark::DoNotOptimize(bytes);
    return true;
}

// A whole render of a 4096 x 3072 dome with the defaults into a sink that
// discards the bytes, by number of threads and format (0 TARGA, 1 PNG):
// output megapixels per second.
void BM_Render(benchmark::State& state) {
    const Image heights = domeImage(4096, 3072);
    const Plan planned = plan(Settings{}, headerOf(heights));
    RenderOptions options;
    options.threads = static_cast<std::int32_t>(state.range(0));
    options.format = state.range(1) != 0 ? OutputFormat::kPng : OutputFormat::kTga;
    options.anyThreadWrites = true;  // as the command line runs
    for (auto _ : state) {
        render(planned, heights, nullptr, options, RowSink{discard, nullptr});
    }
    const double pixels = double(planned.outputWidth) * planned.outputHeight;
    state.counters["MP/s"] =
        benchmark::Counter(pixels / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_PatternStrip)
    ->ArgNames({"PatT", "NoRD"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}})
    ->MinTime(0.1);
BENCHMARK(BM_Separations)->ArgNames({"width"})->Arg(1024)->Arg(4096)->MinTime(0.1);
BENCHMARK(BM_Linking)->ArgNames({"width", "NoRD"})->ArgsProduct({{1024, 4096}, {0, 1}})->MinTime(0.1);
BENCHMARK(BM_Row)
    ->ArgNames({"width", "PatT", "NoRD"})
    ->ArgsProduct({{1024, 4096}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}})
    ->MinTime(0.1);
BENCHMARK(BM_Render)
    ->ArgNames({"threads", "png"})
    ->ArgsProduct({{1, 2, 4}, {0, 1}})
    ->UseRealTime()
    ->MinTime(1.0)
    ->Unit(benchmark::kMillisecond);
