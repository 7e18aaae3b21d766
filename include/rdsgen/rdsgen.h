// rdsgen: single-image random-dot stereograms from height images.
//
// ABOUT
//   The library turns a height image held in memory (brighter = nearer) into
//   a stereogram written row by row to a RowSink. It never prints, never
//   touches a global and never calls the C library's rand: two runs with the
//   same Settings, images and seed give the same bytes on every platform and
//   with any number of threads.
//
// USAGE
//   rdsgen::Image heights = rdsgen::makeImage(640, 480, rdsgen::PixelKind::kGrey8);
//   ... fill heights.pixels (rowBytes per row, top row first) ...
//   rdsgen::Settings settings;                // the command line's defaults
//   rdsgen::Plan plan = rdsgen::plan(settings, rdsgen::headerOf(heights));
//   if (!plan) std::puts(rdsgen::statusText(plan.refusal).c_str());
//   rdsgen::RenderOptions options;            // seed 1, TARGA file, all cores
//   rdsgen::Status status = rdsgen::render(plan, heights, nullptr, options, sink);
//   if (!status) std::puts(rdsgen::statusText(status).c_str());
//
// PLAN, THEN RENDER
//   plan() decides everything a run needs from the settings and the images'
//   headers (sizes and pixel kind, no pixels): the completed settings, every
//   size, the warnings, or the first refusal. A caller that reads files can
//   plan from their headers and decode the pixels only for a plan that is
//   accepted. render() checks that the images are those planned for and
//   carries the plan out; it decides nothing.
//
// MEMORY
//   An Image owns its pixels (a Bytes block). The library holds the images
//   only for the duration of a call and a bounded number of rows besides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace rdsgen {

// --- Settings ---------------------------------------------------------------

// A colour as three signed 16-bit components.
struct Colour {
    std::int16_t red = 0;
    std::int16_t green = 0;
    std::int16_t blue = 0;
};

// The options of a run, with the command line's defaults. Flags hold 0 or
// 1 (anything else is refused by plan()).
struct Settings {
    std::int32_t PatT = 1;      // pattern type 1..7; 0 (or any other): the pattern image
    std::int32_t PSiz = 68;     // pattern width in pixels (or stripes, see psizInStripes)
    std::int32_t PUse = 24;     // largest depth as a percentage of the pattern width
    std::int32_t FocP = 1;      // focus points: 0 none, 1 band above the image, 2 in the image
    std::int32_t Dens = 45;     // density of the generated patterns
    std::int32_t TrueOut = 0;   // true-colour output
    std::int32_t VInc = 0;      // virtually doubled resolution while linking
    std::int32_t Inv = 0;       // inverted elevations
    std::int32_t NoRD = 0;      // fill unlinked pixels from the pattern source row
    std::int32_t PPos = 2;      // pattern position: 1 left, 2 centre, 3 right
    std::int32_t CutOff = 0;    // output cut to the input width
    std::int32_t Hidden = 0;    // hidden-surface checking
    std::int32_t Double = 0;    // doubled output resolution
    // The height image resampled to this width before the run, its height
    // scaled to keep the aspect (0: used as it is; at most 65535).
    std::int32_t Width = 0;
    // Fitting a pattern image (the letters of /Stret): A automatic, X and Y
    // stretch, R keep the ratio, P adjust the pattern width, Z use the
    // height image's actual range. A plan holds the flags it decided.
    std::int32_t StretA = 1;
    std::int32_t StretX = 0;
    std::int32_t StretY = 0;
    std::int32_t StretR = 0;
    std::int32_t StretP = 0;
    std::int32_t StretZ = 0;
    // Foreground and background colours at the top and the bottom row.
    Colour TopF{255, 248, 0};
    Colour BotF{255, 90, 140};
    Colour TopB{90, 60, 255};
    Colour BotB{0, 140, 95};
    bool psizInStripes = false; // PSiz counts stripes across the input width
    bool psizGiven = false;     // PSiz was chosen by the user (no automatic 'P' stretch)
};

// The generated patterns, by PatT number; any other PatT names a pattern
// image (and is taken as 0). Black-and-white types give grey output, the
// others colour output.
struct PatternType {
    std::int32_t number;
    char name[20];
    bool colour;
};
inline constexpr PatternType kPatternTypes[] = {
    {1, "dots", false},         {2, "stripes", false},      {3, "moving dashes", true},
    {4, "five-colour dots", true}, {5, "gradient dots", true}, {6, "hard discs", true},
    {7, "soft discs", true}};

