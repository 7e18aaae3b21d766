// The run driver: one run from the banner to the exit status.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/driver_parts.h"
#include "stereo/stereo.h"
#include "files/files.h"

namespace rdsgen {

namespace {

// The temporary output file while it exists, for the signal handler: an
// interrupted run removes it and leaves the previous output as it was.
char pendingOutput[PATH_MAX + 64];
volatile std::sig_atomic_t pendingOutputSet = 0;

extern "C" void removePendingOutput(int signalNumber) {
    if (pendingOutputSet != 0) unlink(pendingOutput);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

}  // namespace

void setPendingOutput(const std::string& temporary) {
    pendingOutputSet = 0;
    if (temporary.empty() || temporary.size() >= sizeof pendingOutput) return;
    std::memcpy(pendingOutput, temporary.c_str(), temporary.size() + 1);
    pendingOutputSet = 1;
}

// Makes the process safe against the machine around it: descriptors 0, 1
// and 2 open (so that no file of the run takes one of them), SIGPIPE and
// SIGXFSZ ignored (a closed reader or a file-size limit is a failed write,
// reported as such), and interruptions removing the temporary output.
void protectProcess() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            const int opened = open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != descriptor) close(opened);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removePendingOutput;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

// Whether the image named `outputName` goes to this process's standard
// output (/dev/stdout, /dev/fd/N of the same pipe, file or terminal). The
// null device takes no texts that could be mixed up.
bool imageGoesToStandardOutput(const std::string& outputName) {
    struct stat image {};
    struct stat out {};
    if (stat(outputName.c_str(), &image) != 0 || fstat(1, &out) != 0) return false;
    if (image.st_dev != out.st_dev || image.st_ino != out.st_ino) return false;
    return !S_ISCHR(out.st_mode) || isatty(1) != 0;
}

// Every text the run prints on standard output goes to standard error from
// now on, leaving standard output to the image. (The C library's stdout is
// an assignable variable in the GNU C library, which the program is built
// with.)
void printTextsOnStandardError() {
    std::fflush(stdout);
    stdout = stderr;
}

// Whether a name lies directly in /dev (not in /dev/shm) or anywhere in
// /proc, its directory resolved: /dev/stdout, /dev/fd/3.
bool inDeviceDirectory(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    char* resolved = realpath(directory.c_str(), nullptr);
    if (resolved == nullptr) return false;
    const std::string real = resolved;
    std::free(resolved);
    return real == "/dev" || real.rfind("/proc/", 0) == 0;
}

void printBanner(const std::string& name) {
    std::printf("%s V2.0 - random-dot stereogram generator, by the rdsgen authors\n", name.c_str());
    std::printf("Free software under the MIT licence; it comes without any warranty.\n");
}

// Wipes a progress text written without a newline: carriage return, 67
// blanks, carriage return.
void blankProgressText() {
    std::fputs("\r                                                                   \r", stdout);
}

// Prints a refusal of the run; fileName is the image a reader's refusal is
// about. The TARGA reader's refusals start a new line on standard output
// first; the memory error of reading goes to standard output.
void printError(const Status& status, const std::string& fileName) {
    const std::string text = statusText(status);
    switch (status.code) {
        case StatusCode::kPngError:
        case StatusCode::kJpegError:
            std::fputs("\n", stdout);
            std::fprintf(stderr, "ERROR: Can't read %s image '%s': %s.\n",
                         status.code == StatusCode::kPngError ? "PNG" : "JPEG", fileName.c_str(),
                         status.reason.c_str());
            return;
        case StatusCode::kImageTooLarge: {
            const unsigned side = status.detail[2] > 0 ? static_cast<unsigned>(status.detail[2]) : 65535;
            std::fputs("\n", stdout);
            std::fprintf(stderr, "ERROR: Image '%s' is too large (%u x %u pixels, at most %u x %u).\n",
                         fileName.c_str(), static_cast<unsigned>(status.detail[0]),
                         static_cast<unsigned>(status.detail[1]), side, side);
            return;
        }
        case StatusCode::kImageNoMemory:
            std::printf("ERROR: %s\n", text.c_str());
            return;
        case StatusCode::kTgaCompressed:
        case StatusCode::kTgaEndOfFile:
        case StatusCode::kTgaPaletteTooLong:
        case StatusCode::kTgaPaletteNot24Bit:
        case StatusCode::kTgaGreyOver24Bit:
        case StatusCode::kTgaTrueColourNot24Bit:
        case StatusCode::kTgaUnknownType:
        case StatusCode::kTgaUnder8Bit:
        case StatusCode::kTgaPaletteOver24Bit:
            std::fputs("\n", stdout);
            break;
        default:
            break;
    }
    std::fprintf(stderr, "ERROR: %s\n", text.c_str());
}

// The number of worker threads: RDSGEN_THREADS when it is a positive number,
// else every online core.
std::int32_t requestedThreads() {
    const char* text = std::getenv("RDSGEN_THREADS");
    if (text == nullptr) return 0;
    const std::int32_t threads = readDecimal(text);
    return threads > 0 ? threads : 0;
}

// Loads an input image, opened once, with its progress text; prints any
// refusal. pixelsNeeded may decide from the header that no pixels are read.
bool loadInput(const std::string& fileName, bool heightImage, Image& image, const PixelsNeeded& pixelsNeeded) {
    int descriptor = -1;
    Status status = openImageFile(fileName.c_str(), descriptor);
    if (status.code == StatusCode::kCantOpenFile) {
        std::fprintf(stderr, "ERROR: Can't open input file '%s'.\n", fileName.c_str());
        return false;
    }
    if (status.code == StatusCode::kIsDirectory) {
        std::fprintf(stderr, "ERROR: '%s' is a directory.\n", fileName.c_str());
        return false;
    }
    std::fputs(heightImage ? "Reading height (elevation) image..." : "Reading pattern image...", stdout);
    status = readImageFile(descriptor, image, pixelsNeeded, threadCount(requestedThreads()), nameFormat(fileName));
    close(descriptor);
    if (!status) printError(status, fileName);
    blankProgressText();
    return static_cast<bool>(status);
}

// The plan's warnings, in bit order; the first goes to standard error.
void printWarnings(unsigned warnings) {
    for (unsigned bit : {kWarnStretchXAssumed, kWarnFocPAssumed, kWarnHiddenCentre, kWarnHiddenRight}) {
        if (warnings & bit) {
            std::fprintf(bit == kWarnStretchXAssumed ? stderr : stdout, "%s\n", planWarningText(bit).c_str());
        }
    }
}

bool sameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The terminal side of the engine's progress reports.
struct TerminalProgress {
    std::int32_t barColumns = 0;
    bool calculating = false;  // the bar has been started: a failure first ends its line
};

bool reportProgress(void* context, Stage stage, std::int32_t done, std::int32_t total) {
    TerminalProgress& terminal = *static_cast<TerminalProgress*>(context);
    if (stage == Stage::kCalculating) terminal.calculating = true;
    // Progress that cannot be shown (a closed terminal, a reader that has
    // gone) is given up after the first failed write; the run goes on.
    if (std::ferror(stdout)) return true;
    switch (stage) {
        case Stage::kScalingHeights:
            std::fputs("Scaling height (Z) information...", stdout);
            break;
        case Stage::kHeightsScaled:
            blankProgressText();
            break;
        case Stage::kCalculating:
            std::printf("Calculating, please wait - press ESC to abbort...\n");
            break;
        case Stage::kRowsStarting:
            std::printf("0%% ]................:................:................:................[ 100%%\r0%% ]");
            break;
        case Stage::kRows:
            showProgress(done, total, terminal.barColumns);
            break;
    }
    return true;
}

// An output name ending in ".png", in any case, is written as PNG.
bool hasPngExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".png";
}

