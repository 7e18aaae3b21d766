// The npm package's C interface to the engine, for its WebAssembly build.
//
// ABOUT
//   One call makes one stereogram: the options as command-line arguments,
//   the height image as a file the engine reads (TARGA, or PNG with its
//   image data inflated by the caller) or as raw samples, and the pattern
//   image's file when /PatT names one. The options are read by the command
//   line's own code (parser, settings, colours, seed), so a run gives the
//   command line's bytes. The result (the TARGA file, or the refusal's
//   text, and the warnings) stays until the next call.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "png_inflated.h"
#include "rdsgen/rdsgen.h"
#include "run/run.h"
#include "texts.h"

namespace {

struct Result {
    std::vector<std::uint8_t> file;
    rdsgen::Plan plan;
    std::string message;  // the refusal's text, "" after a completed run
    std::string json;     // the warnings, as a JSON array of texts
};

Result& result() {
    static Result instance;
    return instance;
}

bool append(void* context, const std::uint8_t* bytes, std::size_t count) {
    auto& file = *static_cast<std::vector<std::uint8_t>*>(context);
    file.insert(file.end(), bytes, bytes + count);
    return true;
}

// Raw samples into an image: kind 1 8-bit grey, 2 16-bit grey (little
// endian), 3 24-bit grey (three bytes, little endian), 4 RGB.
rdsgen::Status rawImage(const std::uint8_t* samples, std::uint32_t size, std::int32_t width, std::int32_t height,
                        std::int32_t kind, rdsgen::Image& image) {
    const rdsgen::PixelKind kinds[] = {rdsgen::PixelKind::kGrey8, rdsgen::PixelKind::kGrey16,
                                       rdsgen::PixelKind::kGrey24, rdsgen::PixelKind::kColour};
    if (kind < 1 || kind > 4 || width < 0 || height < 0 || width > 65535 || height > 65535) {
        return rdsgen::makeStatus(rdsgen::StatusCode::kImageTooLarge, width, height);
    }
    image = rdsgen::makeImage(width, height, kinds[kind - 1]);
    if (!image.pixels) return rdsgen::makeStatus(rdsgen::StatusCode::kImageNoMemory);
    const std::size_t bytes = static_cast<std::size_t>(image.rowBytes) * static_cast<std::size_t>(height);
    if (size < bytes) return rdsgen::makeStatus(rdsgen::StatusCode::kTgaEndOfFile);
    if (kind != 4) {
        std::memcpy(image.pixels.get(), samples, bytes);
        return {};
    }
    for (std::size_t i = 0; i < bytes; i += 3) {  // RGB to the engine's blue, green, red
        image.pixels[i] = samples[i + 2];
        image.pixels[i + 1] = samples[i + 1];
        image.pixels[i + 2] = samples[i];
    }
    return {};
}

// A PNG, JPEG or TARGA file, told apart by its first bytes as the command
// line does. A PNG file comes with its image data inflated by the caller
// (DecompressionStream) and is read by the command line's rules; JPEG files
// are refused, this build having no decoder for them.
rdsgen::Status decodeFile(const std::uint8_t* file, std::uint32_t size, const std::uint8_t* inflated,
                          std::uint32_t inflatedSize, rdsgen::Image& image) {
    const std::span<const std::uint8_t> bytes(file, size);
    static constexpr std::uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static constexpr std::uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
    if (size >= sizeof kPng && std::memcmp(file, kPng, sizeof kPng) == 0) {
        return rdsgen::readInflatedPng(bytes, std::span<const std::uint8_t>(inflated, inflatedSize), image);
    }
    if (size >= sizeof kJpeg && std::memcmp(file, kJpeg, sizeof kJpeg) == 0) return rdsgen::readJpeg(bytes, image);
    return rdsgen::readTga(bytes, image);
}

int refuse(const std::string& text) {
    result().message = text;
    return 1;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE std::uint8_t* rdsgen_npm_alloc(std::uint32_t size) {
    return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

EMSCRIPTEN_KEEPALIVE void rdsgen_npm_free(std::uint8_t* block) { std::free(block); }

// Makes a stereogram. args: the options, each ended by a NUL. heights: a
// file (rawKind 0) or raw samples (rawKind 1..4, rawWidth x rawHeight).
// pattern: the pattern image's file (size 0: none). heightsData and
// patternData: a PNG file's inflated image data (size 0 for other files).
// clockSeed: the seed when the options give none (or 0). Returns 0 after a
// completed run, 1 after a refusal (rdsgen_npm_message).
EMSCRIPTEN_KEEPALIVE int rdsgen_npm_render(const char* args, std::uint32_t argsSize, const std::uint8_t* heights,
                                           std::uint32_t heightsSize, const std::uint8_t* heightsData,
                                           std::uint32_t heightsDataSize, std::int32_t rawWidth,
                                           std::int32_t rawHeight, std::int32_t rawKind, const std::uint8_t* pattern,
                                           std::uint32_t patternSize, const std::uint8_t* patternData,
                                           std::uint32_t patternDataSize, std::uint32_t clockSeed) {
    Result& out = result();
    out = Result{};
    out.json = "[]";

    // The options as the command line reads them, after its two file names.
    const std::vector<std::string> texts = rdsgen::splitTexts(args, argsSize);
    std::vector<const char*> argv = {"rdsgen", "--", "heights", "stereogram"};
    std::vector<const char*> given;
    for (const std::string& text : texts) given.push_back(text.c_str());
    argv.insert(argv.begin() + 1, given.begin(), given.end());
    std::vector<std::string> slots;
    std::vector<std::string> refusals;
    if (rdsgen::parseOptions(slots, rdsgen::kOptionTable, static_cast<int>(argv.size()), argv.data(), refusals) != 0) {
        return refuse(refusals.front().substr(std::strlen("ERROR: ")));
    }
    if (!slots[rdsgen::kSlotHelp].empty() || !slots[rdsgen::kSlotQuestion].empty()) {
        return refuse("/h and /? ask for the command line's usage; they make no stereogram.");
    }
    rdsgen::Settings settings;
    rdsgen::StartValues start;
    std::vector<std::string> warnings;
    rdsgen::convertSlots(slots, settings, start, warnings);
    rdsgen::setColours(settings, start.topF, start.botF, start.topB, start.botB);

    rdsgen::Image heightImage;
    rdsgen::Status status =
        rawKind == 0 ? decodeFile(heights, heightsSize, heightsData, heightsDataSize, heightImage)
                     : rawImage(heights, heightsSize, rawWidth, rawHeight, rawKind, heightImage);
    if (!status) return refuse(rdsgen::statusText(status));

    rdsgen::Image patternImage;
    const bool patternFile = rdsgen::patternType(settings.PatT) == nullptr;
    if (patternFile) {
        if (patternSize == 0) return refuse("/PatT names a pattern image, but no pattern image was given.");
        status = decodeFile(pattern, patternSize, patternData, patternDataSize, patternImage);
        if (!status) return refuse(rdsgen::statusText(status));
    }
    const rdsgen::ImageHeader patternHeader = rdsgen::headerOf(patternImage);
    out.plan = rdsgen::plan(settings, rdsgen::headerOf(heightImage), patternFile ? &patternHeader : nullptr);
    for (unsigned bit = 1; bit != 0; bit <<= 1) {
        if (out.plan.warnings & bit) warnings.push_back(rdsgen::planWarningText(bit));
    }
    out.json = rdsgen::jsonTexts(warnings);
    if (out.plan.stage == rdsgen::PlanStage::kPatternImage) return refuse("Pattern image has no pixels.");
    if (!out.plan) return refuse(rdsgen::statusText(out.plan.refusal));

    out.file.reserve(static_cast<std::size_t>(out.plan.tgaBytes));
    rdsgen::RenderOptions options;
    options.seed = static_cast<std::uint32_t>(start.seed != 0 ? start.seed : static_cast<std::int32_t>(clockSeed));
    options.threads = 1;
    status = rdsgen::render(out.plan, heightImage, patternFile ? &patternImage : nullptr, options,
                            rdsgen::RowSink{append, &out.file});
    if (!status) {
        out.file.clear();
        return refuse(rdsgen::statusText(status));
    }
    return 0;
}

EMSCRIPTEN_KEEPALIVE const char* rdsgen_npm_message() { return result().message.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* rdsgen_npm_warnings() { return result().json.c_str(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* rdsgen_npm_output() { return result().file.data(); }
EMSCRIPTEN_KEEPALIVE std::uint32_t rdsgen_npm_output_size() { return static_cast<std::uint32_t>(result().file.size()); }
EMSCRIPTEN_KEEPALIVE int rdsgen_npm_output_width() { return result().plan.outputWidth; }
EMSCRIPTEN_KEEPALIVE int rdsgen_npm_output_height() { return result().plan.outputHeight; }
EMSCRIPTEN_KEEPALIVE int rdsgen_npm_output_grey() { return result().plan.outputGrey ? 1 : 0; }

// Releases the last result's memory.
EMSCRIPTEN_KEEPALIVE void rdsgen_npm_clear() { result() = Result{}; }

}  // extern "C"
