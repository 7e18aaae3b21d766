// The texts of statuses, as the command line prints them after "ERROR: ".
#include <cstdio>
#include <string>

#include "rdsgen/rdsgen.h"

namespace rdsgen {

std::string statusText(const Status& status) {
    char text[96];
    switch (status.code) {
        case StatusCode::kOk: return "No error.";
        case StatusCode::kTgaCompressed:
            std::snprintf(text, sizeof text, "Can't read TARGA image type %d (compressed image)",
                          static_cast<int>(status.detail[0]));
            return text;
        case StatusCode::kTgaEndOfFile: return "Unexpected end of file in TARGA image.";
        case StatusCode::kTgaPaletteTooLong: return "Can't read paletted images with more than 256 colors.";
        case StatusCode::kTgaPaletteNot24Bit: return "Can't read non-24bit-palettes.";
        case StatusCode::kTgaGreyOver24Bit: return "Can't read >24bit grayscale targas.";
        case StatusCode::kTgaTrueColourNot24Bit: return "Can only read 24bit truecolor targas.";
        case StatusCode::kTgaUnknownType: return "Unknown targa type.";
        case StatusCode::kTgaUnder8Bit: return "Can't read targas with less than 8 bits per pixel.";
        case StatusCode::kTgaPaletteOver24Bit: return "Can't read >24bit paletted targas.";
        case StatusCode::kImageNoMemory: return "not enough memory to read image.";
        case StatusCode::kCantOpenFile: return "Can't open input file.";
        case StatusCode::kIsDirectory: return "The image is a directory.";
        case StatusCode::kImageTooLarge: {
            const unsigned side = status.detail[2] > 0 ? static_cast<unsigned>(status.detail[2]) : 65535;
            std::snprintf(text, sizeof text, "Image is too large (%u x %u pixels, at most %u x %u).",
                          static_cast<unsigned>(status.detail[0]), static_cast<unsigned>(status.detail[1]), side,
                          side);
            return text;
        }
        case StatusCode::kPngError: return "Can't read PNG image: " + status.reason + ".";
        case StatusCode::kJpegError: return "Can't read JPEG image: " + status.reason + ".";
        case StatusCode::kNoStripes: return "Number of stripes must be at least 1.";
        case StatusCode::kPatternImageEmpty: return "Pattern image has no pixels.";
        case StatusCode::kPatternWidthTooSmall: return "Pattern width must be at least 1 pixel.";
        case StatusCode::kPatternWidthTooLarge:
            std::snprintf(text, sizeof text, "Pattern width must be at most %d pixels.",
                          static_cast<int>(status.detail[0]));
            return text;
        case StatusCode::kNoMemory: return "Not enough memory. Use a smaller input image.";
        case StatusCode::kPatternNoMemory: return "Not enough memory for pattern. Reduce pattern width.";
        case StatusCode::kOutputTooLarge:
            std::snprintf(text, sizeof text,
                          "Output image too large (%d x %d pixels, at most 65535 x 65535).",
                          static_cast<int>(status.detail[0]), static_cast<int>(status.detail[1]));
            return text;
        case StatusCode::kWriteFailed: return "Can't write output file.";
        case StatusCode::kCancelled: return "The render was cancelled.";
        case StatusCode::kCallbackFailed: return "A callback of the render threw an exception.";
        case StatusCode::kInvalidSetting:
            // The frame sequence's settings, named by the writer.
            if (status.reason == "rate") return "The frame rate must be from 1 to 65535 frames per second.";
            if (status.reason == "rewrite") {
                return "An animated PNG of unknown length needs an output that can be rewritten.";
            }
            if (status.reason == "format") return "Unknown frame sequence format.";
            return "Setting " + status.reason + " must be 0 or 1.";
        case StatusCode::kNotPrepared:
            return "The plan was not accepted, or the images differ from those it was made for.";
        case StatusCode::kTooManyColours:
            return "Frame " + std::to_string(status.detail[0] + 1) +
                   " has more than 256 colours, which a GIF cannot hold exactly; write an animated PNG"
                   " (.png or .apng) instead.";
        case StatusCode::kSequenceOrder:
            return "Frames were added before the sequence began or after it finished.";
        case StatusCode::kWidthOutOfRange:
            return "Width must be 1 to 65535 pixels (0: the height image's own).";
    }
    return "Unknown error.";
}

}  // namespace rdsgen
