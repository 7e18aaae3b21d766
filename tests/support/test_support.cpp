#include "support/test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

std::string fixturePath(const std::string& name) {
    return std::string(RDSGEN_FIXTURES_DIR) + "/" + name;
}

namespace {

struct TemporaryRoot {
    fs::path path;
    TemporaryRoot() {
        std::string pattern = (fs::temp_directory_path() / "rdsgen-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TemporaryRoot() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::string readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string temporaryDirectory() {
    static TemporaryRoot root;
    static int counter = 0;
    fs::path dir = root.path / std::to_string(counter++);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::string text = readWholeFile(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) { return fs::exists(path); }

std::vector<std::uint8_t> buildTga(const TgaLayout& layout) {
    auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    std::vector<std::uint8_t> bytes = {
        lo(layout.idLength), lo(layout.colourMapType), lo(layout.imageType),
        lo(layout.mapFirst), hi(layout.mapFirst), lo(layout.mapLength), hi(layout.mapLength),
        lo(layout.mapEntryBits), 0, 0, 0, 0,
        lo(layout.width), hi(layout.width), lo(layout.height), hi(layout.height),
        lo(layout.pixelDepth), lo(layout.descriptor)};
    bytes.reserve(bytes.size() + static_cast<std::size_t>(layout.idLength) + layout.colourMap.size() +
                  layout.pixels.size());
    for (int i = 0; i < layout.idLength; ++i) bytes.push_back('I');
    for (std::uint8_t b : layout.colourMap) bytes.push_back(b);
    for (std::uint8_t b : layout.pixels) bytes.push_back(b);
    return bytes;
}

std::vector<std::uint8_t> greyTga(int width, int height, const std::vector<std::uint8_t>& heights) {
    TgaLayout layout;
    layout.width = width;
    layout.height = height;
    layout.pixels = heights;
    return buildTga(layout);
}

ProcessResult runRdsgenWithStreams(const std::vector<std::string>& args, const std::string& dir,
                                   const std::string& inputPath, const std::string& outputPath, long fileSizeLimit,
                                   const std::vector<std::string>& environment) {
    const fs::path errPath = fs::path(temporaryDirectory()) / "stderr";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        std::FILE* in = std::freopen(inputPath.empty() ? "/dev/null" : inputPath.c_str(), "rb", stdin);
        std::FILE* out = std::freopen(outputPath.c_str(), "wb", stdout);
        std::FILE* err = std::freopen(errPath.c_str(), "wb", stderr);
        if (in == nullptr || out == nullptr || err == nullptr) _exit(127);
        if (fileSizeLimit > 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        std::vector<std::string> entries = environment;
        for (std::string& entry : entries) {
            if (putenv(entry.data()) != 0) _exit(127);
        }
        execRdsgen(args);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ProcessResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readWholeFile(outputPath);
    result.err = readWholeFile(errPath);
    return result;
}

ProcessResult runRdsgenProcess(const std::vector<std::string>& args,
                               const std::string& workingDirectory, long fileSizeLimit,
                               const std::vector<std::string>& environment) {
    const std::string dir = workingDirectory.empty() ? temporaryDirectory() : workingDirectory;
    const fs::path outPath = fs::path(temporaryDirectory()) / "stdout";
    return runRdsgenWithStreams(args, dir, "", outPath.string(), fileSizeLimit, environment);
}

std::vector<std::string> otherFiles(const std::string& dir, const std::vector<std::string>& known) {
    std::vector<std::string> others;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
    }
    return others;
}

void execRdsgen(const std::vector<std::string>& args) {
    std::vector<std::string> copies = args;
    std::string exe = RDSGEN_EXECUTABLE;
    std::vector<char*> argv = {exe.data()};
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
}

namespace {

// Runs the commands of a MemoryProbe: for each, the directory and the
// arguments, one a line; answers the exit status and the peak in KiB.
[[noreturn]] void serveRuns(int commands, int results) {
    for (std::uint32_t size = 0; read(commands, &size, sizeof size) == sizeof size;) {
        std::string command(size, '\0');
        if (read(commands, command.data(), size) != static_cast<ssize_t>(size)) break;
        const pid_t pid = fork();
        if (pid == 0) {
            const std::size_t dirEnd = command.find('\n');
            command[dirEnd] = '\0';
            if (chdir(command.c_str()) != 0) _exit(127);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            std::string exe = RDSGEN_EXECUTABLE;
            std::vector<char*> argv = {exe.data()};
            for (std::size_t at = dirEnd + 1, end; (end = command.find('\n', at)) != std::string::npos; at = end + 1) {
                command[end] = '\0';
                argv.push_back(command.data() + at);
            }
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        const long result[2] = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
        if (write(results, result, sizeof result) != sizeof result) break;
    }
    _exit(0);
}

}  // namespace

MemoryProbe::MemoryProbe() {
    int toHelper[2], fromHelper[2];
    if (pipe(toHelper) != 0 || pipe(fromHelper) != 0) return;
    helper_ = fork();
    if (helper_ == 0) {
        close(toHelper[1]);
        close(fromHelper[0]);
        serveRuns(toHelper[0], fromHelper[1]);
    }
    close(toHelper[0]);
    close(fromHelper[1]);
    commands_ = toHelper[1];
    results_ = fromHelper[0];
}

MemoryProbe::~MemoryProbe() {
    close(commands_);
    close(results_);
    if (helper_ > 0) waitpid(helper_, nullptr, 0);
}

std::pair<int, long> MemoryProbe::run(const std::string& dir, const std::vector<std::string>& args) {
    if (helper_ <= 0) return {-1, -1};
    std::string command = dir + '\n';
    for (const std::string& arg : args) command += arg + '\n';
    const std::uint32_t size = static_cast<std::uint32_t>(command.size());
    long result[2] = {-1, -1};
    if (write(commands_, &size, sizeof size) == sizeof size &&
        write(commands_, command.data(), size) == static_cast<ssize_t>(size) &&
        read(results_, result, sizeof result) == sizeof result) {
        return {static_cast<int>(result[0]), result[1]};
    }
    return {-1, -1};
}
