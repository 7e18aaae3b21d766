// Images in memory: their blocks of bytes, the codecs between them and the
// file formats, and their rows.
//
// ABOUT
//   readTga, readPng and readJpeg (public, rdsgen.h) decode files held in
//   memory into Images; readTgaOwned decodes a block it may keep as the
//   pixels, so that a file read whole costs no second copy. imageRow and
//   copyPatternRow read rows back out; resampleImage scales a height image
//   (the Width setting). tgaHeader and finishRow make the
//   output: the 18-byte header, and each finished row (CutOff and grey
//   compaction) in place; the ImageWriters turn finished rows into a file
//   format. Files themselves are read and written in src/files/.
//
// PIXELS
//   Colour pixels are three bytes in TARGA order: blue, green, red. Grey
//   pixels keep their 1 to 3 stored bytes, least significant byte first.
//   Nothing here prints: failures are returned as a Status.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "run/run.h"

namespace rdsgen {

// How a Bytes block was allocated: a mapping of mappedSize bytes (0: a block
// of the C library's heap), handed out `offset` bytes into it.
struct BytesBlock {
    static FreeBytes owner(std::size_t mappedSize, std::size_t offset) {
        FreeBytes free;
        free.mappedSize_ = mappedSize;
        free.offset_ = offset;
        return free;
    }
    static std::size_t mappedSize(const FreeBytes& free) { return free.mappedSize_; }
    static std::size_t offset(const FreeBytes& free) { return free.offset_; }
};

// allocateBytes, choosing whether a large block's pages are made resident at
// once (faster to fill with computed bytes) or as they are first written
// (faster to fill by reading a file into it).
Bytes allocateZeroed(std::size_t count, bool populate);

// Makes a block of allocateZeroed(…, false) hold count bytes, keeping its
// first `keep`: a mapped block is remapped by the kernel without copying
// (its pages stay where they are, and new ones become resident only when
// written), a smaller one is copied. False, and the block unchanged, when
// the memory is not there.
bool growBytes(Bytes& block, std::size_t keep, std::size_t count);

// Buffers carved from one block leave guardBytes() after each: under
// AddressSanitizer poisonBytes marks those bytes, so that running past a
// buffer is caught as at the end of a block of its own. Without the
// sanitizer there are none, and poisonBytes does nothing.
std::size_t guardBytes();
void poisonBytes(const std::uint8_t* start, std::size_t count);

// Decodes the TARGA file in the first size bytes of file; when the pixels
// are stored as they are held (grey, or true colour) the block is kept as
// the image's pixels instead of being copied.
Status readTgaOwned(Bytes file, std::size_t size, Image& image);

// readPng and readJpeg; with headerOnly the image gets its sizes and kind
// from the header but no pixels.
Status decodePng(std::span<const std::uint8_t> file, Image& image, bool headerOnly);
Status decodeJpeg(std::span<const std::uint8_t> file, Image& image, bool headerOnly);

// --- PNG samples ---
//
// The rows of a decoded PNG become image rows by one set of rules, whatever
// decoded them: a PngRowForm tells what a decoded row holds. Rows arrive
// with 16-bit samples in host order; grey below 8 bits scaled to 8 bits and
// palette indexes looked up as RGBA (unpackPngRow does both); every other
// sample as stored. Grey and grey with alpha become grey of 8 or 16 bits
// (alpha composited over black), the others colour; a tRNS key makes its
// pixels black.
namespace png {
constexpr std::uint8_t kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6;  // colour types
}

struct PngRowForm {
    std::uint8_t colourType = png::kGrey;
    std::uint8_t bitDepth = 8;
    bool sixteen = false;
    std::size_t pixelBytes = 1;  // of a decoded (unpacked) pixel
    PixelKind kind = PixelKind::kGrey8;
    bool key = false;  // a tRNS colour key for grey or RGB
    std::uint16_t keyGrey = 0, keyRed = 0, keyGreen = 0, keyBlue = 0;
};

PngRowForm pngRowForm(std::uint8_t colourType, std::uint8_t bitDepth);
// The tRNS key of a grey or RGB image, its samples as the file stores them.
void setPngKey(PngRowForm& form, std::uint16_t grey, std::uint16_t red, std::uint16_t green, std::uint16_t blue);
// A row of grey samples below 8 bits, or of palette indexes (1 to 8 bits,
// packed as stored), as 8-bit grey or RGBA; palette holds paletteSize RGBA
// entries (alpha from tRNS, else 255).
void unpackPngRow(const PngRowForm& form, const std::uint8_t* in, std::uint8_t* out, std::size_t width,
                  const std::uint8_t* palette, std::size_t paletteSize);
// One decoded row into one image row of form.kind.
void convertPngRow(const PngRowForm& form, const std::uint8_t* in, std::uint8_t* out, std::size_t width);

// The pixels of each Adam7 pass: first row and column, and their steps;
// pngPassExtent gives a pass's rows or columns in an image side of size.
inline constexpr std::size_t kPngPassRow[7] = {0, 0, 4, 0, 2, 0, 1};
inline constexpr std::size_t kPngPassColumn[7] = {0, 4, 0, 2, 0, 1, 0};
inline constexpr std::size_t kPngPassRowStep[7] = {8, 8, 8, 4, 4, 2, 2};
inline constexpr std::size_t kPngPassColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};

