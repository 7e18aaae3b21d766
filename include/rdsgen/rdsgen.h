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
//   rdsgen::RenderOptions options;            // seed 1, TARGA file, all cores
//   rdsgen::Status status = rdsgen::generateStereogram(settings, heights, nullptr,
//                                                      options, sink, {});
//   if (!status) std::puts(rdsgen::statusText(status).c_str());
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

// Every option value and derived flag of a run. Flags hold 0 or 1.
struct Settings {
    std::int32_t PatT = 1;      // pattern type 1..7; 0: the pattern image
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
    std::int32_t PNarrow = 0;   // pattern image narrower than a third of the input
    std::int32_t StretA = 1;    // automatic choice of the stretch flags
    std::int32_t StretX = 0;
    std::int32_t StretY = 0;
    std::int32_t StretR = 0;
    std::int32_t StretP = 0;
    std::int32_t StretZ = 0;
    Colour TopF{255, 248, 0};
    Colour DiffF{0, -158, 140};
    Colour TopB{90, 60, 255};
    Colour DiffB{-90, 80, -160};
    bool psizInStripes = false; // PSiz counts stripes across the input width
    bool psizGiven = false;     // PSiz was chosen by the user (no automatic 'P' stretch)
};

// Splits an rrrgggbbb number into red, green and blue, unclamped.
Colour splitColour(std::int32_t number);

// The four colours from rrrgggbbb numbers: TopF and TopB as given, DiffF and
// DiffB as bottom minus top (wrapping to 16 bits as every component does).
void setColours(Settings& settings, std::int32_t topF, std::int32_t botF, std::int32_t topB,
                std::int32_t botB);

// --- Images -----------------------------------------------------------------

// Releases a Bytes block: a mapping (size bytes) is unmapped, any other
// block freed; the block handed out starts offset bytes into either.
struct FreeBytes {
    std::size_t mappedSize = 0;
    std::size_t offset = 0;
    void operator()(std::uint8_t* block) const noexcept;
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
};

struct Status {
    StatusCode code = StatusCode::kOk;
    std::int64_t detail[3] = {0, 0, 0};
    std::string reason;
    explicit operator bool() const { return code == StatusCode::kOk; }
};

// A status with its details (the detail values and a reason, as the code uses them).
inline Status makeStatus(StatusCode code, std::int64_t first = 0, std::int64_t second = 0,
                         std::string reason = {}) {
    Status status;
    status.code = code;
    status.detail[0] = first;
    status.detail[1] = second;
    status.reason = std::move(reason);
    return status;
}

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

// --- Geometry ---------------------------------------------------------------

// Every size of a run, fixed once from the settings and the image sizes.
// "Working resolution" is scale times the output's own.
struct RowGeometry {
    std::int32_t scale = 1;              // (VInc + 1) * (Double + 1): 1, 2 or 4
    std::int32_t inputWidth = 0;
    std::int32_t inputHeight = 0;
    std::int32_t patternWidth = 0;       // scale * PSiz: P
    std::int32_t scaledInputWidth = 0;   // scale * inputWidth: N
    std::int32_t stripStart = 0;         // pixel index of the pattern strip (patternStart)
    std::int32_t rowPixels = 0;          // room of a row buffer: scale * (inputWidth + PSiz + 1)
    std::int32_t sourcePeriod = 0;       // pixels of the pattern source row (0: none)
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    bool outputGrey = false;             // 8-bit grey output (else 24-bit colour)
    std::int32_t outputRowBytes = 0;
    std::int32_t cutOffPixels = 0;       // pixels of a finished row skipped with CutOff
    // Bytes per pixel of the working rows: 3 (blue, green, red), or 1 where
    // every pixel is grey (grey output); makeRowGeometry gives 3 and the
    // render switches grey output to 1.
    std::int32_t pixelBytes = 3;
    std::int32_t markDistance = 0;       // focus marks: A
    std::int32_t bandHeight = 0;         // focus marks: B
    std::int32_t bandRows = 0;           // rows of the focus band above the image (B or 0)
};

// --- Output and progress ----------------------------------------------------

// Receives the output bytes in order. write returns false when the bytes
// could not be taken; the run then stops with kWriteFailed.
struct RowSink {
    bool (*write)(void* context, const std::uint8_t* bytes, std::size_t count) = nullptr;
    void* context = nullptr;
};

enum class Stage {
    kScalingHeights,  // the height range is being scanned (StretZ)
    kHeightsScaled,
    kCalculating,     // the output header is written; the focus band follows
    kRowsStarting,    // the band is written; image rows follow
    kRows,            // done image rows of total, every eighth row and at the end
};

struct Progress {
    void (*report)(void* context, Stage stage, std::int32_t done, std::int32_t total) = nullptr;
    void* context = nullptr;
};

// Warnings of prepareStereogram, as bits.
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

struct RenderOptions {
    std::uint32_t seed = 1;       // the random generator's seed (srand semantics)
    std::int32_t threads = 0;     // 0: the number of online cores; 1: no extra thread
    OutputFormat format = OutputFormat::kTga;
    std::int32_t pngLevel = 6;    // zlib level of PNG output
    // The sink and the progress callback may be called from the library's
    // worker threads (one call at a time, in order), not only from the
    // calling thread: rows are then written by whichever thread finds them
    // next, without waiting for the calling thread.
    bool anyThreadWrites = false;
};

// --- Running ----------------------------------------------------------------

// Completes settings for the images (stripes, pattern-image stretching,
// focus and hidden-surface adjustments) and fixes every size of the run.
// pattern is required when PatT is 0 and ignored otherwise. warnings
// receives Warning bits.
Status prepareStereogram(Settings& settings, const Image& heights, const Image* pattern,
                         RowGeometry& geometry, unsigned& warnings);

// Writes the stereogram of prepared settings and geometry to sink.
Status renderStereogram(const Settings& settings, const RowGeometry& geometry, const Image& heights,
                        const Image* pattern, const RenderOptions& options, RowSink sink,
                        Progress progress);

// prepareStereogram, then renderStereogram.
Status generateStereogram(Settings settings, const Image& heights, const Image* pattern,
                          const RenderOptions& options, RowSink sink, Progress progress);

}  // namespace rdsgen
