// Hidden-surface removal: links where the surface rises towards the viewer
// are marked -1, so that linking fills their targets as unlinked pixels.
#include <cstdint>
#include <limits>

#include "stereo/stereo.h"

namespace rdsgen {

// A rise of d between entries i - 1 and i removes links i - d + 1 ... i (not
// below the strip's index). The sweep runs right to left and keeps the lowest
// start of the removals that end at or right of the current index, so every
// entry is read before it can be marked and each is written at most once.
void removeHiddenLinks(const RowGeometry& geometry, RowWork& work) {
    std::int32_t* sep = separationRow(work);
    const std::int32_t s0 = geometry.stripStart;
    std::int32_t reach = std::numeric_limits<std::int32_t>::max();
    for (std::int32_t i = geometry.scaledInputWidth - 1; i >= s0 && i >= 0; --i) {
        const std::int32_t cur = sep[i];
        const std::int32_t prev = i > s0 ? sep[i - 1] : cur;
        if (cur > prev) {
            const std::int32_t start = i - (cur - prev) + 1;
            if (start < reach) reach = start;
        }
        if (i >= reach) sep[i] = -1;
    }
}

}  // namespace rdsgen