constexpr std::size_t pngPassExtent(std::size_t size, std::size_t first, std::size_t step) {
    return size > first ? (size - first + step - 1) / step : 0;
}

// --- Orientation ---
//
// The EXIF Orientation tag (1 to 8) of a JPEG file (APP1 "Exif") or a PNG
// file (eXIf chunk); 1, upright, when it has none or it cannot be read.
std::int32_t fileOrientation(std::span<const std::uint8_t> file);
// The Orientation tag of an EXIF block (a TIFF header and its first IFD).
std::int32_t exifOrientation(std::span<const std::uint8_t> exif);
// Turns an image upright as the tag says, as image viewers show it; 5 to 8
// swap width and height. With no pixels only the sizes change. False when
// the memory for the turned image is not there.
bool orientImage(Image& image, std::int32_t orientation);

// The format of a file by its first bytes.
enum class FileFormat { kTga, kPng, kJpeg };
FileFormat sniffFormat(std::span<const std::uint8_t> start);
// Checks the header of a TARGA file whose first bytes are `start`, and the
// file's size against it; the image gets its sizes and kind but no pixels.
Status readTgaHeader(std::span<const std::uint8_t> start, std::size_t fileSize, Image& image);

// Checks the header of a TARGA file whose first 18 bytes are `start`, and
// gives the bytes of a file with that header up to its last pixel.
Status tgaStoredBytes(std::span<const std::uint8_t> start, std::size_t& bytes);

// Stored row `row` (0 = top) of an image.
inline const std::uint8_t* imageRow(const Image& image, std::int32_t row) {
    return image.pixels.get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(image.rowBytes);
}

// Copies stored row `row` as colour pixels into destination (width * 3
// bytes): a grey pixel becomes three copies of its most significant byte.
void copyPatternRow(const Image& image, std::int32_t row, std::uint8_t* destination);

// The header of an image resampled to `width` pixels across, its height
// scaled to keep the aspect (rounded, at least 1); the header itself for a
// width of 0 or an image without pixels.
ImageHeader resampledHeader(const ImageHeader& header, std::int32_t width);
// Resamples source to the target's size into a new image of the same kind,
// each sample at its own precision: area average along an axis that
// shrinks, linear interpolation along one that grows, rounded once.
// kNoMemory when the new image cannot be had.
Status resampleImage(const Image& source, const ImageHeader& target, Image& result);

// The 18-byte header of the output file: type 3 (8-bit grey) or 2 (24-bit),
// top row first.
std::array<std::uint8_t, 18> tgaHeader(const RowGeometry& geometry);
// The bytes of the whole TARGA output file.
std::uint64_t tgaFileBytes(const RowGeometry& geometry);

// Finishes a row in place: skips the CutOff part and, for grey output held
// at three bytes per pixel, keeps the first (blue) byte of each pixel.
// Returns the outputRowBytes bytes to write.
const std::uint8_t* finishRow(const RowGeometry& geometry, std::uint8_t* rowBuffer);

// PNG output: pngHead (signature, header, the zlib stream's start), one
// pngBlockChunk per block of rows in order, then pngTail. A PngCompressor
// (one per thread) turns rows into a block; blocks are independent, so
// their bytes do not depend on which thread made them.
struct PngBlock {
    std::vector<std::uint8_t> compressed;  // the first `used` bytes
    std::size_t used = 0;
    std::uint32_t adler = 1;               // of the raw bytes of the block
    std::size_t rawBytes = 0;
};