// The generated pattern of a PatT number; null when it names a pattern image.
constexpr const PatternType* patternType(std::int32_t number) {
    for (const PatternType& type : kPatternTypes) {
        if (type.number == number) return &type;
    }
    return nullptr;
}

// Splits an rrrgggbbb number into red, green and blue, unclamped.
Colour splitColour(std::int32_t number);

// The four colours from rrrgggbbb numbers.
void setColours(Settings& settings, std::int32_t topF, std::int32_t botF, std::int32_t topB,
                std::int32_t botB);

// --- Images -----------------------------------------------------------------

// Releases a Bytes block the way the library allocated it.
class FreeBytes {
public:
    void operator()(std::uint8_t* block) const noexcept;

private:
    friend struct BytesBlock;  // the library's allocator
    std::size_t mappedSize_ = 0;
    std::size_t offset_ = 0;
};

// An owned block of bytes.
using Bytes = std::unique_ptr<std::uint8_t[], FreeBytes>;

// Allocates count zero bytes (at least one); null when the memory is not there.
Bytes allocateBytes(std::size_t count);

// How a pixel is stored. Colour: three bytes blue, green, red. Grey: 1 to 3
// bytes, least significant first; the value is the height.
enum class PixelKind : std::uint8_t { kColour = 0, kGrey8 = 1, kGrey16 = 2, kGrey24 = 3 };

// Bytes per stored pixel of a kind.
constexpr std::int32_t pixelBytes(PixelKind kind) {
    return kind == PixelKind::kColour ? 3 : static_cast<std::int32_t>(kind);
}

// One image in memory, rows top first.
struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    PixelKind kind = PixelKind::kGrey8;
    std::int32_t rowBytes = 0;  // width * pixelBytes(kind)
    Bytes pixels;               // height * rowBytes bytes
};

// An image of the given size and kind with zeroed pixels; pixels is null when
// the memory is not there (or a side is negative or above 65535).
Image makeImage(std::int32_t width, std::int32_t height, PixelKind kind);

// --- Status -----------------------------------------------------------------

enum class StatusCode {
    kOk = 0,
    // Reading a TARGA image.
    kTgaCompressed,          // detail[0]: the image type byte (-1 when the file ends first)
    kTgaEndOfFile,
    kTgaPaletteTooLong,
    kTgaPaletteNot24Bit,
    kTgaGreyOver24Bit,
    kTgaTrueColourNot24Bit,
    kTgaUnknownType,
    kTgaUnder8Bit,
    kTgaPaletteOver24Bit,
    kImageNoMemory,
    kCantOpenFile,
    kIsDirectory,
    kImageTooLarge,          // detail: the image's width and height, and the largest side its format allows
    kPngError,               // reason: the PNG library's
    kJpegError,              // reason: the JPEG library's
    // Preparing a run.
    kNoStripes,
    kPatternImageEmpty,
    kPatternWidthTooSmall,
    kPatternWidthTooLarge,   // detail[0]: the largest pattern width
    kNoMemory,
    kPatternNoMemory,
    kOutputTooLarge,         // detail: the output width and height
    // Writing.
    kWriteFailed,
    // Rendering stopped by the caller's callbacks.
    kCancelled,              // the progress callback returned false
    kCallbackFailed,         // the sink or the progress callback threw an exception
    // Refused settings and images (library callers only).
    kInvalidSetting,         // reason: the setting's name; a flag not 0 or 1
    kNotPrepared,            // a plan not accepted, or images other than those planned for
    // Frame sequences.
    kTooManyColours,         // a GIF frame with over 256 colours; detail[0]: the frame's index
    kSequenceOrder,          // addFrame or finish out of order (before begin, after finish)
    // Resampling.
    kWidthOutOfRange,        // a Width below 0 or above 65535
};

struct Status {
    StatusCode code = StatusCode::kOk;
    std::int64_t detail[3] = {0, 0, 0};
    std::string reason;
    explicit operator bool() const { return code == StatusCode::kOk; }
};

// The text of a status, as the command line prints it after "ERROR: " (file
// names, which the library does not know, left out).
std::string statusText(const Status& status);

// --- Decoding ---------------------------------------------------------------

