// Whole runs of the rdsgen executable on a generated 8-bit dome, 4096 pixels
// wide, as a child process. Reported per run:
//   MP/s        output megapixels per second (wall clock)
//   cpu_MP/s    the same per second of the child's CPU time (user + system),
//               which a busy machine disturbs less than the wall clock
//   peak_MiB    peak resident memory of the child (wait4 ru_maxrss)
//   input_MiB   the height image's pixels as held in memory
//   over_MiB    peak_MiB - input_MiB
//   floor_ms    the I/O floor: reading the input file and writing a file of
//               the output's size row by row through the C library's
//               default stream buffer (4 KiB here), measured in the same
//               benchmark; the whole-run target is set against it
//   x_floor     the run's time divided by the I/O floor
//   floor256_ms the same bytes written through a 256 KiB buffer, as the
//               program writes them: far fewer system calls, so this is
//               the lower floor (about half the other for 4096 columns)
//   x_floor256  the run's time divided by floor256_ms
//   x_floor_median  the median run divided by the median floor: the
//               typical run, where x_floor (means) also carries the rare
//               run several times as long (on the benchmark machine the
//               kernel then clears the run's fresh pages far more slowly)
// A run writes a new output file (replace:0), or replaces the one the run
// before wrote (replace:1): the program writes a file beside it and renames
// it over the old one, and so does the floor. On ext4 that rename makes the
// kernel allocate the new file's blocks at once (its protection against
// empty files after a crash), which costs about as much as the writing.
// and, for PNG:
//   BM_PngOutput   the same run written as PNG next to TARGA: x_tga (time
//                  ratio) and bytes_ratio (PNG bytes / TARGA bytes)
//   BM_Png16Input  a run from a 16-bit PNG height image next to the same run
//                  from its 16-bit TARGA twin and libspng's decode of the
//                  file alone: over_decode = (PNG run - TARGA run) / decode
#include <benchmark/benchmark.h>
#include <spng.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kWidth = 4096;

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

// Runs program with args in directory, standard output and error discarded.
ChildRun runChild(const std::string& program, const std::vector<std::string>& args,
                  const fs::path& directory) {
    ChildRun result;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0) _exit(127);
        if (std::freopen("/dev/null", "wb", stdout) == nullptr) _exit(127);
        if (std::freopen("/dev/null", "wb", stderr) == nullptr) _exit(127);
        std::vector<std::string> copies = args;
        std::vector<char*> argv;
        std::string exe = program;
        argv.push_back(exe.data());
        for (std::string& arg : copies) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakKiB = usage.ru_maxrss;
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

// The directory holding dome.tga of kWidth x height (and its 16-bit TARGA
// and PNG twins dome16.tga and dome16.png), generated on first use.
fs::path heightImageDirectory(std::int32_t height) {
    fs::path directory = fs::path(RDSGEN_BENCH_WORK_DIR) / std::to_string(height);
    std::string size = std::to_string(kWidth) + "x" + std::to_string(height);
    fs::create_directories(directory);
    if (!fs::exists(directory / "dome.tga")) runChild(MAKE_HEIGHTMAPS_EXECUTABLE, {"-s", size, ".", "dome"}, directory);
    for (const char* format : {"tga16", "png16"}) {
        const fs::path twin = directory / (std::string("dome16.") + (format[0] == 't' ? "tga" : "png"));
        if (!fs::exists(twin)) runChild(MAKE_HEIGHTMAPS_EXECUTABLE, {"-s", size, "-f", format, ".", "dome"}, directory);
    }
    return directory;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads a PNG file and decodes it whole into memory with libspng alone.
double pngDecodeSeconds(const fs::path& path) {
    const auto start = std::chrono::steady_clock::now();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    std::vector<std::uint8_t> bytes(fs::file_size(path));
    const bool read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    spng_ctx* context = spng_ctx_new(0);
    std::size_t size = 0;
    std::vector<std::uint8_t> pixels;
    if (read && spng_set_png_buffer(context, bytes.data(), bytes.size()) == 0 &&
        spng_decoded_image_size(context, SPNG_FMT_PNG, &size) == 0) {
        pixels.resize(size);
        spng_decode_image(context, pixels.data(), size, SPNG_FMT_PNG, 0);
    }
    spng_ctx_free(context);
    benchmark::DoNotOptimize(pixels.data());
    return secondsSince(start);
}

// Width and height from the header of a written TARGA file, with bytes per pixel.
bool readTgaSize(const fs::path& path, std::int64_t& width, std::int64_t& height,
                 std::int64_t& bytesPerPixel) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::uint8_t header[18] = {};
    bool ok = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    width = header[12] | header[13] << 8;
    height = header[14] | header[15] << 8;
    bytesPerPixel = header[16] / 8;
    return ok;
}

