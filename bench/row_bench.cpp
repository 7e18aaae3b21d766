// The per-row work of the calculation loop, in process: the pattern strip,
// the row's separations and the linking, for rows 1024 and 4096 pixels wide
// and every pattern type (0 is a pattern image). Nothing is written to disk.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "cli/cli.h"
#include "depth/depth.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"

namespace {

constexpr std::int32_t kRows = 256;

// A dome over the whole image, 8-bit grey.
void fillDome(TgaImage& image) {
    const double cx = image.width / 2.0;
    const double cy = image.height / 2.0;
    const double radius = 0.45 * image.width;
    for (std::int32_t y = 0; y < image.height; ++y) {
        for (std::int32_t x = 0; x < image.width; ++x) {
            double r = std::hypot(x - cx, (y - cy) * image.width / image.height) / radius;
            double h = r < 1.0 ? 255.0 * std::sqrt(1.0 - r * r) : 0.0;
            image.pixels[static_cast<std::size_t>(y) * image.width + x] = static_cast<std::uint8_t>(h);
        }
    }
}

// A colour pattern image of exactly one pattern period, so no stretching applies.
void fillPatternImage(TgaImage& image, std::int32_t width) {
    image.imageType = 2;
    image.greyBytes = 0;
    image.width = width;
    image.height = width;
    image.rowBytes = 3 * width;
    image.pixels = allocateBytes(static_cast<std::size_t>(image.rowBytes) * image.height);
    for (std::int32_t i = 0; i < image.rowBytes * image.height; ++i) {
        image.pixels[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37 % 251);
    }
}

// The run state the driver would set up for an 8-bit height image of the given
// width (kRows rows) with the default options, pattern type and NoRD.
void setUpRun(std::int32_t width, std::int32_t patternType, bool noRD) {
    settings = Settings{};
    run = RunData{};
    settings.PatT = patternType;
    settings.NoRD = noRD ? 1 : 0;
    settings.TrueOut = patternType == 0 || patternType > 2 ? 1 : 0;
    settings.StretA = 0;
    std::srand(1);

    TgaImage& heights = run.heightImage;
    heights.imageType = 3;
    heights.greyBytes = 1;
    heights.width = width;
    heights.height = kRows;
    heights.rowBytes = width;
    heights.pixels = allocateBytes(static_cast<std::size_t>(width) * kRows);
    fillDome(heights);

    const std::size_t S = static_cast<std::size_t>(scaleFactor());
    run.separationBuffer = allocateBytes((static_cast<std::size_t>(width) + 1) * 4 * S);
    run.rowBuffer = allocateBytes((static_cast<std::size_t>(width) + settings.PSiz + 1) * 3 * S);
    if (patternType == 0) fillPatternImage(run.patternImage, settings.PSiz);
    if (noRD || patternType == 0) {
        run.patternSourcePeriod = patternType == 0 ? run.patternImage.width : (5 * settings.PSiz + 2) / 4;
        run.patternSourceRow =
            allocateBytes((static_cast<std::size_t>(run.patternSourcePeriod) + 1) * 3 * S);
    }
    scaleHeights(heights, run.separationBuffer.get(), 0);
}

void tearDownRun() {
    settings = Settings{};
    run = RunData{};
}

std::uint8_t* strip() { return run.rowBuffer.get() + 3 * patternStart(); }

// Pattern strip alone (with NoRD also the pattern source row).
void BM_PatternStrip(benchmark::State& state) {
    setUpRun(1024, static_cast<std::int32_t>(state.range(0)), state.range(1) != 0);
    PatternState stripState{};
    PatternState sourceState{};
    std::int32_t y = 0;
    for (auto _ : state) {
        makePatternRow(strip(), run.patternSourceRow.get(), stripState, sourceState, y);
        benchmark::ClobberMemory();
        y = (y + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations() * settings.PSiz);
    tearDownRun();
}

// Separations of one row from the stored heights.
void BM_Separations(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    setUpRun(width, 1, false);
    std::int32_t y = 0;
    for (auto _ : state) {
        makeSeparationRow(run.heightImage, run.separationBuffer.get(), y);
        benchmark::ClobberMemory();
        y = (y + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations() * width);
    tearDownRun();
}

// Linking of one row whose strip and separations are ready.
void BM_Linking(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    setUpRun(width, 1, state.range(1) != 0);
    PatternState stripState{};
    PatternState sourceState{};
    makePatternRow(strip(), run.patternSourceRow.get(), stripState, sourceState, kRows / 2);
    makeSeparationRow(run.heightImage, run.separationBuffer.get(), kRows / 2);
    for (auto _ : state) {
        linkRow(3 * patternStart(), settings.PSiz, width);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (width + settings.PSiz));
    tearDownRun();
}

// The whole per-row work of the calculation loop except writing the row.
void BM_Row(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    setUpRun(width, static_cast<std::int32_t>(state.range(1)), state.range(2) != 0);
    PatternState stripState{};
    PatternState sourceState{};
    const std::int32_t start = patternStart();
    std::int32_t y = 0;
    for (auto _ : state) {
        makePatternRow(strip(), run.patternSourceRow.get(), stripState, sourceState, y);
        makeSeparationRow(run.heightImage, run.separationBuffer.get(), y);
        linkRow(3 * start, settings.PSiz, width);
        benchmark::ClobberMemory();
        y = (y + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations() * (width + settings.PSiz));
    tearDownRun();
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
