// Image files: TARGA images in and out.
//
// ABOUT
//   readTga turns one uncompressed TARGA file (type 1 colour-mapped, 2 true
//   colour, 3 grey) into a TgaImage held wholly in memory, rows top first.
//   loadImage opens a file, prints the progress text, reads it and closes it.
//   copyImageRow is the one way pixels are read back out of a loaded image.
//   openOutputTga and writeOutputRow write the stereogram row by row.
//
// MEMORY
//   Every block is a Bytes: zero-filled by allocateBytes, released by its
//   owner (reset or going out of scope). TgaImage::pixels belongs to the
//   record; the run driver releases it at the end of the run.
//
// PIXELS
//   Colour pixels are three bytes in TARGA order: blue, green, red. A grey
//   height image (keepGrey) keeps its 1 to 3 stored bytes per pixel, least
//   significant byte first (greyBytes 1, 2 or 3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Releases a block: a mapped block (mappedSize bytes, the block starting
// mappedOffset bytes into the mapping) is unmapped, any other one freed.
struct FreeBytes {
    std::size_t mappedSize = 0;
    std::size_t mappedOffset = 0;
    void operator()(std::uint8_t* block) const noexcept;
};

// An owned, zero-filled block of bytes.
using Bytes = std::unique_ptr<std::uint8_t[], FreeBytes>;

// Allocates count zero bytes (at least one); null when the memory is not there.
Bytes allocateBytes(std::size_t count);

// The count bytes of an open file from byte offset on, mapped read-only with
// their pages read in at once (the block must never be written); null when
// the file cannot be mapped or the block is small enough for an ordinary read.
Bytes mapFileBytes(std::FILE* stream, std::size_t offset, std::size_t count);

// One image: the height image, the pattern image or the output file.
struct TgaImage {
    std::FILE* stream = nullptr;    // open file while it is read or written
    std::int16_t format = 0;        // 1 = TARGA; the writer writes rows only while it is 1
    std::int16_t imageType = 0;     // TARGA image type (1, 2 or 3 once accepted)
    std::int16_t greyBytes = 0;     // 0: 3 bytes per pixel; 1..3: kept grey bytes per pixel
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t rowBytes = 0;      // bytes per row in memory (or per output row)
    std::int32_t depthStep = 0;     // set by scaleHeights
    std::int32_t depthOffset = 0;   // set by scaleHeights
    Bytes pixels;                   // height * rowBytes bytes, top row first
};

// Reads the open stream (positioned at the start of the file) into image.
// keepGrey: keep grey pixels at their stored size (height image) instead of
// widening them to three equal bytes (pattern image). 0 on success, 1 after a
// refusal (reported through reportReadError) or lack of memory.
int readTga(TgaImage& image, bool keepGrey);

// Prints "\n" on standard output when errorCount is 0, then counts the error
// and prints "ERROR: <message>\n" on standard error.
void reportReadError(const char* message, int& errorCount);

// Opens fileName, prints the progress text, reads the image, closes the file
// and blanks the text. heightImage selects the texts and keepGrey.
int loadImage(TgaImage& image, const char* fileName, bool heightImage);

// Wipes a progress text written without a newline: carriage return, 67
// blanks, carriage return.
void blankProgressText();

// Copies the rowBytes bytes of stored row `row` (0 = top) into destination.
void copyImageRow(const TgaImage& image, std::uint8_t* destination, std::int32_t row);

// Creates fileName and writes the 18-byte header for image's imageType, width
// and height; sets rowBytes. 0 on success; 1 after printing the writer's error.
int openOutputTga(TgaImage& image, const char* fileName);

// Removes a partially written output file; a device or other special file
// (such as /dev/full) is left alone.
void removePartialOutput(const char* fileName);

// Appends one row (twice with Double) from rowBuffer, applying CutOff and grey
// compaction. A failed write sets image.format to 0, so that nothing more is
// written and the run driver reports the failure.
void writeOutputRow(TgaImage& image, std::uint8_t* rowBuffer);
