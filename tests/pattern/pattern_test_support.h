// Small helpers for the pattern tests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "pattern/pattern.h"

using Pixels = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;

// Red, green and blue of pixel x.
inline Rgb rgb(const Pixels& pixels, int x) {
    return {pixels[3 * x + 2], pixels[3 * x + 1], pixels[3 * x]};
}

// Default settings and a generator as a fresh run has them, and the context
// the generators read and draw from.
struct PatternRun {
    rdsgen::RunSettings settings;
    rdsgen::Random random;
    rdsgen::PatternContext context{settings, random};
};

// The number of draws work makes from random: the two values drawn after it
// are looked up in the sequence of a fresh generator with the same seed.
inline int countDraws(rdsgen::Random& random, const std::function<void()>& work) {
    random.reseed(4242);
    work();
    int after1 = random.next(), after2 = random.next();
    rdsgen::Random fresh(4242);
    for (int n = 0, previous = fresh.next(), next; n < 1000000; ++n, previous = next) {
        next = fresh.next();
        if (previous == after1 && next == after2) return n;
    }
    return -1;
}
