// Helpers shared by the tests: temporary files, small TARGA images built in
// memory, and running the real executable as a process.
#pragma once

#include <cstdint>
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