class PngCompressor {
public:
    explicit PngCompressor(std::int32_t level);
    ~PngCompressor();
    PngCompressor(const PngCompressor&) = delete;
    PngCompressor& operator=(const PngCompressor&) = delete;
    bool begin(PngBlock& block);
    // A finished output row (grey bytes, or colour pixels blue, green, red).
    bool addRow(PngBlock& block, const std::uint8_t* row, std::size_t bytes, bool colour);
    bool finish(PngBlock& block);

private:
    struct Stream;
    bool deflateInto(PngBlock& block, const std::uint8_t* bytes, std::size_t count, int flush);
    std::unique_ptr<Stream> stream_;
    std::vector<std::uint8_t> scratch_;
};

// The checksum of the whole stream, from its blocks in order.
struct PngChecksum {
    std::uint32_t adler = 1;
    void add(const PngBlock& block);
};

// A big-endian 32-bit number, as a PNG file holds its lengths and CRCs.
inline std::uint32_t readBig32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// Appends a big-endian 32-bit number, and a chunk (length, type, data, CRC),
// as a PNG file holds them.
void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value);
void appendPngChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size);

// The signature and IHDR chunk of an 8-bit grey or RGB PNG file.
std::vector<std::uint8_t> pngFileStart(std::int32_t width, std::int32_t height, bool grey);
std::vector<std::uint8_t> pngHead(const RowGeometry& geometry, std::int32_t level);
std::vector<std::uint8_t> pngBlockChunk(const PngBlock& block);
std::vector<std::uint8_t> pngTail(const PngChecksum& checksum);

// --- Output formats ---
//
// An ImageWriter turns finished output rows into a file format's bytes: its
// head (begin), the rows in order, its tail (finish). A format that encodes
// rows in independent blocks (blockRows() > 0; PNG's deflate blocks) has
// each block encoded by a RowEncoder on whichever thread computed its rows,
// and takes the encoded blocks in order (addBlock); any other format takes
// each row as it is (addRow). A row counts once per copy: twice with
// Double. A writer's refusal is a Status (kWriteFailed where its bytes were
// not taken); an encoder's failure is false, a failed write of its block.

// Where a writer's bytes go, in order; false when they were not taken.
class ByteOutput {
public:
    virtual bool write(const std::uint8_t* bytes, std::size_t count) const = 0;

protected:
    ~ByteOutput() = default;
};

// The encoded bytes of a block of rows, in the writer's own form.
class EncodedRows {
public:
    virtual ~EncodedRows() = default;
};

// Encodes blocks of rows; one per thread, a block at a time.
class RowEncoder {
public:
    virtual ~RowEncoder() = default;
    virtual bool begin(EncodedRows& block) = 0;
    virtual bool addRow(EncodedRows& block, const std::uint8_t* row) = 0;
    virtual bool finish(EncodedRows& block) = 0;
};

class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    virtual Status begin(const ByteOutput& out) = 0;
    // Rows of the render (each with its copies) in an encoded block; 0 when
    // rows are taken one by one.
    virtual std::int32_t blockRows() const { return 0; }
    virtual Status addRow(const ByteOutput& out, const std::uint8_t* row) = 0;
    virtual std::unique_ptr<EncodedRows> newBlock() const { return nullptr; }
    virtual std::unique_ptr<RowEncoder> newEncoder() const { return nullptr; }
    virtual Status addBlock(const ByteOutput& out, const EncodedRows& block) = 0;
    virtual Status finish(const ByteOutput& out) = 0;
};

// kOk when the bytes were taken, else kWriteFailed.
inline Status written(bool taken) { return taken ? Status{} : makeStatus(StatusCode::kWriteFailed); }

// A TARGA file (withHeader), or the rows alone, of the geometry's size and kind.
std::unique_ptr<ImageWriter> makeTgaWriter(const RowGeometry& geometry, bool withHeader);
// A PNG file of the geometry's size and kind: 8-bit grey or RGB, unfiltered,
// compressed at zlib level `level` in blocks of about 128 KiB of raw rows,
// each row counted `copies` times (2 with Double). Null where this build has
// no PNG support.
std::unique_ptr<ImageWriter> makePngWriter(const RowGeometry& geometry, std::int32_t level, std::int32_t copies);

}  // namespace rdsgen
