#include "image/image.h"

Bytes allocateBytes(std::size_t count) {
    // calloc gives zeroed memory (never uninitialised bytes in the output) and
    // maps large blocks lazily.
    return Bytes(static_cast<std::uint8_t*>(std::calloc(count == 0 ? 1 : count, 1)));
}