// Whether the plan lets the image's pixels be of use: an accepted plan,
// or one that waits only for the pattern image.
bool pixelsWanted(const Plan& planned) {
    return planned || (planned.stage == PlanStage::kNeedsPattern && planned.refusal);
}

// The run planned with the height image, the pattern image loaded when the
// plan asks for one (its pixels, with onlyWantedPixels, only when the plan
// with its header can use them); prints the warnings, or the refusal and
// returns false.
bool planRun(const Settings& settings, const Image& heights, const std::string& patternName, bool onlyWantedPixels,
             Image& pattern, Plan& planned) {
    planned = plan(settings, headerOf(heights));
    if (planned.stage == PlanStage::kNeedsPattern) {
        PixelsNeeded patternWanted;
        if (onlyWantedPixels) {
            patternWanted = [&](const Image& header) {
                const ImageHeader patternHeader = headerOf(header);
                return pixelsWanted(plan(settings, headerOf(heights), &patternHeader));
            };
        }
        if (!loadInput(patternName, false, pattern, patternWanted)) return false;
        const ImageHeader patternHeader = headerOf(pattern);
        planned = plan(settings, headerOf(heights), &patternHeader);
        if (planned.stage == PlanStage::kPatternImage) {
            std::fprintf(stderr, "ERROR: Pattern image '%s' has no pixels.\n", patternName.c_str());
            return false;
        }
    }
    printWarnings(planned.warnings);
    if (!planned) {
        printError(planned.refusal);
        return false;
    }
    return true;
}

