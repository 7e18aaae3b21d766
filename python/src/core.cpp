// rdsgen._core: the engine for Python. The package (rdsgen/__init__.py)
// checks and converts the arguments; this module borrows the arrays' memory
// as images, plans and renders with the GIL released, and reads and writes
// image files. Refusals come back as the command line's texts.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/cli.h"
#include "files/files.h"
#include "image/image.h"
#include "rdsgen/rdsgen.h"

namespace py = pybind11;
using namespace rdsgen;

namespace {

// Whether the calling thread held the GIL during the last render's progress
// reports (a test hook: it must never have).
std::atomic<bool> gilHeldWhileRendering{false};

// An image whose pixels are a C-contiguous array's memory, never freed here.
struct BorrowedImage {
    Image image;
    BorrowedImage() = default;
    BorrowedImage(const BorrowedImage&) = delete;
    BorrowedImage& operator=(const BorrowedImage&) = delete;
    ~BorrowedImage() { (void)image.pixels.release(); }
};

// The command line's refusal of an image too large for its format.
std::string tooLargeText(const std::string& name, py::ssize_t width, py::ssize_t height) {
    return "Image '" + name + "' is too large (" + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, at most 65535 x 65535).";
}

// Borrows a C-contiguous uint8 array holding rows of `kind` pixels: (H, W)
// for 8-bit grey, (H, W, 2) for 16-bit grey, (H, W, 3) for 24-bit grey and
// colour (blue, green, red).
void borrow(const py::array& array, PixelKind kind, const std::string& name, BorrowedImage& borrowed) {
    if (!(array.flags() & py::array::c_style)) throw py::value_error("internal: array not C-contiguous");
    const py::ssize_t height = array.shape(0);
    const py::ssize_t width = array.shape(1);
    if (width > 65535 || height > 65535) throw py::value_error(tooLargeText(name, width, height));
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                              static_cast<std::size_t>(pixelBytes(kind));
    if (static_cast<std::size_t>(array.nbytes()) != bytes) throw py::value_error("internal: array size");
    Image& image = borrowed.image;
    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    image.kind = kind;
    image.rowBytes = image.width * pixelBytes(kind);
    image.pixels = Bytes(static_cast<std::uint8_t*>(const_cast<void*>(array.data())));
}

// Where the rows of a render go: straight into the result array, colour
// pixels turned from blue, green, red into red, green, blue as they arrive.
struct ArraySink {
    std::uint8_t* data = nullptr;
    std::size_t total = 0;
    std::size_t written = 0;
    std::size_t swapped = 0;  // bytes whose pixels are in RGB order
    bool colour = false;
};

bool writeRows(void* context, const std::uint8_t* bytes, std::size_t count) {
    ArraySink& sink = *static_cast<ArraySink*>(context);
    if (count > sink.total - sink.written) return false;
    std::memcpy(sink.data + sink.written, bytes, count);
    sink.written += count;
    if (sink.colour) {
        const std::size_t whole = sink.written - sink.written % 3;
        for (std::size_t k = sink.swapped; k < whole; k += 3) std::swap(sink.data[k], sink.data[k + 2]);
        sink.swapped = whole;
    }
    return true;
}

bool checkGil(void*, Stage, std::int32_t, std::int32_t) {
    if (PyGILState_Check()) gilHeldWhileRendering = true;
    return true;
}

// The settings of a run from option texts keyed by the command line's
// option names ("PatT", "PSizP", "NoRD", ...; a flag's text is ">"), read
// by the command line's own conversion. Unknown names are refused.
void readOptions(const std::map<std::string, std::string>& options, Settings& settings,
                 std::vector<std::string>& warnings) {
    std::vector<std::string> slots(kSlotCount);
    for (const auto& [name, text] : options) {
        int slot = -1;
        for (int k = kPositionalSlots; k < kSlotCount; ++k) {
            if (slotNamed(optionOfSlot(k).entry, name)) slot = k;
        }
        if (slot < 0) throw py::value_error("internal: no option " + name);
        slots[static_cast<std::size_t>(slot)] = text;
    }
    StartValues start;
    convertSlots(slots, settings, start, warnings);
    setColours(settings, start.topF, start.botF, start.topB, start.botB);
}

