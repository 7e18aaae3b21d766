// Preparing a run: settings completed for the images, and every size fixed.
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "engine/engine.h"
#include "pattern/pattern.h"

namespace rdsgen {

namespace {

// A working buffer larger than this is treated as an allocation that failed,
// which keeps every byte offset into it inside 32 bits.
constexpr std::int64_t kMaxBufferBytes = INT32_MAX / 2;

// The largest width or height a TARGA header can hold.
constexpr std::int32_t kMaxImageSide = 65535;

bool bufferFits(std::int64_t bytes) { return bytes > 0 && bytes <= kMaxBufferBytes; }

}  // namespace

Colour splitColour(std::int32_t number) {
    const std::int32_t red = number / 1000000;
    const std::int32_t green = (number - red * 1000000) / 1000;
    const std::int32_t blue = number - red * 1000000 - green * 1000;
    return Colour{static_cast<std::int16_t>(red), static_cast<std::int16_t>(green),
                  static_cast<std::int16_t>(blue)};
}

void setColours(Settings& settings, std::int32_t topF, std::int32_t botF, std::int32_t topB,
                std::int32_t botB) {
    const auto difference = [](const Colour& bottom, const Colour& top) {
        return Colour{static_cast<std::int16_t>(bottom.red - top.red),
                      static_cast<std::int16_t>(bottom.green - top.green),
                      static_cast<std::int16_t>(bottom.blue - top.blue)};
    };
    settings.TopF = splitColour(topF);
    settings.DiffF = difference(splitColour(botF), settings.TopF);
    settings.TopB = splitColour(topB);
    settings.DiffB = difference(splitColour(botB), settings.TopB);
}

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
    }
    return "Unknown error.";
}

void normalisePatternType(Settings& settings) {
    if (settings.PatT < 1 || settings.PatT > 7) settings.PatT = 0;
    if (settings.PatT == 0 || settings.PatT > 2) settings.TrueOut = 1;
}

Status resolveStripes(Settings& settings, std::int32_t inputWidth) {
    if (!settings.psizInStripes) return {};
    if (settings.PSiz < 1) return makeStatus(StatusCode::kNoStripes);
    settings.PSiz = (inputWidth * 10 / settings.PSiz + 5) / 10;
    settings.psizInStripes = false;
    return {};
}

Status checkPatternImage(const Settings& settings, const Image* pattern) {
    if (settings.PatT != 0) return {};
    if (pattern == nullptr || pattern->width == 0 || pattern->height == 0) {
        return makeStatus(StatusCode::kPatternImageEmpty);
    }
    return {};
}

unsigned fitPatternImage(Settings& settings, const Image& heights, const Image* pattern) {
    if (settings.PatT != 0 || pattern == nullptr) {
        settings.StretA = settings.StretX = settings.StretY = settings.StretR = settings.StretP = 0;
        return 0;
    }
    return decidePatternImageStretch(settings, heights, *pattern);
}

unsigned adjustSettings(Settings& settings) {
    unsigned warnings = 0;
    if (settings.CutOff && settings.FocP == 1) {
        warnings |= kWarnFocPAssumed;
        settings.FocP = 2;
    }
    if (settings.Hidden && settings.PPos == 2) warnings |= kWarnHiddenCentre;
    if (settings.Hidden && settings.PPos == 3) warnings |= kWarnHiddenRight;
    return warnings;
}

