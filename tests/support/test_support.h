// Helpers shared by the tests: temporary files, small TARGA images built in
// memory, and running the real executable as a process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <utility>
#include <string>
#include <vector>

#include "rdsgen/rdsgen.h"

// Path of a file in tests/fixtures.
std::string fixturePath(const std::string& name);

// A fresh, empty temporary directory (removed with its files at process end).
std::string temporaryDirectory();

std::vector<std::uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool fileExists(const std::string& path);

// An uncompressed TARGA file: 18-byte header, image ID, colour map, pixels.
struct TgaLayout {
    int idLength = 0;
    int colourMapType = 0;
    int imageType = 3;
    int mapFirst = 0;
    int mapLength = 0;
    int mapEntryBits = 0;
    int width = 0;
    int height = 0;
    int pixelDepth = 8;
    int descriptor = 0x20;
    std::vector<std::uint8_t> colourMap;  // written as given after the ID
    std::vector<std::uint8_t> pixels;     // written as given
};
std::vector<std::uint8_t> buildTga(const TgaLayout& layout);

// An 8-bit grey top-first TARGA of the given heights (row-major, top row first).
std::vector<std::uint8_t> greyTga(int width, int height, const std::vector<std::uint8_t>& heights);

// Result of running the rdsgen executable.
// In a forked child: replaces the process by the rdsgen executable with
// these arguments (exit status 127 when it cannot be started).
[[noreturn]] void execRdsgen(const std::vector<std::string>& args);

// The names of the files in dir other than the given ones (temporary files
// a run left behind).
std::vector<std::string> otherFiles(const std::string& dir, const std::vector<std::string>& known);

struct ProcessResult {
    int status = -1;          // exit status; -1 when it did not exit normally
    std::string out;          // standard output
    std::string err;          // standard error
};

// Runs the real rdsgen executable with args in workingDirectory (default: a
// temporary directory), with no standard input. A non-zero fileSizeLimit caps
// the size of every file the process writes (SIGXFSZ ignored, so writes fail).
// environment holds "NAME=value" entries set for the process alone.
ProcessResult runRdsgenProcess(const std::vector<std::string>& args,
                               const std::string& workingDirectory = "",
                               long fileSizeLimit = 0,
                               const std::vector<std::string>& environment = {});

// As runRdsgenProcess in dir, with standard input from inputPath ("": none)
// and standard output written into outputPath.
ProcessResult runRdsgenWithStreams(const std::vector<std::string>& args, const std::string& dir,
                                   const std::string& inputPath, const std::string& outputPath,
                                   long fileSizeLimit = 0, const std::vector<std::string>& environment = {});

// Starts runs of rdsgen and measures their peak resident size. A child's
// peak counts the pages it shares with its parent until it executes the
// program, so the runs are started by a helper process forked before the
// tests start, while the test process is small.
class MemoryProbe {
public:
    MemoryProbe();
    ~MemoryProbe();
    MemoryProbe(const MemoryProbe&) = delete;
    MemoryProbe& operator=(const MemoryProbe&) = delete;
    // Runs rdsgen with args in dir, every output discarded: the exit status
    // (-1 when the run did not exit) and the peak in KiB.
    std::pair<int, long> run(const std::string& dir, const std::vector<std::string>& args);

private:
    pid_t helper_ = -1;
    int commands_ = -1;
    int results_ = -1;
};

// The probe of the command-line tests, started when their program starts.
MemoryProbe& memoryProbe();
