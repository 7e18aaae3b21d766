// Frame sequences checked with decoders we did not write into the writer: the
// test-side APNG reader and giflib's own decoder find every frame equal to
// render()'s rows of that frame with the same seed.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "rdsgen/rdsgen.h"
#include "sequence/apng_reader.h"
#include "sequence/sequence.h"

namespace {

using rdsgen::Image;
using rdsgen::Plan;
using rdsgen::SequenceFormat;
using rdsgen::SequenceOptions;
using rdsgen::SequenceWriter;
using rdsgen::Status;
using rdsgen::StatusCode;

// A disc moving two pixels a frame over a ramp.
Image movingDisc(int width, int height, int frame) {
    Image image = rdsgen::makeImage(width, height, rdsgen::PixelKind::kGrey8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int dx = x - (width / 3 + 2 * frame), dy = y - height / 2;
            const bool disc = dx * dx + dy * dy < height * height / 9;
            image.pixels[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(disc ? 220 : x * 100 / width);
        }
    }
    return image;
}

std::vector<Image> clip(int width, int height, int frames) {
    std::vector<Image> images;
    for (int i = 0; i < frames; ++i) images.push_back(movingDisc(width, height, i));
    return images;
}

// A sink into memory that can rewrite what it holds; it refuses writes
// beyond failAfter bytes, or throws there.
struct MemorySink {
    std::vector<std::uint8_t> bytes;
    std::size_t failAfter = SIZE_MAX;
    bool throwInstead = false;
    bool rewrites = true;