Status makeRowGeometry(const Settings& settings, const Image& heights, const Image* pattern,
                       RowGeometry& geometry) {
    geometry = RowGeometry{};
    if (settings.PSiz < 1) return makeStatus(StatusCode::kPatternWidthTooSmall);
    // A wider period could never fit an output row; refusing it here also
    // bounds the work of every row when CutOff hides the period.
    if (settings.PSiz > kMaxImageSide) return makeStatus(StatusCode::kPatternWidthTooLarge, kMaxImageSide);

    const std::int64_t scale = (settings.VInc + 1) * (settings.Double + 1);
    const std::int64_t width = heights.width;
    const std::int64_t height = heights.height;
    const std::int64_t psiz = settings.PSiz;
    std::int64_t sourcePeriod = 0;
    if (settings.PatT == 0) {
        sourcePeriod = pattern != nullptr ? pattern->width : 0;
    } else if (settings.NoRD) {
        sourcePeriod = (5 * psiz + 2) / 4;
    }
    if (!bufferFits((width + 1) * 4 * scale)) return makeStatus(StatusCode::kNoMemory);
    if (!bufferFits((width + psiz + 1) * 3 * scale)) return makeStatus(StatusCode::kPatternNoMemory);
    if (sourcePeriod > 0 && !bufferFits((sourcePeriod + 1) * 3 * scale)) {
        return makeStatus(StatusCode::kPatternNoMemory);
    }

    const std::int64_t outputWidth = (settings.CutOff ? width : width + psiz) * (settings.Double + 1);
    const std::int64_t bandRows = settings.FocP == 1 ? height / 30 : 0;
    const std::int64_t outputHeight = (height + bandRows) * (settings.Double + 1);
    if (outputWidth > kMaxImageSide || outputHeight > kMaxImageSide) {
        return makeStatus(StatusCode::kOutputTooLarge, outputWidth, outputHeight);
    }

    geometry.scale = static_cast<std::int32_t>(scale);
    geometry.inputWidth = heights.width;
    geometry.inputHeight = heights.height;
    geometry.patternWidth = static_cast<std::int32_t>(scale * psiz);
    geometry.scaledInputWidth = static_cast<std::int32_t>(scale * width);
    if (settings.PPos == 2) {
        geometry.stripStart = static_cast<std::int32_t>(scale * (width / 2));
    } else if (settings.PPos == 3) {
        geometry.stripStart = geometry.scaledInputWidth;
    }
    geometry.rowPixels = static_cast<std::int32_t>((width + psiz + 1) * scale);
    geometry.sourcePeriod = static_cast<std::int32_t>(sourcePeriod);
    geometry.outputWidth = static_cast<std::int32_t>(outputWidth);
    geometry.outputHeight = static_cast<std::int32_t>(outputHeight);
    geometry.outputGrey = settings.TrueOut == 0;
    geometry.outputRowBytes = geometry.outputWidth * (geometry.outputGrey ? 1 : 3);
    if (settings.CutOff) {
        geometry.cutOffPixels = static_cast<std::int32_t>(((settings.Double + 1) * psiz + 1) / 2);
    }
    geometry.markDistance = static_cast<std::int32_t>((settings.Double + 1) * psiz);
    geometry.bandHeight = static_cast<std::int32_t>(height / 30);
    geometry.bandRows = static_cast<std::int32_t>(bandRows);
    return {};
}

std::int32_t threadCount(std::int32_t requested) {
    if (requested > 0) return requested;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::int32_t>(online) : 1;
}

Status prepareStereogram(Settings& settings, const Image& heights, const Image* pattern,
                         RowGeometry& geometry, unsigned& warnings) {
    warnings = 0;
    normalisePatternType(settings);
    if (Status status = resolveStripes(settings, heights.width); !status) return status;
    if (Status status = checkPatternImage(settings, pattern); !status) return status;
    if (settings.PatT == 0 && !pattern->pixels) return makeStatus(StatusCode::kPatternImageEmpty);
    warnings |= fitPatternImage(settings, heights, pattern);
    warnings |= adjustSettings(settings);
    return makeRowGeometry(settings, heights, pattern, geometry);
}

Status generateStereogram(Settings settings, const Image& heights, const Image* pattern,
                          const RenderOptions& options, RowSink sink, Progress progress) {
    RowGeometry geometry;
    unsigned warnings = 0;
    if (Status status = prepareStereogram(settings, heights, pattern, geometry, warnings); !status) {
        return status;
    }
    return renderStereogram(settings, geometry, heights, pattern, options, sink, progress);
}

}  // namespace rdsgen
