// The page's C interface to the engine, for the WebAssembly build.
//
// ABOUT
//   The page's worker holds one instance of this module. It hands over the
//   height image (and a pattern image) as TARGA file bytes, decoded here by
//   the engine, or as RGBA pixels that the browser decoded; then the options
//   as an array of numbers (RdsgenOption order) and a seed; and reads back
//   the TARGA file the run wrote, its pixels as RGBA for the canvas, and the
//   status and its text.
//
// RGBA PIXELS
//   A pixel is composited over black: each of red, green and blue becomes
//   round(v * alpha / 255). When every pixel of the image is then grey
//   (red = green = blue) the image is 8-bit grey and its heights are the grey
//   values; otherwise it is a colour image (4 x blue + 17 x green + 9 x red).
//
// The run is single-threaded (RenderOptions.threads = 1): the WebAssembly
// build has no threads.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "rdsgen/rdsgen.h"
#include "run/run.h"

namespace {

// The options array as the page sends it; the names are the Settings fields,
// and the four colours are rrrgggbbb numbers (top and bottom, as given).
enum RdsgenOption {
    kPatT, kPSiz, kPsizInStripes, kPsizGiven, kPUse, kPPos, kDens, kFocP,
    kTopF, kBotF, kTopB, kBotB,
    kStretA, kStretX, kStretY, kStretR, kStretP, kStretZ,
    kNoRD, kTrueOut, kVInc, kInv, kCutOff, kHidden, kDouble,
    kOptionCount
};

// A block of memory kept from run to run, grown when a run needs more.
struct Buffer {
    std::unique_ptr<std::uint8_t, decltype(&std::free)> block{nullptr, &std::free};
    std::size_t capacity = 0;

    bool reserve(std::size_t size) {
        if (size <= capacity) return true;
        block.reset();
        capacity = 0;
        block.reset(static_cast<std::uint8_t*>(std::malloc(size)));
        if (!block) return false;
        capacity = size;
        return true;
    }
    std::uint8_t* get() const { return block.get(); }
};

struct Session {
    rdsgen::Image images[2];  // 0: heights, 1: pattern
    Buffer output;            // the TARGA file of the last run
    std::size_t outputSize = 0;
    std::size_t written = 0;
    Buffer rgba;              // its pixels as RGBA, made as the rows arrive
    rdsgen::Plan plan;        // of the last run
    rdsgen::Status status;
    std::string message;
};

Session& session() {
    static Session instance;
    return instance;
}

rdsgen::Status finish(rdsgen::Status status) {
    Session& s = session();
    s.status = status;
    s.message = status ? std::string() : rdsgen::statusText(status);
    return status;
}

bool validSlot(int slot) { return slot == 0 || slot == 1; }

EM_JS(void, reportProgress, (int stage, int done, int total), {
    if (Module.onProgress) Module.onProgress(stage, done, total);
});

// Pixels of the output (grey: one byte; colour: blue, green, red) as RGBA,
// one 32-bit word each in memory order red, green, blue, alpha.
void toRgba(const std::uint8_t* in, std::size_t pixels, bool grey, std::uint8_t* out) {
    if (grey) {
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint32_t word = 0xFF000000u | in[i] * 0x010101u;
            std::memcpy(out + 4 * i, &word, 4);
        }
        return;
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint32_t word = 0xFF000000u | std::uint32_t{in[3 * i]} << 16 |
                                   std::uint32_t{in[3 * i + 1]} << 8 | in[3 * i + 2];
        std::memcpy(out + 4 * i, &word, 4);
    }
}

// The output block holds the whole file, whose size the geometry gives; the
// rows (whole rows after the header) are turned into RGBA while at hand.
bool appendOutput(void* context, const std::uint8_t* bytes, std::size_t count) {
    Session& s = *static_cast<Session*>(context);
    if (count > s.outputSize - s.written) return false;
    std::memcpy(s.output.get() + s.written, bytes, count);
    const std::size_t pixelBytes = s.plan.outputGrey ? 1 : 3;
    if (s.written >= 18 && (s.written - 18) % pixelBytes == 0 && count % pixelBytes == 0) {
        toRgba(bytes, count / pixelBytes, s.plan.outputGrey,
               s.rgba.get() + 4 * ((s.written - 18) / pixelBytes));
    }
    s.written += count;
    return true;
}