// Decodes an uncompressed TARGA file (type 1 colour-mapped, 2 true colour,
// 3 grey 8 to 24 bits) held in memory. Grey pixels keep their stored size;
// colour-mapped and true-colour pixels become kColour.
Status readTga(std::span<const std::uint8_t> file, Image& image);

// Decodes a PNG file held in memory. Grey stays grey (8-bit, or 16-bit with
// the exact value; 1, 2 and 4 bits scaled to 8 as v * 255 / (2^n - 1)); RGB
// and palettes become kColour (16-bit channels: their high byte). Alpha
// (an alpha channel, palette alpha or a colour key) is composited over
// black: v * a / max, rounded. Gamma, ICC and sRGB chunks are ignored.
Status readPng(std::span<const std::uint8_t> file, Image& image);

// Decodes a JPEG file held in memory (accurate integer DCT): grey stays
// 8-bit grey, colour becomes kColour; CMYK and YCCK are refused.
Status readJpeg(std::span<const std::uint8_t> file, Image& image);

// Decodes a PNG, JPEG or TARGA file, told apart by its first bytes (the PNG
// signature, FF D8 FF, anything else is taken as TARGA).
Status readImage(std::span<const std::uint8_t> file, Image& image);

// --- Output and progress ----------------------------------------------------

// Receives the output bytes in order. write returns false when the bytes
// could not be taken; the run then stops with kWriteFailed.
struct RowSink {
    bool (*write)(void* context, const std::uint8_t* bytes, std::size_t count) = nullptr;
    void* context = nullptr;
    // Optional: overwrites count bytes already written, starting `offset`
    // bytes from the first byte written; false when it could not. Only a
    // SequenceWriter of an animated PNG whose frame count was not known at
    // begin() uses it.
    bool (*rewrite)(void* context, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) = nullptr;
};

enum class Stage {
    kScalingHeights,  // the height range is being scanned (StretZ)
    kHeightsScaled,
    kCalculating,     // the output header is written; the focus band follows
    kRowsStarting,    // the band is written; image rows follow
    kRows,            // done image rows of total, every eighth row and at the end
};

// report returns true to go on, false to cancel the render (kCancelled).
struct Progress {
    bool (*report)(void* context, Stage stage, std::int32_t done, std::int32_t total) = nullptr;
    void* context = nullptr;
};

// Warnings of a plan, as bits.
enum Warning : unsigned {
    kWarnStretchXAssumed = 1,  // the pattern image is narrower than the pattern width
    kWarnFocPAssumed = 2,      // CutOff with FocP 1: FocP 2 taken
    kWarnHiddenCentre = 4,     // Hidden with PPos 2
    kWarnHiddenRight = 8,      // Hidden with PPos 3 (no effect)
};

enum class OutputFormat {
    kTga,   // an 18-byte TARGA header, then the rows
    kRows,  // the rows alone (outputRowBytes each, top row first)
    kPng,   // a PNG file: 8-bit grey or RGB, unfiltered, compressed in blocks of rows
};

// The most threads a render uses, whatever is asked for.
inline constexpr std::int32_t kMaxThreads = 64;

struct RenderOptions {
    std::uint32_t seed = 1;       // the random generator's seed (srand semantics)
    std::int32_t threads = 0;     // 0: the number of online cores; 1: no extra thread; at most kMaxThreads
    OutputFormat format = OutputFormat::kTga;
    std::int32_t pngLevel = 6;    // zlib level of PNG output
    // The sink and the progress callback may be called from the library's
    // worker threads (one call at a time, in order), not only from the
    // calling thread: rows are then written by whichever thread finds them
    // next, without waiting for the calling thread. An exception thrown by
    // either callback ends the render with kCallbackFailed; it never
    // reaches the caller or another thread.
    bool anyThreadWrites = false;
};

// --- Planning and rendering -------------------------------------------------

// The size and pixel kind of an image: what its header says.
struct ImageHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    PixelKind kind = PixelKind::kGrey8;
};

inline ImageHeader headerOf(const Image& image) { return ImageHeader{image.width, image.height, image.kind}; }

