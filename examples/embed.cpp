// Embedding rdsgen: a height image made in memory becomes a stereogram
// written to a TARGA file through a RowSink.
//
//   c++ -std=c++20 embed.cpp $(pkg-config --cflags --libs rdsgen) -o embed
//   ./embed ring.tga
#include <rdsgen/rdsgen.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool writeToFile(void* context, const std::uint8_t* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, static_cast<std::FILE*>(context)) == count;
}

}  // namespace

int main(int argc, char** argv) {
    const char* outputName = argc > 1 ? argv[1] : "ring.tga";
    // A raised ring, 8-bit grey: brighter is nearer.
    rdsgen::Image heights = rdsgen::makeImage(400, 300, rdsgen::PixelKind::kGrey8);
    if (!heights.pixels) return 1;
    for (int y = 0; y < heights.height; ++y) {
        for (int x = 0; x < heights.width; ++x) {
            const double r = std::hypot(x - 200.0, y - 150.0);
            heights.pixels[y * heights.rowBytes + x] = std::fabs(r - 90.0) < 30.0 ? 200 : 0;
        }
    }

    rdsgen::Settings settings;  // the command line's defaults: dots, 68 pixels wide
    settings.PatT = 6;          // hard coloured discs
    // Everything about the run is decided from the image's size and kind.
    const rdsgen::Plan plan = rdsgen::plan(settings, rdsgen::headerOf(heights));
    if (!plan) {
        std::fprintf(stderr, "ERROR: %s\n", rdsgen::statusText(plan.refusal).c_str());
        return 1;
    }
    std::printf("%d x %d pixels, %llu bytes\n", plan.outputWidth, plan.outputHeight,
                static_cast<unsigned long long>(plan.tgaBytes));
    rdsgen::RenderOptions options;
    options.seed = 42;

    std::FILE* file = std::fopen(outputName, "wb");
    if (file == nullptr) return 1;
    // The whole image fits in the stream's buffer: one write at the end.
    std::vector<char> buffer(std::size_t{1} << 20);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    const rdsgen::Status status =
        rdsgen::render(plan, heights, nullptr, options, rdsgen::RowSink{writeToFile, file});
    if (!status) {
        std::fclose(file);
        std::fprintf(stderr, "ERROR: %s\n", rdsgen::statusText(status).c_str());
        return 1;
    }
    // The last bytes reach the file only now: a full disk shows here.
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "ERROR: Can't write '%s': %s.\n", outputName, std::strerror(errno));
        return 1;
    }
    std::printf("%s written\n", outputName);
    return 0;
}