bool forwardProgress(void*, rdsgen::Stage stage, std::int32_t done, std::int32_t total) {
    reportProgress(static_cast<int>(stage), done, total);
    return true;
}

// The settings of an options array, as the command line makes them from its
// options: the colours split, bottom stored as the difference from top.
rdsgen::Settings settingsFrom(const std::int32_t* o) {
    rdsgen::Settings settings;
    settings.PatT = o[kPatT];
    settings.PSiz = o[kPSiz];
    settings.psizInStripes = o[kPsizInStripes] != 0;
    settings.psizGiven = o[kPsizGiven] != 0;
    settings.PUse = o[kPUse];
    settings.PPos = o[kPPos];
    settings.Dens = o[kDens];
    settings.FocP = o[kFocP];
    rdsgen::setColours(settings, o[kTopF], o[kBotF], o[kTopB], o[kBotB]);
    settings.StretA = o[kStretA];
    settings.StretX = o[kStretX];
    settings.StretY = o[kStretY];
    settings.StretR = o[kStretR];
    settings.StretP = o[kStretP];
    settings.StretZ = o[kStretZ];
    settings.NoRD = o[kNoRD];
    settings.TrueOut = o[kTrueOut];
    settings.VInc = o[kVInc];
    settings.Inv = o[kInv];
    settings.CutOff = o[kCutOff];
    settings.Hidden = o[kHidden];
    settings.Double = o[kDouble];
    return settings;
}

// Whether a height image of this size is too large for a stereogram with
// the options: such an image is refused before it is taken (and, for the
// browser's images, before its pixels are made). Refusals that a change of
// the pattern width alone mends do not count here; the run reports them.
// The pattern image is not looked at: a pattern type stands in for it.
rdsgen::Status checkSize(const std::int32_t* options, std::int32_t width, std::int32_t height) {
    rdsgen::Settings settings = settingsFrom(options);
    if (rdsgen::patternType(settings.PatT) == nullptr) settings.PatT = 1;
    const rdsgen::Plan planned = rdsgen::plan(settings, rdsgen::ImageHeader{width, height});
    switch (planned.refusal.code) {
        case rdsgen::StatusCode::kOutputTooLarge:
        case rdsgen::StatusCode::kNoMemory:
            return planned.refusal;
        default:
            return {};
    }
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int rdsgen_web_option_count() { return kOptionCount; }

EMSCRIPTEN_KEEPALIVE std::uint8_t* rdsgen_web_alloc(std::uint32_t size) {
    return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

EMSCRIPTEN_KEEPALIVE void rdsgen_web_free(std::uint8_t* block) { std::free(block); }

// Decodes a TARGA file into image slot 0 (heights) or 1 (pattern); with
// options, an image of a size they refuse is refused (checkSize). Returns
// the status code; after a failure the slot keeps the image it had.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_tga(int slot, const std::uint8_t* file, std::uint32_t size,
                                             const std::int32_t* options) {
    if (!validSlot(slot)) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    rdsgen::Image image;
    rdsgen::Status status = rdsgen::readTga(std::span<const std::uint8_t>(file, size), image);
    if (status && options != nullptr) status = checkSize(options, image.width, image.height);
    if (status) session().images[slot] = std::move(image);
    return static_cast<int>(finish(status).code);
}

// Makes image slot 0 or 1 from RGBA pixels (see RGBA PIXELS above); as
// rdsgen_web_load_tga for failures.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_rgba(int slot, const std::uint8_t* rgba, std::int32_t width,
                                              std::int32_t height) {
    if (!validSlot(slot)) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // round(v * alpha / 255) for v, alpha in 0..255.
    const auto over = [](unsigned v, unsigned alpha) { return static_cast<std::uint8_t>((v * alpha * 2 + 255) / 510); };
    bool grey = true;
    for (std::size_t i = 0; i < pixels && grey; ++i) {
        const std::uint8_t* p = rgba + 4 * i;
        const std::uint8_t red = over(p[0], p[3]);
        grey = red == over(p[1], p[3]) && red == over(p[2], p[3]);
    }
    rdsgen::Image made = rdsgen::makeImage(width, height, grey ? rdsgen::PixelKind::kGrey8 : rdsgen::PixelKind::kColour);
    if (!made.pixels) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kImageNoMemory)).code);
    std::uint8_t* out = made.pixels.get();
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = rgba + 4 * i;
        if (grey) {
            out[i] = over(p[0], p[3]);
        } else {
            out[3 * i] = over(p[2], p[3]);
            out[3 * i + 1] = over(p[1], p[3]);
            out[3 * i + 2] = over(p[0], p[3]);
        }
    }
    session().images[slot] = std::move(made);
    return static_cast<int>(finish({}).code);
}