// The I/O floor: read the input file whole, then write `rows` rows of
// `rowBytes` bytes through a stream buffer of bufferBytes (0: the C
// library's default), to a new file or (replace) to a file beside the
// output renamed over it, as the program does.
double ioFloorSeconds(const fs::path& input, const fs::path& output, std::int64_t rowBytes,
                      std::int64_t rows, bool replace, std::size_t bufferBytes) {
    std::error_code ignored;
    if (!replace) fs::remove(output, ignored);
    const fs::path written = replace ? fs::path(output.string() + ".new") : output;
    auto start = std::chrono::steady_clock::now();
    std::vector<std::uint8_t> block(1 << 20);
    std::FILE* in = std::fopen(input.c_str(), "rb");
    std::uint64_t sum = 0;
    if (in != nullptr) {
        std::size_t count = 0;
        while ((count = std::fread(block.data(), 1, block.size(), in)) > 0) sum += block[count - 1];
        std::fclose(in);
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes), static_cast<std::uint8_t>(sum));
    std::FILE* out = std::fopen(written.c_str(), "wb");
    std::vector<char> buffer(bufferBytes);
    if (out != nullptr && bufferBytes > 0) std::setvbuf(out, buffer.data(), _IOFBF, bufferBytes);
    if (out != nullptr) {
        for (std::int64_t y = 0; y < rows; ++y) std::fwrite(row.data(), 1, row.size(), out);
        std::fclose(out);
    }
    if (replace) fs::rename(written, output, ignored);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::vector<std::vector<std::string>> kVariants = {
    {},
    {"/Double", "/VInc"},
    {"/PatT:7", "/NoRD"},
};

