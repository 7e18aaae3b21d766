// Frame sequences on the command line: numbered height images or a stream
// of images on standard input, rendered with one plan into numbered files,
// a PNG stream on standard output, or one animated PNG or GIF.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/driver_parts.h"
#include "stereo/stereo.h"

namespace rdsgen {

FrameName readFrameName(const std::string& name) {
    FrameName frame;
    std::string text;       // the part being read, '%' unescaped
    bool numbered = false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (name[k] != '%') {
            text += name[k];
            continue;
        }
        if (k + 1 < name.size() && name[k + 1] == '%') {
            text += '%';
            ++k;
            continue;
        }
        // "%d" or "%0Nd" (N of one or two digits).
        std::size_t at = k + 1;
        std::int32_t digits = 0;
        if (at < name.size() && name[at] == '0') {
            ++at;
            const std::size_t start = at;
            while (at < name.size() && at - start < 2 && std::isdigit(static_cast<unsigned char>(name[at]))) {
                digits = digits * 10 + (name[at] - '0');
                ++at;
            }
            if (at == start) return FrameName{NameKind::kSingle, name, "", 0};
        }
        if (at >= name.size() || name[at] != 'd') return FrameName{NameKind::kSingle, name, "", 0};
        if (numbered) {
            frame.kind = NameKind::kTwoNumbers;
            frame.before = name;
            frame.after.clear();
            return frame;
        }
        numbered = true;
        frame.before = text;
        frame.digits = digits;
        text.clear();
        k = at;
    }
    if (!numbered) return FrameName{NameKind::kSingle, text, "", 0};
    frame.kind = NameKind::kNumbered;
    frame.after = text;
    return frame;
}

std::string frameFileName(const FrameName& name, std::uint32_t number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*u", static_cast<int>(name.digits), number);
    return name.before + digits + name.after;
}