    static bool write(void* context, const std::uint8_t* data, std::size_t count) {
        MemorySink& sink = *static_cast<MemorySink*>(context);
        if (sink.bytes.size() + count > sink.failAfter) {
            if (sink.throwInstead) throw std::runtime_error("sink full");
            return false;
        }
        sink.bytes.insert(sink.bytes.end(), data, data + count);
        return true;
    }
    static bool rewrite(void* context, std::uint64_t offset, const std::uint8_t* data, std::size_t count) {
        MemorySink& sink = *static_cast<MemorySink*>(context);
        if (offset + count > sink.bytes.size()) return false;
        std::memcpy(sink.bytes.data() + offset, data, count);
        return true;
    }
    rdsgen::RowSink rowSink() { return rdsgen::RowSink{write, this, rewrites ? rewrite : nullptr}; }
};

Plan planFor(const rdsgen::Settings& settings, const Image& heights) {
    Plan planned = rdsgen::plan(settings, rdsgen::headerOf(heights));
    EXPECT_TRUE(planned) << rdsgen::statusText(planned.refusal);
    return planned;
}

// render()'s output of one frame alone.
std::vector<std::uint8_t> renderAlone(const Plan& planned, const Image& heights, std::uint32_t seed,
                                      rdsgen::OutputFormat format, std::int32_t pngLevel = 6) {
    rdsgen::RenderOptions options;
    options.seed = seed;
    options.format = format;
    options.pngLevel = pngLevel;
    MemorySink sink;
    const Status status = rdsgen::render(planned, heights, nullptr, options, sink.rowSink());
    EXPECT_TRUE(status) << rdsgen::statusText(status);
    return sink.bytes;
}

// render()'s rows as grey bytes or red, green, blue.
std::vector<std::uint8_t> expectedPixels(const Plan& planned, const Image& heights, std::uint32_t seed) {
    std::vector<std::uint8_t> rows = renderAlone(planned, heights, seed, rdsgen::OutputFormat::kRows);
    if (!planned.outputGrey) {
        for (std::size_t i = 0; i + 2 < rows.size(); i += 3) std::swap(rows[i], rows[i + 2]);
    }
    return rows;
}

struct Written {
    Status status;
    std::vector<std::uint8_t> bytes;
};

Written writeSequence(const Plan& planned, const SequenceOptions& options, const std::vector<Image>& frames,
                      MemorySink sink = {}) {
    SequenceWriter writer;
    Status status = writer.begin(planned, options, sink.rowSink());
    for (std::size_t i = 0; status && i < frames.size(); ++i) status = writer.addFrame(frames[i], nullptr);
    if (status) status = writer.finish();
    if (status) {
        EXPECT_EQ(writer.frames(), frames.size());
    }
    return {status, sink.bytes};
}

rdsgen::Settings colourSettings() {
    rdsgen::Settings settings;
    settings.PatT = 3;  // moving dashes: colour output
    settings.PSiz = 20;
    return settings;
}

TEST(Sequence, ApngFramesAreTheRenderedFrames) {
    const std::vector<Image> frames = clip(72, 40, 3);
    for (const bool grey : {true, false}) {
        for (const bool newDots : {false, true}) {
            SCOPED_TRACE(testing::Message() << "grey " << grey << " newDots " << newDots);
            rdsgen::Settings settings = grey ? rdsgen::Settings{} : colourSettings();
            settings.PSiz = 20;
            const Plan planned = planFor(settings, frames[0]);
            SequenceOptions options;
            options.rate = 30;
            options.newDots = newDots;
            options.frames = 3;
            // The last seed wraps around to 0 and 1 with new dots.
            options.render.seed = 0xFFFFFFFEu;
            options.render.threads = 2;
            const Written written = writeSequence(planned, options, frames);
            ASSERT_TRUE(written.status) << rdsgen::statusText(written.status);
            const ApngFile apng = readApng(written.bytes);
            ASSERT_EQ(apng.error, "");
            EXPECT_EQ(apng.width, static_cast<std::uint32_t>(planned.outputWidth));
            EXPECT_EQ(apng.height, static_cast<std::uint32_t>(planned.outputHeight));
            EXPECT_EQ(apng.channels, grey ? 1 : 3);
            EXPECT_EQ(apng.plays, 0u);
            ASSERT_EQ(apng.frames.size(), 3u);
            for (std::uint32_t i = 0; i < 3; ++i) {
                const ApngFrame& frame = apng.frames[i];
                EXPECT_EQ(frame.fromIdat, i == 0);
                EXPECT_EQ(frame.delayNumerator, 1);
                EXPECT_EQ(frame.delayDenominator, 30);
                EXPECT_EQ(frame.dispose, 0);
                EXPECT_EQ(frame.blend, 0);
                const std::uint32_t seed = options.render.seed + (newDots ? i : 0);
                EXPECT_EQ(frame.pixels, expectedPixels(planned, frames[i], seed)) << "frame " << i;
            }
            // The bytes do not depend on the threads.
            options.render.threads = 1;
            EXPECT_EQ(writeSequence(planned, options, frames).bytes, written.bytes);
        }
    }
}

TEST(Sequence, PngStreamIsThePngFilesOneAfterAnother) {
    const std::vector<Image> frames = clip(72, 40, 3);
    const Plan planned = planFor(colourSettings(), frames[0]);
    SequenceOptions options;
    options.format = SequenceFormat::kPngStream;
    options.newDots = true;
    options.render.seed = 7;
    options.render.pngLevel = 3;
    MemorySink plain;
    plain.rewrites = false;  // a pipe
    const Written written = writeSequence(planned, options, frames, plain);
    ASSERT_TRUE(written.status) << rdsgen::statusText(written.status);
    std::vector<std::uint8_t> expected;
    for (std::uint32_t i = 0; i < 3; ++i) {
        const std::vector<std::uint8_t> png = renderAlone(planned, frames[i], 7 + i, rdsgen::OutputFormat::kPng, 3);
        expected.insert(expected.end(), png.begin(), png.end());
    }
    EXPECT_EQ(written.bytes, expected);
}

struct GifMemory {
    const std::vector<std::uint8_t>* bytes;
    std::size_t at = 0;
    static int read(GifFileType* gif, GifByteType* out, int count) {
        GifMemory& memory = *static_cast<GifMemory*>(gif->UserData);
        const std::size_t left = memory.bytes->size() - memory.at;
        const std::size_t take = std::min<std::size_t>(left, static_cast<std::size_t>(count));
        std::memcpy(out, memory.bytes->data() + memory.at, take);
        memory.at += take;
        return static_cast<int>(take);
    }
};

// Decodes a GIF with giflib and checks each frame against expected pixels
// (grey or red-green-blue), its delay and its colour map's size.
void checkGif(const std::vector<std::uint8_t>& bytes, const std::vector<std::vector<std::uint8_t>>& expected,
              int width, int height, int channels, int delay) {
    GifMemory memory{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&memory, GifMemory::read, &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    EXPECT_EQ(gif->SWidth, width);
    EXPECT_EQ(gif->SHeight, height);
    ASSERT_EQ(gif->ImageCount, static_cast<int>(expected.size()));
    // The loop: NETSCAPE2.0 with a count of 0 (forever) before the first frame.
    bool loops = false;
    const SavedImage& first = gif->SavedImages[0];
    for (int k = 0; k + 1 < first.ExtensionBlockCount; ++k) {
        const ExtensionBlock& block = first.ExtensionBlocks[k];
        const ExtensionBlock& next = first.ExtensionBlocks[k + 1];
        loops = loops || (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                          std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && next.ByteCount == 3 &&
                          next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0);
    }
    EXPECT_TRUE(loops);
    for (int i = 0; i < gif->ImageCount; ++i) {
        SCOPED_TRACE(testing::Message() << "frame " << i);
        const SavedImage& image = gif->SavedImages[i];
        GraphicsControlBlock control;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
        EXPECT_EQ(control.DelayTime, delay);
        EXPECT_EQ(control.TransparentColor, NO_TRANSPARENT_COLOR);
        ASSERT_NE(image.ImageDesc.ColorMap, nullptr);
        EXPECT_EQ(image.ImageDesc.Width, width);
        EXPECT_EQ(image.ImageDesc.Height, height);
        const ColorMapObject& map = *image.ImageDesc.ColorMap;
        std::vector<std::uint8_t> pixels;
        std::vector<bool> used(static_cast<std::size_t>(map.ColorCount));
        for (int p = 0; p < width * height; ++p) {
            const int index = image.RasterBits[p];
            ASSERT_LT(index, map.ColorCount);
            used[static_cast<std::size_t>(index)] = true;
            const GifColorType colour = map.Colors[index];
            if (channels == 1) {
                EXPECT_TRUE(colour.Red == colour.Green && colour.Green == colour.Blue);
                pixels.push_back(colour.Red);
            } else {
                pixels.insert(pixels.end(), {colour.Red, colour.Green, colour.Blue});
            }
        }
        EXPECT_EQ(pixels, expected[static_cast<std::size_t>(i)]);
        // The smallest power of two (at least 2) that holds the colours used.
        int count = 0;
        for (const bool u : used) count += u;
        EXPECT_EQ(map.ColorCount, std::max(2, 1 << GifBitSize(count)));
    }
    DGifCloseFile(gif, &error);
}

TEST(Sequence, GifFramesAreTheRenderedFrames) {
    const std::vector<Image> frames = clip(72, 40, 3);
    // Grey dots, and five-colour dots without gradients (few colours).
    rdsgen::Settings five;
    five.PatT = 4;
    five.PSiz = 20;
    five.BotF = five.TopF;
    five.BotB = five.TopB;
    for (const rdsgen::Settings& settings : {rdsgen::Settings{}, five}) {
        const Plan planned = planFor(settings, frames[0]);
        SCOPED_TRACE(testing::Message() << "grey " << planned.outputGrey);
        SequenceOptions options;
        options.format = SequenceFormat::kGif;
        options.rate = 8;  // 12.5 hundredths, rounded up
        options.newDots = true;
        const Written written = writeSequence(planned, options, frames);
        ASSERT_TRUE(written.status) << rdsgen::statusText(written.status);
        std::vector<std::vector<std::uint8_t>> expected;
        for (std::uint32_t i = 0; i < 3; ++i) expected.push_back(expectedPixels(planned, frames[i], 1 + i));
        checkGif(written.bytes, expected, planned.outputWidth, planned.outputHeight, planned.outputGrey ? 1 : 3, 13);
    }
}

TEST(Sequence, GifFrameWithTooManyColoursIsRefused) {
    const std::vector<Image> frames = clip(200, 120, 2);
    rdsgen::Settings settings;
    settings.PatT = 7;  // soft discs over a gradient: far more than 256 colours
    const Plan planned = planFor(settings, frames[0]);
    SequenceOptions options;
    options.format = SequenceFormat::kGif;
    MemorySink sink;
    SequenceWriter writer;
    ASSERT_TRUE(writer.begin(planned, options, sink.rowSink()));
    const std::size_t before = sink.bytes.size();
    const Status status = writer.addFrame(frames[0], nullptr);
    EXPECT_EQ(status.code, StatusCode::kTooManyColours);
    EXPECT_EQ(status.detail[0], 0);
    EXPECT_EQ(sink.bytes.size(), before);  // nothing of the frame written
    EXPECT_EQ(writer.frames(), 0u);
    // The sequence is over.
    EXPECT_EQ(writer.addFrame(frames[1], nullptr).code, StatusCode::kSequenceOrder);
    EXPECT_EQ(writer.finish().code, StatusCode::kSequenceOrder);
}

TEST(Sequence, ApngOfUnknownLengthIsPatchedAtTheEnd) {
    const std::vector<Image> frames = clip(72, 40, 3);
    const Plan planned = planFor(rdsgen::Settings{}, frames[0]);
    SequenceOptions options;  // frames: 0, not known
    MemorySink pipe;
    pipe.rewrites = false;
    SequenceWriter refused;
    const Status status = refused.begin(planned, options, pipe.rowSink());
    EXPECT_EQ(status.code, StatusCode::kInvalidSetting);
    EXPECT_TRUE(pipe.bytes.empty());

    const Written written = writeSequence(planned, options, frames);
    ASSERT_TRUE(written.status) << rdsgen::statusText(written.status);
    const ApngFile apng = readApng(written.bytes);
    ASSERT_EQ(apng.error, "");
    EXPECT_EQ(apng.frameCount, 3u);
    // Announced wrongly (5 for 3): patched too; without rewriting, refused.
    options.frames = 5;
    EXPECT_EQ(writeSequence(planned, options, frames).bytes, written.bytes);
    EXPECT_EQ(writeSequence(planned, options, frames, pipe).status.code, StatusCode::kSequenceOrder);
    options.frames = 2;
    EXPECT_EQ(writeSequence(planned, options, frames, pipe).status.code, StatusCode::kSequenceOrder);
}

TEST(Sequence, SameDotsKeepStillFramesStill) {
    const Image still = movingDisc(72, 40, 0);
    std::vector<Image> frames;
    frames.push_back(movingDisc(72, 40, 0));
    frames.push_back(movingDisc(72, 40, 0));
    const Plan planned = planFor(rdsgen::Settings{}, still);
    SequenceOptions options;
    options.frames = 2;
    for (const bool newDots : {false, true}) {
        options.newDots = newDots;
        const Written written = writeSequence(planned, options, frames);
        const ApngFile apng = readApng(written.bytes);
        ASSERT_EQ(apng.error, "");
        ASSERT_EQ(apng.frames.size(), 2u);
        EXPECT_EQ(apng.frames[0].pixels == apng.frames[1].pixels, !newDots);
    }
}

TEST(Sequence, CallsOutOfOrderAndFailedWrites) {
    const std::vector<Image> frames = clip(72, 40, 2);
    const Plan planned = planFor(rdsgen::Settings{}, frames[0]);
    MemorySink sink;
    {
        SequenceWriter writer;
        EXPECT_EQ(writer.addFrame(frames[0], nullptr).code, StatusCode::kSequenceOrder);
        EXPECT_EQ(writer.finish().code, StatusCode::kSequenceOrder);
        EXPECT_EQ(writer.begin(Plan{}, SequenceOptions{}, sink.rowSink()).code, StatusCode::kNotPrepared);
        SequenceOptions options;
        options.rate = 0;
        EXPECT_EQ(writer.begin(planned, options, sink.rowSink()).code, StatusCode::kInvalidSetting);
        // An animated PNG needs a frame.
        ASSERT_TRUE(writer.begin(planned, SequenceOptions{}, sink.rowSink()));
        EXPECT_EQ(writer.begin(planned, SequenceOptions{}, sink.rowSink()).code, StatusCode::kSequenceOrder);
        EXPECT_EQ(writer.finish().code, StatusCode::kSequenceOrder);
    }
    // A sink that fails, or throws, inside a later frame of each format.
    for (const SequenceFormat format : {SequenceFormat::kApng, SequenceFormat::kGif, SequenceFormat::kPngStream}) {
        SequenceOptions options;
        options.format = format;
        options.frames = 2;
        const std::size_t whole = writeSequence(planned, options, frames).bytes.size();
        for (const bool throws : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(format) << " throws " << throws);
            MemorySink failing;
            failing.failAfter = whole - 40;
            failing.throwInstead = throws;
            const Written written = writeSequence(planned, options, frames, failing);
            EXPECT_EQ(written.status.code, throws ? StatusCode::kCallbackFailed : StatusCode::kWriteFailed);
        }
    }
}

// The frame filter sees render()'s PNG in whole chunks; any other split
// of the same bytes must give the same frame.
TEST(Sequence, ApngFrameFilterTakesPiecesOfAnySize) {
    const Image heights = movingDisc(72, 40, 0);
    const Plan planned = planFor(colourSettings(), heights);
    const std::vector<std::uint8_t> png = renderAlone(planned, heights, 3, rdsgen::OutputFormat::kPng);
    for (const bool first : {true, false}) {
        std::vector<std::uint8_t> whole;
        for (const std::size_t piece : {png.size(), std::size_t{1}, std::size_t{7}}) {
            MemorySink sink;
            rdsgen::SequenceOutput out{sink.rowSink()};
            std::uint32_t sequence = 5;
            rdsgen::ApngFrameFilter filter(out, first, sequence);
            for (std::size_t at = 0; at < png.size(); at += piece) {
                ASSERT_TRUE(filter.write(png.data() + at, std::min(piece, png.size() - at)));
            }
            EXPECT_TRUE(filter.complete());
            if (whole.empty()) whole = sink.bytes;
            EXPECT_EQ(sink.bytes, whole) << "pieces of " << piece;
        }
        // The first frame keeps the IDAT chunks as they are.
        const std::vector<std::uint8_t> idat(png.begin() + 33, png.end() - 12);
        EXPECT_EQ(whole == idat, first);
    }
}

}  // namespace
