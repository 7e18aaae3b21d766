// The command line: arbitrary arguments, one per input line, through the
// parser, the conversion of every slot and the whole start of a run up to
// the opening of the height image, which does not exist.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "fuzz_support.h"

using namespace rdsgen;

namespace {

std::vector<std::string> splitLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    return args;
}

// The parser alone on the arguments as given (positional ones included), and
// every converter on every slot it fills.
void parseAndConvert(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"rdsgen"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::vector<std::string> slots;
    int refused = parseOptions(slots, kOptionTable, static_cast<int>(argv.size()), argv.data());
    fuzz::require(refused == 0 || refused == 1, "parser status");
    fuzz::require(slots.size() == kSlotCount, "slot count");
    Settings settings;
    for (std::string& slot : slots) {
        splitColour(readDecimal(slot.c_str()));
        addDefaultExtension(slot, ".TGA", false);
    }
    if (!slots[kSlotStret].empty()) parseStretch(slots[kSlotStret].data(), settings);
    programName(args[0].c_str());
}

// Runs the whole program in process on argument texts (the program name is
// added): the input does not exist, so the status is 1 and no output file
// is left behind.
void runMissingInput(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"rdsgen"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const int status = runRdsgen(static_cast<int>(argv.size()), argv.data());
    fuzz::require(status == 1, "a missing input ends the run with status 1");
    struct stat info {};
    fuzz::require(stat("out.tga", &info) != 0, "no output file after a failure");
}

}  // namespace

// Runs in a new temporary directory, with standard output silenced (standard
// error stays for libFuzzer: run with -close_fd_mask=2 to silence the
// program's errors).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/rdsgen-fuzz-XXXXXX";
    fuzz::require(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    fuzz::require(chdir(pattern.c_str()) == 0, "chdir");
    fuzz::require(std::freopen("/dev/null", "w", stdout) != nullptr, "silence stdout");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args = splitLines(data, size);
    for (const std::string& arg : args) {
        // Argument texts end at their first zero byte, as on a real command line.
        if (arg.find('\0') != std::string::npos) return 0;
    }
    parseAndConvert(args);

    // The same options behind two fixed names: the input does not exist, so
    // every run ends with status 1 and leaves no file behind. Any further
    // positional argument is refused by the parser. A --help or --version is
    // answered with status 0 before the run, so such lines stop here.
    std::vector<std::string> runArgs = {"no-such-input.tga", "out.tga"};
    runArgs.insert(runArgs.end(), args.begin(), args.end());
    std::vector<const char*> runArgv = {"rdsgen"};
    for (const std::string& arg : runArgs) runArgv.push_back(arg.c_str());
    if (findInfoRequest(static_cast<int>(runArgv.size()), runArgv.data()) != InfoRequest::kNone) {
        return 0;
    }
    runMissingInput(runArgs);
    return 0;
}
