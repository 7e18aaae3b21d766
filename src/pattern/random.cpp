// The seeding of the glibc-compatible random generator.
#include "pattern/pattern.h"

namespace rdsgen {

void Random::reseed(std::uint32_t seed) {
    // The table is filled by a Lehmer generator (16807 modulo 2^31 - 1, by
    // Schrage's method), then the first 310 outputs are discarded.
    if (seed == 0) seed = 1;
    // The seed is taken as a signed 32-bit word, so seeds from 2^31 on start
    // from a negative one.
    std::int32_t word = static_cast<std::int32_t>(seed);
    table_[0] = word;
    for (int i = 1; i < kDegree; ++i) {
        const std::int64_t hi = word / 127773;
        const std::int64_t lo = word % 127773;
        std::int64_t next = 16807 * lo - 2836 * hi;
        if (next < 0) next += 2147483647;
        word = static_cast<std::int32_t>(next);
        table_[i] = word;
    }
    front_ = 3;
    rear_ = 0;
    for (int i = 0; i < 10 * kDegree; ++i) next();
}

}  // namespace rdsgen
