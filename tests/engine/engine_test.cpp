// The engine as a library: its entry points, and the independence of its
// output from the number of threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "image/image.h"
#include "stereo/stereo.h"
#include "rdsgen/rdsgen.h"

namespace {

using namespace rdsgen;

// A dome of 8-bit heights with a raised step, 97 x 61 (odd sizes on purpose).
Image domeImage() {
    Image image = makeImage(97, 61, PixelKind::kGrey8);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const double r = std::hypot(x - 48.0, (y - 30.0) * 1.6) / 45.0;
            const double h = r < 1.0 ? 230.0 * std::sqrt(1.0 - r * r) : (x > 80 ? 90.0 : 0.0);
            image.pixels[static_cast<std::size_t>(y) * image.rowBytes + x] = static_cast<std::uint8_t>(h);
        }
    }
    return image;
}

struct MemorySink {
    std::vector<std::uint8_t> bytes;
    std::size_t failAfter = SIZE_MAX;  // writes accepted before every write fails
    std::size_t writes = 0;
    std::thread::id caller = std::this_thread::get_id();
    bool otherThread = false;  // a write came from a thread other than the caller's
    static bool write(void* context, const std::uint8_t* data, std::size_t count) {
        MemorySink& sink = *static_cast<MemorySink*>(context);
        if (std::this_thread::get_id() != sink.caller) sink.otherThread = true;
        if (sink.writes++ >= sink.failAfter) return false;
        sink.bytes.insert(sink.bytes.end(), data, data + count);
        return true;
    }
    RowSink rowSink() { return RowSink{write, this}; }
};

// The bytes of a run; without anyThreadWrites every write must come from
// the calling thread.
std::vector<std::uint8_t> render(const Settings& settings, const Image& heights, std::int32_t threads,
                                 const Image* pattern = nullptr, bool anyThreadWrites = false,
                                 OutputFormat format = OutputFormat::kTga) {
    RenderOptions options;
    options.seed = 7;
    options.threads = threads;
    options.anyThreadWrites = anyThreadWrites;
    options.format = format;
    MemorySink sink;
    EXPECT_TRUE(generateStereogram(settings, heights, pattern, options, sink.rowSink(), {}));
    EXPECT_TRUE(anyThreadWrites || !sink.otherThread);
    return sink.bytes;
}

TEST(EngineTest, OutputDoesNotDependOnTheNumberOfThreads) {
    const Image heights = domeImage();
    Image pattern = makeImage(23, 17, PixelKind::kColour);
    for (std::int32_t i = 0; i < pattern.rowBytes * pattern.height; ++i) pattern.pixels[i] = static_cast<std::uint8_t>(i * 37 % 251);
    std::vector<Settings> cases(6);
    cases[1].PatT = 7, cases[1].NoRD = 1, cases[1].Hidden = 1;
    cases[2].PatT = 3, cases[2].VInc = 1, cases[2].Double = 1, cases[2].CutOff = 1;
    cases[3].PatT = 2, cases[3].PPos = 3, cases[3].FocP = 2, cases[3].Inv = 1;
    cases[4].PatT = 0, cases[4].NoRD = 1;
    cases[5].PPos = 4;  // rows keep what the row before left: computed in order
    for (const Settings& settings : cases) {
        const Image* image = settings.PatT == 0 ? &pattern : nullptr;
        const std::vector<std::uint8_t> single = render(settings, heights, 1, image);
        ASSERT_GT(single.size(), 18u);
        for (std::int32_t threads : {2, 3, 8}) {
            for (bool anyThread : {false, true}) {
                EXPECT_EQ(render(settings, heights, threads, image, anyThread), single)
                    << "PatT " << settings.PatT << ", " << threads << " threads, any thread " << anyThread;
            }
        }
    }
    const std::vector<std::uint8_t> png = render(Settings{}, heights, 1, nullptr, false, OutputFormat::kPng);
    for (std::int32_t threads : {2, 8}) {
        EXPECT_EQ(render(Settings{}, heights, threads, nullptr, true, OutputFormat::kPng), png) << threads;
    }
}

TEST(EngineTest, LeavesTheCLibraryGeneratorAlone) {
    std::srand(77);
    const int expected = std::rand();
    std::srand(77);
    render(Settings{}, domeImage(), 2);
    EXPECT_EQ(std::rand(), expected);
}

TEST(EngineTest, FailedWriteStopsTheRun) {
    const Image heights = domeImage();
    for (std::int32_t threads : {1, 2, 3}) {
        for (std::size_t failAfter : {0u, 1u, 5u, 40u}) {
            MemorySink sink;
            sink.failAfter = failAfter;
            RenderOptions options;
            options.threads = threads;
            options.anyThreadWrites = threads == 3;
            Status status = generateStereogram(Settings{}, heights, nullptr, options, sink.rowSink(), {});
            EXPECT_EQ(status.code, StatusCode::kWriteFailed);
            EXPECT_EQ(sink.writes, failAfter + 1) << "no write after the failed one";
        }
    }
}