namespace {

// Numbers looked at after the last frame: one that exists there means a
// frame is missing in the middle.
constexpr std::uint32_t kGapLookahead = 100;

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Where the height frames come from.
struct FrameSource {
    enum Kind { kSingle, kNumbered, kStream } kind = kSingle;
    std::string singleName;
    FrameName name;
    std::uint32_t first = 0;   // the first frame's number
    std::uint32_t count = 0;   // frames (0: not known, a stream)
    ImageStream stream;
};

// One frame read (or not) from the source; nothing printed.
struct LoadedFrame {
    Image image;
    std::string name;  // for messages
    std::uint32_t number = 0;
    Status status;
    bool cantOpen = false;
    bool directory = false;
    bool none = false;  // the stream ended before it
};

void loadFrame(FrameSource& source, std::uint32_t index, std::int32_t threads, LoadedFrame& frame) {
    frame = LoadedFrame{};
    frame.number = source.first + index;
    if (source.kind == FrameSource::kStream) {
        frame.name.assign(1, '-');
        std::vector<std::uint8_t> bytes;
        bool got = false;
        frame.status = nextStreamImage(source.stream, bytes, got);
        if (!frame.status) return;
        if (!got) {
            frame.none = true;
            return;
        }
        frame.status = readImage(bytes, frame.image);
        return;
    }
    frame.name = source.kind == FrameSource::kSingle ? source.singleName : frameFileName(source.name, frame.number);
    int descriptor = -1;
    frame.status = openImageFile(frame.name.c_str(), descriptor);
    if (frame.status.code == StatusCode::kCantOpenFile) frame.cantOpen = true;
    if (frame.status.code == StatusCode::kIsDirectory) frame.directory = true;
    if (!frame.status) return;
    frame.status = readImageFile(descriptor, frame.image, {}, threads, nameFormat(frame.name));
    close(descriptor);
}

// Prints why a frame could not be read.
void printFrameFailure(const LoadedFrame& frame) {
    if (frame.cantOpen) {
        std::fprintf(stderr, "ERROR: Can't open input file '%s'.\n", frame.name.c_str());
    } else if (frame.directory) {
        std::fprintf(stderr, "ERROR: '%s' is a directory.\n", frame.name.c_str());
    } else if (frame.none) {
        std::fprintf(stderr, "ERROR: No image on standard input.\n");
    } else if (frame.status.code == StatusCode::kPngError || frame.status.code == StatusCode::kJpegError) {
        std::fprintf(stderr, "ERROR: Can't read %s image '%s' (frame %u): %s.\n",
                     frame.status.code == StatusCode::kPngError ? "PNG" : "JPEG", frame.name.c_str(), frame.number,
                     frame.status.reason.c_str());
    } else if (frame.status.code == StatusCode::kImageTooLarge || frame.status.code == StatusCode::kImageNoMemory) {
        printError(frame.status, frame.name);
    } else {
        std::fprintf(stderr, "ERROR: Frame %u ('%s'): %s\n", frame.number, frame.name.c_str(),
                     statusText(frame.status).c_str());
    }
}

const char* kindText(PixelKind kind) {
    switch (kind) {
        case PixelKind::kColour: return "colour";
        case PixelKind::kGrey8: return "8-bit grey";
        case PixelKind::kGrey16: return "16-bit grey";
        case PixelKind::kGrey24: return "24-bit grey";
    }
    return "";
}

// Why a frame is not of the first frame's size and kind of pixels.
void printMismatch(const LoadedFrame& frame, const ImageHeader& first) {
    if (frame.image.width != first.width || frame.image.height != first.height) {
        std::fprintf(stderr, "ERROR: Frame %u ('%s') is %u x %u pixels; the first frame is %u x %u.\n",
                     frame.number, frame.name.c_str(), static_cast<unsigned>(frame.image.width),
                     static_cast<unsigned>(frame.image.height), static_cast<unsigned>(first.width),
                     static_cast<unsigned>(first.height));
        return;
    }
    std::fprintf(stderr, "ERROR: Frame %u ('%s') has %s pixels; the first frame has %s pixels.\n", frame.number,
                 frame.name.c_str(), kindText(frame.image.kind), kindText(first.kind));
}

// Finds the numbered frames: from /First:n, else from the first of 0 and 1
// that exists, up to the first missing number. A name without '.' that
// names no frame gets ".TGA", as a single input does.
bool countFrames(FrameSource& source, bool firstGiven, std::uint32_t first, const std::string& typed) {
    std::vector<FrameName> candidates{source.name};
    if (addDefaultExtension(frameFileName(source.name, 0), ".TGA", false) != frameFileName(source.name, 0)) {
        candidates.push_back(source.name);
        candidates.back().after += ".TGA";
    }
    bool found = false;
    for (const FrameName& candidate : candidates) {
        for (std::uint32_t start : firstGiven ? std::vector<std::uint32_t>{first} : std::vector<std::uint32_t>{0, 1}) {
            if (!found && exists(frameFileName(candidate, start))) {
                source.name = candidate;
                source.first = start;
                found = true;
            }
        }
    }
    if (!found) {
        if (firstGiven) {
            std::fprintf(stderr, "ERROR: Can't open input file '%s'.\n", frameFileName(candidates.back(), first).c_str());
        } else {
            std::fprintf(stderr, "ERROR: No input frame '%s' (nor '%s') for '%s'.\n",
                         frameFileName(candidates.back(), 0).c_str(), frameFileName(candidates.back(), 1).c_str(),
                         typed.c_str());
        }
        return false;
    }
    std::uint32_t end = source.first;
    while (end < UINT32_MAX && exists(frameFileName(source.name, end))) ++end;
    source.count = end - source.first;
    for (std::uint32_t later = end + 1; later > end && later - end <= kGapLookahead; ++later) {
        if (exists(frameFileName(source.name, later))) {
            std::fprintf(stderr, "ERROR: Frame %u ('%s') is missing; the frames go on at %u ('%s').\n", end,
                         frameFileName(source.name, end).c_str(), later, frameFileName(source.name, later).c_str());
            return false;
        }
    }
    return true;
}

// Where the stereograms go.
struct FrameOutput {
    enum Kind { kNumbered, kStream, kApng, kGif } kind = kNumbered;
    FrameName name;      // kNumbered
    std::string file;    // kApng, kGif
};

bool endsWithLower(const std::string& name, const char* ending) {
    const std::size_t length = std::strlen(ending);
    if (name.size() < length) return false;
    for (std::size_t k = 0; k < length; ++k) {
        if (std::tolower(static_cast<unsigned char>(name[name.size() - length + k])) != ending[k]) return false;
    }
    return true;
}

// The bar of a whole sequence: "frame 12/300 ]###|.......:....[", the
// frames done and the rows of the frame being rendered, in half columns
// as the single image's bar.
constexpr std::int32_t kBarColumns = 51;  // four groups of 12 dots between colons

struct SequenceBar {
    std::uint32_t index = 0;    // the frame being rendered, from 0
    std::uint32_t frames = 0;   // 0: not known
    std::size_t labelWidth = 12;
    std::int64_t shownHalves = -1;
    std::uint32_t shownIndex = UINT32_MAX;
    bool calculating = false;   // a line has been started: a failure first ends it
};

void drawBar(SequenceBar& bar, std::int32_t done, std::int32_t total) {
    const std::uint64_t rows = total > 0 ? static_cast<std::uint64_t>(total) : 1;
    const std::uint64_t halves = 2 * kBarColumns;
    std::uint64_t a = 0;
    if (bar.frames > 0) {
        const std::uint64_t whole = static_cast<std::uint64_t>(bar.frames) * rows;
        a = (halves * (bar.index * rows + static_cast<std::uint64_t>(done)) + whole / 2) / whole;
    } else {
        a = (halves * static_cast<std::uint64_t>(done) + rows / 2) / rows;
    }
    if (static_cast<std::int64_t>(a) == bar.shownHalves && bar.index == bar.shownIndex) return;
    bar.shownHalves = static_cast<std::int64_t>(a);
    bar.shownIndex = bar.index;
    char label[40];
    if (bar.frames > 0) {
        std::snprintf(label, sizeof label, "frame %u/%u", bar.index + 1, bar.frames);
    } else {
        std::snprintf(label, sizeof label, "frame %u", bar.index + 1);
    }
    std::string text(1, '\r');
    text += label;
    if (text.size() < bar.labelWidth + 1) text.append(bar.labelWidth + 1 - text.size(), ' ');
    text += " ]";
    for (std::uint64_t column = 0; column < kBarColumns; ++column) {
        if (column < a / 2) {
            text += '#';
        } else if (column == a / 2 && a % 2 != 0) {
            text += '|';
        } else {
            text += column % 13 == 12 ? ':' : '.';
        }
    }
    text += '[';
    std::fwrite(text.data(), 1, text.size(), stdout);
}

bool reportSequence(void* context, Stage stage, std::int32_t done, std::int32_t total) {
    SequenceBar& bar = *static_cast<SequenceBar*>(context);
    if (std::ferror(stdout)) return true;
    if (stage == Stage::kCalculating && !bar.calculating) {
        bar.calculating = true;
        std::printf("Calculating, please wait - press ESC to abbort...\n");
    }
    if (stage == Stage::kRowsStarting) drawBar(bar, 0, 1);
    if (stage == Stage::kRows) drawBar(bar, done, total);
    return true;
}

// Writes one frame's stereogram to its own file, replaced atomically.
bool writeNumberedFrame(const Plan& planned, const Image& heights, const Image* pattern, RenderOptions options,
                        const std::string& name, SequenceBar& bar) {
    OutputFile output;
    const bool png = hasPngExtension(name);
    if (!openOutputFile(output, name.c_str(), png ? 0 : planned.tgaBytes)) {
        if (bar.calculating) std::printf("\n");
        std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", name.c_str());
        return false;
    }
    setPendingOutput(output.temporary);
    options.format = png ? OutputFormat::kPng : OutputFormat::kTga;
    const Status status = render(planned, heights, pattern, options, fileRowSink(output.sink),
                                 Progress{reportSequence, &bar});
    const bool completed = status ? commitOutputFile(output) : (abandonOutputFile(output), false);
    setPendingOutput("");
    if (!completed) {
        if (bar.calculating) std::printf("\n");
        if (status.code == StatusCode::kNoMemory) {
            printError(status);
        } else {
            std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", name.c_str());
        }
    }
    return completed;
}

// Ends the bar's line before a message.
void endBarLine(const SequenceBar& bar) {
    if (bar.calculating) std::printf("\n");
}

// The output of every frame but numbered files, written by the library's
// sequence writer: a PNG stream on standard output (what was sent stays
// sent), or one animated file made beside its name and moved there only
// when complete.
struct SharedOutput {
    FileSink stream;
    OutputFile file;
    SequenceWriter writer;
    bool open = false;
};

bool openSharedOutput(SharedOutput& shared, const FrameOutput& out, const Plan& planned, SequenceOptions options) {
    if (out.kind == FrameOutput::kStream) {
        const int descriptor = fcntl(1, F_DUPFD_CLOEXEC, 3);
        if (descriptor < 0 || !adoptFileSink(shared.stream, descriptor)) {
            std::fprintf(stderr, "ERROR: Can't write to standard output.\n");
            return false;
        }
        shared.open = true;
        options.format = SequenceFormat::kPngStream;
    } else {
        if (!openOutputFile(shared.file, out.file.c_str())) {
            std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", out.file.c_str());
            return false;
        }
        setPendingOutput(shared.file.temporary);
        shared.open = true;
        options.format = out.kind == FrameOutput::kGif ? SequenceFormat::kGif : SequenceFormat::kApng;
    }
    FileSink& sink = out.kind == FrameOutput::kStream ? shared.stream : shared.file.sink;
    if (const Status status = shared.writer.begin(planned, options, fileRowSink(sink)); !status) {
        std::fprintf(stderr, "ERROR: %s\n", statusText(status).c_str());
        return false;
    }
    return true;
}

// Closes the shared output; an animated file is kept only when complete.
bool closeSharedOutput(SharedOutput& shared, const FrameOutput& out, bool complete) {
    if (!shared.open) return false;
    shared.open = false;
    if (out.kind == FrameOutput::kStream) return closeFileSink(shared.stream) && complete;
    bool kept = false;
    if (complete) {
        kept = commitOutputFile(shared.file);
    } else {
        abandonOutputFile(shared.file);
    }
    setPendingOutput("");
    return kept;
}

// Prints why a frame could not be written.
void printWriteFailure(const Status& status, const FrameOutput& out, const LoadedFrame& frame,
                       const std::string& fileName) {
    if (status.code == StatusCode::kNoMemory) {
        printError(status);
    } else if (status.code == StatusCode::kTooManyColours) {
        std::fprintf(stderr,
                     "ERROR: Frame %u ('%s') has more than 256 colours, more than a GIF frame can hold; an "
                     "animated PNG (.png or .apng) keeps them all.\n",
                     frame.number, frame.name.c_str());
    } else if (out.kind == FrameOutput::kStream) {
        std::fprintf(stderr, "ERROR: Can't write to standard output.\n");
    } else {
        std::fprintf(stderr, "ERROR: Can't write output file '%s'.\n", fileName.c_str());
    }
}

// The frames from the first (already loaded) on: planned once, each frame
// rendered while the next one is read.
int renderFrames(const Settings& settings, FrameSource& source, LoadedFrame& current, const FrameOutput& out,
                 const std::string& patternName, std::uint32_t seed, bool newDots, std::int32_t rate) {
    Image pattern;
    Plan planned;
    if (!planRun(settings, current.image, patternName, false, pattern, planned)) return 1;
    const Image* patternImage = planned.settings.PatT == 0 ? &pattern : nullptr;
    const ImageHeader first = headerOf(current.image);
    SequenceBar bar;
    bar.frames = source.count;
    if (bar.frames > 0) bar.labelWidth = ("frame " + std::to_string(bar.frames) + "/" + std::to_string(bar.frames)).size();
    // An output that is an input image would be lost while it is read.
    const auto overwritesInput = [&](const std::string& name) {
        struct stat outputInfo {};
        if (stat(name.c_str(), &outputInfo) != 0) return false;
        if (!sameFile(outputInfo, current.name) && (patternImage == nullptr || !sameFile(outputInfo, patternName))) {
            return false;
        }
        endBarLine(bar);
        std::fprintf(stderr, "ERROR: Output file '%s' would overwrite an input image.\n", name.c_str());
        return true;
    };

    RenderOptions options;
    options.threads = requestedThreads();
    options.anyThreadWrites = true;  // the files and the bar do not mind which thread
    options.seed = seed;
    SequenceOptions sequenceOptions;
    sequenceOptions.rate = rate;
    sequenceOptions.newDots = newDots;
    sequenceOptions.frames = source.count;
    sequenceOptions.render = options;
    SharedOutput shared;
    if (out.kind != FrameOutput::kNumbered) {
        if ((out.kind != FrameOutput::kStream && overwritesInput(out.file)) ||
            !openSharedOutput(shared, out, planned, sequenceOptions)) {
            closeSharedOutput(shared, out, false);
            return 1;
        }
    }

    for (std::uint32_t index = 0;; ++index) {
        bar.index = index;
        // The next frame is read while this one renders.
        const bool more = source.kind == FrameSource::kStream || index + 1 < source.count;
        LoadedFrame next;
        std::thread reader;
        if (more) {
            try {
                reader = std::thread([&source, &next, index] { loadFrame(source, index + 1, 1, next); });
            } catch (const std::system_error&) {
                loadFrame(source, index + 1, 1, next);
            }
        }
        bool written = false;
        if (out.kind == FrameOutput::kNumbered) {
            // Numbered files are rendered one by one, with the seed the
            // sequence writer would give the frame.
            options.seed = newDots ? seed + index : seed;
            const std::string name = frameFileName(out.name, current.number);
            written = !overwritesInput(name) && writeNumberedFrame(planned, current.image, patternImage, options, name, bar);
        } else {
            Status status = shared.writer.addFrame(current.image, patternImage, Progress{reportSequence, &bar});
            // Each frame of a stream goes out whole before the next is rendered.
            if (status && out.kind == FrameOutput::kStream && std::fflush(shared.stream.stream) != 0) {
                status = makeStatus(StatusCode::kWriteFailed);
            }
            written = static_cast<bool>(status);
            if (!written) {
                endBarLine(bar);
                printWriteFailure(status, out, current, out.file);
            }
        }
        if (reader.joinable()) reader.join();
        if (!written) {
            closeSharedOutput(shared, out, false);
            return 1;
        }
        if (!more || next.none) break;
        if (!next.status || headerOf(next.image).width != first.width || headerOf(next.image).height != first.height ||
            headerOf(next.image).kind != first.kind) {
            endBarLine(bar);
            if (!next.status) {
                printFrameFailure(next);
            } else {
                printMismatch(next, first);
            }
            closeSharedOutput(shared, out, false);
            return 1;
        }
        current = std::move(next);
    }
    if (out.kind != FrameOutput::kNumbered) {
        if (const Status status = shared.writer.finish(); !status) {
            endBarLine(bar);
            printWriteFailure(status, out, current, out.file);
            closeSharedOutput(shared, out, false);
            return 1;
        }
    }
    if (out.kind != FrameOutput::kNumbered && !closeSharedOutput(shared, out, true)) {
        endBarLine(bar);
        printWriteFailure(makeStatus(StatusCode::kWriteFailed), out, current, out.file);
        return 1;
    }
    std::printf("\rfinished.%70s\n", "");
    return 0;
}

}  // namespace

