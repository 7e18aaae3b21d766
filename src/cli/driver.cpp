// The run driver: one run from the banner to the exit status.
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "depth/depth.h"
#include "stereo/stereo.h"

namespace {

// A working buffer larger than this is treated as an allocation that failed,
// which keeps every byte offset into it inside 32 bits.
constexpr std::int64_t kMaxBufferBytes = INT32_MAX / 2;

// The largest width or height a TARGA header can hold.
constexpr std::int32_t kMaxImageSide = 65535;

constexpr std::int32_t kDefaultTopF = 255248000;
constexpr std::int32_t kDefaultBotF = 255090140;
constexpr std::int32_t kDefaultTopB = 90060255;
constexpr std::int32_t kDefaultBotB = 140095;

// Start-up values that live only in the driver.
struct StartValues {
    std::int32_t seed = 0;
    bool stripes = false;
    bool psizGiven = false;
    std::int32_t topF = kDefaultTopF;
    std::int32_t botF = kDefaultBotF;
    std::int32_t topB = kDefaultTopB;
    std::int32_t botB = kDefaultBotB;
};

void printBanner(const std::string& name) {
    std::printf("%s V2.0 - random-dot stereogram generator, by the rdsgen authors\n", name.c_str());
    std::printf("Free software under the MIT licence; it comes without any warranty.\n");
}

// Releases every buffer and image of the run and closes any open stream.
void releaseRun() {
    run.separationBuffer.reset();
    run.rowBuffer.reset();
    run.patternSourceRow.reset();
    run.heightImage.pixels.reset();
    if (run.outputImage.stream != nullptr) {
        std::fclose(run.outputImage.stream);
        run.outputImage.stream = nullptr;
    }
    run.patternImage.pixels.reset();
}

Bytes allocateBuffer(std::int64_t bytes) {
    if (bytes <= 0 || bytes > kMaxBufferBytes) return nullptr;
    return allocateBytes(static_cast<std::size_t>(bytes));
}

bool isSet(const std::string& slot) { return !slot.empty() && slot[0] == '>'; }

// Converts the slots into settings and start-up values, in slot order.
void convertSlots(std::vector<std::string>& slots, StartValues& start) {
    auto value = [&](int slot, std::int32_t& target) {
        if (!slots[slot].empty()) target = readDecimal(slots[slot].c_str());
    };
    value(kSlotPatT, settings.PatT);
    value(kSlotPSizP, settings.PSiz);
    if (!slots[kSlotPSizS].empty()) {
        settings.PSiz = readDecimal(slots[kSlotPSizS].c_str());
        start.stripes = true;
    }
    start.psizGiven = !slots[kSlotPSizP].empty() || !slots[kSlotPSizS].empty();
    value(kSlotPUse, settings.PUse);
    value(kSlotPPos, settings.PPos);
    value(kSlotDens, settings.Dens);
    value(kSlotRand, start.seed);
    value(kSlotFocP, settings.FocP);
    value(kSlotTopF, start.topF);
    value(kSlotBotF, start.botF);
    value(kSlotTopB, start.topB);
    value(kSlotBotB, start.botB);
    if (!slots[kSlotStret].empty()) parseStretch(slots[kSlotStret].data());

    const std::pair<int, std::int32_t*> flags[] = {
        {kSlotNoRD, &settings.NoRD},     {kSlotTrueOut, &settings.TrueOut},
        {kSlotVInc, &settings.VInc},     {kSlotInv, &settings.Inv},
        {kSlotCutOff, &settings.CutOff}, {kSlotHidden, &settings.Hidden},
        {kSlotDouble, &settings.Double}};
    for (const auto& [slot, flag] : flags) {
        if (isSet(slots[slot])) *flag = 1;
    }
}

Colour difference(const Colour& bottom, const Colour& top) {
    return Colour{static_cast<std::int16_t>(bottom.red - top.red),
                  static_cast<std::int16_t>(bottom.green - top.green),
                  static_cast<std::int16_t>(bottom.blue - top.blue)};
}

void splitColours(const StartValues& start) {
    Colour bottom;
    splitColour(start.topF, settings.TopF);
    splitColour(start.botF, bottom);
    settings.DiffF = difference(bottom, settings.TopF);
    splitColour(start.topB, settings.TopB);
    splitColour(start.botB, bottom);
    settings.DiffB = difference(bottom, settings.TopB);
}

void printAdjustingWarnings() {
    if (settings.CutOff && settings.FocP == 1) {
        std::printf("WARNING: 'CutOff' option may not be used with 'FocP=1'. '/FocP=2' assumed.\n");
        settings.FocP = 2;
    }
    if (settings.Hidden && settings.PPos == 2) {
        std::printf("WARNING: combining '/Hidden' and '/PPos=2' may cause funny results.\n"
                    "         You should better use it with the '/PPos=1' option.\n");
    }
    if (settings.Hidden && settings.PPos == 3) {
        std::printf("WARNING: the '/Hidden' option has no effect with '/PPos=3'.\n");
    }
}

bool sameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Steps 10 to 21 of a run, after the command line has been converted.
int runWithSettings(const std::string& inputName, const std::string& outputName,
                    const std::string& patternName, const StartValues& start) {
    if (loadImage(run.heightImage, inputName.c_str(), true) != 0) return 1;

    if (start.stripes) {
        if (settings.PSiz < 1) {
            std::fprintf(stderr, "ERROR: Number of stripes must be at least 1.\n");
            releaseRun();
            return 1;
        }
        settings.PSiz = (inputWidth() * 10 / settings.PSiz + 5) / 10;
    }

    const std::int64_t scale = scaleFactor();
    run.separationBuffer = allocateBuffer((std::int64_t{inputWidth()} + 1) * 4 * scale);
    if (!run.separationBuffer) {
        std::fprintf(stderr, "ERROR: Not enough memory. Use a smaller input image.\n");
        releaseRun();
        return 1;
    }

    if (settings.PatT == 0) {
        if (loadImage(run.patternImage, patternName.c_str(), false) != 0) {
            releaseRun();
            return 1;
        }
        if (run.patternImage.width == 0 || run.patternImage.height == 0) {
            std::fprintf(stderr, "ERROR: Pattern image '%s' has no pixels.\n", patternName.c_str());
            releaseRun();
            return 1;
        }
        decidePatternImageStretch(start.psizGiven);
    } else {
        settings.StretA = settings.StretX = settings.StretY = settings.StretR = settings.StretP = 0;
    }

    if (settings.PSiz < 1) {
        std::fprintf(stderr, "ERROR: Pattern width must be at least 1 pixel.\n");
        releaseRun();
        return 1;
    }
    // A wider period could never fit an output row; refusing it here also
    // bounds the work of every row when CutOff hides the period.
    if (settings.PSiz > kMaxImageSide) {
        std::fprintf(stderr, "ERROR: Pattern width must be at most %d pixels.\n", kMaxImageSide);
        releaseRun();
        return 1;
    }

    run.rowBuffer = allocateBuffer((std::int64_t{inputWidth()} + settings.PSiz + 1) * 3 * scale);
    if (!run.rowBuffer) {
        std::fprintf(stderr, "ERROR: Not enough memory for pattern. Reduce pattern width.\n");
        releaseRun();
        return 1;
    }

    if (settings.NoRD || settings.PatT == 0) {
        run.patternSourcePeriod = settings.PatT == 0 ? run.patternImage.width
                                                     : (5 * settings.PSiz + 2) / 4;
        run.patternSourceRow = allocateBuffer((std::int64_t{run.patternSourcePeriod} + 1) * 3 * scale);
        if (!run.patternSourceRow) {
            std::fprintf(stderr, "ERROR: Not enough memory for pattern. Reduce pattern width.\n");
            releaseRun();
            return 1;
        }
    }

    printAdjustingWarnings();

    const std::int64_t width = outputWidth();
    const std::int64_t height = outputHeight();
    if (width > kMaxImageSide || height > kMaxImageSide) {
        std::fprintf(stderr, "ERROR: Output image too large (%d x %d pixels, at most 65535 x 65535).\n",
                     static_cast<int>(width), static_cast<int>(height));
        releaseRun();
        return 1;
    }

    struct stat outputInfo {};
    if (stat(outputName.c_str(), &outputInfo) == 0 &&
        (sameFile(outputInfo, inputName) || (settings.PatT == 0 && sameFile(outputInfo, patternName)))) {
        std::fprintf(stderr, "ERROR: Output file '%s' would overwrite an input image.\n",
                     outputName.c_str());
        releaseRun();
        return 1;
    }

    TgaImage& output = run.outputImage;
    output.format = 1;
    output.imageType = static_cast<std::int16_t>(3 - settings.TrueOut);
    output.width = static_cast<std::int32_t>(width);
    output.height = static_cast<std::int32_t>(height);
    if (openOutputTga(output, outputName.c_str()) != 0) {
        output.stream = nullptr;
        releaseRun();
        return 1;
    }

    scaleHeights(run.heightImage, run.separationBuffer.get(), settings.StretZ);
    runCalculation();

    run.separationBuffer.reset();
    run.rowBuffer.reset();
    run.patternSourceRow.reset();
    run.heightImage.pixels.reset();
    bool written = output.format == 1 && std::fflush(output.stream) == 0 &&
                   std::ferror(output.stream) == 0;
    bool closed = std::fclose(output.stream) == 0;
    output.stream = nullptr;
    run.patternImage.pixels.reset();
    if (!written || !closed) {
        std::printf("\n");
        std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", outputName.c_str());
        removePartialOutput(outputName.c_str());
        return 1;
    }

    std::printf("\rfinished.%70s\n", "");
    return 0;
}

}  // namespace

