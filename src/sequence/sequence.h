// Frame sequences: the stereograms of one plan, frame after frame, written
// as one animated PNG, one animated GIF or a stream of PNG files.
//
// ABOUT
//   SequenceWriter (rdsgen.h) renders every frame with render() and the
//   plan it was begun with; this subsystem turns render()'s output into the
//   sequence's file:
//
//     PNG stream    each frame is render()'s PNG file, passed on unchanged.
//     animated PNG  each frame is render()'s PNG file, rewritten on the fly
//                   by ApngFrameFilter: its IDAT chunks are kept for the
//                   first frame (the default image) and become fdAT chunks
//                   for the others; signature, IHDR and IEND are dropped.
//                   The file's own head (signature, IHDR, acTL), each
//                   frame's fcTL and the IEND are written here.
//     animated GIF  each frame is rendered as bare rows into memory, its
//                   colours indexed exactly (GifFrameIndex), and encoded by
//                   giflib with a local colour map (GifEncoder).
//
// MEMORY
//   PNG frames pass through without being held. A GIF frame is held twice
//   (its rows and its colour indexes) until it is encoded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

// The caller's sink with the count of bytes written to it. A sink that
// throws is taken as a failed write, and remembered.
struct SequenceOutput {
    RowSink sink;
    std::uint64_t written = 0;
    bool threw = false;
    bool failed = false;  // a write failed: nothing more is sent

    bool write(const std::uint8_t* bytes, std::size_t count);
    bool rewrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count);
};

// --- Animated PNG -----------------------------------------------------------

// Offset of the acTL chunk in the file: after the signature and the IHDR.
inline constexpr std::uint64_t kApngActlOffset = 8 + 25;

// Signature, IHDR (8-bit grey or RGB) and acTL (frames, looping forever).
std::vector<std::uint8_t> apngHead(std::int32_t width, std::int32_t height, bool grey, std::uint32_t frames);

// The acTL chunk alone, for patching the frame count.
std::vector<std::uint8_t> apngActl(std::uint32_t frames);

// A full-frame fcTL chunk: shown for 1/rate s, not disposed, drawn over
// nothing (source blend).
std::vector<std::uint8_t> apngFctl(std::uint32_t sequence, std::int32_t width, std::int32_t height,
                                   std::int32_t rate);

// The IEND chunk.
std::vector<std::uint8_t> apngEnd();

// Rewrites one PNG file, arriving in pieces of any size, into the chunks of
// one APNG frame written to out. sequence is the number of the next fdAT
// chunk and is advanced past those written.
class ApngFrameFilter {
public:
    ApngFrameFilter(SequenceOutput& out, bool firstFrame, std::uint32_t& sequence)
        : out_(out), firstFrame_(firstFrame), sequence_(sequence) {}
    bool write(const std::uint8_t* bytes, std::size_t count);
    // Whether the file ended at the end of a chunk.
    bool complete() const { return part_ == Part::kHeader && filled_ == 0 && signatureLeft_ == 0; }

private:
    enum class Part { kHeader, kData, kCrc };
    bool startChunk();
    SequenceOutput& out_;
    const bool firstFrame_;
    std::uint32_t& sequence_;
    std::size_t signatureLeft_ = 8;
    Part part_ = Part::kHeader;
    std::uint8_t header_[8] = {};
    std::size_t filled_ = 0;       // bytes of header_ or of the CRC seen
    std::uint32_t dataLeft_ = 0;
    bool keep_ = false;            // the chunk is written (IDAT)
    std::uint32_t crc_ = 0;        // of the fdAT chunk being written
};

// --- Animated GIF -----------------------------------------------------------

// One frame's pixels as indexes into its own colour map, the colours in
// ascending order (grey levels, or blue-green-red read as one number).
struct GifFrameIndex {
    std::vector<std::uint32_t> colours;  // 0xRRGGBB
    std::vector<std::uint8_t> indexes;   // width * height, top row first
};

// Indexes rows as render() writes them with OutputFormat::kRows (grey: one
// byte a pixel; colour: blue, green, red). False when the frame has more
// than 256 colours.
bool indexGifFrame(const std::uint8_t* rows, std::int32_t width, std::int32_t height, bool grey,
                   GifFrameIndex& frame);

// An animated GIF written through giflib to out: a looping file with a
// delay of round(100 / rate) hundredths of a second per frame.
class GifEncoder {
public:
    explicit GifEncoder(SequenceOutput& out);
    ~GifEncoder();
    GifEncoder(const GifEncoder&) = delete;
    GifEncoder& operator=(const GifEncoder&) = delete;

    bool begin(std::int32_t width, std::int32_t height, std::int32_t rate);
    bool addFrame(const GifFrameIndex& frame);
    // Writes the trailer. False when it, or anything before, was not written.
    bool finish();

private:
    struct File;
    SequenceOutput& out_;
    std::unique_ptr<File> file_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t delay_ = 0;
};

// Hundredths of a second per frame at rate frames per second, rounded.
std::int32_t gifDelay(std::int32_t rate);

}  // namespace rdsgen