bool runFrameSequence(const std::vector<std::string>& slots, const Settings& settings, const std::string& patternName,
                      std::uint32_t seed, int& exitStatus) {
    exitStatus = 1;
    const std::string& inputText = slots[kSlotInput];
    const std::string& outputText = slots[kSlotOutput];
    const FrameName input = readFrameName(inputText);
    const FrameName output = readFrameName(outputText);
    const bool streamIn = inputText == "-";
    const bool streamOut = outputText == "-";
    if (!streamIn && !streamOut && input.kind == NameKind::kSingle && output.kind == NameKind::kSingle) return false;

    if (input.kind == NameKind::kTwoNumbers || output.kind == NameKind::kTwoNumbers) {
        std::fprintf(stderr, "ERROR: Name '%s' holds more than one frame number.\n",
                     (input.kind == NameKind::kTwoNumbers ? inputText : outputText).c_str());
        return true;
    }
    const bool sequenceIn = streamIn || input.kind == NameKind::kNumbered;
    FrameOutput out;
    if (streamOut) {
        out.kind = FrameOutput::kStream;
    } else if (output.kind == NameKind::kNumbered) {
        if (!sequenceIn) {
            std::fprintf(stderr, "ERROR: Output name '%s' has a frame number, but input '%s' is a single image.\n",
                         outputText.c_str(), inputText.c_str());
            return true;
        }
        out.kind = FrameOutput::kNumbered;
        out.name = output;
        if (addDefaultExtension(frameFileName(out.name, 0), ".TGA", false) != frameFileName(out.name, 0)) {
            out.name.after += ".TGA";
        }
    } else if (endsWithLower(output.before, ".gif")) {
        out.kind = FrameOutput::kGif;
        out.file = output.before;
    } else if (endsWithLower(output.before, ".png") || endsWithLower(output.before, ".apng")) {
        out.kind = FrameOutput::kApng;
        out.file = output.before;
    } else {
        std::fprintf(stderr,
                     "ERROR: Output '%s' can't hold a sequence of frames: name numbered files (%%04d), one .png, "
                     ".apng or .gif file, or - for standard output.\n",
                     outputText.c_str());
        return true;
    }

    // The options of sequences.
    const bool firstGiven = !slots[kSlotFirst].empty();
    const std::int32_t first = firstGiven ? readDecimal(slots[kSlotFirst].c_str()) : 0;
    const std::int32_t rate = slotNumber(slots, kSlotRate);
    std::string dots = slots[kSlotDots].empty() ? "SAME" : slots[kSlotDots];
    upcaseString(dots.data());
    if (first < 0) {
        std::fprintf(stderr, "ERROR: /First must be 0 or more.\n");
        return true;
    }
    if (rate < 1 || rate > 65535) {
        std::fprintf(stderr, "ERROR: /Rate must be from 1 to 65535 frames per second.\n");
        return true;
    }
    if (dots != "SAME" && dots != "NEW") {
        std::fprintf(stderr, "ERROR: /Dots takes Same or New.\n");
        return true;
    }

    FrameSource source;
    if (streamIn) {
        source.kind = FrameSource::kStream;
        source.first = firstGiven ? static_cast<std::uint32_t>(first) : 1;
    } else if (input.kind == NameKind::kNumbered) {
        source.kind = FrameSource::kNumbered;
        source.name = input;
        if (!countFrames(source, firstGiven, static_cast<std::uint32_t>(first), inputText)) return true;
    } else {
        source.kind = FrameSource::kSingle;
        source.singleName = addDefaultExtension(input.before, ".TGA", true);
        source.count = 1;
    }

    LoadedFrame current;
    std::fputs("Reading height (elevation) image...", stdout);
    loadFrame(source, 0, threadCount(requestedThreads()), current);
    blankProgressText();
    if (!current.status || current.none) {
        printFrameFailure(current);
        return true;
    }
    exitStatus = renderFrames(settings, source, current, out, patternName, seed, dots == "NEW", rate);
    return true;
}

}  // namespace rdsgen
