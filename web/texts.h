// Texts the JavaScript side and the engine's C interfaces (the page's and
// the npm package's) pass each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace rdsgen {

// Texts each ended by a NUL byte, as the JavaScript side sends them.
inline std::vector<std::string> splitTexts(const char* joined, std::uint32_t size) {
    std::vector<std::string> texts;
    std::size_t start = 0;
    for (std::size_t at = 0; at < size; ++at) {
        if (joined[at] != '\0') continue;
        texts.emplace_back(joined + start, at - start);
        start = at + 1;
    }
    return texts;
}

// The texts as a JSON array of strings.
inline std::string jsonTexts(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const std::string& text : texts) {
        if (out.size() > 1) out += ',';
        out += jsonString(text);
    }
    return out + "]";
}

}  // namespace rdsgen