void decidePatternImageStretch(bool psizGiven) {
    const std::int64_t imageWidth = run.patternImage.width;
    const std::int64_t imageHeight = run.patternImage.height;
    const std::int64_t width = inputWidth();
    const std::int64_t pattern = settings.PSiz;
    if (settings.StretA) {
        if (imageWidth < width / 3) {
            if (imageWidth < 14 * pattern / 10 && imageWidth > 15 * pattern / 20 && !psizGiven) {
                settings.StretP = 1;
            } else {
                settings.StretX = 1;
            }
        }
        if (imageHeight * pattern / imageWidth > inputHeight() / 2) settings.StretY = 1;
        if (settings.StretX == 1 && settings.StretY == 0) settings.StretR = 1;
        if (run.heightImage.imageType == 3 && run.heightImage.greyBytes > 1) settings.StretZ = 1;
    }
    if (settings.StretP) {
        settings.StretX = 0;
        settings.PSiz = run.patternImage.width;
    }
    if (imageWidth < width / 3) settings.PNarrow = 1;
    if (settings.PSiz > run.patternImage.width && !settings.StretX) {
        if (!settings.StretA) {
            std::fprintf(stderr,
                         "WARNING: Pattern input image too small in width. Stretching option 'X' "
                         "assumed.\n");
        }
        settings.StretX = 1;
    }
}

