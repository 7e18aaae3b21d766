// The whole engine, in memory, on an arbitrary height image (or pattern
// image) with one of a few fixed settings. The first input byte chooses the
// settings and the number of threads; the rest is the image file (TARGA, PNG or JPEG). Every run
// either is refused or writes exactly the header and the rows it promises.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "image/image.h"

namespace {

struct Line {
    bool asPattern;  // the bytes are the pattern image
    void (*apply)(rdsgen::Settings&);
};

const Line kLines[] = {
    {false, [](rdsgen::Settings&) {}},
    {false, [](rdsgen::Settings& s) { s.PatT = 3, s.NoRD = 1, s.Hidden = 1; }},
    {false, [](rdsgen::Settings& s) { s.PatT = 7, s.VInc = 1, s.Double = 1, s.CutOff = 1, s.FocP = 2; }},
    {false, [](rdsgen::Settings& s) { s.PPos = 3, s.PUse = 90; }},
    {true, [](rdsgen::Settings& s) { s.PatT = 0; }},
    {true, [](rdsgen::Settings& s) {
         s.PatT = 0, s.NoRD = 1, s.StretA = 0, s.StretX = 1, s.StretY = 1, s.PSiz = 50, s.psizGiven = true;
     }},
};
constexpr std::size_t kLineCount = sizeof kLines / sizeof kLines[0];

// A fixed 40 x 30 grey height image (a raised square on a slope) used when
// the fuzzed bytes are the pattern image.
rdsgen::Image fixedHeightImage() {
    rdsgen::Image image = rdsgen::makeImage(40, 30, rdsgen::PixelKind::kGrey8);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool square = x > 10 && x < 30 && y > 8 && y < 22;
            image.pixels[static_cast<std::size_t>(y) * 40 + x] = static_cast<std::uint8_t>(square ? 200 : 4 * x);
        }
    }
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Line& line = kLines[data[0] % kLineCount];
    // PNG and JPEG headers claiming more pixels than this are not decoded: a
    // tiny file can describe a huge flat picture, whose decoding is real
    // work, not a fault (the reader harnesses read such headers).
    const std::span<const std::uint8_t> file(data + 1, size - 1);
    const rdsgen::FileFormat format = rdsgen::sniffFormat(file);
    if (format != rdsgen::FileFormat::kTga) {
        rdsgen::Image header;
        const rdsgen::Status status = format == rdsgen::FileFormat::kPng ? rdsgen::decodePng(file, header, true)
                                                                         : rdsgen::decodeJpeg(file, header, true);
        if (status && std::int64_t{header.width} * header.height > (std::int64_t{1} << 22)) return 0;
    }
    rdsgen::Image image;
    if (!rdsgen::readImage(file, image)) return 0;
    static const rdsgen::Image heights = fixedHeightImage();

    rdsgen::Settings settings;
    line.apply(settings);
    const rdsgen::Image& height = line.asPattern ? heights : image;
    const rdsgen::Image* pattern = line.asPattern ? &image : nullptr;
    const rdsgen::ImageHeader patternHeader = rdsgen::headerOf(image);
    const rdsgen::Plan planned = rdsgen::plan(settings, rdsgen::headerOf(height), line.asPattern ? &patternHeader : nullptr);
    if (!planned) return 0;

    rdsgen::RenderOptions options;
    options.threads = data[0] / kLineCount % 2 + 1;
    fuzz::CountingSink sink;
    const rdsgen::Status status = rdsgen::render(planned, height, pattern, options, sink.rowSink());
    fuzz::require(static_cast<bool>(status), "a planned run completes");
    fuzz::require(sink.bytes == planned.tgaBytes, "output complete");
    return 0;
}
