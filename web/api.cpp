// The page's C interface to the engine, for the WebAssembly build.
//
// ABOUT
//   The page's worker holds one instance of this module. It hands over the
//   height image (and a pattern image) as TARGA file bytes, decoded here by
//   the engine; as a PNG file with its image data inflated by the browser,
//   or a JPEG file's header with its pixels decoded by the JPEG decoder,
//   read here by the command line's rules (png_inflated.cpp); or, for the
//   formats only the browser reads, as RGBA pixels it decoded; then the
//   options as the command line's slot texts (rdsgen_web_set_slots), which
//   become settings, colours and seed exactly as on the command line; and
//   reads back the TARGA file the run wrote, its pixels as RGBA for the
//   canvas, and the status and its text. The option table, the parsing of
//   a command line and every warning text come from the command line's code
//   (src/cli), so the page holds none of its own.
//
// RGBA PIXELS (of the formats only the browser reads)
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
#include <vector>

#include "cli/cli.h"
#include "png_inflated.h"
#include "rdsgen/rdsgen.h"
#include "run/run.h"
#include "texts.h"

namespace {

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
    std::vector<std::string> slots = std::vector<std::string>(rdsgen::kSlotCount);
    rdsgen::Settings settings;  // of the slots
    rdsgen::StartValues start;
    std::vector<std::string> slotWarnings;  // the stretch letters' warnings
    std::string json;           // the last JSON answer
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

// Turns the session's slots into its settings, colours and seed.
void convertSessionSlots() {
    Session& s = session();
    std::vector<std::string> slots = s.slots;  // the stretch letters are read in place
    s.settings = rdsgen::Settings{};
    s.start = rdsgen::StartValues{};
    s.slotWarnings.clear();
    rdsgen::convertSlots(slots, s.settings, s.start, s.slotWarnings);
    rdsgen::setColours(s.settings, s.start.topF, s.start.botF, s.start.topB, s.start.botB);
}

// Whether a height image of this size is too large for a stereogram with
// the options: such an image is refused before it is taken (and, for the
// browser's images, before its pixels are made). Refusals that a change of
// the pattern width alone mends do not count here; the run reports them.
// The pattern image is not looked at: a pattern type stands in for it.
rdsgen::Status checkSize(std::int32_t width, std::int32_t height) {
    rdsgen::Settings settings = session().settings;
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

// The option table, pattern types and stretch letters as JSON.
EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_options() {
    Session& s = session();
    s.json = rdsgen::optionsJson();
    return s.json.c_str();
}

// Sets the session's slot texts (kSlotCount texts, each ended by a NUL; missing
// ones are empty) and turns them into settings, colours and seed.
EMSCRIPTEN_KEEPALIVE void rdsgen_web_set_slots(const char* joined, std::uint32_t size) {
    Session& s = session();
    s.slots = rdsgen::splitTexts(joined, size);
    s.slots.resize(rdsgen::kSlotCount);
    convertSessionSlots();
}

// Reads command-line arguments (each ended by a NUL) into fresh slots, as the
// command line does, and makes them the session's.
EMSCRIPTEN_KEEPALIVE void rdsgen_web_parse(const char* joined, std::uint32_t size) {
    Session& s = session();
    const std::vector<std::string> args = rdsgen::splitTexts(joined, size);
    std::vector<const char*> argv = {"rdsgen"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::vector<std::string> refusals;
    rdsgen::parseOptions(s.slots, rdsgen::kOptionTable, static_cast<int>(argv.size()), argv.data(), refusals);
    convertSessionSlots();
    s.json = "{\"refusals\":" + rdsgen::jsonTexts(refusals) + "}";
}

// The session's slots as JSON: the texts, the number each stands for (its
// default's when empty), the stretch letters in effect, whether the pattern
// is an image, the seed and the stretch letters' warnings.
EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_slots() {
    Session& s = session();
    std::string numbers = "[";
    for (int slot = 0; slot < rdsgen::kSlotCount; ++slot) {
        if (slot > 0) numbers += ',';
        numbers += slot < rdsgen::kPositionalSlots ? "0" : std::to_string(rdsgen::slotNumber(s.slots, slot));
    }
    const std::int32_t* flags[] = {&s.settings.StretA, &s.settings.StretX, &s.settings.StretY,
                                   &s.settings.StretR, &s.settings.StretP, &s.settings.StretZ};
    std::string letters;
    for (std::size_t k = 0; k < std::size(flags); ++k) {
        if (*flags[k] != 0) letters += rdsgen::kStretchLetters[k].letter;
    }
    s.json = "{\"slots\":" + rdsgen::jsonTexts(s.slots) + ",\"numbers\":" + numbers + "]" +
             ",\"stretch\":" + rdsgen::jsonString(letters) +
             ",\"patternImage\":" + (rdsgen::patternType(s.settings.PatT) == nullptr ? "true" : "false") +
             ",\"seed\":" + std::to_string(s.start.seed) + ",\"warnings\":" + rdsgen::jsonTexts(s.slotWarnings) + "}";
    return s.json.c_str();
}

// The warnings of the last run: the stretch letters', then the plan's.
EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_warnings() {
    Session& s = session();
    std::vector<std::string> texts = s.slotWarnings;
    for (unsigned bit = 1; bit != 0; bit <<= 1) {
        if (s.plan.warnings & bit) texts.push_back(rdsgen::planWarningText(bit));
    }
    s.json = rdsgen::jsonTexts(texts);
    return s.json.c_str();
}

// The last JSON answer (of rdsgen_web_parse or rdsgen_web_inspect).
EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_json() { return session().json.c_str(); }

EMSCRIPTEN_KEEPALIVE std::uint8_t* rdsgen_web_alloc(std::uint32_t size) {
    return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

EMSCRIPTEN_KEEPALIVE void rdsgen_web_free(std::uint8_t* block) { std::free(block); }

// Decodes a TARGA file into image slot 0 (heights) or 1 (pattern); with
// check, an image of a size the settings refuse is refused (checkSize). Returns
// the status code; after a failure the slot keeps the image it had.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_tga(int slot, const std::uint8_t* file, std::uint32_t size,
                                             int check) {
    if (!validSlot(slot)) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    rdsgen::Image image;
    rdsgen::Status status = rdsgen::readTga(std::span<const std::uint8_t>(file, size), image);
    if (status && check != 0) status = checkSize(image.width, image.height);
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

// Reads the header of a PNG or JPEG file: its sizes as shown, colour
// components and orientation (rdsgen_web_json gives them); with check, a
// size the options refuse is refused (checkSize). Returns the status code.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_inspect(const std::uint8_t* file, std::uint32_t size, int check) {
    rdsgen::FileHeader header;
    rdsgen::Status status = rdsgen::readImageHeader(std::span<const std::uint8_t>(file, size), header);
    if (status && check != 0) {
        status = checkSize(static_cast<std::int32_t>(header.width), static_cast<std::int32_t>(header.height));
    }
    session().json = "{\"width\":" + std::to_string(header.width) + ",\"height\":" + std::to_string(header.height) +
                     ",\"components\":" + std::to_string(header.components) +
                     ",\"orientation\":" + std::to_string(header.orientation) + "}";
    return static_cast<int>(finish(status).code);
}

// Makes image slot 0 or 1 from a PNG file and its inflated image data, by
// the command line's rules; as rdsgen_web_load_tga for failures.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_png(int slot, const std::uint8_t* file, std::uint32_t size,
                                             const std::uint8_t* raw, std::uint32_t rawSize) {
    if (!validSlot(slot)) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    rdsgen::Image image;
    const rdsgen::Status status = rdsgen::readInflatedPng(std::span<const std::uint8_t>(file, size),
                                                          std::span<const std::uint8_t>(raw, rawSize), image);
    if (status) session().images[slot] = std::move(image);
    return static_cast<int>(finish(status).code);
}

// Makes image slot 0 or 1 from a decoded JPEG as RGBA pixels: grey (the red
// values) or colour, as the file's components say, then turned upright by
// its orientation; as rdsgen_web_load_tga for failures.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_load_jpeg(int slot, const std::uint8_t* rgba, std::int32_t width,
                                              std::int32_t height, int grey, int orientation) {
    if (!validSlot(slot)) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    rdsgen::Image made = rdsgen::makeImage(width, height, grey != 0 ? rdsgen::PixelKind::kGrey8 : rdsgen::PixelKind::kColour);
    if (!made.pixels) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kImageNoMemory)).code);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::uint8_t* out = made.pixels.get();
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = rgba + 4 * i;
        if (grey != 0) {
            out[i] = p[0];
        } else {
            out[3 * i] = p[2];
            out[3 * i + 1] = p[1];
            out[3 * i + 2] = p[0];
        }
    }
    if (!rdsgen::orientImage(made, orientation)) {
        return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kImageNoMemory)).code);
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
EMSCRIPTEN_KEEPALIVE int rdsgen_web_check_size(std::int32_t width, std::int32_t height) {
    return static_cast<int>(finish(checkSize(width, height)).code);
}