// Plans and renders; returns (stereogram or None, refusal text, warnings).
py::tuple renderArray(const py::array& heights, int heightsKind, const py::object& pattern, int patternKind,
                      const std::map<std::string, std::string>& options, std::uint32_t seed,
                      std::int32_t threads) {
    Settings settings;
    std::vector<std::string> warnings;
    readOptions(options, settings, warnings);

    BorrowedImage heightImage;
    borrow(heights, static_cast<PixelKind>(heightsKind), "heights", heightImage);
    BorrowedImage patternImage;
    const bool patternGiven = !pattern.is_none();
    if (patternGiven) {
        borrow(pattern.cast<py::array>(), static_cast<PixelKind>(patternKind), "pattern", patternImage);
        settings.PatT = 0;
    }
    const ImageHeader patternHeader = headerOf(patternImage.image);
    const Plan planned = plan(settings, headerOf(heightImage.image), patternGiven ? &patternHeader : nullptr);
    if (planned.stage == PlanStage::kNeedsPattern) throw py::value_error("a pattern image is needed");
    if (planned.stage == PlanStage::kPatternImage) {
        return py::make_tuple(py::none(), "Pattern image 'pattern' has no pixels.", warnings);
    }
    for (unsigned bit : {kWarnStretchXAssumed, kWarnFocPAssumed, kWarnHiddenCentre, kWarnHiddenRight}) {
        if (planned.warnings & bit) warnings.push_back(planWarningText(bit));
    }
    if (!planned) return py::make_tuple(py::none(), statusText(planned.refusal), warnings);

    const std::vector<py::ssize_t> shape =
        planned.outputGrey ? std::vector<py::ssize_t>{planned.outputHeight, planned.outputWidth}
                           : std::vector<py::ssize_t>{planned.outputHeight, planned.outputWidth, 3};
    py::array_t<std::uint8_t> result(shape);
    ArraySink sink;
    sink.data = result.mutable_data();
    sink.total = static_cast<std::size_t>(result.nbytes());
    sink.colour = !planned.outputGrey;
    if (static_cast<std::size_t>(planned.outputRowBytes) * static_cast<std::size_t>(planned.outputHeight) !=
        sink.total) {
        throw py::value_error("internal: output size");
    }
    RenderOptions renderOptions;
    renderOptions.seed = seed;
    renderOptions.threads = threads;
    renderOptions.format = OutputFormat::kRows;
    renderOptions.anyThreadWrites = true;
    gilHeldWhileRendering = false;
    Status status;
    {
        py::gil_scoped_release released;
        status = render(planned, heightImage.image, patternGiven ? &patternImage.image : nullptr, renderOptions,
                        RowSink{writeRows, &sink}, Progress{checkGil, nullptr});
    }
    if (!status) {
        if (status.code == StatusCode::kNoMemory) {
            PyErr_SetString(PyExc_MemoryError, statusText(status).c_str());
            throw py::error_already_set();
        }
        return py::make_tuple(py::none(), statusText(status), warnings);
    }
    if (sink.written != sink.total) throw py::value_error("internal: short output");
    return py::make_tuple(result, "", warnings);
}

// The library's own render of the same image into memory, for the
// benchmark: seconds of render() into a new block (the image is copied
// before).
double timeLibraryRender(const py::array& heights, int heightsKind, const std::map<std::string, std::string>& options,
                         std::uint32_t seed) {
    Settings settings;
    std::vector<std::string> warnings;
    readOptions(options, settings, warnings);
    BorrowedImage borrowed;
    borrow(heights, static_cast<PixelKind>(heightsKind), "heights", borrowed);
    Image image = makeImage(borrowed.image.width, borrowed.image.height, borrowed.image.kind);
    std::memcpy(image.pixels.get(), borrowed.image.pixels.get(),
                static_cast<std::size_t>(image.rowBytes) * static_cast<std::size_t>(image.height));
    const Plan planned = plan(settings, headerOf(image));
    if (!planned) throw py::value_error(statusText(planned.refusal));
    RenderOptions renderOptions;
    renderOptions.seed = seed;
    renderOptions.format = OutputFormat::kRows;
    renderOptions.anyThreadWrites = true;
    py::gil_scoped_release released;
    // The output memory is new to the process, as a caller's (and the
    // array stereogram() returns) is: its pages are first touched by render().
    const auto start = std::chrono::steady_clock::now();
    const std::size_t bytes =
        static_cast<std::size_t>(planned.outputRowBytes) * static_cast<std::size_t>(planned.outputHeight);
    const std::unique_ptr<std::uint8_t[]> out = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
    ArraySink sink{out.get(), bytes, 0, 0, false};
    const Status status = render(planned, image, nullptr, renderOptions, RowSink{writeRows, &sink});
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!status) throw std::runtime_error(statusText(status));
    return seconds.count();
}

