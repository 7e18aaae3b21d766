// Small helpers for the pattern tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

using Pixels = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;

// Red, green and blue of pixel x.
inline Rgb rgb(const Pixels& pixels, int x) {
    return {pixels[3 * x + 2], pixels[3 * x + 1], pixels[3 * x]};
}

// The number of std::rand draws work makes: the two values drawn after it are
// looked up in the sequence of a fresh generator with the same seed.
inline int countDraws(const std::function<void()>& work) {
    std::srand(4242);
    work();
    int after1 = std::rand(), after2 = std::rand();
    std::srand(4242);
    for (int n = 0, previous = std::rand(), next; n < 1000000; ++n, previous = next) {
        next = std::rand();
        if (previous == after1 && next == after2) return n;
    }
    return -1;
}