void BM_WholeRun(benchmark::State& state) {
    const auto height = static_cast<std::int32_t>(state.range(0));
    const auto& options = kVariants[static_cast<std::size_t>(state.range(1))];
    const bool replace = state.range(2) != 0;
    fs::path directory = heightImageDirectory(height);
    std::vector<std::string> args = {"dome.tga", "out.tga", "/Rand:1"};
    args.insert(args.end(), options.begin(), options.end());

    std::vector<double> runs;
    std::vector<double> floors;
    double cpuSeconds = 0;
    double floor256Seconds = 0;
    long peakKiB = 0;
    std::int64_t outputPixels = 0;
    // The output and the floor's file to replace, made before the first run.
    if (replace) {
        runChild(RDSGEN_EXECUTABLE, args, directory);
        std::FILE* file = std::fopen((directory / "floor.bin").c_str(), "wb");
        if (file != nullptr) std::fclose(file);
    }
    for (auto _ : state) {
        std::error_code ignored;
        if (!replace) fs::remove(directory / "out.tga", ignored);
        ChildRun child = runChild(RDSGEN_EXECUTABLE, args, directory);
        if (!child.ok) {
            state.SkipWithError("rdsgen failed");
            return;
        }
        state.SetIterationTime(child.seconds);
        runs.push_back(child.seconds);
        cpuSeconds += child.cpuSeconds;
        peakKiB = std::max(peakKiB, child.peakKiB);

        std::int64_t width = 0;
        std::int64_t rows = 0;
        std::int64_t bytesPerPixel = 0;
        if (!readTgaSize(directory / "out.tga", width, rows, bytesPerPixel)) {
            state.SkipWithError("no output file");
            return;
        }
        outputPixels = width * rows;
        if (!replace) fs::remove(directory / "out.tga");
        // No measurement starts beside another's unwritten file.
        floors.push_back(ioFloorSeconds(directory / "dome.tga", directory / "floor.bin",
                                        width * bytesPerPixel, rows, replace, 0));
        if (!replace) fs::remove(directory / "floor.bin");
        floor256Seconds += ioFloorSeconds(directory / "dome.tga", directory / "floor.bin",
                                          width * bytesPerPixel, rows, replace, std::size_t{1} << 18);
        if (!replace) fs::remove(directory / "floor.bin");
    }
    const double runSeconds = std::accumulate(runs.begin(), runs.end(), 0.0);
    const double floorSeconds = std::accumulate(floors.begin(), floors.end(), 0.0);
    const double inputMiB = double(kWidth) * height / (1 << 20);
    state.counters["MP/s"] =
        benchmark::Counter(double(outputPixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["cpu_MP/s"] =
        cpuSeconds > 0 ? double(outputPixels) / 1e6 * double(state.iterations()) / cpuSeconds : 0;
    state.counters["peak_MiB"] = double(peakKiB) / 1024;
    state.counters["input_MiB"] = inputMiB;
    state.counters["over_MiB"] = double(peakKiB) / 1024 - inputMiB;
    state.counters["floor_ms"] = 1000 * floorSeconds / double(state.iterations());
    state.counters["x_floor"] = floorSeconds > 0 ? runSeconds / floorSeconds : 0;
    state.counters["floor256_ms"] = 1000 * floor256Seconds / double(state.iterations());
    state.counters["x_floor256"] = floor256Seconds > 0 ? runSeconds / floor256Seconds : 0;
    const double floorMedian = median(floors);
    state.counters["x_floor_median"] = floorMedian > 0 ? median(runs) / floorMedian : 0;
    fs::remove(directory / "out.tga");
    fs::remove(directory / "floor.bin");
}

// One PNG run and its TARGA counterpart, each writing a new output file,
// timed by the PNG run; false (the benchmark skipped) when either failed.
bool runPngAndTga(benchmark::State& state, const fs::path& directory, const std::vector<std::string>& pngArgs,
                  const std::vector<std::string>& tgaArgs, double& pngSeconds, double& tgaSeconds) {
    std::error_code ignored;
    fs::remove(directory / pngArgs[1], ignored);
    fs::remove(directory / tgaArgs[1], ignored);
    const ChildRun tga = runChild(RDSGEN_EXECUTABLE, tgaArgs, directory);
    const ChildRun png = runChild(RDSGEN_EXECUTABLE, pngArgs, directory);
    if (!tga.ok || !png.ok) {
        state.SkipWithError("rdsgen failed");
        return false;
    }
    state.SetIterationTime(png.seconds);
    pngSeconds += png.seconds;
    tgaSeconds += tga.seconds;
    return true;
}

// The default run written as TARGA and as PNG, alternately.
void BM_PngOutput(benchmark::State& state) {
    fs::path directory = heightImageDirectory(3072);
    double tgaSeconds = 0;
    double pngSeconds = 0;
    double bytesRatio = 0;
    for (auto _ : state) {
        if (!runPngAndTga(state, directory, {"dome.tga", "out.png", "/Rand:1"}, {"dome.tga", "out.tga", "/Rand:1"},
                          pngSeconds, tgaSeconds)) {
            return;
        }
        bytesRatio = double(fs::file_size(directory / "out.png")) / double(fs::file_size(directory / "out.tga"));
    }
    state.counters["tga_ms"] = 1000 * tgaSeconds / double(state.iterations());
    state.counters["x_tga"] = tgaSeconds > 0 ? pngSeconds / tgaSeconds : 0;
    state.counters["bytes_ratio"] = bytesRatio;
    fs::remove(directory / "out.tga");
    fs::remove(directory / "out.png");
}

// A run from a 16-bit PNG height image against its TARGA twin and the decode alone.
void BM_Png16Input(benchmark::State& state) {
    fs::path directory = heightImageDirectory(3072);
    double pngSeconds = 0;
    double tgaSeconds = 0;
    double decodeSeconds = 0;
    for (auto _ : state) {
        if (!runPngAndTga(state, directory, {"dome16.png", "out.tga", "/Rand:1"},
                          {"dome16.tga", "out.tga", "/Rand:1"}, pngSeconds, tgaSeconds)) {
            return;
        }
        decodeSeconds += pngDecodeSeconds(directory / "dome16.png");
    }
    const double n = double(state.iterations());
    state.counters["tga16_ms"] = 1000 * tgaSeconds / n;
    state.counters["decode_ms"] = 1000 * decodeSeconds / n;
    state.counters["over_decode"] = decodeSeconds > 0 ? (pngSeconds - tgaSeconds) / decodeSeconds : 0;
    fs::remove(directory / "out.tga");
}

}  // namespace

// Arguments: input height, options (0 defaults, 1 /Double /VInc, 2 /PatT:7
// /NoRD), replace (0 a new output file, 1 replacing the last one).
BENCHMARK(BM_WholeRun)
    ->ArgNames({"height", "options", "replace"})
    ->Args({3072, 0, 0})
    ->Args({3072, 0, 1})
    ->Args({3072, 1, 0})
    ->Args({3072, 2, 0})
    ->Args({12288, 0, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(9);

// After the whole runs, whose peak memory a larger benchmark process would
// inflate (a child's peak counts the pages it shared before exec).
BENCHMARK(BM_PngOutput)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Png16Input)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