// The command line's text for a file that could not be read.
std::string readFailureText(const Status& status, const std::string& path) {
    switch (status.code) {
        case StatusCode::kCantOpenFile:
            return "Can't open input file '" + path + "'.";
        case StatusCode::kIsDirectory:
            return "'" + path + "' is a directory.";
        case StatusCode::kPngError:
        case StatusCode::kJpegError:
            return std::string("Can't read ") + (status.code == StatusCode::kPngError ? "PNG" : "JPEG") +
                   " image '" + path + "': " + status.reason + ".";
        case StatusCode::kImageTooLarge: {
            const std::int64_t side = status.detail[2] > 0 ? status.detail[2] : 65535;
            return "Image '" + path + "' is too large (" + std::to_string(status.detail[0]) + " x " +
                   std::to_string(status.detail[1]) + " pixels, at most " + std::to_string(side) + " x " +
                   std::to_string(side) + ").";
        }
        default:
            return statusText(status);
    }
}

// Reads an image file: (pixels as (H, W, bytes per pixel) uint8 in stored
// order, kind).
py::tuple readFile(const std::string& path) {
    Image image;
    Status status;
    {
        py::gil_scoped_release released;
        int descriptor = -1;
        status = openImageFile(path.c_str(), descriptor);
        if (status) {
            status = readImageFile(descriptor, image, {}, 1, nameFormat(path));
            close(descriptor);
        }
    }
    if (!status) {
        PyErr_SetString(PyExc_OSError, readFailureText(status, path).c_str());
        throw py::error_already_set();
    }
    py::array_t<std::uint8_t> pixels({static_cast<py::ssize_t>(image.height), static_cast<py::ssize_t>(image.width),
                                      static_cast<py::ssize_t>(pixelBytes(image.kind))});
    if (pixels.nbytes() > 0) {
        std::memcpy(pixels.mutable_data(), image.pixels.get(), static_cast<std::size_t>(pixels.nbytes()));
    }
    return py::make_tuple(pixels, static_cast<int>(image.kind));
}

// Writes bytes to the output file.
struct FileOutput final : ByteOutput {
    RowSink sink;
    bool write(const std::uint8_t* bytes, std::size_t count) const override {
        return sink.write(sink.context, bytes, count);
    }
};

// Writes (H, W) grey or (H, W, 3) blue, green, red uint8 pixels as the
// command line writes its output: PNG for a name ending in ".png", else
// TARGA. False when the file could not be written.
bool writeFile(const std::string& path, const py::array& pixels, bool png) {
    if (!(pixels.flags() & py::array::c_style)) throw py::value_error("internal: array not C-contiguous");
    RowGeometry geometry;
    geometry.outputHeight = static_cast<std::int32_t>(pixels.shape(0));
    geometry.outputWidth = static_cast<std::int32_t>(pixels.shape(1));
    geometry.outputGrey = pixels.ndim() == 2;
    geometry.pixelBytes = geometry.outputGrey ? 1 : 3;
    geometry.outputRowBytes = geometry.outputWidth * geometry.pixelBytes;
    const auto* data = static_cast<const std::uint8_t*>(pixels.data());
    py::gil_scoped_release released;
    std::unique_ptr<ImageWriter> writer = png ? makePngWriter(geometry, 6, 1) : makeTgaWriter(geometry, true);
    if (!writer) return false;
    OutputFile output;
    if (!openOutputFile(output, path.c_str())) return false;
    FileOutput out;
    out.sink = fileRowSink(output.sink);
    bool ok = static_cast<bool>(writer->begin(out));
    const std::int32_t blockRows = writer->blockRows();
    std::unique_ptr<RowEncoder> encoder = blockRows > 0 ? writer->newEncoder() : nullptr;
    std::unique_ptr<EncodedRows> block = blockRows > 0 ? writer->newBlock() : nullptr;
    if (blockRows > 0 && (!encoder || !block)) ok = false;
    std::int32_t inBlock = 0;
    for (std::int32_t row = 0; ok && row < geometry.outputHeight; ++row) {
        const std::uint8_t* bytes = data + static_cast<std::size_t>(row) * static_cast<std::size_t>(geometry.outputRowBytes);
        if (blockRows == 0) {
            ok = static_cast<bool>(writer->addRow(out, bytes));
            continue;
        }
        if (inBlock == 0) ok = encoder->begin(*block);
        ok = ok && encoder->addRow(*block, bytes);
        if (ok && ++inBlock == blockRows) {
            inBlock = 0;
            ok = encoder->finish(*block) && static_cast<bool>(writer->addBlock(out, *block));
        }
    }
    if (ok && inBlock > 0) ok = encoder->finish(*block) && static_cast<bool>(writer->addBlock(out, *block));
    ok = ok && static_cast<bool>(writer->finish(out));
    if (!ok) {
        abandonOutputFile(output);
        return false;
    }
    return commitOutputFile(output);
}