// 0 width, 1 height, 2 pixel kind of an image slot.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_image_info(int slot, int what) {
    if (!validSlot(slot)) return 0;
    const rdsgen::Image& image = session().images[slot];
    switch (what) {
        case 0: return image.width;
        case 1: return image.height;
        default: return static_cast<int>(image.kind);
    }
}

// checkSize for the page, before the browser decodes an image.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_check_size(const std::int32_t* options, std::int32_t width,
                                               std::int32_t height) {
    return static_cast<int>(finish(checkSize(options, width, height)).code);
}

// Makes the stereogram of the held images with the options; returns the
// status code. The TARGA file stays until the next run.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_render(const std::int32_t* options, std::uint32_t seed) {
    Session& s = session();
    s.outputSize = s.written = 0;
    s.plan = rdsgen::Plan{};
    const rdsgen::Image& heights = s.images[0];
    if (!heights.pixels) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    const rdsgen::Image* pattern = s.images[1].pixels ? &s.images[1] : nullptr;
    const rdsgen::ImageHeader patternHeader = pattern != nullptr ? rdsgen::headerOf(*pattern) : rdsgen::ImageHeader{};
    s.plan = rdsgen::plan(settingsFrom(options), rdsgen::headerOf(heights), pattern != nullptr ? &patternHeader : nullptr);
    if (s.plan.stage == rdsgen::PlanStage::kNeedsPattern) {
        return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kPatternImageEmpty)).code);
    }
    if (!s.plan) return static_cast<int>(finish(s.plan.refusal).code);

    const std::size_t pixels =
        static_cast<std::size_t>(s.plan.outputWidth) * static_cast<std::size_t>(s.plan.outputHeight);
    const std::size_t fileSize = static_cast<std::size_t>(s.plan.tgaBytes);
    if (!s.output.reserve(fileSize) || !s.rgba.reserve(4 * pixels)) {
        return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kNoMemory)).code);
    }
    s.outputSize = fileSize;
    rdsgen::RenderOptions render;
    render.seed = seed;
    render.threads = 1;
    render.format = rdsgen::OutputFormat::kTga;
    const rdsgen::Status status =
        rdsgen::render(s.plan, heights, s.plan.settings.PatT == 0 ? pattern : nullptr, render,
                       rdsgen::RowSink{appendOutput, &s}, rdsgen::Progress{forwardProgress, nullptr});
    if (!status || s.written != s.outputSize) s.outputSize = s.written = 0;
    return static_cast<int>(finish(status).code);
}

EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_message() { return session().message.c_str(); }
EMSCRIPTEN_KEEPALIVE unsigned rdsgen_web_warnings() { return session().plan.warnings; }

EMSCRIPTEN_KEEPALIVE const std::uint8_t* rdsgen_web_output() {
    const Session& s = session();
    return s.written > 0 ? s.output.get() : nullptr;
}
EMSCRIPTEN_KEEPALIVE std::uint32_t rdsgen_web_output_size() {
    return static_cast<std::uint32_t>(session().written);
}
EMSCRIPTEN_KEEPALIVE int rdsgen_web_output_width() { return session().plan.outputWidth; }
EMSCRIPTEN_KEEPALIVE int rdsgen_web_output_height() { return session().plan.outputHeight; }

// The last run's pixels as RGBA, top row first, for a canvas; null when
// the last run made none.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* rdsgen_web_output_rgba() {
    const Session& s = session();
    return s.written > 0 ? s.rgba.get() : nullptr;
}

}  // extern "C"
