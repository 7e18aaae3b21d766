// Planning a run: settings completed for the images' headers, and every
// size fixed.
#include <climits>
#include <memory>
#include <utility>

#include "engine/engine.h"
#include "image/image.h"
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
    settings.TopF = splitColour(topF);
    settings.BotF = splitColour(botF);
    settings.TopB = splitColour(topB);
    settings.BotB = splitColour(botB);
}

RunSettings runSettings(const Settings& settings) {
    // Bottom minus top, wrapping to 16 bits as every component does.
    const auto difference = [](const Colour& bottom, const Colour& top) {
        return Colour{static_cast<std::int16_t>(bottom.red - top.red),
                      static_cast<std::int16_t>(bottom.green - top.green),
                      static_cast<std::int16_t>(bottom.blue - top.blue)};
    };
    RunSettings run;
    static_cast<Settings&>(run) = settings;
    run.DiffF = difference(settings.BotF, settings.TopF);
    run.DiffB = difference(settings.BotB, settings.TopB);
    return run;
}

Status checkFlags(const Settings& settings) {
    // Names held in the table itself: no pointers, so no data to relocate.
    struct Flag {
        char name[8];
        std::int32_t Settings::*field;
    };
    static constexpr Flag kFlags[] = {
        {"TrueOut", &Settings::TrueOut}, {"VInc", &Settings::VInc},     {"Inv", &Settings::Inv},
        {"NoRD", &Settings::NoRD},       {"CutOff", &Settings::CutOff}, {"Hidden", &Settings::Hidden},
        {"Double", &Settings::Double},   {"StretA", &Settings::StretA}, {"StretX", &Settings::StretX},
        {"StretY", &Settings::StretY},   {"StretR", &Settings::StretR}, {"StretP", &Settings::StretP},
        {"StretZ", &Settings::StretZ}};
    for (const Flag& flag : kFlags) {
        const std::int32_t value = settings.*flag.field;
        if (value != 0 && value != 1) return makeStatus(StatusCode::kInvalidSetting, 0, 0, flag.name);
    }
    return {};
}

void normalisePatternType(RunSettings& settings) {
    const PatternType* type = patternType(settings.PatT);
    if (type == nullptr) settings.PatT = 0;
    if (type == nullptr || type->colour) settings.TrueOut = 1;
}

Status resolveStripes(RunSettings& settings, std::int32_t inputWidth) {
    if (!settings.psizInStripes) return {};
    if (settings.PSiz < 1) return makeStatus(StatusCode::kNoStripes);
    settings.PSiz = (inputWidth * 10 / settings.PSiz + 5) / 10;
    settings.psizInStripes = false;
    return {};
}

unsigned fitPatternImage(RunSettings& settings, const ImageHeader& heights, const ImageHeader* pattern) {
    if (settings.PatT != 0 || pattern == nullptr) {
        settings.StretA = settings.StretX = settings.StretY = settings.StretR = settings.StretP = 0;
        return 0;
    }
    return decidePatternImageStretch(settings, heights, *pattern);
}

unsigned adjustSettings(RunSettings& settings) {
    unsigned warnings = 0;
    if (settings.CutOff && settings.FocP == 1) {
        warnings |= kWarnFocPAssumed;
        settings.FocP = 2;
    }
    if (settings.Hidden && settings.PPos == 2) warnings |= kWarnHiddenCentre;
    if (settings.Hidden && settings.PPos == 3) warnings |= kWarnHiddenRight;
    return warnings;
}

Status makeRowGeometry(const RunSettings& settings, const ImageHeader& heights, const ImageHeader* pattern,
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
    // Grey output is worked at one byte per pixel: all of its pixels are grey.
    geometry.pixelBytes = geometry.outputGrey ? 1 : 3;
    if (settings.CutOff) {
        geometry.cutOffPixels = static_cast<std::int32_t>(((settings.Double + 1) * psiz + 1) / 2);
    }
    geometry.markDistance = static_cast<std::int32_t>((settings.Double + 1) * psiz);
    geometry.bandHeight = static_cast<std::int32_t>(height / 30);
    geometry.bandRows = static_cast<std::int32_t>(bandRows);
    return {};
}

Plan plan(const Settings& request, const ImageHeader& given, const ImageHeader* pattern) {
    Plan result;
    result.heights = given;
    result.resampled = given;
    RunSettings settings = runSettings(request);
    const auto refuse = [&](PlanStage stage, Status status) {
        result.stage = stage;
        result.refusal = std::move(status);
        result.settings = settings;
        return result;
    };
    if (Status status = checkFlags(settings); !status) return refuse(PlanStage::kSettings, status);
    if (given.width < 0 || given.height < 0 || given.width > kMaxImageSide || given.height > kMaxImageSide) {
        return refuse(PlanStage::kHeightImage, makeStatus(StatusCode::kImageTooLarge, given.width, given.height));
    }
    if (settings.Width < 0 || settings.Width > kMaxImageSide) {
        return refuse(PlanStage::kSettings, makeStatus(StatusCode::kWidthOutOfRange));
    }
    // From here on the height image is the one the run uses: every size
    // and limit is that of the resampled image.
    const ImageHeader heights = resampledHeader(given, settings.Width);
    result.resampled = heights;
    normalisePatternType(settings);
    if (Status status = resolveStripes(settings, heights.width); !status) {
        return refuse(PlanStage::kHeightImage, status);
    }
    if (settings.PatT == 0 && pattern == nullptr) {
        // Whether any pattern image could make the run: a pattern image
        // never makes the pattern width less than 1 pixel.
        RunSettings narrowest = settings;
        narrowest.PSiz = 1;
        adjustSettings(narrowest);
        RowGeometry geometry;
        Status status = makeRowGeometry(narrowest, heights, nullptr, geometry);
        if (status.code != StatusCode::kOutputTooLarge) status = {};
        return refuse(PlanStage::kNeedsPattern, status);
    }
    if (settings.PatT == 0) {
        result.pattern = *pattern;
        if (pattern->width <= 0 || pattern->height <= 0) {
            return refuse(PlanStage::kPatternImage, makeStatus(StatusCode::kPatternImageEmpty));
        }
    }
    const ImageHeader* patternImage = settings.PatT == 0 ? pattern : nullptr;
    unsigned warnings = fitPatternImage(settings, heights, patternImage);
    const unsigned adjusted = adjustSettings(settings);
    RowGeometry geometry;
    Status status = makeRowGeometry(settings, heights, patternImage, geometry);
    // The adjustments are announced with a run that gets as far as its
    // output size.
    if (status || status.code == StatusCode::kOutputTooLarge) warnings |= adjusted;
    result.warnings = warnings;
    if (!status) return refuse(PlanStage::kSizes, status);

    result.stage = PlanStage::kAccepted;
    result.settings = settings;
    result.outputWidth = geometry.outputWidth;
    result.outputHeight = geometry.outputHeight;
    result.outputGrey = geometry.outputGrey;
    result.outputRowBytes = geometry.outputRowBytes;
    result.tgaBytes = tgaFileBytes(geometry);
    result.detail = std::make_shared<const PlanDetail>(PlanDetail{settings, geometry, given, heights, result.pattern});
    return result;
}

}  // namespace rdsgen