// A frame sequence: each frame's heights rendered with the plan of the
// first and written by a SequenceWriter into memory or an output file.
class Animation {
public:
    Animation(const std::string& path, int format, std::int32_t rate, bool newDots, std::uint32_t frames,
              std::uint32_t seed, std::int32_t threads, const std::map<std::string, std::string>& options,
              const py::object& pattern, int patternKind)
        : path_(path), pattern_(pattern) {
        readOptions(options, settings_, warnings_);
        if (!pattern.is_none()) {
            borrow(pattern.cast<py::array>(), static_cast<PixelKind>(patternKind), "pattern", patternImage_);
            settings_.PatT = 0;
        }
        options_.format = static_cast<SequenceFormat>(format);
        options_.rate = rate;
        options_.newDots = newDots;
        options_.frames = frames;
        options_.render.seed = seed;
        options_.render.threads = threads;
        options_.render.anyThreadWrites = true;
    }
    Animation(const Animation&) = delete;
    Animation& operator=(const Animation&) = delete;
    ~Animation() {
        if (fileOpen_) abandonOutputFile(file_);
    }

    // Renders and writes the next frame; returns the plan's warnings with the
    // first frame (an empty list after).
    std::vector<std::string> add(const py::array& heights, int kind) {
        BorrowedImage image;
        borrow(heights, static_cast<PixelKind>(kind), "heights", image);
        std::vector<std::string> warnings;
        if (!begun_) {
            begin(headerOf(image.image), warnings);
        } else if (headerOf(image.image).width != plan_.heights.width ||
                   headerOf(image.image).height != plan_.heights.height || image.image.kind != plan_.heights.kind) {
            fail("Frame " + std::to_string(writer_.frames() + 1) + " is " + std::to_string(image.image.width) +
                 " x " + std::to_string(image.image.height) + " pixels; the first frame is " +
                 std::to_string(plan_.heights.width) + " x " + std::to_string(plan_.heights.height) + ".");
        }
        Status status;
        {
            py::gil_scoped_release released;
            status = writer_.addFrame(image.image, pattern_.is_none() ? nullptr : &patternImage_.image);
        }
        if (!status) failWith(status);
        return warnings;
    }

    // Ends the sequence: the file's bytes when there is no path, else None.
    py::object finish() {
        if (!begun_) fail("an animation needs at least one frame");
        const Status status = writer_.finish();
        if (!status) failWith(status);
        if (fileOpen_) {
            fileOpen_ = false;
            if (!commitOutputFile(file_)) {
                PyErr_SetString(PyExc_OSError, writeText().c_str());
                throw py::error_already_set();
            }
            return py::none();
        }
        return py::bytes(reinterpret_cast<const char*>(memory_.data()), memory_.size());
    }

private:
    void begin(const ImageHeader& heights, std::vector<std::string>& warnings) {
        const ImageHeader patternHeader = headerOf(patternImage_.image);
        plan_ = plan(settings_, heights, pattern_.is_none() ? nullptr : &patternHeader);
        if (plan_.stage == PlanStage::kPatternImage) fail("Pattern image 'pattern' has no pixels.");
        warnings = warnings_;
        for (unsigned bit : {kWarnStretchXAssumed, kWarnFocPAssumed, kWarnHiddenCentre, kWarnHiddenRight}) {
            if (plan_.warnings & bit) warnings.push_back(planWarningText(bit));
        }
        if (!plan_) fail(statusText(plan_.refusal));
        RowSink sink{writeMemory, &memory_, rewriteMemory};
        if (!path_.empty()) {
            if (!openOutputFile(file_, path_.c_str())) {
                PyErr_SetString(PyExc_OSError, writeText().c_str());
                throw py::error_already_set();
            }
            fileOpen_ = true;
            sink = fileRowSink(file_.sink);
            sink.rewrite = rewriteFile;
        }
        const Status status = writer_.begin(plan_, options_, sink);
        if (!status) failWith(status);
        begun_ = true;
    }

