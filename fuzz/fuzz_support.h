// Shared set-up of the libFuzzer harnesses: a private working directory, a
// silent standard output, a fresh run before every input, and the checks
// that turn a broken promise into a crash the fuzzer reports.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace fuzz {

// Stops the fuzzer with a report when a promise of the program is broken.
inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Moves into a new temporary directory and sends standard output to
// /dev/null. Standard error stays open for libFuzzer and the sanitizers:
// run the harnesses with -close_fd_mask=2 to silence the program's errors.
inline void enterWorkDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/rdsgen-fuzz-XXXXXX";
    require(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    require(chdir(pattern.c_str()) == 0, "chdir");
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "silence stdout");
}

// Default settings and an empty run, as at process start.
inline void resetRun() {
    settings = Settings{};
    run = RunData{};
}

inline void writeFile(const char* name, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(name, "wb");
    require(file != nullptr, "create input file");
    require(size == 0 || std::fwrite(data, 1, size, file) == size, "write input file");
    require(std::fclose(file) == 0, "close input file");
}

inline long fileSize(const char* name) {
    struct stat info {};
    return stat(name, &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Runs the whole program in process on argument texts (the program name is
// added) and checks what every run promises: status 0 or 1; after a failure
// no output file; after success an output file exactly as long as its header
// says, so no partial file is ever presented as a result.
inline int runChecked(const std::vector<std::string>& args, const char* outputName) {
    std::vector<const char*> argv = {"rdsgen"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::remove(outputName);
    resetRun();
    int status = runRdsgen(static_cast<int>(argv.size()), argv.data());
    require(status == 0 || status == 1, "exit status is 0 or 1");
    long size = fileSize(outputName);
    if (status == 1) {
        require(size < 0, "no output file after a failure");
        return status;
    }
    std::FILE* file = std::fopen(outputName, "rb");
    require(file != nullptr, "output file after success");
    std::uint8_t header[18] = {};
    require(std::fread(header, 1, sizeof header, file) == sizeof header, "output header");
    std::fclose(file);
    long width = header[12] | header[13] << 8;
    long height = header[14] | header[15] << 8;
    long pixelBytes = header[2] == 2 ? 3 : 1;
    require(size == 18 + width * height * pixelBytes, "output file complete");
    std::remove(outputName);
    return status;
}

}  // namespace fuzz