namespace {

// From the settings and file names to the exit status: each image's header
// is planned with before its pixels are read, and pixels are read only for
// a run that its headers do not already refuse.
int runWithSettings(const Settings& settings, const std::string& inputName, const std::string& outputName,
                    const std::string& patternName, std::uint32_t seed) {
    Image heights;
    const auto heightsWanted = [&settings](const Image& header) {
        return pixelsWanted(plan(settings, headerOf(header)));
    };
    if (!loadInput(inputName, true, heights, heightsWanted)) return 1;
    Image pattern;
    Plan planned;
    if (!planRun(settings, heights, patternName, true, pattern, planned)) return 1;

    struct stat outputInfo {};
    if (stat(outputName.c_str(), &outputInfo) == 0 &&
        (sameFile(outputInfo, inputName) || (planned.settings.PatT == 0 && sameFile(outputInfo, patternName)))) {
        std::fprintf(stderr, "ERROR: Output file '%s' would overwrite an input image.\n",
                     outputName.c_str());
        return 1;
    }

    OutputFile output;
    const bool png = hasPngExtension(outputName);
    if (!openOutputFile(output, outputName.c_str(), png ? 0 : planned.tgaBytes)) {
        std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", outputName.c_str());
        return 1;
    }
    setPendingOutput(output.temporary);
    RenderOptions options;
    options.seed = seed;
    options.threads = requestedThreads();
    options.anyThreadWrites = true;  // the file and the progress bar do not mind which thread
    if (png) options.format = OutputFormat::kPng;
    TerminalProgress terminal;
    Status status = render(planned, heights, planned.settings.PatT == 0 ? &pattern : nullptr, options,
                           fileRowSink(output.sink), Progress{reportProgress, &terminal});
    heights = Image{};
    pattern = Image{};
    bool completed = false;
    if (status) {
        completed = commitOutputFile(output);
    } else {
        abandonOutputFile(output);
    }
    setPendingOutput("");
    if (!completed) {
        if (terminal.calculating) std::printf("\n");
        if (status.code == StatusCode::kNoMemory) {
            printError(status);
        } else {
            std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", outputName.c_str());
        }
        return 1;
    }

    std::printf("\rfinished.%70s\n", "");
    return 0;
}

}  // namespace