// Where a plan stands, in the order a run meets its refusals.
enum class PlanStage : std::uint8_t {
    kAccepted,      // the run can be rendered
    kSettings,      // refused for a setting alone (kInvalidSetting)
    kHeightImage,   // refused from the height image's header (kNoStripes)
    kNeedsPattern,  // PatT 0 without a pattern image header: plan again with one
    kPatternImage,  // refused from the pattern image's header (kPatternImageEmpty)
    kSizes,         // refused for the run's sizes (pattern width, memory, output size)
};

struct PlanDetail;  // what render() carries out; the library's own

// Everything a run needs, decided once. Its fields describe the run; render()
// works from `detail`, which nothing outside the library reads or changes.
struct Plan {
    PlanStage stage = PlanStage::kSettings;
    Status refusal;               // the first refusal (kOk when accepted). With
                                  // kNeedsPattern: set when the run is refused
                                  // whatever the pattern image (for the sizes).
    unsigned warnings = 0;        // Warning bits a run prints before its refusal or its rows
    Settings settings;            // completed for the images
    ImageHeader heights;          // the height image render() is given
    ImageHeader resampled;        // the height image the run uses: heights resampled to Width
    ImageHeader pattern;          // PatT 0
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    bool outputGrey = false;      // 8-bit grey output (else 24-bit colour)
    std::int32_t outputRowBytes = 0;
    std::uint64_t tgaBytes = 0;   // of the TARGA file (18-byte header and rows)
    std::shared_ptr<const PlanDetail> detail;
    explicit operator bool() const { return stage == PlanStage::kAccepted; }
};

// Plans a run of settings over images of these headers; pattern is required
// when PatT is 0 (else the plan stops at kNeedsPattern) and ignored otherwise.
Plan plan(const Settings& settings, const ImageHeader& heights, const ImageHeader* pattern = nullptr);

// Writes the stereogram of an accepted plan to sink. The images must be those
// planned for (same sizes and kind, with their pixels); anything else is
// refused with kNotPrepared before anything is written. With a Width, the
// height image is resampled once, into one new image held for the call.
Status render(const Plan& plan, const Image& heights, const Image* pattern, const RenderOptions& options,
              RowSink sink, Progress progress = {});

// plan(), then render(): a refused plan returns its refusal.
Status generateStereogram(const Settings& settings, const Image& heights, const Image* pattern,
                          const RenderOptions& options, RowSink sink, Progress progress = {});

// --- Frame sequences --------------------------------------------------------

enum class SequenceFormat {
    kApng,       // one animated PNG; its first frame is also the default image
    kGif,        // one animated GIF, looping, in exact colours (at most 256 per frame)
    kPngStream,  // PNG files one after another, each as OutputFormat::kPng writes it
};

struct SequenceOptions {
    SequenceFormat format = SequenceFormat::kApng;
    std::int32_t rate = 25;       // frames per second (APNG and GIF), 1 to 65535
    // Frame i (0 for the first) is rendered with seed render.seed + i; else
    // every frame with render.seed, so that still parts stay still.
    bool newDots = false;
    // Frames the sequence will have; 0 when not known. An animated PNG of
    // unknown length needs a sink that can rewrite (RowSink::rewrite); so
    // does one whose frames end up more or fewer than announced (else
    // kSequenceOrder).
    std::uint32_t frames = 0;
    RenderOptions render;         // seed, threads and pngLevel; format is ignored
};

// Writes the frames of one plan, one after another, to one sink: begin(),
// addFrame() for each frame, finish(). Every frame reuses the plan; the
// writer holds at most a few frames' worth of memory, whatever their number.
// After a failed call the sequence is over: the sink holds an incomplete
// file, which the caller discards.
class SequenceWriter {
public:
    SequenceWriter();
    ~SequenceWriter();
    SequenceWriter(const SequenceWriter&) = delete;
    SequenceWriter& operator=(const SequenceWriter&) = delete;

    // kNotPrepared for a plan not accepted; kInvalidSetting for a rate
    // outside 1..65535 or an animated PNG of unknown length without a
    // rewriting sink.
    Status begin(const Plan& plan, const SequenceOptions& options, RowSink sink);
    // Renders the next frame from heights (and the pattern image with PatT
    // 0) of the headers planned for, and writes it. progress reports the
    // frame's own stages and rows.
    Status addFrame(const Image& heights, const Image* pattern, Progress progress = {});
    // Writes what ends the sequence (an animated PNG needs at least one frame).
    Status finish();
    // Frames written so far.
    std::uint32_t frames() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace rdsgen
