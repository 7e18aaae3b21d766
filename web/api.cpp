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
#include <string>
#include <utility>

#include "rdsgen/rdsgen.h"

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

struct Session {
    rdsgen::Image images[2];  // 0: heights, 1: pattern
    rdsgen::Bytes output;    // the TARGA file of the last run
    std::size_t outputSize = 0;
    std::size_t written = 0;
    rdsgen::Bytes rgba;      // its pixels for a canvas, once asked for
    rdsgen::RowGeometry geometry;
    rdsgen::Status status;
    unsigned warnings = 0;
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

rdsgen::Status failure(rdsgen::StatusCode code) {
    rdsgen::Status status;
    status.code = code;
    return status;
}

bool validSlot(int slot) { return slot == 0 || slot == 1; }

EM_JS(void, reportProgress, (int stage, int done, int total), {
    if (Module.onProgress) Module.onProgress(stage, done, total);
});

// The output block holds the whole file, whose size the geometry gives.
bool appendOutput(void* context, const std::uint8_t* bytes, std::size_t count) {
    Session& s = *static_cast<Session*>(context);
    if (count > s.outputSize - s.written) return false;
    std::memcpy(s.output.get() + s.written, bytes, count);
    s.written += count;
    return true;
}

void forwardProgress(void*, rdsgen::Stage stage, std::int32_t done, std::int32_t total) {
    reportProgress(static_cast<int>(stage), done, total);
}

rdsgen::Colour difference(const rdsgen::Colour& bottom, const rdsgen::Colour& top) {
    return rdsgen::Colour{static_cast<std::int16_t>(bottom.red - top.red),
                          static_cast<std::int16_t>(bottom.green - top.green),
                          static_cast<std::int16_t>(bottom.blue - top.blue)};
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
    settings.TopF = rdsgen::splitColour(o[kTopF]);
    settings.DiffF = difference(rdsgen::splitColour(o[kBotF]), settings.TopF);
    settings.TopB = rdsgen::splitColour(o[kTopB]);
    settings.DiffB = difference(rdsgen::splitColour(o[kBotB]), settings.TopB);
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

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int rdsgen_web_option_count() { return kOptionCount; }

EMSCRIPTEN_KEEPALIVE std::uint8_t* rdsgen_web_alloc(std::uint32_t size) {
    return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

EMSCRIPTEN_KEEPALIVE void rdsgen_web_free(std::uint8_t* block) { std::free(block); }

// Decodes a TARGA file into image slot 0 (heights) or 1 (pattern). Returns
// the status code; after a failure the slot keeps the image it had.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_tga(int slot, const std::uint8_t* file, std::uint32_t size) {
    if (!validSlot(slot)) return static_cast<int>(finish(failure(rdsgen::StatusCode::kCantOpenFile)).code);
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readTga(std::span<const std::uint8_t>(file, size), image);
    if (status) session().images[slot] = std::move(image);
    return static_cast<int>(finish(status).code);
}

// Makes image slot 0 or 1 from RGBA pixels (see RGBA PIXELS above); as
// rdsgen_web_load_tga for failures.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_rgba(int slot, const std::uint8_t* rgba, std::int32_t width,
                                              std::int32_t height) {
    if (!validSlot(slot)) return static_cast<int>(finish(failure(rdsgen::StatusCode::kCantOpenFile)).code);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    bool grey = true;
    for (std::size_t i = 0; i < pixels && grey; ++i) {
        const std::uint8_t* p = rgba + 4 * i;
        grey = p[0] == p[1] && p[1] == p[2];
    }
    rdsgen::Image made = rdsgen::makeImage(width, height, grey ? rdsgen::PixelKind::kGrey8 : rdsgen::PixelKind::kColour);
    if (!made.pixels) return static_cast<int>(finish(failure(rdsgen::StatusCode::kImageNoMemory)).code);
    std::uint8_t* out = made.pixels.get();
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = rgba + 4 * i;
        const unsigned alpha = p[3];
        // round(v * alpha / 255) for v, alpha in 0..255.
        const auto over = [alpha](unsigned v) { return static_cast<std::uint8_t>((v * alpha * 2 + 255) / 510); };
        if (grey) {
            out[i] = over(p[0]);
        } else {
            out[3 * i] = over(p[2]);
            out[3 * i + 1] = over(p[1]);
            out[3 * i + 2] = over(p[0]);
        }
    }
    session().images[slot] = std::move(made);
    return static_cast<int>(finish({}).code);
}

