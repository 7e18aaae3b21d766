// Shared set-up of the libFuzzer harnesses: the check that turns a broken
// promise into a crash the fuzzer reports, and a sink that counts bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "rdsgen/rdsgen.h"

namespace fuzz {

// Stops the fuzzer with a report when a promise of the program is broken.
inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Counts the bytes written and folds them into a sum, so that the
// sanitizers see every byte read and nothing is optimised away.
struct CountingSink {
    std::size_t bytes = 0;
    unsigned sum = 0;

    static bool write(void* context, const std::uint8_t* data, std::size_t count) {
        CountingSink& sink = *static_cast<CountingSink*>(context);
        for (std::size_t i = 0; i < count; ++i) sink.sum += data[i];
        sink.bytes += count;
        return true;
    }
    rdsgen::RowSink rowSink() { return rdsgen::RowSink{write, this}; }
};

}  // namespace fuzz