TEST(EngineTest, ThreadCountIsBounded) {
    EXPECT_EQ(threadCount(99999), kMaxThreads);
    EXPECT_GE(threadCount(0), 1);
    EXPECT_LE(threadCount(0), kMaxThreads);
}

// Callbacks that throw or cancel end the render with their own status, on
// any number of threads and whichever thread calls them: no hang, no abort,
// and nothing written after the stop.
TEST(EngineTest, CallbacksThatThrowOrCancelStopTheRender) {
    struct Callback {
        int calls = 0;
        int stopAt = 0;      // the call that throws or cancels
        bool cancel = false;
        bool stopped = false;
        bool calledAfterStop = false;
        void call() {
            if (stopped) calledAfterStop = true;
            if (++calls < stopAt) return;
            stopped = true;
            if (!cancel) throw std::runtime_error("callback failed");
        }
    };
    const auto sinkWrite = [](void* context, const std::uint8_t*, std::size_t) {
        static_cast<Callback*>(context)->call();
        return true;
    };
    const auto report = [](void* context, Stage, std::int32_t, std::int32_t) {
        Callback& callback = *static_cast<Callback*>(context);
        callback.call();
        return !callback.stopped;
    };
    const auto ignore = [](void*, Stage, std::int32_t, std::int32_t) { return true; };
    const Image heights = domeImage();
    for (std::int32_t threads : {1, 2, 8}) {
        for (bool anyThread : {false, true}) {
            for (OutputFormat format : {OutputFormat::kTga, OutputFormat::kPng}) {
                for (int stopAt : {1, 3, 4}) {  // a PNG of this size takes 4 writes
                    RenderOptions options;
                    options.threads = threads;
                    options.anyThreadWrites = anyThread;
                    options.format = format;
                    Callback throwingSink{0, stopAt};
                    EXPECT_EQ(generateStereogram(Settings{}, domeImage(), nullptr, options,
                                                 RowSink{sinkWrite, &throwingSink}, Progress{ignore, nullptr})
                                  .code,
                              StatusCode::kCallbackFailed);
                    for (bool cancel : {false, true}) {
                        Callback progress{0, stopAt, cancel};
                        MemorySink sink;
                        const Status status = generateStereogram(Settings{}, heights, nullptr, options,
                                                                 sink.rowSink(), Progress{report, &progress});
                        EXPECT_EQ(status.code, cancel ? StatusCode::kCancelled : StatusCode::kCallbackFailed)
                            << threads << " threads, stop at call " << stopAt;
                        EXPECT_FALSE(progress.calledAfterStop);
                    }
                    EXPECT_FALSE(throwingSink.calledAfterStop);
                }
            }
        }
    }
}

// Whatever a library caller puts into the settings or the plan, the run is
// either the one planned or refused with a status: never a read or write
// outside a buffer (this test runs under AddressSanitizer in CI).
TEST(EngineTest, AnySettingsBeforeOrAfterPlanningAreSafe) {
    using Field = std::int32_t Settings::*;
    const Field flags[] = {&Settings::TrueOut, &Settings::VInc,   &Settings::Inv,    &Settings::NoRD,
                           &Settings::CutOff,  &Settings::Hidden, &Settings::Double, &Settings::StretA,
                           &Settings::StretX,  &Settings::StretY, &Settings::StretR, &Settings::StretP,
                           &Settings::StretZ};
    const Field numbers[] = {&Settings::PatT, &Settings::PSiz, &Settings::PUse, &Settings::FocP,
                             &Settings::Dens, &Settings::PPos};
    const Image heights = domeImage();
    const Image pattern = makeImage(23, 17, PixelKind::kColour);
    const Image otherPattern = makeImage(50, 9, PixelKind::kGrey16);
    const Image otherHeights = makeImage(400, 61, PixelKind::kGrey8);
    const ImageHeader patternHeader = headerOf(pattern);
    const auto tryAll = [&](Field field, std::initializer_list<std::int32_t> values, bool flag) {
        for (std::int32_t patT : {1, 0, 5}) {
            const Image* image = patT == 0 ? &pattern : nullptr;
            Settings defaults;
            defaults.PatT = patT;
            const Plan reference = plan(defaults, headerOf(heights), &patternHeader);
            ASSERT_TRUE(reference);
            MemorySink expected;
            ASSERT_TRUE(render(reference, heights, image, {}, expected.rowSink()));
            for (std::int32_t value : values) {
                SCOPED_TRACE("PatT " + std::to_string(patT) + ", value " + std::to_string(value));
                Settings settings = defaults;
                settings.*field = value;
                MemorySink sink;
                const Plan planned = plan(settings, headerOf(heights), &patternHeader);
                if (flag && value != 0 && value != 1) {
                    EXPECT_EQ(planned.stage, PlanStage::kSettings);
                    EXPECT_EQ(planned.refusal.code, StatusCode::kInvalidSetting);
                }
                const Image* planImage = planned.settings.PatT == 0 ? &pattern : nullptr;
                const Status status = render(planned, heights, planImage, {}, sink.rowSink());
                EXPECT_EQ(status.code, planned ? StatusCode::kOk : StatusCode::kNotPrepared) << statusText(status);

                // Changing the plan's own fields changes nothing the render does.
                Plan changed = reference;
                changed.settings.*field = value;
                changed.heights = headerOf(otherHeights);
                changed.outputWidth = value;
                MemorySink same;
                EXPECT_TRUE(render(changed, heights, image, {}, same.rowSink()));
                EXPECT_EQ(same.bytes, expected.bytes);
                // Other images than those planned for are refused.
                EXPECT_EQ(render(changed, otherHeights, image, {}, same.rowSink()).code, StatusCode::kNotPrepared);
                if (patT == 0) {
                    EXPECT_EQ(render(reference, heights, &otherPattern, {}, same.rowSink()).code,
                              StatusCode::kNotPrepared);
                }
            }
        }
    };
    for (Field flag : flags) tryAll(flag, {-1, 0, 1, 2, 255}, true);
    for (Field number : numbers) tryAll(number, {-1, 0, 2, 9, 4000}, false);
}

