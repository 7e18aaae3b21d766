// The whole run, in process, on an arbitrary height image (or pattern image)
// with one of a few fixed option lines. The first input byte chooses the
// line; the rest is the image file. /Rand:1 keeps every run reproducible.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

struct OptionLine {
    bool asPattern;                   // the bytes are the pattern image
    std::vector<std::string> options;
};

const std::vector<OptionLine>& optionLines() {
    static const std::vector<OptionLine> lines = {
        {false, {}},
        {false, {"/PatT:3", "/NoRD", "/Hidden"}},
        {false, {"/PatT:7", "/VInc", "/Double", "/CutOff", "/FocP:2"}},
        {false, {"/PPos:3", "/PUse:90"}},
        {true, {"/PatT:pattern.tga"}},
        {true, {"/PatT:pattern.tga", "/NoRD", "/Stret:XYR", "/PSiz:P50"}},
    };
    return lines;
}

// A fixed 40 x 30 grey height image (a raised square on a slope) used when
// the fuzzed bytes are the pattern image.
void writeFixedHeightImage() {
    const int width = 40;
    const int height = 30;
    std::vector<std::uint8_t> file = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                      width, 0, height, 0, 8, 0x20};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool square = x > 10 && x < 30 && y > 8 && y < 22;
            file.push_back(static_cast<std::uint8_t>(square ? 200 : 4 * x));
        }
    }
    fuzz::writeFile("heights.tga", file.data(), file.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkDirectory();
    writeFixedHeightImage();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const OptionLine& line = optionLines()[data[0] % optionLines().size()];
    const char* imageName = line.asPattern ? "pattern.tga" : "in.tga";
    fuzz::writeFile(imageName, data + 1, size - 1);
    std::vector<std::string> args = {line.asPattern ? "heights.tga" : "in.tga", "out.tga", "/Rand:1"};
    args.insert(args.end(), line.options.begin(), line.options.end());
    fuzz::runChecked(args, "out.tga");
    return 0;
}
