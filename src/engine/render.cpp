// Rendering a plan: the images checked against it, then the calculation
// loop over what the plan fixed.
#include "engine/engine.h"
#include "image/image.h"
#include "stereo/stereo.h"

namespace rdsgen {

namespace {

// Whether an image is the one planned for: the same size and kind, rows
// that fit its pixels, and the pixels themselves.
bool matches(const Image& image, const ImageHeader& header) {
    return image.width == header.width && image.height == header.height && image.kind == header.kind &&
           image.rowBytes == image.width * pixelBytes(image.kind);
}

bool hasPixels(const Image& image) { return image.pixels || image.height == 0 || image.rowBytes == 0; }

}  // namespace

Status render(const Plan& plan, const Image& heights, const Image* pattern, const RenderOptions& options,
              RowSink sink, Progress progress) {
    if (!plan || plan.detail == nullptr) return makeStatus(StatusCode::kNotPrepared);
    const PlanDetail& detail = *plan.detail;
    const bool patternImage = detail.settings.PatT == 0;
    if (!matches(heights, detail.heights) ||
        (patternImage && (pattern == nullptr || !matches(*pattern, detail.pattern)))) {
        return makeStatus(StatusCode::kNotPrepared);
    }
    if (!hasPixels(heights)) return makeStatus(StatusCode::kNoMemory);
    if (patternImage && !hasPixels(*pattern)) return makeStatus(StatusCode::kPatternImageEmpty);
    const Image* runHeights = &heights;
    Image resampled;
    if (headerOf(heights).width != detail.resampled.width || headerOf(heights).height != detail.resampled.height) {
        if (Status status = resampleImage(heights, detail.resampled, resampled); !status) return status;
        runHeights = &resampled;
    }
    return renderStereogram(detail.settings, detail.geometry, *runHeights, patternImage ? pattern : nullptr,
                            options, sink, progress);
}

Status generateStereogram(const Settings& settings, const Image& heights, const Image* pattern,
                          const RenderOptions& options, RowSink sink, Progress progress) {
    const ImageHeader patternHeader = pattern != nullptr ? headerOf(*pattern) : ImageHeader{};
    const Plan planned = plan(settings, headerOf(heights), pattern != nullptr ? &patternHeader : nullptr);
    if (planned.stage == PlanStage::kNeedsPattern) return makeStatus(StatusCode::kPatternImageEmpty);
    if (!planned) return planned.refusal;
    return render(planned, heights, pattern, options, sink, progress);
}

}  // namespace rdsgen