EMSCRIPTEN_KEEPALIVE void rdsgen_web_clear_image(int slot) {
    if (validSlot(slot)) session().images[slot] = rdsgen::Image{};
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

// Checks the options against an image of the given size that is not held
// yet (the browser has not decoded its pixels): an image whose stereogram
// would be refused is refused before its pixels are made.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_check_size(const std::int32_t* options, std::int32_t width,
                                               std::int32_t height) {
    rdsgen::Settings settings = settingsFrom(options);
    rdsgen::Image header;
    header.width = width;
    header.height = height;
    rdsgen::RowGeometry geometry;
    unsigned warnings = 0;
    // A pattern image is not needed for the sizes: a pattern type is taken.
    if (settings.PatT < 1 || settings.PatT > 7) settings.PatT = 1;
    return static_cast<int>(finish(rdsgen::prepareStereogram(settings, header, nullptr, geometry, warnings)).code);
}

// Makes the stereogram of the held images with the options; returns the
// status code. The TARGA file stays until the next run.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_render(const std::int32_t* options, std::uint32_t seed) {
    Session& s = session();
    s.output.reset();
    s.rgba.reset();
    s.outputSize = s.written = 0;
    s.warnings = 0;
    const rdsgen::Image& heights = s.images[0];
    if (!heights.pixels) return static_cast<int>(finish(failure(rdsgen::StatusCode::kCantOpenFile)).code);
    rdsgen::Settings settings = settingsFrom(options);
    const rdsgen::Image* pattern = s.images[1].pixels ? &s.images[1] : nullptr;
    rdsgen::Status status = rdsgen::prepareStereogram(settings, heights, pattern, s.geometry, s.warnings);
    if (!status) return static_cast<int>(finish(status).code);

    s.outputSize =
        18 + static_cast<std::size_t>(s.geometry.outputRowBytes) * static_cast<std::size_t>(s.geometry.outputHeight);
    s.output = rdsgen::allocateBytes(s.outputSize);
    if (!s.output) return static_cast<int>(finish(failure(rdsgen::StatusCode::kNoMemory)).code);
    rdsgen::RenderOptions render;
    render.seed = seed;
    render.threads = 1;
    render.format = rdsgen::OutputFormat::kTga;
    status = rdsgen::renderStereogram(settings, s.geometry, heights, settings.PatT == 0 ? pattern : nullptr,
                                      render, rdsgen::RowSink{appendOutput, &s},
                                      rdsgen::Progress{forwardProgress, nullptr});
    if (!status || s.written != s.outputSize) {
        s.output.reset();
        s.outputSize = s.written = 0;
    }
    return static_cast<int>(finish(status).code);
}

EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_message() { return session().message.c_str(); }
EMSCRIPTEN_KEEPALIVE unsigned rdsgen_web_warnings() { return session().warnings; }

EMSCRIPTEN_KEEPALIVE const std::uint8_t* rdsgen_web_output() { return session().output.get(); }
EMSCRIPTEN_KEEPALIVE std::uint32_t rdsgen_web_output_size() {
    return static_cast<std::uint32_t>(session().written);
}
EMSCRIPTEN_KEEPALIVE int rdsgen_web_output_width() { return session().geometry.outputWidth; }
EMSCRIPTEN_KEEPALIVE int rdsgen_web_output_height() { return session().geometry.outputHeight; }

// The last run's pixels as RGBA, top row first, for a canvas; null when
// there is no output or no memory for the copy.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* rdsgen_web_output_rgba() {
    Session& s = session();
    const rdsgen::RowGeometry& g = s.geometry;
    const std::size_t pixels = static_cast<std::size_t>(g.outputWidth) * static_cast<std::size_t>(g.outputHeight);
    if (!s.output || s.written != 18 + pixels * (g.outputGrey ? 1 : 3) || pixels == 0) return nullptr;
    if (!s.rgba) s.rgba = rdsgen::allocateBytes(4 * pixels);
    if (!s.rgba) return nullptr;
    const std::uint8_t* in = s.output.get() + 18;
    std::uint8_t* out = s.rgba.get();
    for (std::size_t i = 0; i < pixels; ++i, out += 4) {
        if (g.outputGrey) {
            out[0] = out[1] = out[2] = in[i];
        } else {
            out[0] = in[3 * i + 2];
            out[1] = in[3 * i + 1];
            out[2] = in[3 * i];
        }
        out[3] = 255;
    }
    return s.rgba.get();
}

}  // extern "C"