// Makes the stereogram of the held images with the session's settings and
// seed (as the command line gives it to the engine: the number as unsigned);
// returns the status code. The TARGA file stays until the next run.
EMSCRIPTEN_KEEPALIVE int rdsgen_web_render() {
    Session& s = session();
    s.outputSize = s.written = 0;
    s.plan = rdsgen::Plan{};
    const rdsgen::Image& heights = s.images[0];
    if (!heights.pixels) return static_cast<int>(finish(rdsgen::makeStatus(rdsgen::StatusCode::kCantOpenFile)).code);
    const rdsgen::Image* pattern = s.images[1].pixels ? &s.images[1] : nullptr;
    const rdsgen::ImageHeader patternHeader = pattern != nullptr ? rdsgen::headerOf(*pattern) : rdsgen::ImageHeader{};
    s.plan = rdsgen::plan(s.settings, rdsgen::headerOf(heights), pattern != nullptr ? &patternHeader : nullptr);
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
    render.seed = static_cast<std::uint32_t>(s.start.seed);
    render.threads = 1;
    render.format = rdsgen::OutputFormat::kTga;
    const rdsgen::Status status =
        rdsgen::render(s.plan, heights, s.plan.settings.PatT == 0 ? pattern : nullptr, render,
                       rdsgen::RowSink{appendOutput, &s}, rdsgen::Progress{forwardProgress, nullptr});
    if (!status || s.written != s.outputSize) s.outputSize = s.written = 0;
    return static_cast<int>(finish(status).code);
}

EMSCRIPTEN_KEEPALIVE const char* rdsgen_web_message() { return session().message.c_str(); }

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