TEST(EngineTest, PlanRefusalsAndRowsOnlyOutput) {
    const Image heights = domeImage();
    Settings settings;
    settings.PatT = 0;  // a pattern image, but none given
    Plan planned = plan(settings, headerOf(heights));
    EXPECT_EQ(planned.stage, PlanStage::kNeedsPattern);
    EXPECT_TRUE(planned.refusal);
    const ImageHeader empty{0, 5, PixelKind::kColour};
    EXPECT_EQ(plan(settings, headerOf(heights), &empty).stage, PlanStage::kPatternImage);
    EXPECT_EQ(generateStereogram(settings, heights, nullptr, {}, {}).code, StatusCode::kPatternImageEmpty);

    Settings wide;
    wide.PSiz = 65500;
    planned = plan(wide, headerOf(heights));
    EXPECT_EQ(planned.stage, PlanStage::kSizes);
    EXPECT_EQ(statusText(planned.refusal), "Output image too large (65597 x 63 pixels, at most 65535 x 65535).");
    // Before the pattern image is known: refused only for an output too
    // large whatever the image (a pattern is at least 1 pixel wide).
    wide.PatT = 0;
    EXPECT_TRUE(plan(wide, headerOf(heights)).refusal);
    EXPECT_EQ(plan(wide, ImageHeader{65535, 10}).refusal.code, StatusCode::kOutputTooLarge);

    Settings cut;
    cut.CutOff = 1;
    planned = plan(cut, headerOf(heights));
    ASSERT_TRUE(planned);
    EXPECT_EQ(planned.warnings, unsigned{kWarnFocPAssumed});
    EXPECT_EQ(planned.settings.FocP, 2);
    EXPECT_EQ(planned.tgaBytes, 18u + 97u * 61u);
    RenderOptions options;
    options.format = OutputFormat::kRows;
    MemorySink sink;
    ASSERT_TRUE(render(planned, heights, nullptr, options, sink.rowSink()));
    EXPECT_EQ(sink.bytes.size(), std::size_t{97} * 61);
}

TEST(EngineTest, WidthResamplesTheHeightImageBeforeEverySize) {
    const Image heights = domeImage();
    Settings settings;
    settings.Width = 200;
    settings.PSiz = 4;
    settings.psizInStripes = true;  // stripes across the resampled width
    const Plan planned = plan(settings, headerOf(heights));
    ASSERT_TRUE(planned) << statusText(planned.refusal);
    EXPECT_EQ(planned.heights.width, 97);
    EXPECT_EQ(planned.resampled.width, 200);
    EXPECT_EQ(planned.resampled.height, 126);
    EXPECT_EQ(planned.settings.PSiz, 50);
    EXPECT_EQ(planned.outputWidth, 250);
    EXPECT_EQ(planned.outputHeight, 126 + 4);

    // The run is that of the resampled image, resampled once in render().
    Image expected;
    ASSERT_TRUE(resampleImage(heights, planned.resampled, expected));
    settings.Width = 0;
    MemorySink direct;
    MemorySink viaWidth;
    RenderOptions options;
    options.threads = 2;
    ASSERT_TRUE(render(plan(settings, headerOf(expected)), expected, nullptr, options, direct.rowSink()));
    ASSERT_TRUE(render(planned, heights, nullptr, options, viaWidth.rowSink()));
    EXPECT_EQ(viaWidth.bytes, direct.bytes);
    EXPECT_EQ(render(planned, expected, nullptr, options, viaWidth.rowSink()).code, StatusCode::kNotPrepared);

    // Limits apply to the resampled size; a width out of range is refused.
    Settings wide;
    wide.Width = 65500;
    EXPECT_EQ(plan(wide, headerOf(heights)).refusal.code, StatusCode::kOutputTooLarge);
    for (std::int32_t width : {-1, 65536}) {
        wide.Width = width;
        const Plan refused = plan(wide, headerOf(heights));
        EXPECT_EQ(refused.stage, PlanStage::kSettings);
        EXPECT_EQ(refused.refusal.code, StatusCode::kWidthOutOfRange);
    }
}

}  // namespace