    std::string writeText() const { return "Can't write output file '" + path_ + "'."; }

    // Ends the sequence with an exception; a partial output file is removed.
    [[noreturn]] void fail(const std::string& message) {
        if (fileOpen_) abandonOutputFile(file_);
        fileOpen_ = false;
        throw py::value_error(message);
    }
    [[noreturn]] void failWith(const Status& status) {
        if (fileOpen_) abandonOutputFile(file_);
        fileOpen_ = false;
        if (status.code == StatusCode::kWriteFailed) {
            PyErr_SetString(PyExc_OSError, writeText().c_str());
            throw py::error_already_set();
        }
        throw py::value_error(statusText(status));
    }

    static bool writeMemory(void* context, const std::uint8_t* bytes, std::size_t count) {
        auto& memory = *static_cast<std::vector<std::uint8_t>*>(context);
        memory.insert(memory.end(), bytes, bytes + count);
        return true;
    }
    static bool rewriteMemory(void* context, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
        auto& memory = *static_cast<std::vector<std::uint8_t>*>(context);
        if (offset > memory.size() || count > memory.size() - offset) return false;
        std::memcpy(memory.data() + offset, bytes, count);
        return true;
    }
    // The output file's sink rewritten in place (a pipe or device cannot be).
    static bool rewriteFile(void* context, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
        FileSink& sink = *static_cast<FileSink*>(context);
        std::FILE* stream = sink.stream;
        if (sink.failed || stream == nullptr || std::fflush(stream) != 0) return false;
        const off_t end = ftello(stream);
        return end >= 0 && fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0 &&
               std::fwrite(bytes, 1, count, stream) == count && fseeko(stream, end, SEEK_SET) == 0;
    }

    std::string path_;
    py::object pattern_;  // keeps the borrowed pattern array alive
    BorrowedImage patternImage_;
    Settings settings_;
    std::vector<std::string> warnings_;
    SequenceOptions options_;
    Plan plan_;
    SequenceWriter writer_;
    bool begun_ = false;
    std::vector<std::uint8_t> memory_;
    OutputFile file_;
    bool fileOpen_ = false;
};

}  // namespace

PYBIND11_MODULE(_core, module) {
    module.doc() = "The rdsgen engine; use the rdsgen package's functions.";
    module.def("render", &renderArray);
    module.def("time_library_render", &timeLibraryRender);
    module.def("read", &readFile);
    module.def("write", &writeFile);
    py::class_<Animation>(module, "Animation")
        .def(py::init<const std::string&, int, std::int32_t, bool, std::uint32_t, std::uint32_t, std::int32_t,
                      const std::map<std::string, std::string>&, const py::object&, int>())
        .def("add", &Animation::add)
        .def("finish", &Animation::finish);
    module.def("gil_held_while_rendering", [] { return gilHeldWhileRendering.load(); });
    py::list patternTypes;
    for (const PatternType& type : kPatternTypes) {
        patternTypes.append(py::make_tuple(type.number, std::string(type.name), type.colour));
    }
    module.attr("pattern_types") = patternTypes;
    // The command line's options as its parser spells them ("PSiz:P",
    // "NoRD"), each with its default and usage text.
    py::dict defaults;
    for (const OptionSpec& option : kOptions) {
        if (option.kind == OptionKind::kHelp) continue;
        const std::string entry = option.entry[0] == '!' ? option.entry + 1 : option.entry;
        defaults[py::str(entry)] = py::make_tuple(std::string(option.defaultText), std::string(option.help));
    }
    module.attr("options") = defaults;
}
