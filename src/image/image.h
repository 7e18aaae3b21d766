// Image files: TARGA images in and out, and image rows.
//
// ABOUT
//   readTga (public, rdsgen.h) decodes a TARGA file held in memory into an
//   Image; readTgaOwned does the same for a block it may keep as the pixels,
//   so that a file read whole costs no second copy. loadImageFile reads a
//   file once, into memory, and decodes it. imageRow and copyPatternRow read
//   rows back out. tgaHeader and finishRow make the output: the 18-byte
//   header, and each finished row (CutOff and grey compaction) in place.
//   FileSink is the RowSink that writes an output file.
//
// PIXELS
//   Colour pixels are three bytes in TARGA order: blue, green, red. Grey
//   pixels keep their 1 to 3 stored bytes, least significant byte first.
//   Nothing here prints: failures are returned as a Status.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

// Decodes the TARGA file in the first size bytes of file; when the pixels
// are stored as they are held (grey, or true colour) the block is kept as
// the image's pixels instead of being copied.
Status readTgaOwned(Bytes file, std::size_t size, Image& image);

// Reads the file at path whole and decodes it. kCantOpenFile when it cannot
// be opened; a read error counts as the end of the file.
Status loadImageFile(const char* path, Image& image);

// Stored row `row` (0 = top) of an image.
inline const std::uint8_t* imageRow(const Image& image, std::int32_t row) {
    return image.pixels.get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(image.rowBytes);
}

// Copies stored row `row` as colour pixels into destination (width * 3
// bytes): a grey pixel becomes three copies of its first stored byte.
void copyPatternRow(const Image& image, std::int32_t row, std::uint8_t* destination);

// The 18-byte header of the output file: type 3 (8-bit grey) or 2 (24-bit),
// top row first.
std::array<std::uint8_t, 18> tgaHeader(const RowGeometry& geometry);

// Finishes a row in place: skips the CutOff part and, for grey output, keeps
// the first (blue) byte of each pixel. Returns the outputRowBytes bytes to write.
const std::uint8_t* finishRow(const RowGeometry& geometry, std::uint8_t* rowBuffer);

// The output file as a RowSink: bytes are buffered and every write checked;
// the first write (the header) is flushed at once, so a full disk or a size
// limit is reported before any row is computed.
struct FileSink {
    std::FILE* stream = nullptr;
    std::unique_ptr<char[]> buffer;
    bool failed = false;
    bool flushedOnce = false;
};

// Creates (or truncates) the file; false when it cannot be opened.
bool openFileSink(FileSink& sink, const char* path);
RowSink fileRowSink(FileSink& sink);
// Flushes and closes; false when any write, the flush or the close failed.
bool closeFileSink(FileSink& sink);

// Removes a partially written output file; a device or other special file
// (such as /dev/full) is left alone.
void removePartialOutput(const char* fileName);

}  // namespace rdsgen