void showProgress(std::int32_t row, std::int32_t rows, std::int32_t& barColumns) {
    // The bar has 67 columns in 134 half steps; a half-filled column shows '|'.
    std::int32_t a = 0;
    if (rows > 0) {
        a = static_cast<std::int32_t>((268 * static_cast<std::int64_t>(row) + rows) /
                                      (2 * static_cast<std::int64_t>(rows)));
    }
    // The update goes out in one write (standard output is unbuffered).
    std::string text;
    if (barColumns > 0) {
        text += '\b';
        --barColumns;
    }
    if (a / 2 > barColumns) text.append(static_cast<std::size_t>(a / 2 - barColumns), '#');
    barColumns = (a + 1) / 2;
    if (a % 2 != 0) text += '|';
    std::fwrite(text.data(), 1, text.size(), stdout);
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
    // A device or pipe, such as /dev/null, is used under its own name; so is
    // a file named in /dev or /proc, such as /dev/stdout when it is a file.
    struct stat info {};
    if (stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
        (!S_ISREG(info.st_mode) || inDeviceDirectory(name))) {
        return name;
    }
    // A readable file that exists stays as it is. The test opens nothing, so
    // a FIFO is opened only once, to be read; a directory does not count.
    if (existsTest && stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
        access(name.c_str(), R_OK) == 0) {
        return name;
    }
    std::size_t slash = name.rfind('/');
    std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    if (name.find('.', baseStart) == std::string::npos) return name + extension;
    return name;
}

int runRdsgen(int argc, const char* const* argv) {
    protectProcess();
    // --help and --version are answered before anything else is looked at.
    InfoRequest info = findInfoRequest(argc, argv);
    if (info == InfoRequest::kVersion) {
        std::printf("rdsgen 2.0.0\n");
        return 0;
    }
    // The image may go to standard output: the output name is then read
    // from the arguments (quietly; refusals are printed after the banner)
    // before anything is printed, so that no text mixes into the image.
    std::vector<std::string> slots;
    parseOptions(slots, kOptionTable, argc, argv, nullptr);
    if (!slots[kSlotOutput].empty() &&
        (slots[kSlotOutput] == "-" || imageGoesToStandardOutput(addDefaultExtension(slots[kSlotOutput], ".TGA", false)))) {
        printTextsOnStandardError();
    }
    std::string name = programName(argc > 0 && argv[0] != nullptr ? argv[0] : "rdsgen");
    upcaseString(name.data());
    printBanner(name);
    if (info == InfoRequest::kHelp) {
        printUsage(stdout, name.c_str(), true);
        printMoreUsage(stdout);
        return 0;
    }

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

    Settings settings;
    StartValues start;
    std::vector<std::string> stretchWarnings;
    convertSlots(slots, settings, start, stretchWarnings);
    for (const std::string& warning : stretchWarnings) std::printf("%s\n", warning.c_str());

    std::string patternName;
    if (patternType(settings.PatT) == nullptr) patternName = addDefaultExtension(slots[kSlotPatT], ".TGA", true);

    setColours(settings, start.topF, start.botF, start.topB, start.botB);

    // The clock's seed is drawn once: every frame of a sequence starts from it.
    std::int32_t seed = start.seed;
    if (seed == 0) seed = static_cast<std::int32_t>(std::time(nullptr));
    int status = 1;
    if (runFrameSequence(slots, settings, patternName, static_cast<std::uint32_t>(seed), status)) return status;

    // One image in, one out; "%%" in a name is a '%'.
    std::string inputName = addDefaultExtension(readFrameName(slots[kSlotInput]).before, ".TGA", true);
    std::string outputName = addDefaultExtension(readFrameName(slots[kSlotOutput]).before, ".TGA", false);
    return runWithSettings(settings, inputName, outputName, patternName, static_cast<std::uint32_t>(seed));
}

}  // namespace rdsgen
