// Frame sequences in memory: small height frames made from the input bytes
// go through the animated PNG or GIF writer with one of a few settings, and
// the file is decoded again (the tests' APNG reader, giflib's decoder). Every
// frame must equal render()'s rows of that frame with the same seed; a GIF
// is refused only for a frame that really has more than 256 colours.
//
// Input: settings, width, height, frames, flags (format, new dots, threads,
// frame count announced), then the heights, repeated as needed.
#include <gif_lib.h>

#include <cstring>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "sequence/apng_reader.h"

namespace {

void (*const kSettings[])(rdsgen::Settings&) = {
    [](rdsgen::Settings& s) { s.PSiz = 8; },
    [](rdsgen::Settings& s) { s.PSiz = 12, s.PatT = 2, s.Hidden = 1; },
    [](rdsgen::Settings& s) { s.PSiz = 9, s.PatT = 4, s.BotF = s.TopF, s.BotB = s.TopB; },
    [](rdsgen::Settings& s) { s.PSiz = 10, s.PatT = 3, s.CutOff = 1; },
    [](rdsgen::Settings& s) { s.PSiz = 6, s.PatT = 7, s.Double = 1; },
};
constexpr std::size_t kSettingCount = sizeof kSettings / sizeof kSettings[0];

struct Memory {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    static bool write(void* context, const std::uint8_t* data, std::size_t count) {
        auto& memory = *static_cast<Memory*>(context);
        memory.bytes.insert(memory.bytes.end(), data, data + count);
        return true;
    }
    static bool rewrite(void* context, std::uint64_t offset, const std::uint8_t* data, std::size_t count) {
        auto& memory = *static_cast<Memory*>(context);
        if (offset + count > memory.bytes.size()) return false;
        std::memcpy(memory.bytes.data() + offset, data, count);
        return true;
    }
    static int read(GifFileType* gif, GifByteType* out, int count) {
        auto& memory = *static_cast<Memory*>(gif->UserData);
        const std::size_t take = std::min(memory.bytes.size() - memory.at, static_cast<std::size_t>(count));
        std::memcpy(out, memory.bytes.data() + memory.at, take);
        memory.at += take;
        return static_cast<int>(take);
    }
};

// render()'s rows of one frame, grey or red-green-blue.
std::vector<std::uint8_t> renderedPixels(const rdsgen::Plan& planned, const rdsgen::Image& heights,
                                         std::uint32_t seed) {
    rdsgen::RenderOptions options;
    options.seed = seed;
    options.format = rdsgen::OutputFormat::kRows;
    Memory rows;
    fuzz::require(static_cast<bool>(rdsgen::render(planned, heights, nullptr, options, {Memory::write, &rows})),
                  "a planned frame renders");
    if (!planned.outputGrey) {
        for (std::size_t i = 0; i + 2 < rows.bytes.size(); i += 3) std::swap(rows.bytes[i], rows.bytes[i + 2]);
    }
    return rows.bytes;
}

std::size_t colourCount(const std::vector<std::uint8_t>& pixels, int channels) {
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i + channels <= pixels.size(); i += channels) {
        std::uint32_t colour = 0;
        for (int c = 0; c < channels; ++c) colour = colour << 8 | pixels[i + c];
        colours.insert(colour);
    }
    return colours.size();
}

// The GIF's frames as grey or red-green-blue pixels.
std::vector<std::vector<std::uint8_t>> decodeGif(Memory& file, int channels) {
    int error = 0;
    GifFileType* gif = DGifOpen(&file, Memory::read, &error);
    fuzz::require(gif != nullptr, "the GIF opens");
    fuzz::require(DGifSlurp(gif) == GIF_OK, "the GIF decodes");
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const ColorMapObject* map = image.ImageDesc.ColorMap;
        fuzz::require(map != nullptr, "a local colour map");
        std::vector<std::uint8_t> pixels;
        const int count = image.ImageDesc.Width * image.ImageDesc.Height;
        for (int p = 0; p < count; ++p) {
            fuzz::require(image.RasterBits[p] < map->ColorCount, "indexes inside the map");
            const GifColorType colour = map->Colors[image.RasterBits[p]];
            if (channels == 1) {
                pixels.push_back(colour.Red);
            } else {
                pixels.insert(pixels.end(), {colour.Red, colour.Green, colour.Blue});
            }
        }
        frames.push_back(std::move(pixels));
    }
    DGifCloseFile(gif, &error);
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    rdsgen::Settings settings;
    kSettings[data[0] % kSettingCount](settings);
    const int width = 4 + data[1] % 40;
    const int height = 1 + data[2] % 24;
    const std::uint32_t frameCount = 1 + data[3] % 4;
    const std::uint8_t flags = data[4];
    const std::uint8_t* heightBytes = data + 5;
    const std::size_t heightCount = size - 5;

    std::vector<rdsgen::Image> frames;
    std::size_t next = 0;
    for (std::uint32_t f = 0; f < frameCount; ++f) {
        rdsgen::Image image = rdsgen::makeImage(width, height, rdsgen::PixelKind::kGrey8);
        for (int i = 0; i < width * height; ++i) image.pixels[static_cast<std::size_t>(i)] = heightBytes[next++ % heightCount];
        frames.push_back(std::move(image));
    }
    const rdsgen::Plan planned = rdsgen::plan(settings, rdsgen::headerOf(frames[0]));
    if (!planned) return 0;

    rdsgen::SequenceOptions options;
    options.format = flags & 1 ? rdsgen::SequenceFormat::kGif : rdsgen::SequenceFormat::kApng;
    options.newDots = flags & 2;
    options.render.threads = flags & 4 ? 2 : 1;
    options.frames = flags & 8 ? frameCount : 0;
    options.rate = 1 + flags / 16;
    options.render.seed = 0xFFFFFFFDu + (flags >> 5);
    Memory file;
    rdsgen::SequenceWriter writer;
    fuzz::require(static_cast<bool>(writer.begin(planned, options, {Memory::write, &file, Memory::rewrite})),
                  "the sequence begins");
    const int channels = planned.outputGrey ? 1 : 3;
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::uint32_t f = 0; f < frameCount; ++f) {
        expected.push_back(renderedPixels(planned, frames[f], options.render.seed + (options.newDots ? f : 0)));
        const rdsgen::Status status = writer.addFrame(frames[f], nullptr);
        if (status.code == rdsgen::StatusCode::kTooManyColours) {
            fuzz::require(options.format == rdsgen::SequenceFormat::kGif && status.detail[0] == f &&
                              colourCount(expected.back(), channels) > 256,
                          "only a GIF frame of over 256 colours is refused");
            return 0;
        }
        fuzz::require(static_cast<bool>(status), "a frame is written");
    }
    fuzz::require(static_cast<bool>(writer.finish()), "the sequence finishes");

    if (options.format == rdsgen::SequenceFormat::kApng) {
        const ApngFile apng = readApng(file.bytes);
        fuzz::require(apng.error.empty(), "the APNG reads");
        fuzz::require(apng.frames.size() == frameCount, "every APNG frame");
        for (std::uint32_t f = 0; f < frameCount; ++f) {
            fuzz::require(apng.frames[f].pixels == expected[f], "the APNG frame is the rendered frame");
        }
    } else {
        const std::vector<std::vector<std::uint8_t>> gif = decodeGif(file, channels);
        fuzz::require(gif == expected, "the GIF frames are the rendered frames");
    }
    return 0;
}