std::int64_t outputWidth() {
    std::int64_t width = inputWidth();
    if (!settings.CutOff) width += settings.PSiz;
    return width * (settings.Double + 1);
}

std::int64_t outputHeight() {
    std::int64_t height = inputHeight();
    if (settings.FocP == 1) height += inputHeight() / 30;
    return height * (settings.Double + 1);
}

std::string programName(const char* path) {
    std::string name = path;
    std::size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    if (name.size() > 30) name.resize(30);
    return name;
}

std::string addDefaultExtension(const std::string& name, const char* extension, bool existsTest) {
    // A device or pipe, such as /dev/null, is used under its own name.
    struct stat info {};
    if (stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        return name;
    }
    if (existsTest) {
        if (std::FILE* file = std::fopen(name.c_str(), "rb")) {
            std::fclose(file);
            return name;
        }
    }
    std::size_t slash = name.rfind('/');
    std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    if (name.find('.', baseStart) == std::string::npos) return name + extension;
    return name;
}

int runRdsgen(int argc, const char* const* argv) {
    // --help and --version are answered before anything else is looked at.
    InfoRequest info = findInfoRequest(argc, argv);
    if (info == InfoRequest::kVersion) {
        std::printf("rdsgen 2.0.0\n");
        return 0;
    }
    std::string name = programName(argc > 0 && argv[0] != nullptr ? argv[0] : "rdsgen");
    upcaseString(name.data());
    printBanner(name);
    if (info == InfoRequest::kHelp) {
        printUsage(stdout, name.c_str());
        return 0;
    }

    std::vector<std::string> slots;
    int refused = parseOptions(slots, kOptionTable, argc, argv);
    bool help = !slots[kSlotHelp].empty() || !slots[kSlotQuestion].empty();
    if (refused != 0 || slots[kSlotInput].empty() || slots[kSlotOutput].empty() || help) {
        if (!help && !slots[kSlotInput].empty() && slots[kSlotOutput].empty()) {
            std::fprintf(stderr, "ERROR: missing output filename.\n");
            std::printf("\n");
        } else if (!help && slots[kSlotInput].empty()) {
            std::fprintf(stderr, "ERROR: missing input and output filename.\n");
            std::printf("\n");
        }
        printUsage(stdout, name.c_str());
        return 1;
    }

    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    StartValues start;
    convertSlots(slots, start);

    if (settings.PatT < 1 || settings.PatT > 7) settings.PatT = 0;
    if (settings.PatT == 0 || settings.PatT > 2) settings.TrueOut = 1;

    std::string inputName = addDefaultExtension(slots[kSlotInput], ".TGA", true);
    std::string outputName = addDefaultExtension(slots[kSlotOutput], ".TGA", false);
    std::string patternName;
    if (settings.PatT == 0) patternName = addDefaultExtension(slots[kSlotPatT], ".TGA", true);

    splitColours(start);

    std::int32_t seed = start.seed;
    if (seed == 0) seed = static_cast<std::int32_t>(std::time(nullptr));
    std::srand(static_cast<unsigned>(seed));

    return runWithSettings(inputName, outputName, patternName, start);
}
