// Cutting a stream of concatenated images apart, on arbitrary bytes. The
// first byte sets how many bytes arrive at a time; the rest is the stream.
// Every cut lies inside the bytes and past the image's start, and the cuts
// are the same however the bytes arrive: all at once or piece by piece.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "files/files.h"
#include "fuzz_support.h"

namespace {

// The ends of the stream's images, found with `piece` more bytes per call;
// the last entry is SIZE_MAX when the stream ended with a refusal.
std::vector<std::size_t> cuts(std::span<const std::uint8_t> stream, std::size_t piece) {
    std::vector<std::size_t> ends;
    std::size_t start = 0;
    while (start < stream.size()) {
        rdsgen::StreamCut cut;
        std::size_t end = SIZE_MAX;
        std::size_t seen = 0;
        for (;;) {
            seen = std::min(stream.size() - start, seen + piece);
            const bool ended = start + seen == stream.size();
            const rdsgen::Status status = rdsgen::findStreamImageEnd(cut, stream.subspan(start, seen), ended, end);
            if (!status) {
                fuzz::require(end == SIZE_MAX, "no end with a refusal");
                ends.push_back(SIZE_MAX);
                return ends;
            }
            if (end != SIZE_MAX) break;
            fuzz::require(!ended, "a stream that has ended is cut or refused");
        }
        fuzz::require(end > 0 && end <= seen, "an image's end lies in the bytes seen");
        start += end;
        ends.push_back(start);
    }
    return ends;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    fuzz::require(cuts(stream, piece) == cuts(stream, stream.size() + 1), "cuts do not depend on the pieces");
    return 0;
}
